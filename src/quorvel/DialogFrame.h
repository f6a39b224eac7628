#pragma once

#include <QDialog>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace quorvel {

// The arrangement the dialogs share: `dialogPane` fills the dialog with a 12 px border and
// holds `contentPanel` (taking the spare room) above `buttonBar`. The caller gives the panel
// and the bar their own layouts.
struct DialogFrame {
    QWidget* dialogPane = nullptr;
    QWidget* contentPanel = nullptr;
    QWidget* buttonBar = nullptr;

    // Builds the frame into `dialog`, which must not have a layout yet.
    static DialogFrame build(QDialog& dialog);

    struct OkCancel {
        QPushButton* okButton = nullptr;
        QPushButton* cancelButton = nullptr;
    };
    // "OK" and a cancel button of the given text at the right of `buttonBar`, 12 px below the
    // content; the bar must not have a layout yet.
    OkCancel addOkCancel(const QString& cancelText) const;
};

}  // namespace quorvel
