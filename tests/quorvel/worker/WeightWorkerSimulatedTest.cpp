// What a pseudo-terminal cannot show: line errors, the modem lines of the A&D handshake and
// driver failures, on the serial library's simulated driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/config/Config.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/worker/RecordingView.h"
#include "quorvel/worker/WeightWorker.h"
#include "quorvel/worker/WeightWorkerAnd.h"
#include "quorvel/worker/WeightWorkerBarcode.h"
#include "serialkit/IOException.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SimulatedSerial.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::worker {
namespace {

using config::Config;
using config::ConfigHelper;
using config::InstrumentPresets;
using serialkit::SerialPortLocal;
using serialkit::SimulatedSerial;
using util::Bundle;
using Kind = RecordingView::Kind;

const char* const kPort = "/dev/ttyS0";
const char* const kPlatformProperties[] = {"SK_OSNAME", "SK_OSARCH", "SERIAL_PORT_LIST"};

class WeightWorkerSimulatedTest : public ::testing::Test {
  protected:
    void SetUp() override { platform("Linux", "amd64"); }

    // The real driver comes back for the tests that follow.
    void TearDown() override {
        for (const char* name : kPlatformProperties) serialkit::SystemProperties::clear(name);
        quietly([] { SerialPortLocal::reinitialize(); });
    }

    void platform(const std::string& os, const std::string& arch) {
        for (const char* name : kPlatformProperties) serialkit::SystemProperties::remove(name);
        serialkit::SystemProperties::set("SK_OSNAME", os);
        serialkit::SystemProperties::set("SK_OSARCH", arch);
        quietly([] { SerialPortLocal::reinitialize(); });
        sim_ = std::make_shared<SimulatedSerial>();
        sim_->addPort(kPort);
        SerialPortLocal::useNative(sim_);
    }

    template <typename Fn>
    static void quietly(Fn&& fn) {
        ::testing::internal::CaptureStdout();
        fn();
        ::testing::internal::GetCapturedStdout();
    }

    static Config settings(ConfigHelper::Instrument instrument) {
        Config c = InstrumentPresets::getDefaultConfig(instrument);
        c.setInstrument(instrument);
        c.setPort(kPort);
        return c;
    }

    static SimulatedSerial::RxByte withError(char value, bool parity, bool framing) {
        SimulatedSerial::RxByte b;
        b.value = static_cast<std::uint8_t>(value);
        b.parityError = parity;
        b.framingError = framing;
        return b;
    }

    // Waits until the loop has gone idle again after everything queued so far, which means it
    // has read all of it.
    bool waitUntilDrained() {
        const auto mark = sim_->calls().size();
        return RecordingView::pumpUntil([&] {
            const auto calls = sim_->calls();
            return std::find(calls.begin() + static_cast<std::ptrdiff_t>(mark), calls.end(),
                             "SerWaitRx") != calls.end();
        });
    }

    std::shared_ptr<SimulatedSerial> sim_;
    RecordingView view_;
};

TEST_F(WeightWorkerSimulatedTest, ALineErrorMarksOnlyItsOwnLine) {
    WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
    worker.start();
    sim_->inject(kPort, "1");
    sim_->inject(kPort, withError('2', true, false));
    sim_->inject(kPort, "\r3\r");
    sim_->inject(kPort, withError('4', false, true));
    sim_->inject(kPort, "\r5\r");
    ASSERT_TRUE(view_.waitForLines(4));
    const auto lines = view_.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].getProcessedData(), "12");
    EXPECT_TRUE(lines[0].isError());
    EXPECT_FALSE(lines[1].isError());
    EXPECT_TRUE(lines[2].isError());
    EXPECT_FALSE(lines[3].isError());

    const auto important = view_.callsOf(Kind::IMPORTANT);
    ASSERT_EQ(important.size(), 2u);
    EXPECT_EQ(important[0].text, Bundle::worker().getString("parity.error"));
    EXPECT_EQ(important[1].text, Bundle::worker().getString("framing.error"));
    // Logged straight from the reading thread.
    EXPECT_NE(important[0].thread, std::this_thread::get_id());
}

TEST_F(WeightWorkerSimulatedTest, BarcodeLineErrorsUseFixedTexts) {
    WeightWorkerBarcode worker(view_, settings(ConfigHelper::Instrument::BARCODE_ALPHA));
    worker.start();
    sim_->inject(kPort, withError('A', true, true));
    sim_->inject(kPort, "B7\r");
    ASSERT_TRUE(view_.waitForLines(1));
    EXPECT_EQ(view_.lines()[0].getProcessedData(), "AB7");
    EXPECT_TRUE(view_.lines()[0].isError());
    EXPECT_EQ(view_.texts(Kind::IMPORTANT), QStringList({"Parity Error", "Framing Error"}));
}

TEST_F(WeightWorkerSimulatedTest, APlatformWithoutLineErrorQueriesStillReads) {
    platform("FreeBSD", "i386");
    ASSERT_FALSE(SerialPortLocal::isSupported("sigParityErr"));
    WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
    worker.start();
    sim_->inject(kPort, withError('8', true, true));
    sim_->inject(kPort, "\r");
    ASSERT_TRUE(view_.waitForLines(1));
    EXPECT_EQ(view_.lines()[0].getProcessedData(), "8");
    const auto calls = sim_->calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SerSigParityErr"), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SerSigFrameErr"), 0);
    EXPECT_TRUE(view_.callsOf(Kind::IMPORTANT).empty());
}

TEST_F(WeightWorkerSimulatedTest, AndHandshakeOutcomes) {
    struct Case {
        bool dsr;
        bool cts;
        const char* key;  // "" for no warning
    };
    const Case cases[] = {
        {true, true, ""},
        {true, false, "and.error.unusual"},
        {false, true, "and.error.dataset.not.ready"},
        {false, false, "and.error.not.connected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        // The balance answers only on a line the port has raised.
        sim_->setDsrFunction(
            kPort, [on = c.dsr](const SimulatedSerial::ModemLines& l) { return on && l.dtr; });
        sim_->setCtsFunction(
            kPort, [on = c.cts](const SimulatedSerial::ModemLines& l) { return on && l.rts; });
        RecordingView view;
        WeightWorkerAnd worker(view, settings(ConfigHelper::Instrument::AND));
        // While opening RTS is still off, so CTS cannot answer yet.
        EXPECT_TRUE(
            view.texts(Kind::APPEND)
                .contains(
                    QString("RTS: off, DTR: on. DSR: %1, CTS: off.").arg(c.dsr ? "on" : "off")));
        const auto warnings = view.callsOf(Kind::WARNING);
        if (QString(c.key).isEmpty()) {
            EXPECT_TRUE(warnings.empty());
        } else {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].title, Bundle::worker().getString("warning"));
            EXPECT_EQ(warnings[0].text, Bundle::worker().getString(c.key));
        }
        EXPECT_TRUE(sim_->modemLines(kPort).dtr);
        EXPECT_TRUE(sim_->modemLines(kPort).rts);

        // Reading starts whatever the outcome (the A&D line ends in a line feed).
        worker.start();
        sim_->inject(kPort, "ST,+00012.50  g\r\n");
        ASSERT_TRUE(view.waitForLines(1));
        EXPECT_EQ(view.lines()[0].getRawData(), "ST,+00012.50  g<13><10>");
        EXPECT_EQ(view.lines()[0].getProcessedData(), "12.50");
        worker.cancel();
        ASSERT_TRUE(view.waitForDisconnect());
        EXPECT_FALSE(sim_->isOpen(kPort));
    }
}

TEST_F(WeightWorkerSimulatedTest, OpeningFailuresLeaveNothingOpenOrConnected) {
    sim_->setOpenResult(kPort, -1);
    EXPECT_THROW(WeightWorker(view_, settings(ConfigHelper::Instrument::GENERIC)),
                 serialkit::IOException);
    EXPECT_TRUE(view_.calls().empty());
    sim_->setOpenResult(kPort, 0);

    // The port opened, then a modem line could not be set.
    sim_->setResult("SerSetDTR", -1);
    try {
        WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
        ADD_FAILURE() << "opened although DTR could not be set";
    } catch (const serialkit::IOException& e) {
        EXPECT_STREQ(e.what(), "setDTR failed");
    }
    EXPECT_FALSE(sim_->isOpen(kPort));
    const auto connected = view_.callsOf(Kind::CONNECTED);
    ASSERT_EQ(connected.size(), 2u);
    EXPECT_TRUE(connected[0].connected);
    EXPECT_FALSE(connected[1].connected);
    sim_->clearResult("SerSetDTR");

    // A setting the serial layer refuses.
    Config badRate = settings(ConfigHelper::Instrument::GENERIC);
    badRate.setBitRate(15);
    EXPECT_THROW(WeightWorker(view_, std::move(badRate)), serialkit::IOException);
    EXPECT_FALSE(sim_->isOpen(kPort));
}

TEST_F(WeightWorkerSimulatedTest, APreparationFailureEndsBeforeTheFirstByte) {
    Config c = settings(ConfigHelper::Instrument::GENERIC);
    c.setCustomRegEx("([0-9");
    sim_->inject(kPort, "x");  // would be discarded by the flush anyway
    WeightWorker worker(view_, std::move(c));
    sim_->inject(kPort, "1\r");
    worker.start();
    ASSERT_TRUE(view_.waitForDisconnect());
    const QStringList important = view_.texts(Kind::IMPORTANT);
    ASSERT_EQ(important.size(), 1);
    EXPECT_TRUE(important[0].startsWith(Bundle::worker().getString("execution.exception")));
    EXPECT_GT(important[0].size(), Bundle::worker().getString("execution.exception").size());
    EXPECT_FALSE(view_.texts(Kind::APPEND).contains(Bundle::worker().getString("stopped")));
    EXPECT_TRUE(view_.lines().empty());
    EXPECT_EQ(worker.getLineCount(), 0);
    EXPECT_FALSE(sim_->isOpen(kPort));
    const auto calls = sim_->calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SerGetByte"), 0);
}

TEST_F(WeightWorkerSimulatedTest, StopAfterEveryLineWithTheReadableRest) {
    WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
    worker.start();
    sim_->inject(kPort,
                 "1\r2\r\x02"
                 "0.5");
    ASSERT_TRUE(waitUntilDrained());
    worker.cancel();
    EXPECT_TRUE(worker.isCancelled());
    ASSERT_TRUE(view_.waitForDisconnect());
    std::vector<Kind> tail;
    for (const auto& call : view_.calls()) tail.push_back(call.kind);
    tail.erase(tail.begin(), tail.begin() + 3);  // the opening
    EXPECT_EQ(tail, std::vector<Kind>(
                        {Kind::LINE, Kind::LINE, Kind::APPEND, Kind::IMPORTANT, Kind::CONNECTED}));
    EXPECT_EQ(view_.texts(Kind::IMPORTANT).value(0),
              Bundle::worker().getString("unsent.data") + " <2>0.5");
    EXPECT_FALSE(sim_->isOpen(kPort));
    EXPECT_EQ(worker.getLineCount(), 2);

    // A second stop changes nothing.
    const auto before = view_.calls().size();
    worker.cancel();
    RecordingView::pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(view_.calls().size(), before);
}

TEST_F(WeightWorkerSimulatedTest, CancelBeforeStartStillCompletes) {
    WeightWorker worker(view_, settings(ConfigHelper::Instrument::GENERIC));
    worker.cancel();
    worker.start();  // too late: nothing is read
    ASSERT_TRUE(view_.waitForDisconnect());
    EXPECT_TRUE(view_.texts(Kind::APPEND).contains(Bundle::worker().getString("stopped")));
    EXPECT_FALSE(sim_->isOpen(kPort));
    EXPECT_TRUE(worker.isDone());
}

}  // namespace
}  // namespace quorvel::worker
