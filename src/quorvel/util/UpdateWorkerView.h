#pragma once

#include <QString>

namespace quorvel::util {

// What the update check calls on the main window.
class UpdateWorkerView {
public:
    virtual ~UpdateWorkerView() = default;

    // Shows a text in the status line. The update check calls it on the user-interface thread.
    virtual void setStatus(const QString& text) = 0;
};

}  // namespace quorvel::util
