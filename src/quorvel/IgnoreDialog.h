#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>
#include <memory>
#include <optional>

#include "quorvel/MessagePresenter.h"
#include "quorvel/config/Config.h"

namespace quorvel {

// The ignore filter's time limit and smallest difference.
class IgnoreDialog : public QDialog {
    Q_OBJECT
public:
    IgnoreDialog(QWidget* owner, const config::Config& config,
                 std::shared_ptr<MessagePresenter> messages);

    // The results: set from the config before showing, replaced by OK.
    void setIgnoreTimeLimit(const QString& text);
    void setIgnoreDifference(const QString& text);
    const std::optional<QString>& getIgnoreTimeLimit() const { return ignoreTimeLimit_; }
    const std::optional<QString>& getIgnoreDifference() const { return ignoreDifference_; }

    // The window's use: fills the dialog from `config`, runs it with `exec` (the dialog's own
    // exec() unless a test passes another), and stores each result that differs.
    static void adjust(QWidget* owner, config::Config& config,
                       std::shared_ptr<MessagePresenter> messages,
                       const std::function<int(QDialog&)>& exec = {});

    QLineEdit* ignoreTimeLimitTextField = nullptr;
    QLineEdit* ignoreDifferenceTextField = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

    void okButtonActionPerformed();
    void cancelButtonActionPerformed();

private:
    void initComponents();
    std::shared_ptr<MessagePresenter> messages_;
    std::optional<QString> ignoreTimeLimit_;
    std::optional<QString> ignoreDifference_;
};

}  // namespace quorvel
