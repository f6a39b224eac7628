#pragma once

#include <QString>

#include <functional>

namespace quorvel::prefs {

class FilePreferences;

// Hands out the process-wide root of the file-backed preferences.
class FilePreferencesFactory {
public:
    static constexpr const char* SYSTEM_PROPERTY_FILE =
        "net.ombrel.util.prefs.FilePreferencesFactory.file";

    // First call: the process property SYSTEM_PROPERTY_FILE, or when it is missing or empty
    // "user.home" + "/.fileprefs"; made absolute, logged as "Preferences file is <path>" and
    // remembered. Later calls return the remembered path even if the property changes.
    static QString getPreferencesFile();
    // First call logs "Instantiating root preferences" and creates the root node.
    static FilePreferences* userRoot();
    static FilePreferences* systemRoot();  // the same node

    // Where the store's messages go (default: standard error, one line each). Thread-safe.
    using Logger = std::function<void(const QString&)>;
    static void setLogger(Logger logger);
    static void log(const QString& message);

    // Tests only: forget the remembered file and root so the next call resolves them again.
    static void resetForTesting();

    // Tests only: called with the file's path just before a save renames its finished temporary
    // file over it; returning false makes the save fail at that point. An empty hook (the
    // default) lets every save through.
    using BeforeReplaceHook = std::function<bool(const QString& file)>;
    static void setBeforeReplaceHookForTesting(BeforeReplaceHook hook);

    // Tests only: every write of the preferences file's content fails with this system error
    // number, as on a full or failing disk; 0 (the default) lets writes through.
    static void setWriteFailureForTesting(int error);
};

}  // namespace quorvel::prefs
