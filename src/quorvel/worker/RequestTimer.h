#pragma once

#include <QTimer>

#include <functional>

namespace quorvel::worker {

// Asks for a reading at a fixed interval while it runs. Lives on the user-interface thread
// and calls `request` there, so the callback may touch the window.
class RequestTimer {
public:
    explicit RequestTimer(std::function<void()> request);
    RequestTimer(const RequestTimer&) = delete;
    RequestTimer& operator=(const RequestTimer&) = delete;

    // Every `intervalMs` milliseconds from now on; 0 or less stops instead.
    void start(int intervalMs);
    void stop();
    bool isRunning() const { return timer_.isActive(); }
    int interval() const { return timer_.interval(); }

private:
    QTimer timer_;
    std::function<void()> request_;
};

}  // namespace quorvel::worker
