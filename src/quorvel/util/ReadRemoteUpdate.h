#pragma once

#include <QString>

#include <atomic>

#include "quorvel/util/FetchLimits.h"

namespace quorvel::util {

// The version document of the update server, fetched and read at construction.
class ReadRemoteUpdate {
public:
    // The document is a few lines; anything bigger is not ours.
    static constexpr qint64 kMaxContentBytes = 64 * 1024;

    static inline const QString versionTag = QStringLiteral("version2");
    static inline const QString dateTag = QStringLiteral("date");

    // Fetches `url` (blocking) and reads the version and date from it. Throws
    // serialkit::IOException when the fetch fails ("Timeout" for a time-out, also when the whole
    // fetch outlasts `limits`). `cancelled`, when given, is watched during the fetch; setting it ends the fetch
    // with the failure "Cancelled".
    ReadRemoteUpdate(const QString& url, const QString& currentVersion,
                     const std::atomic<bool>* cancelled = nullptr, FetchLimits limits = {});

    const QString& getContent() const { return content_; }
    const QString& getRemoteVersion() const { return remoteVersion_; }
    const QString& getRemoteReleaseDate() const { return remoteReleaseDate_; }
    const QString& getCurrentVersion() const { return currentVersion_; }
    bool isUpdateAvailable() const { return compareVersions(currentVersion_, remoteVersion_); }

    // True when `remote` is newer than `current`; false for anything that cannot be read.
    static bool compareVersions(const QString& current, const QString& remote);
    // The text between the first "<name>" and the first "</name>"; empty when either is missing
    // or the closing tag comes first.
    static QString findXML(const QString& content, const QString& name);
    // One GET; the body as UTF-8 text. Only http and https; a redirect must keep the scheme.
    static QString readURLContent(const QString& url, const std::atomic<bool>* cancelled = nullptr,
                                  FetchLimits limits = {});

private:
    QString content_;
    QString remoteVersion_;
    QString remoteReleaseDate_;
    QString currentVersion_;
};

}  // namespace quorvel::util
