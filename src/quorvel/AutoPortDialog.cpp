#include "quorvel/AutoPortDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

#include "quorvel/DialogFrame.h"
#include "quorvel/ZoviziDeZizFrame2.h"
#include "quorvel/util/FriendlyPortUtil.h"

namespace quorvel {

AutoPortDialog::AutoPortDialog(ZoviziDeZizFrame2& owner_, QStringList portNames,
                               std::chrono::milliseconds settleTime)
    : QDialog(&owner_), owner(owner_) {
    initComponents();
    setButtonToCancel();
    worker = std::make_unique<worker::AutoPortWorker>(*this, std::move(portNames), settleTime);
    worker->start();
}

AutoPortDialog::~AutoPortDialog() {
    // The worker's destructor cancels and joins; nothing reaches this dialog after it.
    worker.reset();
}

void AutoPortDialog::initComponents() {
    setObjectName("AutoPortDialog");
    setModal(true);
    setWindowTitle(QStringLiteral("Auto-detect port"));

    const DialogFrame frame = DialogFrame::build(*this);
    QWidget* contentPanel = frame.contentPanel;
    auto* content = new QVBoxLayout(contentPanel);
    content->setContentsMargins(0, 0, 0, 0);

    // QTextEdit scrolls by itself; it is the scroll pane and the text pane in one.
    textPane1 = new QTextEdit(contentPanel);
    textPane1->setObjectName("textPane1");
    textPane1->setReadOnly(true);
    textPane1->setAcceptRichText(false);
    textPane1->setMinimumSize(360, 200);
    content->addWidget(textPane1);

    QWidget* buttonBar = frame.buttonBar;
    auto* buttons = new QGridLayout(buttonBar);
    buttons->setContentsMargins(0, 4, 0, 4);
    buttons->setColumnStretch(0, 1);
    buttons->setColumnMinimumWidth(1, 80);
    okButton = new QPushButton(QStringLiteral("OK"), buttonBar);
    okButton->setObjectName("okButton");
    okButton->setMinimumWidth(80);
    okButton->setDefault(true);
    buttons->addWidget(okButton, 0, 1);

    connect(okButton, &QPushButton::clicked, this, [this] { okButtonActionPerformed(); });
}

void AutoPortDialog::setButtonToCancel() {
    okButton->setText(QStringLiteral("Cancel"));
}

void AutoPortDialog::setButtonToClose() {
    okButton->setText(QStringLiteral("Close"));
}

void AutoPortDialog::setDetectedPort(const QString& portName) {
    if (portName.isEmpty())
        return;
    // The window lists a port by its friendly entry where it has a record.
    const QString entry = util::FriendlyPortUtil::getFriendlyPortName(portName);
    const int index = owner.portList->findText(entry, Qt::MatchExactly);
    if (index >= 0)
        owner.portList->setCurrentIndex(index);
}

void AutoPortDialog::appendMessage(const QString& text, Emphasis emphasis) {
    QTextCursor cursor(textPane1->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    switch (emphasis) {
    case Emphasis::NONE:
        break;
    case Emphasis::STRONG:
        format.setFontWeight(QFont::Bold);
        break;
    case Emphasis::STRONGER:
        format.setFontWeight(QFont::Bold);
        format.setForeground(QColor(0xB0, 0x00, 0x20));
        break;
    }
    if (!textPane1->document()->isEmpty())
        cursor.insertText(QStringLiteral("\n"), QTextCharFormat());
    // Port names and failure texts are shown as they are, never read as markup.
    cursor.insertText(text, format);
    textPane1->setTextCursor(cursor);
    textPane1->ensureCursorVisible();
}

void AutoPortDialog::okButtonActionPerformed() {
    if (worker->isDone()) {
        // Through the close event, so closing by button and by the window's control agree.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    worker->cancel();
    setButtonToClose();
}

void AutoPortDialog::reject() {
    if (!worker->isDone())
        worker->cancel();
    QDialog::reject();
}

}  // namespace quorvel
