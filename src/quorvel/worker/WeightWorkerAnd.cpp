#include "quorvel/worker/WeightWorkerAnd.h"

#include <chrono>
#include <thread>
#include <utility>

#include "quorvel/util/Bundle.h"

namespace quorvel::worker {

using util::Bundle;

namespace {

// Time the balance gets to answer a raised line.
constexpr std::chrono::milliseconds kLineSettleTime{50};

}  // namespace

WeightWorkerAnd::WeightWorkerAnd(WeightWorkerView& view, config::Config config)
    : WeightWorker(view, std::move(config)) {
    try {
        checkHandshake();
    } catch (...) {
        // The base destructor closes the port; the window must not stay connected.
        view.setConnectedInGUI(false);
        throw;
    }
}

QString WeightWorkerAnd::checkHandshake() {
    port().setDTR(true);
    std::this_thread::sleep_for(kLineSettleTime);
    const bool dsr = port().sigDSR();
    port().setRTS(true);
    std::this_thread::sleep_for(kLineSettleTime);
    const bool cts = port().sigCTS();

    if (dsr && cts)
        return QString("");
    QString key;
    QString message;
    if (dsr) {
        key = QStringLiteral("and.error.unusual");
        message = Bundle::worker().getString("and.error.unusual");
    } else if (cts) {
        key = QStringLiteral("and.error.dataset.not.ready");
        message = Bundle::worker().getString("and.error.dataset.not.ready");
    } else {
        key = QStringLiteral("and.error.not.connected");
        message = Bundle::worker().getString("and.error.not.connected");
    }
    view().showWarning(Bundle::worker().getString("warning"), message);
    return key;
}

}  // namespace quorvel::worker
