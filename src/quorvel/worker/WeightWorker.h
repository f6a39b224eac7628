#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "quorvel/config/Config.h"
#include "quorvel/worker/DataLine.h"
#include "quorvel/worker/LineProcessor.h"
#include "quorvel/worker/WeightWorkerView.h"
#include "serialkit/SerialPortLocal.h"

namespace quorvel::worker {

// Owns one open port: reads it on a thread of its own, cuts the bytes into lines at the input
// terminator, runs each through a LineProcessor and hands the DataLine to the view on the
// user-interface thread, in order; the completion is delivered last.
//
// Construct, start, cancel and destroy on the user-interface thread (the thread whose event
// loop receives the lines), but not from inside one of the view calls (defer the destruction
// to the event loop instead). Destroying a running worker cancels it and waits for its
// thread; nothing is delivered to the view after destruction.
class WeightWorker {
public:
    // Opens the port (logging "port.opened" and the modem line states). Throws
    // std::invalid_argument with the text of "null.port.error" when no port is set, and
    // serialkit::IOException when the port cannot be opened (nothing stays open then).
    WeightWorker(WeightWorkerView& view, config::Config config);
    virtual ~WeightWorker();
    WeightWorker(const WeightWorker&) = delete;
    WeightWorker& operator=(const WeightWorker&) = delete;

    // Runs the reading loop on its own thread.
    void start();
    // Asks the loop to stop and wakes it; the completion follows on the user-interface thread.
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    // True once the completion has run (port closed, disconnected state shown).
    bool isDone() const { return done_; }
    // Lines counted by the loop so far (its result once it has ended).
    int getLineCount() const { return lineCount_.load(); }

protected:
    // Builds the per-line processing once per connection. Called by start() before the loop
    // thread exists, like the two texts below, so that thread never makes a virtual call that
    // could race with the destruction of a derived worker.
    virtual std::unique_ptr<LineProcessor> prepare();
    // Texts of the line-error log entries.
    virtual QString parityErrorText() const;
    virtual QString framingErrorText() const;

    WeightWorkerView& view() { return view_; }
    const config::Config& config() const { return config_; }
    serialkit::SerialPortLocal& port() { return *port_; }

private:
    void loop();
    void processLine(LineProcessor& processor);
    // A line that grew past any instrument's without its line end.
    void dropRunawayLine(int terminator);
    void publish(DataLine line);
    void deliver();
    void complete();
    // Queues complete() on the user-interface thread (unless the worker is being destroyed).
    void postCompletion();

    WeightWorkerView& view_;
    config::Config config_;
    std::unique_ptr<serialkit::SerialPortLocal> port_;
    // Lives on the user-interface thread; queued deliveries run there and die with it.
    std::unique_ptr<QObject> receiver_;
    QString buffer_;
    bool lineError_ = false;
    bool runawayReported_ = false;
    int number_ = 0;
    std::atomic<int> lineCount_{0};
    std::atomic<bool> cancelled_{false};
    bool done_ = false;
    std::thread thread_;
    bool started_ = false;
    // Made by start() on the user-interface thread, then used by the loop thread only.
    std::unique_ptr<LineProcessor> processor_;
    QString parityText_;
    QString framingText_;
    // Lines waiting for the user-interface thread, and how the loop ended.
    std::mutex mailboxLock_;
    std::deque<DataLine> mailbox_;
    QString loopFailure_;
    // The loop ended because the port failed under it, not because of a stop.
    bool deviceLost_ = false;
};

}  // namespace quorvel::worker
