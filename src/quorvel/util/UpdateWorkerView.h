#pragma once

#include <QString>

#include "quorvel/util/Bundle.h"

namespace quorvel::util {

// What the update check calls on the main window.
class UpdateWorkerView {
public:
    virtual ~UpdateWorkerView() = default;

    // Shows a text in the status line. The update check calls it on the user-interface thread.
    virtual void setStatus(const QString& text) = 0;
    // Gives the status line back to its normal text once the check has nothing to report.
    virtual void showNormalStatus() {
        setStatus(Bundle::tolvane().getString("ZoviziDeZizFrame2.statusJLabel.text"));
    }
};

}  // namespace quorvel::util
