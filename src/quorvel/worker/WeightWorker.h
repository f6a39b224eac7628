#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

#include "quorvel/config/Config.h"
#include "quorvel/worker/DataLine.h"
#include "quorvel/worker/LineProcessor.h"
#include "quorvel/worker/PortFinder.h"
#include "quorvel/worker/WeightWorkerView.h"
#include "serialkit/SerialPortLocal.h"

namespace quorvel::worker {

// Owns one open port: reads it on a thread of its own, cuts the bytes into lines at the input
// terminator, runs each through a LineProcessor and hands the DataLine to the view on the
// user-interface thread, in order; the completion is delivered last. With `reconnect`, a port
// that fails while reading does not end the connection: the worker waits for its device (found
// by PortFinder) and reopens it with the same settings.
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
    // Asks the loop to stop and wakes it, also from a wait for a lost device; the completion
    // follows on the user-interface thread.
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    // Asks the instrument for a reading: the loop writes the request command before it reads
    // on. Any thread, once started; does nothing without a command.
    void requestReading();
    // The bytes that ask for a reading: the decoded request command, else the instrument
    // preset's data command; empty when there is neither (or the command's escapes are broken).
    static QByteArray requestCommandFor(const config::Config& config);
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
    // What the loop hands to the user-interface thread besides lines, in the same order.
    struct PortNotice {
        bool back = false;  // else: waiting for the device
        QString port;
    };

    // The thread: reads, and with `reconnect` set waits out each loss; posts the completion.
    void run();
    // Reads until a stop or a failure; true when the port was lost and is open again.
    bool loop();
    // Sets up an open port as every opening does: flushes what waited, logs "port.opened",
    // sets the modem lines (RTS off, DTR on) and logs them.
    void announceOpen();
    // After a loss while reading: closes the port and waits for its device to come back.
    // True once it is open again; false when a stop ended the wait.
    bool awaitDevice(const QString& reason);
    // Opens the port at `where` with the same line settings; throws when it cannot.
    void reopen(const QString& where);
    // Wakes a wait for the device (a stop).
    void wakeWait();
    void processLine(LineProcessor& processor);
    // Logs the bytes of a line whose end never came as unsent and forgets them.
    void discardUnfinishedLine();
    // A line that grew past any instrument's without its line end.
    void dropRunawayLine(int terminator);
    void publish(DataLine line);
    void post(std::variant<DataLine, PortNotice> mail);
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
    std::deque<std::variant<DataLine, PortNotice>> mailbox_;
    QString loopFailure_;
    // The loop ended because the port failed under it, not because of a stop.
    bool deviceLost_ = false;
    // Requests: the command (fixed by start()), a request waiting for the loop, and whether a
    // failed write was logged on this connection (said once, reading goes on).
    void sendRequest();
    QByteArray requestCommand_;
    std::atomic<bool> requestPending_{false};
    bool requestFailureLogged_ = false;
    // Connections the loop has begun (the first, then one after each loss); loop thread only.
    int connections_ = 0;
    // With `reconnect`: where the device is after a loss; made when the port first opened.
    std::optional<PortFinder> finder_;
    std::mutex waitLock_;
    std::condition_variable waitSignal_;
};

}  // namespace quorvel::worker
