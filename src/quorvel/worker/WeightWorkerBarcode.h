#pragma once

#include "quorvel/worker/WeightWorker.h"

namespace quorvel::worker {

// Text instruments: group 1 of the first match, no whitespace removal, no number formatting,
// and fixed English texts for line errors.
class WeightWorkerBarcode : public WeightWorker {
public:
    WeightWorkerBarcode(WeightWorkerView& view, config::Config config);

protected:
    std::unique_ptr<LineProcessor> prepare() override;
    QString parityErrorText() const override;   // "Parity Error"
    QString framingErrorText() const override;  // "Framing Error"
};

}  // namespace quorvel::worker
