#include "quorvel/DialogFrame.h"

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

}  // namespace quorvel
