// The port scan on the serial library's simulated driver: each port's modem lines are
// functions of what the scan drives, as a connected instrument or cable would answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/support/SimulatedPorts.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/worker/AutoPortWorker.h"
#include "quorvel/worker/RecordingView.h"
#include "serialkit/IOException.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SimulatedSerial.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::worker {
namespace {

using serialkit::SerialPortLocal;
using serialkit::SimulatedSerial;
using util::Bundle;
using Emphasis = AutoPortWorkerView::Emphasis;
using Lines = SimulatedSerial::ModemLines;
using namespace std::chrono_literals;

class RecordingPortView : public AutoPortWorkerView {
  public:
    enum class Kind { CANCEL, CLOSE, DETECTED, MESSAGE };
    struct Call {
        Kind kind = Kind::MESSAGE;
        QString text;
        Emphasis emphasis = Emphasis::NONE;
        std::thread::id thread;
    };

    void setButtonToCancel() override { record(Kind::CANCEL); }
    void setButtonToClose() override { record(Kind::CLOSE); }
    void setDetectedPort(const QString& portName) override { record(Kind::DETECTED, portName); }
    void appendMessage(const QString& text, Emphasis emphasis) override {
        record(Kind::MESSAGE, text, emphasis);
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    QStringList messages() const {
        QStringList out;
        for (const Call& c : calls())
            if (c.kind == Kind::MESSAGE)
                out << c.text;
        return out;
    }
    QStringList detected() const {
        QStringList out;
        for (const Call& c : calls())
            if (c.kind == Kind::DETECTED)
                out << c.text;
        return out;
    }
    bool closed() const {
        for (const Call& c : calls())
            if (c.kind == Kind::CLOSE)
                return true;
        return false;
    }

  private:
    void record(Kind kind, const QString& text = QString(), Emphasis emphasis = Emphasis::NONE) {
        Call call;
        call.kind = kind;
        call.text = text;
        call.emphasis = emphasis;
        call.thread = std::this_thread::get_id();
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

QString text(const char* key) {
    return Bundle::worker().getString(key);
}
QString testing(const QString& port) {
    return Bundle::worker().format("testing.port.0", {port});
}
QString confidence(int value) {
    return text("confidence") + " " + QString::number(value);
}

class AutoPortWorkerTest : public ::testing::Test {
  protected:
    void addPort(const std::string& name, SimulatedSerial::LineFunction dsr,
                 SimulatedSerial::LineFunction cts) {
        simulated_.addPort(name, std::move(dsr), std::move(cts));
    }

    // Runs a whole scan and waits for its completion.
    void scan(RecordingPortView& view, const QStringList& ports) {
        AutoPortWorker worker(view, ports);
        worker.start();
        ASSERT_TRUE(RecordingView::pumpUntil([&] { return worker.isDone(); }));
    }

    test::SimulatedPorts simulated_;
    SimulatedSerial* const sim_ = &simulated_.driver();
};

const auto kOn = [](const Lines&) { return true; };
const auto kOff = [](const Lines&) { return false; };
const auto kFollowsDtr = [](const Lines& l) { return l.dtr; };
const auto kFollowsRts = [](const Lines& l) { return l.rts; };

TEST_F(AutoPortWorkerTest, ConfidenceFollowsHowTheLinesAnswer) {
    struct Case {
        const char* what;
        std::string port;
        SimulatedSerial::LineFunction dsr;
        SimulatedSerial::LineFunction cts;
        int expected;
    };
    const Case cases[] = {
        {"DSR at once, CTS after RTS", "/dev/ttyS0", kOn, kFollowsRts, 3},
        {"the same on COM3", "COM3", kOn, kFollowsRts, 1},
        {"only the exact name COM3 is held back", "COM30", kOn, kFollowsRts, 3},
        {"only the exact name COM3 is held back, in lower case", "com3", kOn, kFollowsRts, 3},
        // CTS answers only once both lines are up: DTR must have been raised as well.
        {"DSR at once, CTS after DTR and RTS", "/dev/ttyS7", kOn,
         [](const Lines& l) { return l.dtr && l.rts; }, 3},
        {"DSR at once, CTS never", "/dev/ttyS1", kOn, kOff, 1},
        {"DSR after DTR, CTS after RTS", "/dev/ttyS2", kFollowsDtr, kFollowsRts, 2},
        {"DSR after DTR, CTS never", "/dev/ttyS3", kFollowsDtr, kOff, 1},
        // DSR drops again once RTS rises: the line is not a steady answer.
        {"DSR after DTR only while RTS is off", "/dev/ttyS4",
         [](const Lines& l) { return l.dtr && !l.rts; }, kOn, 1},
        {"no DSR, CTS after RTS", "/dev/ttyS5", kOff, kFollowsRts, 1},
        {"no DSR, no CTS", "/dev/ttyS6", kOff, kOff, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        addPort(c.port, c.dsr, c.cts);
        RecordingPortView view;
        scan(view, {QString::fromStdString(c.port)});
        const QString port = QString::fromStdString(c.port);
        const QStringList expected =
            c.expected > 0 ? QStringList{text("auto.port.detection.started"), testing(port),
                                         confidence(c.expected), text("best.port") + " " + port}
                           : QStringList{text("auto.port.detection.started"), testing(port),
                                         confidence(0), text("could.not.auto.detect.port")};
        EXPECT_EQ(view.messages(), expected);
        EXPECT_EQ(view.detected(), c.expected > 0 ? QStringList{port} : QStringList{});

        // Opened with the fixed line settings, left with both lines off and closed.
        const serialkit::SerialConfig used = sim_->lastConfig(c.port);
        EXPECT_EQ(used.getBitRate(), serialkit::SerialConfig::BR_9600);
        EXPECT_EQ(used.getDataBits(), serialkit::SerialConfig::LN_8BITS);
        EXPECT_EQ(used.getParity(), serialkit::SerialConfig::PY_NONE);
        EXPECT_EQ(used.getStopBits(), serialkit::SerialConfig::ST_1BITS);
        EXPECT_FALSE(sim_->modemLines(c.port).dtr);
        EXPECT_FALSE(sim_->modemLines(c.port).rts);
        EXPECT_FALSE(sim_->isOpen(c.port));
    }
}

TEST_F(AutoPortWorkerTest, CompletionComesInOrderOnTheUserInterfaceThread) {
    addPort("A", kOff, kOff);
    addPort("B", kOn, kFollowsRts);
    RecordingPortView view;
    scan(view, {"A", "B"});

    const auto calls = view.calls();
    ASSERT_EQ(calls.size(), 8u);
    using K = RecordingPortView::Kind;
    const std::vector<K> kinds = {K::MESSAGE, K::MESSAGE, K::MESSAGE,  K::MESSAGE,
                                  K::MESSAGE, K::CLOSE,   K::DETECTED, K::MESSAGE};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].kind, kinds[i]);
        EXPECT_EQ(calls[i].thread, std::this_thread::get_id());
        // Only the result line stands out.
        EXPECT_EQ(calls[i].emphasis, i == 7 ? Emphasis::STRONG : Emphasis::NONE);
    }
    EXPECT_EQ(view.messages(),
              QStringList({text("auto.port.detection.started"), testing("A"), confidence(0),
                           testing("B"), confidence(3), text("best.port") + " B"}));
    EXPECT_EQ(view.detected(), QStringList{"B"});
}

TEST_F(AutoPortWorkerTest, TheFirstOfEquallyGoodPortsWins) {
    addPort("A", kOff, kFollowsRts);
    addPort("B", kOn, kOff);
    addPort("C", kFollowsDtr, kFollowsRts);
    addPort("D", kFollowsDtr, kFollowsRts);
    {
        RecordingPortView view;
        scan(view, {"A", "B"});
        EXPECT_EQ(view.detected(), QStringList{"A"});
    }
    {
        RecordingPortView view;
        scan(view, {"B", "A"});
        EXPECT_EQ(view.detected(), QStringList{"B"});
    }
    {
        // A later, better port still takes over; an equal one after it does not.
        RecordingPortView view;
        scan(view, {"A", "C", "D", "B"});
        EXPECT_EQ(view.detected(), QStringList{"C"});
    }
}

TEST_F(AutoPortWorkerTest, AnEmptyListFindsNothing) {
    RecordingPortView view;
    scan(view, {});
    EXPECT_EQ(view.messages(), QStringList({text("auto.port.detection.started"),
                                            text("could.not.auto.detect.port")}));
    EXPECT_TRUE(view.detected().isEmpty());
    EXPECT_TRUE(view.closed());
    const auto calls = view.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().emphasis, Emphasis::STRONGER);
    const auto native = sim_->calls();
    EXPECT_EQ(std::count(native.begin(), native.end(), "SerOpenPort"), 0);
}

TEST_F(AutoPortWorkerTest, APortInUseIsReportedAndSkipped) {
    addPort("A", kOn, kFollowsRts);
    addPort("B", kFollowsDtr, kFollowsRts);
    SerialPortLocal holder{serialkit::SerialConfig("A")};
    // The message the scan must pass on unchanged.
    QString failure;
    try {
        SerialPortLocal second{serialkit::SerialConfig("A")};
    } catch (const serialkit::IOException& e) {
        failure = QString::fromUtf8(e.what());
    }
    ASSERT_FALSE(failure.isEmpty());

    RecordingPortView view;
    scan(view, {"A", "B", "missing"});
    const QStringList messages = view.messages();
    ASSERT_EQ(messages.size(), 8);
    EXPECT_EQ(messages[1], testing("A"));
    EXPECT_EQ(messages[2], failure);
    EXPECT_EQ(messages[3], testing("B"));
    EXPECT_EQ(messages[4], confidence(2));
    EXPECT_EQ(messages[5], testing("missing"));
    EXPECT_THAT(messages[6].toStdString(), ::testing::StartsWith("missing"));
    EXPECT_EQ(messages[7], text("best.port") + " B");
    EXPECT_EQ(view.detected(), QStringList{"B"});
    // The other program's port is left as it was.
    EXPECT_TRUE(sim_->isOpen("A"));
}

TEST_F(AutoPortWorkerTest, APortThatFailsWhileProbedIsClosedAndSkipped) {
    addPort("A", kOn, kOn);
    addPort("B", kOn, kOn);
    sim_->setResult("SerSetDTR", -1);
    RecordingPortView view;
    scan(view, {"A", "B"});
    EXPECT_EQ(view.messages(),
              QStringList({text("auto.port.detection.started"), testing("A"), "setDTR failed",
                           testing("B"), "setDTR failed", text("could.not.auto.detect.port")}));
    EXPECT_TRUE(view.detected().isEmpty());
    EXPECT_FALSE(sim_->isOpen("A"));
    EXPECT_FALSE(sim_->isOpen("B"));
}

TEST_F(AutoPortWorkerTest, AnUnexpectedFailureEndsTheScanAndClosesThePort) {
    addPort("A", kOn, kFollowsRts);
    addPort(
        "B", [](const Lines&) -> bool { throw std::runtime_error("line state lost"); }, kOff);
    addPort("C", kOn, kFollowsRts);
    RecordingPortView view;
    scan(view, {"A", "B", "C"});
    EXPECT_EQ(view.messages(),
              QStringList({text("auto.port.detection.started"), testing("A"), confidence(3),
                           testing("B"), text("could.not.auto.detect.port"),
                           text("execution.exception") + "line state lost"}));
    // A scan that broke off names no port, not even the good one it saw first.
    EXPECT_TRUE(view.detected().isEmpty());
    EXPECT_FALSE(sim_->isOpen("B"));
}

TEST_F(AutoPortWorkerTest, CancellingInsideAWaitStopsAtOnce) {
    addPort("A", kOn, kFollowsRts);
    addPort("B", kOn, kFollowsRts);
    RecordingPortView view;
    // A wait far longer than the test may take: only an interrupted wait lets it finish.
    AutoPortWorker worker(view, {"A", "B"}, std::chrono::hours(1));
    worker.start();
    // The first wait begins after RTS is set off on the open port.
    ASSERT_TRUE(RecordingView::pumpUntil([&] {
        const auto calls = sim_->calls();
        return std::find(calls.begin(), calls.end(), "SerSetRTS") != calls.end();
    }));
    worker.cancel();
    EXPECT_TRUE(worker.isCancelled());
    ASSERT_TRUE(RecordingView::pumpUntil([&] { return worker.isDone(); }, 10s));

    EXPECT_EQ(view.messages(), QStringList({text("auto.port.detection.started"), testing("A"),
                                            text("could.not.auto.detect.port"), text("stopped")}));
    EXPECT_TRUE(view.closed());
    EXPECT_TRUE(view.detected().isEmpty());
    // The scan closes the port as it lets go.
    EXPECT_TRUE(RecordingView::pumpUntil([&] { return !sim_->isOpen("A"); }));
    const auto calls = sim_->calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SerOpenPort"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SerSigDSR"), 0);
    EXPECT_FALSE(worker.getBestPortName().has_value());
}

TEST_F(AutoPortWorkerTest, CancelShowsTheEndAtOnceWhileADriverCallHangs) {
    std::mutex lock;
    std::condition_variable wake;
    bool released = false;
    std::atomic<bool> inside{false};
    // A driver call that does not return until the test lets it.
    addPort(
        "A",
        [&](const Lines&) {
            inside.store(true);
            std::unique_lock hold(lock);
            wake.wait(hold, [&] { return released; });
            return true;
        },
        kFollowsRts);
    RecordingPortView view;
    AutoPortWorker worker(view, {"A"}, 1ms);
    worker.start();
    ASSERT_TRUE(RecordingView::pumpUntil([&] { return inside.load(); }));
    worker.cancel();
    // The dialog is not held up by the driver.
    ASSERT_TRUE(RecordingView::pumpUntil([&] { return worker.isDone(); }));
    EXPECT_TRUE(view.closed());
    EXPECT_EQ(view.messages(), QStringList({text("auto.port.detection.started"), testing("A"),
                                            text("could.not.auto.detect.port"), text("stopped")}));
    EXPECT_TRUE(sim_->isOpen("A"));

    {
        std::lock_guard hold(lock);
        released = true;
    }
    wake.notify_all();
    // The scan lets go of the port by itself, and says nothing more.
    EXPECT_TRUE(RecordingView::pumpUntil([&] { return !sim_->isOpen("A"); }));
    RecordingView::pumpUntil([] { return false; }, 50ms);
    EXPECT_EQ(view.messages().size(), 4);
    EXPECT_FALSE(worker.getBestPortName().has_value());
}

TEST_F(AutoPortWorkerTest, CancelAfterTheEndChangesNothing) {
    addPort("A", kOn, kFollowsRts);
    RecordingPortView view;
    AutoPortWorker worker(view, {"A"});
    worker.start();
    ASSERT_TRUE(RecordingView::pumpUntil([&] { return worker.isDone(); }));
    worker.cancel();
    RecordingView::pumpUntil([] { return false; }, 50ms);
    EXPECT_FALSE(worker.isCancelled());
    EXPECT_EQ(worker.getBestPortName(), QString("A"));
    EXPECT_FALSE(view.messages().contains(text("stopped")));
}

TEST_F(AutoPortWorkerTest, DestroyingARunningScanClosesThePortAndReportsNothingMore) {
    addPort("A", kOn, kFollowsRts);
    RecordingPortView view;
    {
        AutoPortWorker worker(view, {"A"}, std::chrono::hours(1));
        worker.start();
        ASSERT_TRUE(RecordingView::pumpUntil([&] {
            const auto calls = sim_->calls();
            return std::find(calls.begin(), calls.end(), "SerSetRTS") != calls.end();
        }));
    }
    EXPECT_FALSE(sim_->isOpen("A"));
    const auto before = view.calls().size();
    RecordingView::pumpUntil([] { return false; }, 50ms);
    EXPECT_EQ(view.calls().size(), before);
    EXPECT_FALSE(view.closed());
}

}  // namespace
}  // namespace quorvel::worker
