#pragma once

#include "quorvel/worker/WeightWorker.h"

namespace quorvel::worker {

// A&D balances: after opening, checks the handshake lines and warns when the balance does not
// answer as expected; reading is the same as WeightWorker's.
class WeightWorkerAnd : public WeightWorker {
public:
    WeightWorkerAnd(WeightWorkerView& view, config::Config config);

    // DTR on, 50 ms, DSR; RTS on, 50 ms, CTS; a warning box unless both answered.
    // Returns the message key shown, or an empty text when all is well.
    QString checkHandshake();
};

}  // namespace quorvel::worker
