#include "quorvel/CustomRegExDialog.h"

#include <QLabel>
#include <QVBoxLayout>

#include "quorvel/DialogFrame.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/util/Bundle.h"

namespace quorvel {

CustomRegExDialog::CustomRegExDialog(QWidget* owner, std::shared_ptr<MessagePresenter> messages)
    : QDialog(owner), messages_(std::move(messages)) {
    initComponents();
}

void CustomRegExDialog::initComponents() {
    setObjectName("CustomRegExDialog");
    setModal(true);
    setWindowTitle(util::Bundle::tolvane().getString("CustomRegExDialog.this.title"));

    const DialogFrame frame = DialogFrame::build(*this);
    QWidget* contentPanel = frame.contentPanel;
    auto* content = new QVBoxLayout(contentPanel);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(6);

    auto* label2 = new QLabel(util::Bundle::tolvane().getString("CustomRegExDialog.label2.text"),
                              contentPanel);
    label2->setObjectName("label2");
    label2->setWordWrap(true);
    // QPlainTextEdit scrolls by itself; it is the text area and its scroll pane in one.
    regExTextArea = new QPlainTextEdit(contentPanel);
    regExTextArea->setObjectName("regExTextArea");
    regExTextArea->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    label2->setBuddy(regExTextArea);
    auto* label3 = new QLabel(util::Bundle::tolvane().getString("CustomRegExDialog.label3.text"),
                              contentPanel);
    label3->setObjectName("label3");
    label3->setWordWrap(true);
    label4 = new JLabelHtml(util::Bundle::tolvane().getString("CustomRegExDialog.label4.text"),
                            contentPanel);
    label4->setObjectName("label4");

    content->addWidget(label2);
    content->addWidget(regExTextArea, 1);
    content->addWidget(label3);
    content->addWidget(label4);

    const DialogFrame::OkCancel buttons =
        frame.addOkCancel(util::Bundle::tolvane().getString("CustomRegExDialog.cancelButton.text"));
    okButton = buttons.okButton;
    cancelButton = buttons.cancelButton;

    connect(okButton, &QPushButton::clicked, this, [this] { okButtonActionPerformed(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancelButtonActionPerformed(); });
}

void CustomRegExDialog::setCustomRegEx(const QString& text) {
    customRegEx_ = text;
    regExTextArea->setPlainText(text);
}

void CustomRegExDialog::okButtonActionPerformed() {
    const QString text = regExTextArea->toPlainText();
    if (!config::ConfigHelper::CustomRegEx::isValid(text)) {
        if (messages_) {
            messages_->error(this, util::Bundle::tolvane().getString("error"),
                             util::Bundle::tolvane().getString("invalid.expression"));
        }
        return;
    }
    customRegEx_ = text;
    accept();
}

void CustomRegExDialog::cancelButtonActionPerformed() {
    reject();
}

void CustomRegExDialog::customize(QWidget* owner, config::Config& config,
                                  std::shared_ptr<MessagePresenter> messages,
                                  const std::function<int(QDialog&)>& exec) {
    CustomRegExDialog dialog(owner, std::move(messages));
    dialog.setCustomRegEx(config.getCustomRegEx());
    if (exec) {
        exec(dialog);
    } else {
        dialog.exec();
    }
    const auto& result = dialog.getCustomRegEx();
    if (!result.has_value() || *result != config.getCustomRegEx()) {
        config.setCustomRegEx(result.value_or(QString()));
    }
}

}  // namespace quorvel
