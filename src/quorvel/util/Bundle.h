#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace quorvel::util {

// A resource bundle of display texts, read once from the embedded ":/<base/name/as/path>.properties"
// ("quorvel.config.ConfigBundle" -> ":/quorvel/config/ConfigBundle.properties").
class Bundle {
public:
    static constexpr const char* TOLVANE = "quorvel.tolvane";
    static constexpr const char* CONFIG = "quorvel.config.ConfigBundle";
    static constexpr const char* WORKER = "quorvel.worker.WorkerBundle";

    // The bundle of that base name; an unknown name gives an empty bundle. Thread-safe.
    static const Bundle& named(const QString& baseName);
    static const Bundle& tolvane() { return named(TOLVANE); }
    static const Bundle& config() { return named(CONFIG); }
    static const Bundle& worker() { return named(WORKER); }

    const QString& baseName() const { return baseName_; }
    bool contains(const QString& key) const;
    // The display text; a missing key gives the key itself, so a gap shows up on screen instead
    // of taking the program down. The start-up check reports gaps before that can happen.
    QString getString(const QString& key) const;
    // getString(key) with {0}, {1}, ... replaced by the arguments; other braces stay as written.
    QString format(const QString& key, const QStringList& args) const;
    QStringList keys() const;

    // Replaces {n} placeholders in any text.
    static QString substitute(const QString& pattern, const QStringList& args);

    explicit Bundle(QString baseName, QHash<QString, QString> texts = {});

private:
    QString baseName_;
    QHash<QString, QString> texts_;
};

}  // namespace quorvel::util
