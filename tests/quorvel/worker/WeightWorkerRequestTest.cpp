// Asking the instrument for readings, end to end: the simulator answers only when asked.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QString>

#include <chrono>
#include <string>

#include "quorvel/config/Config.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/util/Bundle.h"
#include "support/NativeSerialTest.h"
#include "quorvel/worker/RecordingView.h"
#include "quorvel/worker/RequestTimer.h"
#include "quorvel/worker/WeightWorker.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SystemProperties.h"
#include "support/Pty.h"
#include "tools/ToolProcess.h"

#ifndef TOLVANE_SIM
#error "TOLVANE_SIM must name the tolvane-sim binary"
#endif

namespace quorvel::worker {
namespace {

using config::Config;
using config::ConfigHelper;
using config::InstrumentPresets;
using Instrument = ConfigHelper::Instrument;
using Kind = RecordingView::Kind;
using namespace std::chrono_literals;

class WeightWorkerRequestTest : public testsupport::NativeSerialTest {
  protected:

    static Config settings(Instrument instrument, const std::string& port,
                           const QString& command = QString()) {
        Config c = InstrumentPresets::getDefaultConfig(instrument);
        c.setInstrument(instrument);
        c.setPort(QString::fromStdString(port));
        c.requestCommand = command;
        return c;
    }
};

TEST(WeightWorkerRequestCommand, OwnCommandElseThePresetsDataCommand) {
    const struct {
        Instrument instrument;
        QString command;
        QByteArray expected;
    } rows[] = {
        {Instrument::GENERIC, "", ""},
        {Instrument::MITUTOYO, "", "1\r"},
        {Instrument::MITUTOYO, "SI\\r\\n", "SI\r\n"},
        {Instrument::GENERIC, "\\x1bP\\r\\n", "\x1bP\r\n"},
        {Instrument::GENERIC, "\\x1", ""},  // broken escape: nothing rather than wrong bytes
    };
    for (const auto& row : rows) {
        Config c = InstrumentPresets::getDefaultConfig(row.instrument);
        c.setInstrument(row.instrument);
        c.requestCommand = row.command;
        EXPECT_EQ(WeightWorker::requestCommandFor(c), row.expected) << row.command.toStdString();
    }
}

// Each way of asking brings answers, and nothing comes unasked.
TEST_F(WeightWorkerRequestTest, TimerAndOnDemandRequestsAreAnswered) {
    enum class Ask { ON_DEMAND, TIMER };
    const struct {
        const char* name;
        Instrument instrument;
        QString command;
        Ask ask;
    } rows[] = {
        {"preset's data command on demand", Instrument::MITUTOYO, "", Ask::ON_DEMAND},
        {"own command on demand", Instrument::GENERIC, "1\\r", Ask::ON_DEMAND},
        {"preset's data command on the timer", Instrument::MITUTOYO, "", Ask::TIMER},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        toolstest::Child sim(
            {TOLVANE_SIM, "--preset", "mitutoyo", "--answer-only", "--repeat", "0", "--quiet"});
        const std::string port = toolstest::portOf(sim);
        ASSERT_FALSE(port.empty());
        RecordingView view;
        WeightWorker worker(view, settings(row.instrument, port, row.command));
        worker.start();
        // An answering-only instrument sends nothing by itself.
        EXPECT_FALSE(RecordingView::pumpUntil([&] { return !view.lines().empty(); }, 700ms));

        RequestTimer timer([&] { worker.requestReading(); });
        if (row.ask == Ask::TIMER) {
            timer.start(150);
            ASSERT_TRUE(view.waitForLines(3));
            timer.stop();
        } else {
            worker.requestReading();
            ASSERT_TRUE(view.waitForLines(1));
            worker.requestReading();
            ASSERT_TRUE(view.waitForLines(2));
        }
        const auto lines = view.lines();
        EXPECT_EQ(lines[0].getRawDataUnchanged(), "01A+001.1920\r");
        EXPECT_EQ(lines[1].getRawDataUnchanged(), "01A-001.1805\r");
        EXPECT_TRUE(view.texts(Kind::IMPORTANT).isEmpty());
        worker.cancel();
        ASSERT_TRUE(view.waitForDisconnect());
    }
}

TEST_F(WeightWorkerRequestTest, AFailedWriteIsLoggedOnceAndReadingGoesOn) {
    testsupport::Pty pty;
    // Output held up on the line (as flow control would): a request cannot be written.
    const int line = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    RecordingView view;
    WeightWorker worker(view, settings(Instrument::GENERIC, pty.slavePath(), "Q\\r\\n"));
    ASSERT_EQ(::tcflow(line, TCOOFF), 0);
    worker.start();

    const QString failed = util::Bundle::worker().format("request.failed", {""});
    const auto failures = [&] { return view.texts(Kind::IMPORTANT).filter(failed).size(); };
    worker.requestReading();
    ASSERT_TRUE(RecordingView::pumpUntil([&] { return failures() == 1; }));
    worker.requestReading();
    // The second write waits out its time too; give it that and a little more.
    RecordingView::pumpUntil([] { return false; }, 2000ms);
    EXPECT_EQ(failures(), 1);

    ASSERT_EQ(::tcflow(line, TCOON), 0);
    pty.write("7\r");
    ASSERT_TRUE(view.waitForLines(1));
    EXPECT_EQ(view.lines()[0].getProcessedData(), "7");
    const QString text = view.texts(Kind::IMPORTANT).filter(failed).value(0);
    EXPECT_GT(text.size(), failed.size()) << "the reason is missing";
    worker.cancel();
    ASSERT_TRUE(view.waitForDisconnect());
    ::close(line);
}

}  // namespace
}  // namespace quorvel::worker
