#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "quorvel/MessagePresenter.h"

class QWidget;

namespace quorvel {

namespace config {
class Config;
}

// Export and import of the settings file ("tolvane.xml").
class SettingsTransfer {
public:
    SettingsTransfer(QWidget* parent, std::shared_ptr<MessagePresenter> messages);

    // Chooses a file (proposing "tolvane.xml"), asks before overwriting, saves `config` and
    // writes the export; reports success or failure in a box. `save` stores the settings
    // first (the window's updateConfigFromTabs + saveConfig); returns whether a file was
    // written.
    bool exportSettings(const std::function<void()>& save);
    // Chooses a file, imports it into the settings store and asks "Apply imported
    // configuration and exit?"; OK calls `exitProgram(4)`. Failures show "Import failed\n"
    // with the problem. Returns whether it was imported.
    bool importSettings(const std::function<void(int)>& exitProgram);

private:
    QWidget* parent_;
    std::shared_ptr<MessagePresenter> messages_;
};

}  // namespace quorvel
