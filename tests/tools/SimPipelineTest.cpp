// The simulator's instruments read back by the program itself: tolvane-sim runs as a process,
// and the reading worker the main window would pick opens the simulator's pseudo-terminal with
// the preset's own settings. What the worker extracts must be what the preset promises.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "SimPresets.h"
#include "ToolProcess.h"
#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/worker/LineProcessor.h"
#include "quorvel/worker/RecordingView.h"
#include "quorvel/worker/WeightWorker.h"
#include "quorvel/worker/WeightWorkerAnd.h"
#include "quorvel/worker/WeightWorkerBarcode.h"

#ifndef TOLVANE_SIM
#error "TOLVANE_SIM must name the tolvane-sim binary"
#endif

namespace quorvel::config {
// Failures name the preset, not its bytes.
void PrintTo(ConfigHelper::Instrument instrument, std::ostream* os) {
    *os << Setting<ConfigHelper::Instrument>::name(instrument).toStdString();
}
}  // namespace quorvel::config

namespace {

using namespace toolstest;
using quorvel::config::Config;
using quorvel::config::ConfigHelper;
using quorvel::config::InstrumentPresets;
using quorvel::config::Setting;
using quorvel::worker::DataLine;
using quorvel::worker::LineProcessor;
using quorvel::worker::RecordingView;
using quorvel::worker::WeightWorker;
using Instrument = ConfigHelper::Instrument;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string nameOf(Instrument instrument) {
    return Setting<Instrument>::name(instrument).toStdString();
}

std::string latin1(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::vector<InstrumentPresets::TestString> samplesOf(Instrument instrument) {
    std::vector<InstrumentPresets::TestString> out;
    for (const auto& pair : InstrumentPresets::getTestStrings(instrument)) {
        if (!pair.first.isEmpty()) {
            out.push_back(pair);
        }
    }
    return out;
}

// What the simulator plays for the preset: its samples, then lines of the maker's formats.
const tools::Preset& simPreset(Instrument instrument) {
    return *tools::findPreset(nameOf(instrument), tools::instrumentPresets());
}

std::vector<Instrument> instrumentsWithOwnLines() {
    std::vector<Instrument> out;
    for (Instrument instrument : Setting<Instrument>::values()) {
        if (simPreset(instrument).ownSamples) {
            out.push_back(instrument);
        }
    }
    return out;
}

Instrument instrumentNamed(const std::string& presetArg) {
    if (lower(presetArg) == "scale") {
        return Instrument::GENERIC;
    }
    std::string upper = presetArg;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return Setting<Instrument>::fromName(QString::fromStdString(upper));
}

// The number the program should type for an extracted text with the number settings at their
// defaults: blanks and a plus sign dropped, a comma read as the point, leading zeros gone, the
// decimals kept.
std::string typedNumber(const std::string& extracted) {
    std::string t;
    for (char c : extracted) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '+') {
            t += c == ',' ? '.' : c;
        }
    }
    std::string sign;
    if (!t.empty() && t[0] == '-') {
        sign = "-";
        t.erase(0, 1);
    }
    while (t.size() > 1 && t[0] == '0' && t[1] != '.') {
        t.erase(0, 1);
    }
    return sign + t;
}

// One numbered line of the simulator's list: the bytes (readable) and the value it promises.
struct Promised {
    std::string bytes;
    std::string value;  // "" = no value
};

// What the simulator prints before it waits for the reader.
struct Header {
    std::vector<std::string> lines;
    std::vector<Promised> promised;
};

Header readHeader(Child& sim) {
    Header h;
    const std::regex entry(R"re(  (\d+): (.*)  ->  (no value|"(.*)"))re");
    while (auto line = sim.readLine(10000)) {
        if (line->rfind("Waiting for a reader", 0) == 0) {
            return h;
        }
        h.lines.push_back(*line);
        std::smatch m;
        if (std::regex_match(*line, m, entry)) {
            EXPECT_EQ(std::stoul(m[1]), h.promised.size() + 1) << *line;
            h.promised.push_back({m[2], m[3] == "no value" ? "" : std::string(m[4])});
        }
    }
    ADD_FAILURE() << "the simulator never waited for a reader:\n" << sim.output() << sim.errors();
    return h;
}

std::string settingsLine(const Config& c) {
    const int stop = c.getStopBits() == 0 ? 1 : 2;
    return "Set in Tolvane: " +
           Setting<ConfigHelper::BitRates>::labelOfCode(c.getBitRate()).toStdString() + " baud, " +
           Setting<ConfigHelper::DataBits>::labelOfCode(c.getDataBits()).toStdString() +
           " data bits, parity " +
           Setting<ConfigHelper::Parity>::name(
               Setting<ConfigHelper::Parity>::fromCode(c.getParity()))
               .toStdString() +
           ", " + std::to_string(stop) + (stop == 1 ? " stop bit" : " stop bits") +
           ", input terminator " + std::to_string(c.getInputTerminator());
}

class SimReplay {
  public:
    explicit SimReplay(Instrument instrument) : instrument_(instrument) {
        config_ = InstrumentPresets::getDefaultConfig(instrument);
        config_.setInstrument(instrument);
    }

    // A pseudo-terminal has no framing of its own: Linux keeps it at 8 bits without parity,
    // and the serial layer refuses to open it with other settings, as the simulator says.
    bool needsPtyFraming() const { return config_.getDataBits() != 3 || config_.getParity() != 0; }

    // Opens the port the way the main window does for this instrument.
    void open(const std::string& port) {
        config_.setPort(QString::fromStdString(port));
        if (needsPtyFraming()) {
            config_.setDataBits(3);
            config_.setParity(0);
        }
        if (InstrumentPresets::getInstrumentType(instrument_) ==
            ConfigHelper::InstrumentType::TEXT) {
            worker_ = std::make_unique<quorvel::worker::WeightWorkerBarcode>(view_, config_);
        } else if (instrument_ == Instrument::AND || instrument_ == Instrument::AND_EM) {
            worker_ = std::make_unique<quorvel::worker::WeightWorkerAnd>(view_, config_);
        } else {
            worker_ = std::make_unique<WeightWorker>(view_, config_);
        }
        worker_->start();
    }

    std::vector<DataLine> waitForLines(size_t count) {
        EXPECT_TRUE(view_.waitForLines(count))
            << "only " << view_.lines().size() << " of " << count;
        return view_.lines();
    }

    // The text the instrument's pattern takes from a line, before any formatting.
    std::string extracted(const DataLine& line) {
        if (!extractor_) {
            extractor_ = std::make_unique<LineProcessor>(config_, LineProcessor::Mode::BARCODE);
        }
        return latin1(extractor_->process(line.getRawDataUnchanged()));
    }

    bool isText() const {
        return InstrumentPresets::getInstrumentType(instrument_) ==
               ConfigHelper::InstrumentType::TEXT;
    }

    void stop() {
        if (worker_) {
            worker_->cancel();
            EXPECT_TRUE(view_.waitForDisconnect());
            worker_.reset();
        }
    }

    ~SimReplay() { stop(); }

  private:
    Instrument instrument_;
    Config config_;
    RecordingView view_;
    std::unique_ptr<WeightWorker> worker_;
    std::unique_ptr<LineProcessor> extractor_;
};

class PipelineTest {
  public:
    static void startApplication() {
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "tools_tests";
            static char* argv[] = {name, nullptr};
            // Lives until the process ends; the workers deliver through its event loop.
            new QCoreApplication(argc, argv);
        }
    }
};

class SamplePresetReplay : public ::testing::TestWithParam<Instrument> {
  protected:
    static void SetUpTestSuite() { PipelineTest::startApplication(); }
};

TEST_P(SamplePresetReplay, EverySampleGivesItsExpectedValueInOrder) {
    const Instrument instrument = GetParam();
    const auto samples = samplesOf(instrument);
    const tools::Preset& preset = simPreset(instrument);
    const Config defaults = InstrumentPresets::getDefaultConfig(instrument);
    const char terminator = static_cast<char>(defaults.getInputTerminator());

    std::vector<std::string> args{TOLVANE_SIM, "--preset", lower(nameOf(instrument)), "--interval",
                                  "5"};
    if (!InstrumentPresets::getDataCommand(instrument).isEmpty()) {
        // Read on the timer here; the answered command has a test of its own.
        args.push_back("--no-command");
    }
    Child sim(args);
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    const Header header = readHeader(sim);

    EXPECT_THAT(header.lines, ::testing::Contains(::testing::StartsWith(settingsLine(defaults))))
        << sim.output();
    // The samples come first; lines of the maker's other formats may follow.
    ASSERT_EQ(header.promised.size(), preset.lines.size()) << sim.output();
    ASSERT_LE(samples.size(), preset.lines.size());
    for (size_t i = 0; i < preset.lines.size(); ++i) {
        const std::string value = i < samples.size() ? latin1(samples[i].second) : preset.values[i];
        EXPECT_EQ(header.promised[i].value, value) << "printed value of line " << i;
    }

    // Each line as the instrument sends it: its bytes, then the terminator unless it is there.
    std::vector<std::string> sent;
    size_t lineCount = 0;
    for (std::string bytes : preset.lines) {
        if (bytes.back() != terminator) {
            bytes += terminator;
        }
        lineCount += static_cast<size_t>(std::count(bytes.begin(), bytes.end(), terminator));
        sent.push_back(bytes);
    }

    SimReplay replay(instrument);
    const std::string framingNote =
        "On this pseudo-terminal choose 8 data bits and parity NONE instead";
    EXPECT_EQ(
        replay.needsPtyFraming(),
        ::testing::Matches(::testing::Contains(::testing::StartsWith(framingNote)))(header.lines))
        << sim.output();
    replay.open(port);
    const auto lines = replay.waitForLines(lineCount);
    ASSERT_EQ(lines.size(), lineCount);

    // The lines are cut at the terminator, so one sample can make several lines; put them back
    // together and look at what each sample yielded.
    size_t next = 0;
    for (size_t s = 0; s < sent.size(); ++s) {
        SCOPED_TRACE("line " + std::to_string(s) + ": " + sent[s]);
        std::string joined;
        std::vector<std::string> extracted;
        std::vector<std::string> typed;
        while (joined.size() < sent[s].size() && next < lines.size()) {
            const DataLine& line = lines[next++];
            joined += latin1(line.getRawDataUnchanged());
            if (const std::string e = replay.extracted(line); !e.empty()) {
                extracted.push_back(e);
            }
            if (line.hasValue()) {
                typed.push_back(latin1(line.getProcessedData()));
            }
        }
        ASSERT_EQ(joined, sent[s]);
        const std::string expected = header.promised[s].value;
        if (expected.empty()) {
            EXPECT_THAT(extracted, ::testing::IsEmpty());
            EXPECT_THAT(typed, ::testing::IsEmpty());
        } else {
            EXPECT_THAT(extracted, ::testing::ElementsAre(expected));
            EXPECT_THAT(typed,
                        ::testing::ElementsAre(replay.isText() ? expected : typedNumber(expected)));
        }
    }
    replay.stop();
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
}

INSTANTIATE_TEST_SUITE_P(Presets, SamplePresetReplay,
                         ::testing::ValuesIn(instrumentsWithOwnLines()),
                         [](const ::testing::TestParamInfo<Instrument>& info) {
                             return nameOf(info.param);
                         });

// Presets without samples of their own send common lines; each must still be read by the preset.
class CommonLinesReplay : public ::testing::TestWithParam<std::string> {
  protected:
    static void SetUpTestSuite() { PipelineTest::startApplication(); }
};

TEST_P(CommonLinesReplay, ThePresetReadsTheValueThatIsPrinted) {
    const Instrument instrument = instrumentNamed(GetParam());
    Child sim({TOLVANE_SIM, "--preset", GetParam(), "--interval", "5"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    const Header header = readHeader(sim);
    EXPECT_THAT(header.lines, ::testing::Contains(::testing::StartsWith(
                                  settingsLine(InstrumentPresets::getDefaultConfig(instrument)))));
    ASSERT_GE(header.promised.size(), 2u) << sim.output();

    SimReplay replay(instrument);
    replay.open(port);
    const auto lines = replay.waitForLines(header.promised.size());
    ASSERT_EQ(lines.size(), header.promised.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].getRawData().toStdString(), header.promised[i].bytes);
        EXPECT_FALSE(header.promised[i].value.empty()) << "a common line the preset cannot read";
        EXPECT_EQ(replay.extracted(lines[i]), header.promised[i].value);
        EXPECT_TRUE(lines[i].hasValue());
    }
    replay.stop();
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
}

INSTANTIATE_TEST_SUITE_P(Presets, CommonLinesReplay,
                         ::testing::Values("scale", "Barcode", "barcode_alpha_complete",
                                           "ADAM_GC_PCS", "kern_572"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// --drift in the preset's own format: every reading must be one the program reads, creeping
// by a few steps of the last digit and then holding.
class DriftReplay : public ::testing::TestWithParam<std::string> {
  protected:
    static void SetUpTestSuite() { PipelineTest::startApplication(); }
};

long long asSteps(const std::string& number) {
    std::string digits;
    for (char c : number) {
        if (c != '.') {
            digits += c;
        }
    }
    return std::stoll(digits);
}

TEST_P(DriftReplay, ReadingsAreReadableCreepAndHold) {
    const Instrument instrument = instrumentNamed(GetParam());
    std::vector<std::string> args{TOLVANE_SIM, "--drift",  "--preset", GetParam(),   "--seed",
                                  "11",        "--repeat", "2",        "--interval", "2"};
    if (!InstrumentPresets::getDataCommand(instrument).isEmpty()) {
        args.push_back("--no-command");
    }
    Child sim(args);
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    const Header header = readHeader(sim);
    EXPECT_THAT(header.lines, ::testing::Contains(::testing::StartsWith("Drift with seed 11")));

    SimReplay replay(instrument);
    replay.open(port);
    ASSERT_EQ(sim.waitExit(20000), 0) << sim.errors();
    size_t sent = 0;
    for (size_t at = 0; (at = sim.output().find("\nsent: ", at)) != std::string::npos; ++at) {
        ++sent;
    }
    ASSERT_GE(sent, 2u * 7u) << sim.output();
    const auto lines = replay.waitForLines(sent);
    ASSERT_EQ(lines.size(), sent);

    std::vector<std::string> values;
    for (const DataLine& line : lines) {
        EXPECT_TRUE(line.hasValue()) << line.getRawData().toStdString();
        values.push_back(line.getProcessedData().toStdString());
    }
    // Runs of one value: each weighing ends with a hold of at least four equal readings.
    int holds = 0;
    size_t i = 0;
    while (i < values.size()) {
        size_t j = i;
        while (j < values.size() && values[j] == values[i]) {
            ++j;
        }
        const bool hold = j - i >= 4;
        holds += hold ? 1 : 0;
        if (!hold && j < values.size()) {
            // Still settling: the next reading is only a few steps away.
            EXPECT_LE(std::llabs(asSteps(values[j]) - asSteps(values[i])), 4)
                << values[i] << " -> " << values[j];
        }
        i = j;
    }
    EXPECT_EQ(holds, 2) << ::testing::PrintToString(values);
    EXPECT_NE(values.front(), values.back()) << "two weighings, two weights";
}

INSTANTIATE_TEST_SUITE_P(Presets, DriftReplay,
                         ::testing::Values("scale", "and_simple", "keyence_il", "wedderburn",
                                           "adam_gc_weight", "tanita_tl280", "kern_mps", "mitutoyo",
                                           "sartorius", "rinstrum"));

}  // namespace
