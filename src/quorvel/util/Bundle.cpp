#include "quorvel/util/Bundle.h"

#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "quorvel/util/PropertiesFormat.h"

namespace quorvel::util {

namespace {

QString resourcePath(const QString& baseName) {
    QString path = baseName;
    path.replace(u'.', u'/');
    return QStringLiteral(":/") + path + QStringLiteral(".properties");
}

QHash<QString, QString> load(const QString& baseName) {
    QHash<QString, QString> texts;
    QFile file(resourcePath(baseName));
    if (!file.open(QIODevice::ReadOnly)) {
        return texts;
    }
    const PropertiesFormat::ParseResult parsed = PropertiesFormat::parse(file.readAll());
    for (const QString& problem : parsed.problems) {
        qWarning("Resource bundle %s: %s", qUtf8Printable(baseName), qUtf8Printable(problem));
    }
    // As with any properties file, a later line for the same key wins.
    for (const auto& entry : parsed.entries) {
        texts.insert(entry.key, entry.value);
    }
    return texts;
}

}  // namespace

Bundle::Bundle(QString baseName, QHash<QString, QString> texts)
    : baseName_(std::move(baseName)), texts_(std::move(texts)) {}

const Bundle& Bundle::named(const QString& baseName) {
    // Bundles are never dropped, so the references handed out stay valid for the whole run.
    static std::mutex mutex;
    static std::map<QString, std::unique_ptr<const Bundle>> cache;
    const std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(baseName);
    if (it == cache.end()) {
        it =
            cache.emplace(baseName, std::make_unique<const Bundle>(baseName, load(baseName))).first;
    }
    return *it->second;
}

bool Bundle::contains(const QString& key) const {
    return texts_.contains(key);
}

QString Bundle::getString(const QString& key) const {
    const auto it = texts_.constFind(key);
    return it == texts_.constEnd() ? key : *it;
}

QString Bundle::format(const QString& key, const QStringList& args) const {
    return substitute(getString(key), args);
}

QStringList Bundle::keys() const {
    QStringList all = texts_.keys();
    std::sort(all.begin(), all.end());
    return all;
}

QString Bundle::substitute(const QString& pattern, const QStringList& args) {
    // One pass over the pattern: an argument is copied as it is, so a "{1}" inside it stays.
    QString out;
    out.reserve(pattern.size());
    const qsizetype n = pattern.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = pattern[i];
        if (c != u'{') {
            out += c;
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        qsizetype index = 0;
        bool inRange = true;
        while (j < n && pattern[j] >= u'0' && pattern[j] <= u'9') {
            // Past the last argument the digits are only skipped, so a long run cannot overflow.
            if (inRange) {
                index = index * 10 + (pattern[j].unicode() - u'0');
                inRange = index < args.size();
            }
            ++j;
        }
        const bool isPlaceholder = j > i + 1 && j < n && pattern[j] == u'}';
        if (isPlaceholder && inRange) {
            out += args[index];
            i = j + 1;
        } else {
            // Not a placeholder, or one without an argument: keep the brace and go on after it.
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace quorvel::util
