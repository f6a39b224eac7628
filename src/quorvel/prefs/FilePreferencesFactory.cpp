#include "quorvel/prefs/FilePreferencesFactory.h"

#include <QDir>
#include <QFileInfo>

#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

#include "quorvel/prefs/FilePreferences.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::prefs {

namespace {

struct FactoryState {
    std::mutex mutex;
    std::optional<QString> preferencesFile;
    std::unique_ptr<FilePreferences> rootPreferences;
};

FactoryState& state() {
    static FactoryState s;
    return s;
}

struct LogState {
    std::mutex mutex;
    FilePreferencesFactory::Logger logger;
};

LogState& logState() {
    static LogState s;
    return s;
}

QString resolvePreferencesFile() {
    QString path;
    if (auto property =
            serialkit::SystemProperties::get(FilePreferencesFactory::SYSTEM_PROPERTY_FILE)) {
        path = QString::fromStdString(*property);
    }
    if (path.isEmpty()) {
        QString home = QString::fromStdString(serialkit::SystemProperties::get("user.home", ""));
        if (home.isEmpty()) {
            home = QDir::homePath();
        }
        path = home + QDir::separator() + QStringLiteral(".fileprefs");
    }
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString preferencesFileLocked(FactoryState& s) {
    if (!s.preferencesFile) {
        s.preferencesFile = resolvePreferencesFile();
        FilePreferencesFactory::log(QStringLiteral("Preferences file is ") + *s.preferencesFile);
    }
    return *s.preferencesFile;
}

}  // namespace

QString FilePreferencesFactory::getPreferencesFile() {
    FactoryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return preferencesFileLocked(s);
}

FilePreferences* FilePreferencesFactory::userRoot() {
    FactoryState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.rootPreferences) {
        log(QStringLiteral("Instantiating root preferences"));
        s.rootPreferences = FilePreferences::createRoot(preferencesFileLocked(s));
    }
    return s.rootPreferences.get();
}

FilePreferences* FilePreferencesFactory::systemRoot() {
    return userRoot();
}

void FilePreferencesFactory::setLogger(Logger logger) {
    LogState& s = logState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.logger = std::move(logger);
}

void FilePreferencesFactory::log(const QString& message) {
    Logger logger;
    {
        LogState& s = logState();
        std::lock_guard<std::mutex> lock(s.mutex);
        logger = s.logger;
    }
    if (logger) {
        logger(message);
        return;
    }
    // One write per line, so lines from several threads do not mix.
    std::cerr << (message.toStdString() + "\n") << std::flush;
}

void FilePreferencesFactory::resetForTesting() {
    std::unique_ptr<FilePreferences> old;
    {
        FactoryState& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.preferencesFile.reset();
        old = std::move(s.rootPreferences);
    }
}

}  // namespace quorvel::prefs
