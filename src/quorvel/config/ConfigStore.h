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

    // Fills `config` from the node; true when every stored value was valid.
    bool loadConfig(Config& config, const QStringList& availablePorts);
    // Writes `config` to the node and flushes; failures go to standard error as
    // "saveConfig exception: <text>" and make the result false.
    bool saveConfig(const Config& config);

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
};

}  // namespace quorvel::config
