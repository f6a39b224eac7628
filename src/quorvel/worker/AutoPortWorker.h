#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "quorvel/worker/AutoPortWorkerView.h"
#include "serialkit/SerialPortLocal.h"

namespace quorvel::worker {

// Ranks the serial ports by how likely an instrument hangs on them and picks the best. It
// reads no data: it opens each port in turn, drives DTR and RTS and watches DSR and CTS,
// because a connected instrument or cable answers or loops these lines while an empty port
// does not. Each port scores 0 to 3; the first port with the highest score above 0 wins.
//
// The scan runs on a thread of its own; progress texts reach the view on the user-interface
// thread in order, and the completion comes last. Construct, start, cancel and destroy on the
// user-interface thread, not from inside a view call. Destroying a running worker cancels it
// and waits for its thread; nothing reaches the view after destruction.
class AutoPortWorker {
  public:
    // How long the lines get to settle after every change; a loopback or an instrument
    // answers well within it.
    static constexpr std::chrono::milliseconds kSettleTime{150};

    // `settleTime` exists for tests that need a wait long enough to cancel inside it.
    AutoPortWorker(AutoPortWorkerView& view, QStringList ports,
                   std::chrono::milliseconds settleTime = kSettleTime);
    ~AutoPortWorker();
    AutoPortWorker(const AutoPortWorker&) = delete;
    AutoPortWorker& operator=(const AutoPortWorker&) = delete;

    // Scans once; a second call does nothing.
    void start();
    // Stops the scan at its current wait, at once; the completion follows on the
    // user-interface thread without waiting for the scan, which closes its port itself as
    // soon as it lets go. Does nothing once the scan has ended by itself.
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    // True once the completion has run.
    bool isDone() const { return done_; }
    // The scan's result once it is done: absent when no port scored above 0, or when the
    // scan was cancelled or failed.
    std::optional<QString> getBestPortName() const { return result_; }

  private:
    void scan();
    // Opens and probes one port; its confidence, or nothing when cancelled meanwhile (the
    // port then stays open for the completion to close).
    std::optional<int> probe(const QString& portName);
    // Waits the settle time; false when cancelled before or during it.
    bool settle();
    // Closes the port under test, if any; a failure to close is of no consequence.
    void releasePort();
    void report(const QString& text);
    void deliver();
    void postCompletion();
    void complete();

    AutoPortWorkerView& view_;
    const QStringList ports_;
    const std::chrono::milliseconds settleTime_;
    // Lives on the user-interface thread; queued deliveries run there and die with it.
    std::unique_ptr<QObject> receiver_;
    std::thread thread_;
    bool started_ = false;
    bool done_ = false;
    std::atomic<bool> cancelled_{false};
    // Set by the scan thread when it has nothing more to do; a cancel after that is too late.
    std::atomic<bool> finished_{false};

    // Wakes a settle wait when a cancellation comes.
    std::mutex waitLock_;
    std::condition_variable waitWake_;

    // Owned by the scan thread until the thread has ended and been joined.
    std::unique_ptr<serialkit::SerialPortLocal> currentPort_;
    std::optional<QString> bestPortName_;
    int bestPortConfidence_ = 0;
    int currentPortConfidence_ = 0;
    QString failure_;

    std::optional<QString> result_;

    // Progress texts waiting for the user-interface thread.
    std::mutex mailboxLock_;
    std::deque<QString> mailbox_;
};

}  // namespace quorvel::worker
