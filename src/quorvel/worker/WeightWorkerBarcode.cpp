#include "quorvel/worker/WeightWorkerBarcode.h"

#include <utility>

namespace quorvel::worker {

WeightWorkerBarcode::WeightWorkerBarcode(WeightWorkerView& view, config::Config config)
    : WeightWorker(view, std::move(config)) {}

std::unique_ptr<LineProcessor> WeightWorkerBarcode::prepare() {
    return std::make_unique<LineProcessor>(config(), LineProcessor::Mode::BARCODE);
}

QString WeightWorkerBarcode::parityErrorText() const {
    return QStringLiteral("Parity Error");
}

QString WeightWorkerBarcode::framingErrorText() const {
    return QStringLiteral("Framing Error");
}

}  // namespace quorvel::worker
