#pragma once

#include <QString>
#include <QStringList>

namespace quorvel::prefs {
class FilePreferences;
}

namespace quorvel::config {

class Config;

// Loads, saves, exports and imports the settings of the node /com/varnholt/tolvane.
// Knows no widget: the main window hands in its port list and its Config.
class ConfigStore {
public:
    static constexpr const char* NODE_PATH = "/com/varnholt/tolvane";

    // Where this program keeps its settings: $ProgramData when set, otherwise $XDG_CONFIG_HOME
    // (default ~/.config), followed by "/Varnholt/tolvane/prefs.txt".
    static QString preferencesFileLocation();
    // Points the preferences store at preferencesFileLocation() unless the store's file
    // property is already set; creates the missing folders. Call before the first use.
    static void usePreferencesFileLocation();

    // Over the given root (tests), or the process-wide root of FilePreferencesFactory.
    explicit ConfigStore(prefs::FilePreferences* root = nullptr);

    // Fills `config` from the node; true when every stored value was valid. A settings file
    // the store refused to read (too large) counts as invalid: everything is a default.
    bool loadConfig(Config& config, const QStringList& availablePorts);
    // Writes `config` to the node and flushes; failures go to standard error as
    // "saveConfig exception: <text>" and make the result false.
    bool saveConfig(const Config& config);
    // Why the last failed saveConfig failed: the system's error number (errno), 0 when the
    // last save succeeded or its failure had no system cause.
    int lastSaveError() const { return lastSaveError_; }
    // The folder of the settings file, for messages about it.
    QString settingsFolder() const;

    // True for the errors of a refused permission (EACCES, EPERM).
    static bool isAccessDenied(int error);
    // A system error in plain lower-case words, e.g. "no space left on the device".
    static QString describeError(int error);

    // Writes the node as a preferences XML document. Throws std::runtime_error with a
    // readable message on failure.
    void exportSettings(const QString& path);
    // Puts every entry of the document's /com/varnholt/tolvane node into the store, then
    // flushes. Throws std::runtime_error with a readable message (nothing is stored then).
    void importSettings(const QString& path);

    prefs::FilePreferences* node() const { return node_; }

private:
    prefs::FilePreferences* root_;
    prefs::FilePreferences* node_ = nullptr;
    int lastSaveError_ = 0;
};

}  // namespace quorvel::config
