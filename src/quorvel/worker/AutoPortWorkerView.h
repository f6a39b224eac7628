#pragma once

#include <QString>

namespace quorvel::worker {

// What the port scan calls on the auto-port dialog. Every call comes on the user-interface
// thread.
class AutoPortWorkerView {
  public:
    // How a progress or result line stands out; the dialog picks the look.
    enum class Emphasis {
        NONE,
        // The found port.
        STRONG,
        // No port found: louder than a success, since the user has to act.
        STRONGER,
    };

    virtual ~AutoPortWorkerView() = default;

    // The dialog calls this itself when it opens; the scan never does.
    virtual void setButtonToCancel() = 0;
    virtual void setButtonToClose() = 0;
    // The port the scan found; the dialog takes it over as the port setting.
    virtual void setDetectedPort(const QString& portName) = 0;
    virtual void appendMessage(const QString& text, Emphasis emphasis) = 0;
};

}  // namespace quorvel::worker
