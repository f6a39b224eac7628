// The workers end to end on a real pseudo-terminal: the test plays the instrument on the master.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/config/Config.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/util/Bundle.h"
#include "support/NativeSerialTest.h"
#include "quorvel/worker/RecordingView.h"
#include "quorvel/worker/WeightWorker.h"
#include "quorvel/worker/WeightWorkerBarcode.h"
#include "serialkit/IOException.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SystemProperties.h"
#include "support/DeviceServer.h"
#include "support/Pty.h"

namespace quorvel::worker {
namespace {

using config::Config;
using config::ConfigHelper;
using config::InstrumentPresets;
using util::Bundle;
using Kind = RecordingView::Kind;
using namespace std::chrono_literals;

class WeightWorkerPtyTest : public testsupport::NativeSerialTest {
  protected:

    Config settings(ConfigHelper::Instrument instrument) {
        Config c = InstrumentPresets::getDefaultConfig(instrument);
        c.setInstrument(instrument);
        c.setPort(QString::fromStdString(pty_.slavePath()));
        c.setInputTerminator(13);
        return c;
    }

    // Every delivery and the completion must arrive on this (the user-interface) thread.
    void expectUiThreadDeliveries() {
        for (const auto& c : view_.calls()) {
            if (c.kind == Kind::LINE || c.kind == Kind::CONNECTED) {
                EXPECT_EQ(c.thread, std::this_thread::get_id());
            }
        }
    }

    testsupport::Pty pty_;
    RecordingView view_;
};

TEST_F(WeightWorkerPtyTest, OpeningLogsThePortAndDiscardsWhatWasWaiting) {
    pty_.write("99\r");  // sent before anyone listened
    WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
    const auto opened = view_.calls();
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0].kind, Kind::CONNECTED);
    EXPECT_TRUE(opened[0].connected);
    EXPECT_EQ(opened[1].kind, Kind::APPEND);
    EXPECT_EQ(opened[1].text,
              Bundle::worker().format(
                  "port.opened",
                  {QString::fromStdString(pty_.slavePath()), "9600", "8", "1",
                   config::Setting<ConfigHelper::Parity>::label(ConfigHelper::Parity::NONE)}));
    EXPECT_EQ(opened[2].kind, Kind::APPEND);
    EXPECT_EQ(opened[2].text, "RTS: off, DTR: on. DSR: off, CTS: off.");

    worker.start();
    pty_.write("1\r");
    ASSERT_TRUE(view_.waitForLines(1));
    const auto lines = view_.lines();
    EXPECT_EQ(lines[0].getRawDataUnchanged(), "1\r");
    EXPECT_EQ(lines[0].getNumber(), 1);
}

TEST_F(WeightWorkerPtyTest, NumberLinesArriveInOrderWithTheirNumbers) {
    WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
    worker.start();
    const auto before = DataLine::Clock::now();
    pty_.write("12.5 kg\r");
    pty_.write(
        "no value\r- 1,5\r\xff"
        "7\r");        // several lines in one burst
    pty_.write("\r");  // the terminator alone
    ASSERT_TRUE(view_.waitForLines(5));
    const auto lines = view_.lines();
    ASSERT_EQ(lines.size(), 5u);

    EXPECT_EQ(lines[0].getRawDataUnchanged(), QString("12.5 kg\r"));
    EXPECT_EQ(lines[0].getRawData(), "12.5 kg<13>");
    EXPECT_EQ(lines[0].getProcessedData(), "12.5");
    EXPECT_EQ(lines[1].getRawData(), "no value<13>");
    EXPECT_FALSE(lines[1].hasValue());
    EXPECT_EQ(lines[2].getProcessedData(), "-1.5");
    // Every byte is the character of the same code.
    EXPECT_EQ(lines[3].getRawDataUnchanged(), QString(QChar(0xFF)) + "7\r");
    EXPECT_EQ(lines[3].getProcessedData(), "7");
    EXPECT_EQ(lines[4].getRawDataUnchanged(), "\r");
    EXPECT_FALSE(lines[4].hasValue());

    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines[i].getNumber(), i + 1);
        EXPECT_FALSE(lines[i].isError());
        EXPECT_GE(lines[i].getInstant(), i == 0 ? before : lines[i - 1].getInstant());
    }
    EXPECT_LE(lines[4].getInstant(), DataLine::Clock::now());
    EXPECT_EQ(worker.getLineCount(), 5);
    EXPECT_TRUE(view_.callsOf(Kind::IMPORTANT).empty());
    expectUiThreadDeliveries();
}

TEST_F(WeightWorkerPtyTest, AFailedLineUsesUpItsNumber) {
    Config c = settings(ConfigHelper::Instrument::GENERIC);
    c.setCustomRegEx(R"(=(\S+))");
    WeightWorker worker(view_, std::move(c));
    worker.start();
    pty_.write("=abc\r=5\r=1,25\r");
    ASSERT_TRUE(view_.waitForLines(2));
    const auto lines = view_.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].getNumber(), 2);
    EXPECT_EQ(lines[0].getProcessedData(), "5");
    EXPECT_EQ(lines[1].getNumber(), 3);
    EXPECT_EQ(lines[1].getProcessedData(), "1.25");
    const QStringList failures = view_.texts(Kind::IMPORTANT);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith("Error [WW]: ")) << failures[0].toStdString();
    EXPECT_GT(failures[0].size(), QString("Error [WW]: ").size());
    // The failed line's bytes did not leak into the next line.
    EXPECT_EQ(lines[0].getRawDataUnchanged(), "=5\r");
}

TEST_F(WeightWorkerPtyTest, StableOnlySkipsReadingsInMotionAndSaysWhyLinesGiveNothing) {
    for (bool stableOnly : {false, true}) {
        SCOPED_TRACE(stableOnly);
        testsupport::Pty pty;
        RecordingView view;
        Config c = settings(ConfigHelper::Instrument::SARTORIUS);
        c.setPort(QString::fromStdString(pty.slavePath()));
        c.setInputTerminator(10);
        c.stableOnly = stableOnly;
        WeightWorker worker(view, std::move(c));
        worker.start();
        // Unstable (no unit), stable, overload; the CR LF pair of each line stays whole.
        pty.write("+    47.12    \r\n+   123.56 g  \r\nStat        H       \r\n");
        ASSERT_TRUE(view.waitForLines(3));
        const auto lines = view.lines();
        EXPECT_TRUE(lines[0].isUnstable());
        EXPECT_EQ(lines[0].getProcessedData(), stableOnly ? "" : "47.12");
        EXPECT_EQ(lines[0].getRemark(), stableOnly ? "not stable, skipped" : "");
        EXPECT_EQ(lines[0].isSkippedAsUnstable(), stableOnly);
        EXPECT_FALSE(lines[1].isUnstable());
        EXPECT_EQ(lines[1].getProcessedData(), "123.56");
        EXPECT_EQ(lines[2].getProcessedData(), "");
        EXPECT_EQ(lines[2].getRemark(), "overload");
    }
}

TEST_F(WeightWorkerPtyTest, BarcodeLinesAreNotFormatted) {
    WeightWorkerBarcode worker(view_, settings(ConfigHelper::Instrument::BARCODE));
    worker.start();
    pty_.write("- 1,50\r0042\r");
    ASSERT_TRUE(view_.waitForLines(2));
    const auto lines = view_.lines();
    EXPECT_EQ(lines[0].getProcessedData(), "- 1,50");
    EXPECT_EQ(lines[1].getProcessedData(), "0042");
    EXPECT_EQ(lines[1].getNumber(), 2);
}

TEST_F(WeightWorkerPtyTest, StopReportsTheUnfinishedLineAfterTheLastLine) {
    WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
    worker.start();
    pty_.write(
        "1\r\x02"
        "0.5");
    ASSERT_TRUE(view_.waitForLines(1));
    // The rest of the burst is read right behind the line, but nothing reports that it was;
    // give the reading thread a moment before stopping.
    std::this_thread::sleep_for(200ms);
    worker.cancel();
    ASSERT_TRUE(view_.waitForDisconnect());
    EXPECT_TRUE(worker.isDone());

    const auto calls = view_.calls();
    ASSERT_GE(calls.size(), 4u);
    // Last four: the line, "stopped", the unfinished rest, disconnected.
    const auto n = calls.size();
    EXPECT_EQ(calls[n - 4].kind, Kind::LINE);
    EXPECT_EQ(calls[n - 3].kind, Kind::APPEND);
    EXPECT_EQ(calls[n - 3].text, Bundle::worker().getString("stopped"));
    EXPECT_EQ(calls[n - 2].kind, Kind::IMPORTANT);
    EXPECT_EQ(calls[n - 2].text, Bundle::worker().getString("unsent.data") + " <2>0.5");
    EXPECT_EQ(calls[n - 1].kind, Kind::CONNECTED);
    EXPECT_FALSE(calls[n - 1].connected);
    expectUiThreadDeliveries();

    // Once completed the port is closed: a new worker can open it.
    RecordingView other;
    EXPECT_NO_THROW(WeightWorker(other, settings(ConfigHelper::Instrument::GENERIC)));
}

TEST_F(WeightWorkerPtyTest, StopIsQuickWhileIdleAndWhileAStreamGoesOn) {
    {
        WeightWorker idle(view_, settings(ConfigHelper::Instrument::GENERIC));
        idle.start();
        std::this_thread::sleep_for(50ms);  // let it settle into its wait
        const auto asked = std::chrono::steady_clock::now();
        idle.cancel();
        ASSERT_TRUE(view_.waitForDisconnect());
        // Cancellation wakes the wait instead of waiting it out.
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 400ms);
    }

    RecordingView streamView;
    WeightWorker streaming(streamView, settings(ConfigHelper::Instrument::GENERIC));
    streaming.start();
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        const std::string chunk(256, '5');
        while (feeding.load()) {
            // Non-blocking master: a full line just means trying again.
            if (::write(pty_.masterFd(), chunk.data(), chunk.size()) < 0 && errno != EAGAIN)
                break;
        }
    });
    // Wait until the stream is flowing through the worker's buffer, then stop mid-stream.
    std::this_thread::sleep_for(100ms);
    streaming.cancel();
    const bool stopped = streamView.waitForDisconnect();
    feeding.store(false);
    feeder.join();
    ASSERT_TRUE(stopped) << "a continuous stream kept the stop from completing";
    // A long stream may also have passed the line limit; the rest is reported once at the end.
    const QStringList unsent =
        streamView.texts(Kind::IMPORTANT).filter(Bundle::worker().getString("unsent.data"));
    ASSERT_EQ(unsent.size(), 1);
    EXPECT_TRUE(unsent[0].startsWith(Bundle::worker().getString("unsent.data") + " 555"));
}

TEST_F(WeightWorkerPtyTest, ALineWithoutItsLineEndIsDroppedOnceItOutgrowsAnyInstrumentLine) {
    WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
    worker.start();
    // Three times the limit without a carriage return (a wrong line-end setting), then a line.
    pty_.write(std::string(3 * 64 * 1024, '7') + "12\r3");
    ASSERT_TRUE(view_.waitForLines(1));
    worker.cancel();
    ASSERT_TRUE(view_.waitForDisconnect());

    // Reading went on: the next line is whole and alone.
    EXPECT_EQ(view_.lines()[0].getRawDataUnchanged(), "12\r");
    EXPECT_EQ(view_.lines()[0].getProcessedData(), "12");
    // Said once, in plain words; the bytes themselves never reach the log.
    const QStringList important = view_.texts(Kind::IMPORTANT);
    ASSERT_EQ(important.size(), 2);
    EXPECT_EQ(important[0], Bundle::worker().format("line.end.missing", {"65536", "13"}));
    EXPECT_EQ(important[1], Bundle::worker().getString("unsent.data") + " 3");
}

TEST_F(WeightWorkerPtyTest, LosingTheDeviceEndsTheConnectionWithOneFailure) {
    Config c = settings(ConfigHelper::Instrument::GENERIC);
    c.reconnect = false;
    WeightWorker worker(view_, std::move(c));
    worker.start();
    pty_.write("3\r4");
    ASSERT_TRUE(view_.waitForLines(1));
    pty_.closeMaster();
    ASSERT_TRUE(view_.waitForDisconnect()) << "the window stayed connected to a dead port";
    EXPECT_TRUE(worker.isDone());
    EXPECT_FALSE(worker.isCancelled());

    // Logged as the failure that ended reading, then told to the view as a loss of that port,
    // after the port is closed and before the disconnected state.
    const QString failure = Bundle::worker().getString("execution.exception");
    const QStringList important = view_.texts(Kind::IMPORTANT);
    ASSERT_GE(important.size(), 1);
    EXPECT_TRUE(important[0].startsWith(failure)) << important[0].toStdString();
    EXPECT_GT(important[0].size(), failure.size());
    EXPECT_TRUE(important.filter("Error [WW]: ").isEmpty());
    const auto calls = view_.calls();
    ASSERT_GE(calls.size(), 2u);
    const auto& lost = calls[calls.size() - 2];
    ASSERT_EQ(lost.kind, Kind::DEVICE_LOST);
    EXPECT_EQ(lost.text, QString::fromStdString(pty_.slavePath()));
    EXPECT_EQ(failure + lost.title, important[0]);
    // Not a stop by the user.
    EXPECT_FALSE(view_.texts(Kind::APPEND).contains(Bundle::worker().getString("stopped")));
    EXPECT_EQ(view_.lines().size(), 1u);
    expectUiThreadDeliveries();
}

TEST_F(WeightWorkerPtyTest, AfterALossReadingGoesOnWhenTheDeviceIsBackAndAStopEndsTheWait) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path link = dir.filePath("link").toStdString();
    std::filesystem::create_symlink(pty_.slavePath(), link);
    const QString linkName = QString::fromStdString(link.string());
    Config c = settings(ConfigHelper::Instrument::GENERIC);
    c.setPort(linkName);
    c.setBitRate(4800);
    WeightWorker worker(view_, std::move(c));
    worker.start();
    const auto waitFor = [&](Kind kind, std::size_t count) {
        return RecordingView::pumpUntil([&] { return view_.callsOf(kind).size() >= count; });
    };

    // Unplugged with half a line read: the device goes, and so does its link.
    pty_.write("3\r4");
    ASSERT_TRUE(view_.waitForLines(1));
    ASSERT_TRUE(RecordingView::pumpUntil([&] { return pty_.unreadBytes() == 0; }));
    std::this_thread::sleep_for(100ms);
    pty_.closeMaster();
    std::filesystem::remove(link);
    ASSERT_TRUE(waitFor(Kind::WAITING, 1));

    // Plugged in again: a new terminal behind the same link.
    testsupport::Pty back;
    std::filesystem::create_symlink(back.slavePath(), link);
    ASSERT_TRUE(waitFor(Kind::BACK, 1));
    back.write("5\r");
    ASSERT_TRUE(view_.waitForLines(2));
    const auto lines = view_.lines();
    EXPECT_EQ(lines[1].getRawDataUnchanged(), "5\r");  // not glued to the lost half
    EXPECT_EQ(lines[1].getNumber(), 2);
    EXPECT_EQ(view_.texts(Kind::WAITING), QStringList{linkName});
    EXPECT_EQ(view_.texts(Kind::BACK), QStringList{linkName});
    std::vector<Kind> order;
    for (const auto& call : view_.calls())
        if (call.kind == Kind::LINE || call.kind == Kind::WAITING || call.kind == Kind::BACK)
            order.push_back(call.kind);
    EXPECT_EQ(order, (std::vector<Kind>{Kind::LINE, Kind::WAITING, Kind::BACK, Kind::LINE}));
    // The loss is said once and the half line logged as unsent; the connection did not end.
    const QStringList important = view_.texts(Kind::IMPORTANT);
    EXPECT_EQ(important.filter("Error [WW]: ").size(), 1) << important.join('|').toStdString();
    EXPECT_TRUE(important.contains(Bundle::worker().getString("unsent.data") + " 4"));
    EXPECT_TRUE(view_.callsOf(Kind::DEVICE_LOST).empty());
    EXPECT_FALSE(view_.disconnected());
    // Reopened with the same line settings.
    const QStringList opened = view_.texts(Kind::APPEND).filter(linkName);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], opened[1]);
    EXPECT_TRUE(opened[1].contains("4800")) << opened[1].toStdString();

    // Lost again; a stop ends the wait at once and completes once.
    back.closeMaster();
    std::filesystem::remove(link);
    ASSERT_TRUE(waitFor(Kind::WAITING, 2));
    const auto asked = std::chrono::steady_clock::now();
    worker.cancel();
    ASSERT_TRUE(view_.waitForDisconnect());
    // Asked right as the wait began: sleeping out the wait would take longer.
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 400ms);
    RecordingView::pumpUntil([] { return false; }, 100ms);
    EXPECT_TRUE(worker.isDone());
    EXPECT_EQ(view_.texts(Kind::APPEND).count(Bundle::worker().getString("stopped")), 1);
    int disconnects = 0;
    for (const auto& call : view_.callsOf(Kind::CONNECTED))
        disconnects += call.connected ? 0 : 1;
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(view_.callsOf(Kind::DEVICE_LOST).empty());
    expectUiThreadDeliveries();
}

TEST_F(WeightWorkerPtyTest, AnInstrumentBehindADeviceServerThatRestartsIsReadOnAfterwards) {
    if (testsupport::DeviceServer::program().empty())
        GTEST_SKIP() << "ser2net is not installed";
    testsupport::DeviceServer server(pty_.slavePath());
    const QString url = QString::fromStdString(server.url());
    Config c = settings(ConfigHelper::Instrument::GENERIC);
    c.setPort(url);
    WeightWorker worker(view_, std::move(c));
    worker.start();
    const auto waitFor = [&](Kind kind) {
        return RecordingView::pumpUntil([&] { return !view_.callsOf(kind).empty(); });
    };
    pty_.write("3\r");
    ASSERT_TRUE(view_.waitForLines(1));

    server.stop();
    ASSERT_TRUE(waitFor(Kind::WAITING));
    // Down for longer than one look: the refusal is said once, as such.
    RecordingView::pumpUntil([] { return false; }, 1200ms);
    server.start();
    ASSERT_TRUE(waitFor(Kind::BACK));
    pty_.write("5\r");
    ASSERT_TRUE(view_.waitForLines(2));
    EXPECT_EQ(view_.lines()[1].getRawDataUnchanged(), "5\r");
    EXPECT_EQ(view_.lines()[1].getNumber(), 2);
    EXPECT_EQ(view_.texts(Kind::WAITING), QStringList{url});
    const QStringList important = view_.texts(Kind::IMPORTANT);
    EXPECT_THAT(important.join('|').toStdString(),
                ::testing::HasSubstr("Connection closed by the device server"));
    const QStringList refused = important.filter("Connection refused");
    ASSERT_EQ(refused.size(), 1) << important.join('|').toStdString();
    EXPECT_TRUE(refused[0].startsWith(url + " does not take the connection yet"));
    worker.cancel();
    ASSERT_TRUE(view_.waitForDisconnect());
}

TEST_F(WeightWorkerPtyTest, DestroyingARunningWorkerDeliversNothingMore) {
    auto worker =
        std::make_unique<WeightWorker>(view_, settings(ConfigHelper::Instrument::GENERIC));
    worker->start();
    pty_.write("1\r2\r");
    // Read by the loop but not yet delivered (the event loop has not run).
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (worker->getLineCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(worker->getLineCount(), 2);
    const auto callsBefore = view_.calls().size();
    worker.reset();
    RecordingView::pumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(view_.calls().size(), callsBefore);
    EXPECT_TRUE(view_.lines().empty());

    // The port was closed by the destruction.
    RecordingView other;
    EXPECT_NO_THROW(WeightWorker(other, settings(ConfigHelper::Instrument::GENERIC)));
}

TEST_F(WeightWorkerPtyTest, OpeningFailuresReachTheCaller) {
    Config noPort = settings(ConfigHelper::Instrument::GENERIC);
    noPort.setPort(QString());
    try {
        WeightWorker worker(view_, std::move(noPort));
        ADD_FAILURE() << "opened without a port";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), Bundle::worker().getString("null.port.error"));
    }

    Config missing = settings(ConfigHelper::Instrument::GENERIC);
    missing.setPort("/dev/tolvane-no-such-port");
    EXPECT_THROW(WeightWorker(view_, std::move(missing)), serialkit::IOException);
    EXPECT_TRUE(view_.calls().empty());
}

}  // namespace
}  // namespace quorvel::worker
