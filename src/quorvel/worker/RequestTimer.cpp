#include "quorvel/worker/RequestTimer.h"

#include <utility>

namespace quorvel::worker {

RequestTimer::RequestTimer(std::function<void()> request) : request_(std::move(request)) {
    // Precise: a coarse timer may drift by 5 %, noticeable over a long recording.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (request_)
            request_();
    });
}

void RequestTimer::start(int intervalMs) {
    if (intervalMs <= 0) {
        stop();
        return;
    }
    timer_.start(intervalMs);
}

void RequestTimer::stop() {
    timer_.stop();
}

}  // namespace quorvel::worker
