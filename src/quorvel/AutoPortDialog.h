#pragma once

#include <QDialog>
#include <QPushButton>
#include <QStringList>
#include <QTextEdit>

#include <chrono>
#include <memory>

#include "quorvel/worker/AutoPortWorker.h"
#include "quorvel/worker/AutoPortWorkerView.h"

namespace quorvel {

class ZoviziDeZizFrame2;

// Scans the ports for an instrument, shows the scan line by line and selects the port it
// finds in the main window's port list. Modal; the scan starts when the dialog is built.
class AutoPortDialog : public QDialog, public worker::AutoPortWorkerView {
    Q_OBJECT
public:
    // `portNames` are bare names, handed to the scan unchanged. `settleTime` is for tests
    // that need a wait long enough to act inside it.
    AutoPortDialog(ZoviziDeZizFrame2& owner, QStringList portNames,
                   std::chrono::milliseconds settleTime = worker::AutoPortWorker::kSettleTime);
    // Stops a scan still running and waits for it to let go of its port.
    ~AutoPortDialog() override;

    // --- what the scan calls ---
    void setButtonToCancel() override;
    void setButtonToClose() override;
    void setDetectedPort(const QString& portName) override;
    void appendMessage(const QString& text, Emphasis emphasis) override;

    // "Cancel" stops the scan and keeps the dialog open; "Close" after the scan closes it.
    void okButtonActionPerformed();

    const worker::AutoPortWorker& getWorker() const { return *worker; }

    QTextEdit* textPane1 = nullptr;
    QPushButton* okButton = nullptr;

    // Every way of closing (the window's control, Escape, the button) ends here; a scan
    // still running is stopped first.
    void reject() override;

private:
    void initComponents();

    ZoviziDeZizFrame2& owner;
    std::unique_ptr<worker::AutoPortWorker> worker;
};

}  // namespace quorvel
