#include "quorvel/DialogFrame.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace quorvel {

DialogFrame DialogFrame::build(QDialog& dialog) {
    DialogFrame frame;
    auto* outer = new QVBoxLayout(&dialog);
    outer->setContentsMargins(0, 0, 0, 0);

    frame.dialogPane = new QWidget(&dialog);
    frame.dialogPane->setObjectName("dialogPane");
    outer->addWidget(frame.dialogPane);
    auto* paneLayout = new QVBoxLayout(frame.dialogPane);
    paneLayout->setContentsMargins(12, 12, 12, 12);
    paneLayout->setSpacing(0);

    frame.contentPanel = new QWidget(frame.dialogPane);
    frame.contentPanel->setObjectName("contentPanel");
    paneLayout->addWidget(frame.contentPanel, 1);

    frame.buttonBar = new QWidget(frame.dialogPane);
    frame.buttonBar->setObjectName("buttonBar");
    paneLayout->addWidget(frame.buttonBar);
    return frame;
}

DialogFrame::OkCancel DialogFrame::addOkCancel(const QString& cancelText) const {
    auto* buttons = new QHBoxLayout(buttonBar);
    buttons->setContentsMargins(0, 12, 0, 0);
    buttons->addStretch(1);
    OkCancel pair;
    pair.okButton = new QPushButton(QStringLiteral("OK"), buttonBar);
    pair.okButton->setObjectName("okButton");
    pair.cancelButton = new QPushButton(cancelText, buttonBar);
    pair.cancelButton->setObjectName("cancelButton");
    buttons->addWidget(pair.okButton);
    buttons->addWidget(pair.cancelButton);
    return pair;
}

}  // namespace quorvel
