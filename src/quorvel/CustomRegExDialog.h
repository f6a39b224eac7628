#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include <functional>
#include <memory>
#include <optional>

#include "quorvel/JLabelHtml.h"
#include "quorvel/MessagePresenter.h"
#include "quorvel/config/Config.h"

namespace quorvel {

// The user's own extraction pattern.
class CustomRegExDialog : public QDialog {
    Q_OBJECT
public:
    CustomRegExDialog(QWidget* owner, std::shared_ptr<MessagePresenter> messages);

    void setCustomRegEx(const QString& text);  // the result and the text area
    const std::optional<QString>& getCustomRegEx() const { return customRegEx_; }

    // The window's use: fills from `config`, runs it with `exec` (exec() unless a test passes
    // another) and stores the result when it differs.
    static void customize(QWidget* owner, config::Config& config,
                          std::shared_ptr<MessagePresenter> messages,
                          const std::function<int(QDialog&)>& exec = {});

    QPlainTextEdit* regExTextArea = nullptr;
    JLabelHtml* label4 = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

    void okButtonActionPerformed();
    void cancelButtonActionPerformed();

private:
    void initComponents();
    std::shared_ptr<MessagePresenter> messages_;
    std::optional<QString> customRegEx_;
};

}  // namespace quorvel
