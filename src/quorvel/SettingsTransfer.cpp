#include "quorvel/SettingsTransfer.h"

#include <QFileInfo>

#include <exception>

#include "quorvel/config/ConfigStore.h"
#include "quorvel/util/Bundle.h"

namespace quorvel {

SettingsTransfer::SettingsTransfer(QWidget* parent, std::shared_ptr<MessagePresenter> messages)
    : parent_(parent), messages_(std::move(messages)) {}

bool SettingsTransfer::exportSettings(const std::function<void()>& save) {
    const QString path = messages_->chooseSaveFile(parent_, QStringLiteral("tolvane.xml"));
    if (path.isEmpty()) {
        return false;
    }
    if (QFileInfo::exists(path) &&
        !messages_->askOkCancel(parent_, util::Bundle::tolvane().getString("overwrite"),
                                util::Bundle::tolvane().getString("file.already.exists.overwrite"))) {
        return false;  // cancelled by the user: the file stays as it was
    }
    try {
        if (save) {
            save();
        }
        config::ConfigStore().exportSettings(path);
    } catch (const std::exception& e) {
        // The texts end with a line break, so the details go on a line of their own.
        messages_->error(parent_, util::Bundle::tolvane().getString("error"),
                         util::Bundle::tolvane().getString("export.failed") +
                             QString::fromLocal8Bit(e.what()));
        return false;
    }
    messages_->information(parent_, util::Bundle::tolvane().getString("export.successful"),
                           util::Bundle::tolvane().getString("configuration.exported.to.file.n") +
                               QFileInfo(path).absoluteFilePath());
    return true;
}

bool SettingsTransfer::importSettings(const std::function<void(int)>& exitProgram) {
    const QString path = messages_->chooseOpenFile(parent_);
    if (path.isEmpty()) {
        return false;
    }
    try {
        config::ConfigStore().importSettings(path);
    } catch (const std::exception& e) {
        messages_->error(parent_, util::Bundle::tolvane().getString("error"),
                         QStringLiteral("Import failed\n") + QString::fromLocal8Bit(e.what()));
        return false;
    }
    // The window still holds the old settings; only a new start reads the imported ones.
    if (messages_->askOkCancel(parent_, QStringLiteral("Restart required"),
                               QStringLiteral("Apply imported configuration and exit?")) &&
        exitProgram) {
        exitProgram(4);
    }
    return true;
}

}  // namespace quorvel
