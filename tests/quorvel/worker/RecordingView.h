#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "quorvel/worker/DataLine.h"
#include "quorvel/worker/WeightWorkerView.h"

namespace quorvel::worker {

// Records every call a worker makes, in order, with the thread it came on. Safe to call from
// any thread; the accessors return copies.
class RecordingView : public WeightWorkerView {
  public:
    enum class Kind { APPEND, IMPORTANT, CONNECTED, LINE, WARNING, DEVICE_LOST, WAITING, BACK };

    struct Call {
        explicit Call(Kind k, QString t = QString()) : kind(k), text(std::move(t)) {}
        Kind kind;
        QString text;   // log text, warning message, lost port
        QString title;  // warning title, reason of the loss
        bool connected = false;
        std::optional<DataLine> line;
        std::thread::id thread;
    };

    void eventLogAppend(const QString& text) override { record(Call(Kind::APPEND, text)); }
    void logImportantEvent(const QString& text) override { record(Call(Kind::IMPORTANT, text)); }
    void setConnectedInGUI(bool connected) override {
        Call call(Kind::CONNECTED);
        call.connected = connected;
        record(std::move(call));
    }
    void processDataLine(DataLine& dataLine) override {
        Call call(Kind::LINE);
        call.line = dataLine.copy();
        record(std::move(call));
    }
    void showWarning(const QString& title, const QString& message) override {
        Call call(Kind::WARNING, message);
        call.title = title;
        record(std::move(call));
    }

    void deviceLost(const QString& port, const QString& reason) override {
        Call call(Kind::DEVICE_LOST, port);
        call.title = reason;
        record(std::move(call));
    }
    void waitingForDevice(const QString& port) override { record(Call(Kind::WAITING, port)); }
    void deviceBack(const QString& port) override { record(Call(Kind::BACK, port)); }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<Call> callsOf(Kind kind) const {
        std::vector<Call> out;
        for (auto& c : calls())
            if (c.kind == kind)
                out.push_back(c);
        return out;
    }
    std::vector<DataLine> lines() const {
        std::vector<DataLine> out;
        for (auto& c : callsOf(Kind::LINE)) out.push_back(*c.line);
        return out;
    }
    QStringList texts(Kind kind) const {
        QStringList out;
        for (auto& c : callsOf(kind)) out << c.text;
        return out;
    }
    // True once the completion has switched the window to disconnected.
    bool disconnected() const {
        for (auto& c : callsOf(Kind::CONNECTED))
            if (!c.connected)
                return true;
        return false;
    }

    // Runs the event loop of this thread until `done` holds or the time is up.
    static bool pumpUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            QCoreApplication::processEvents();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool waitForLines(std::size_t count) const {
        return pumpUntil([&] { return callsOf(Kind::LINE).size() >= count; });
    }
    bool waitForDisconnect() const {
        return pumpUntil([&] { return disconnected(); });
    }

  private:
    void record(Call call) {
        call.thread = std::this_thread::get_id();
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

}  // namespace quorvel::worker
