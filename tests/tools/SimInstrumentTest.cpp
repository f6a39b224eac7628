// tolvane-sim as an instrument: the data command, --drift, --raw, the preset list, the line
// settings a device gets, and what bad arguments do.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <termios.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <QByteArray>

#include "SimFormats.h"
#include "SimPresets.h"
#include "ToolProcess.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/Instrument.h"
#include "support/Pty.h"

#ifndef TOLVANE_SIM
#error "TOLVANE_SIM must name the tolvane-sim binary"
#endif

namespace {

using namespace toolstest;
using quorvel::config::ConfigHelper;
using quorvel::config::InstrumentPresets;
using quorvel::config::Setting;
using Instrument = ConfigHelper::Instrument;
using Args = std::vector<std::string>;

std::string withTerminator(const std::string& line, const std::string& terminator) {
    const bool ends =
        line.size() >= terminator.size() &&
        line.compare(line.size() - terminator.size(), terminator.size(), terminator) == 0;
    return ends ? line : line + terminator;
}

TEST(SimDataCommand, AnsweringOnlyEachCommandGetsTheNextSampleAndNothingComesUnasked) {
    Child sim({TOLVANE_SIM, "--preset", "Mitutoyo", "--answer-only"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    SlaveEnd reader(port);
    ASSERT_TRUE(reader.ok());
    // A timer would have sent the first line well within this (500 ms after the reader came).
    EXPECT_EQ(reader.read(1, 1500), "");

    reader.write("1\r");
    EXPECT_EQ(reader.read(13, 5000), "01A+001.1920\r");
    // A command split over two writes, and noise before the next one.
    reader.write("1");
    EXPECT_EQ(reader.read(1, 300), "");
    reader.write("\r");
    EXPECT_EQ(reader.read(13, 5000), "01A-001.1805\r");
    reader.write("xyz1\r");
    EXPECT_EQ(reader.read(8, 5000), "+123.45\r");
    // Then the gauge's other answers.
    for (const tools::FormatLine& line : tools::formatLines("MITUTOYO")) {
        reader.write("1\r");
        EXPECT_EQ(reader.read(line.bytes.size(), 5000), line.bytes);
    }
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
    EXPECT_NE(
        sim.output().find("Data command 1<13>: each one received is answered with the next line"),
        std::string::npos)
        << sim.output();
    EXPECT_NE(sim.output().find("sent: 01A+001.1920<13> (answer to 1<13>)"), std::string::npos)
        << sim.output();
}

TEST(SimDataCommand, NciAnswersEachWeightCommandWithTheNextSample) {
    Child sim({TOLVANE_SIM, "--preset", "nci", "--answer-only"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    SlaveEnd reader(port);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader.read(1, 1500), "");
    const auto samples = InstrumentPresets::getTestStrings(Instrument::NCI);
    ASSERT_FALSE(samples.empty());
    for (const auto& [sample, value] : samples) {
        reader.write("W\r");
        const std::string line = withTerminator(sample.toStdString(), "\r");
        EXPECT_EQ(reader.read(line.size(), 5000), line);
    }
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
}

TEST(SimDataCommand, OwnCommandForOwnLinesAndBurstsGetOneAnswerEach) {
    Child sim({TOLVANE_SIM, "--command", "SI\\r\\n", "--line", "A", "--line", "B", "--terminator",
               "lf", "--repeat", "2", "--quiet"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    SlaveEnd reader(port);
    ASSERT_TRUE(reader.ok());
    reader.write("SI\r\nSI\r\nSI\r\n");
    EXPECT_EQ(reader.read(6, 5000), "A\nB\nA\n");
    EXPECT_EQ(reader.read(1, 300), "") << "three commands, three answers";
    reader.write("SI\r\n");
    EXPECT_EQ(reader.read(2, 5000), "B\n");
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
}

TEST(SimDataCommand, ByDefaultThePresetSendsOnTheTimerAndAnswersACommandAtOnce) {
    // An interval far longer than the test: only the answer can bring the second line.
    Child sim({TOLVANE_SIM, "--preset", "mitutoyo", "--interval", "600000"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    SlaveEnd reader(port);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader.read(13, 5000), "01A+001.1920\r") << "the first line comes unasked";
    reader.write("1\r");
    EXPECT_EQ(reader.read(13, 5000), "01A-001.1805\r");
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
    EXPECT_NE(sim.output().find("sent: 01A-001.1805<13> (answer to 1<13>)"), std::string::npos)
        << sim.output();
    EXPECT_EQ(sim.output().find("sent: 01A+001.1920<13> (answer"), std::string::npos)
        << sim.output();
}

TEST(SimDataCommand, NoCommandSendsOnTheTimer) {
    Child sim({TOLVANE_SIM, "--preset", "MITUTOYO", "--no-command", "--interval", "5"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    SlaveEnd reader(port);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader.read(34, 5000), "01A+001.1920\r01A-001.1805\r+123.45\r");
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
    EXPECT_NE(sim.output().find("Not waiting for the data command 1<13>"), std::string::npos)
        << sim.output();
}

// Runs the simulator to its end on a device and returns what arrived there.
struct DeviceRun {
    std::string bytes;
    std::string output;
    int exitCode;
};

DeviceRun runOnDevice(Args args) {
    testsupport::Pty pty;
    args.insert(args.begin(), {TOLVANE_SIM, "--device", pty.slavePath(), "--interval", "0"});
    Child sim(args);
    DeviceRun run;
    run.exitCode = sim.waitExit(20000);
    // Everything is queued by now (the simulator drains the device before it exits).
    run.bytes = pty.read(1 << 16, 300);
    run.output = sim.output() + sim.errors();
    return run;
}

std::vector<std::string> splitAt(const std::string& bytes, char terminator) {
    std::vector<std::string> out;
    std::string current;
    for (char c : bytes) {
        if (c == terminator) {
            out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    EXPECT_EQ(current, "") << "unterminated rest";
    return out;
}

TEST(SimDrift, TheSeedFixesTheReadingsWhichCreepThenHold) {
    const DeviceRun first = runOnDevice({"--drift", "--seed", "1234", "--repeat", "3"});
    const DeviceRun again = runOnDevice({"--drift", "--seed", "1234", "--repeat", "3"});
    const DeviceRun other = runOnDevice({"--drift", "--seed", "4321", "--repeat", "3"});
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(first.bytes, again.bytes);
    EXPECT_NE(first.bytes, other.bytes);

    // The scale format: "US" while it settles, then the same "ST" line several times.
    const auto lines = splitAt(first.bytes, '\r');
    const std::regex format(R"((ST|US),GS +[0-9]+\.[0-9]{2} kg)");
    int holds = 0;
    size_t run = 1;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], format)) << lines[i];
        const bool sameAsNext = i + 1 < lines.size() && lines[i + 1] == lines[i];
        if (sameAsNext) {
            ++run;
            continue;
        }
        if (run >= 4) {
            ++holds;
            EXPECT_EQ(lines[i].substr(0, 2), "ST") << "a held weight is stable";
        } else {
            EXPECT_EQ(lines[i].substr(0, 2), "US") << "a changing weight is unstable";
        }
        run = 1;
    }
    EXPECT_EQ(holds, 3) << first.bytes;
}

TEST(SimDrift, WithoutASeedThePrintedOneRepeatsTheRun) {
    const DeviceRun picked = runOnDevice({"--drift", "--preset", "kern_mps"});
    ASSERT_EQ(picked.exitCode, 0) << picked.output;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(picked.output, m, std::regex("Drift with seed ([0-9]+) ")))
        << picked.output;
    const DeviceRun replayed = runOnDevice({"--drift", "--preset", "kern_mps", "--seed", m[1]});
    EXPECT_EQ(replayed.bytes, picked.bytes);
    // Kern MPS lines, ending in the preset's line feed.
    for (const std::string& line : splitAt(picked.bytes, '\n')) {
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(N +[0-9]+\.[0-9]{2} kg)"))) << line;
    }
}

TEST(SimRaw, SendsTheEscapedBytesExactlyWithoutTerminator) {
    char name[] = "/tmp/sim-raw-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream file(name, std::ios::binary);
        file << "x\\ty\n\\x01end\\r\\n\r\n";
    }
    const DeviceRun run = runOnDevice(
        {"--raw", "--line", "A\\x00B\\r\\n", "--line", "\\xff\\\\", "--file", name, "--quiet"});
    std::remove(name);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.bytes, std::string("A\0B\r\n\xff\\x\ty\x01"
                                     "end\r\n",
                                     16));

    // Without --raw each line gets the terminator.
    const DeviceRun framed = runOnDevice({"--line", "A\\x00B", "--quiet"});
    EXPECT_EQ(framed.bytes, std::string("A\0B\r", 4));
}

// Every line a preset plays reads back through the program's own extraction as the simulator
// says: its value, or nothing from a line that must not be typed. The maker's other formats
// come after the preset's samples.
TEST(SimPresetLines, EveryLineReadsBackAsTheSimulatorClaims) {
    for (const tools::Preset& p : tools::instrumentPresets()) {
        SCOPED_TRACE(p.name);
        const Instrument instrument =
            p.name == "scale" ? Instrument::GENERIC
                              : Setting<Instrument>::fromName(QString::fromStdString(p.name));
        ASSERT_EQ(p.values.size(), p.lines.size());
        for (size_t i = 0; i < p.lines.size(); ++i) {
            const std::string line = withTerminator(p.lines[i], p.terminator);
            const QByteArray read =
                InstrumentPresets::extract(
                    instrument, InstrumentPresets::textFromBytes(
                                    QByteArray(line.data(), static_cast<qsizetype>(line.size()))))
                    .value_or(QString())
                    .toLatin1();
            EXPECT_EQ(std::string(read.constData(), static_cast<size_t>(read.size())), p.values[i])
                << "line " << i + 1 << ": " << tools::readableBytes(line);
        }
        const auto formats = tools::formatLines(p.name);
        ASSERT_LE(formats.size(), p.lines.size());
        for (size_t k = 0; k < formats.size(); ++k) {
            EXPECT_EQ(p.lines[p.lines.size() - formats.size() + k], formats[k].bytes);
        }
    }
}

TEST(SimDevice, GetsThePresetsSpeedAndIsRaw) {
    testsupport::Pty pty;
    termios t{};
    // The speed a device is set to; a pseudo-terminal keeps 8 bits without parity whatever it
    // is told, so that is all a test here can see.
    auto speedAfter = [&](Args extra) -> speed_t {
        Args args{TOLVANE_SIM, "--device", pty.slavePath(), "--preset", "sartorius",
                  "--repeat",  "0",        "--interval",    "50",       "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        Child sim(args);
        EXPECT_EQ(sim.readLine(10000).value_or(""), "PORT " + pty.slavePath());
        const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::tcgetattr(fd, &t), 0);
        ::close(fd);
        // The framing note names what to choose instead.
        EXPECT_TRUE(
            sim.waitForLine("On this pseudo-terminal choose 8 data bits and parity NONE instead: "
                            "it carries no other framing (a real serial line takes the preset's).",
                            5000))
            << sim.output();
        sim.signal(SIGTERM);
        EXPECT_EQ(sim.waitExit(5000), 0);
        return ::cfgetospeed(&t);
    };
    // Sartorius: 1200 baud; --baud overrides it.
    EXPECT_EQ(speedAfter({}), static_cast<speed_t>(B1200));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u) << "raw";
    EXPECT_EQ(t.c_oflag & OPOST, 0u) << "raw";
    EXPECT_EQ(speedAfter({"--baud", "19200"}), static_cast<speed_t>(B19200));
}

TEST(SimPresetList, NamesEveryInstrumentPresetAndTheScale) {
    for (const char* option : {"--list-presets", "--preset=list"}) {
        Child list({TOLVANE_SIM, option});
        ASSERT_EQ(list.waitExit(5000), 0) << list.errors();
        std::vector<std::string> names;
        const std::regex row("  ([A-Za-z0-9_]+) +(.+)");
        std::string out = list.output();
        for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
             start = end + 1) {
            std::smatch m;
            const std::string line = out.substr(start, end - start);
            if (std::regex_match(line, m, row)) {
                names.push_back(m[1]);
            }
        }
        std::vector<std::string> expected;
        for (auto instrument : Setting<ConfigHelper::Instrument>::values()) {
            expected.push_back(Setting<ConfigHelper::Instrument>::name(instrument).toStdString());
        }
        expected.push_back("scale");
        EXPECT_EQ(names, expected) << out;
        EXPECT_NE(out.find("MITUTOYO  "), std::string::npos);
        EXPECT_NE(out.find("Mitutoyo 264-007; 2400 baud 8N1, terminator 13 <CR>; answers the data "
                           "command 1<13>"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("  RINSTRUM "), std::string::npos) << out;
        EXPECT_NE(out.find("answers the data command W<13>"), std::string::npos) << out;
        EXPECT_EQ(out.find("PORT"), std::string::npos);
    }
}

TEST(SimHelp, ExplainsTheInstrumentOptionsWithExamples) {
    Child help({TOLVANE_SIM, "--help"});
    ASSERT_EQ(help.waitExit(5000), 0);
    const std::string& out = help.output();
    for (const char* option :
         {"--preset NAME", "--list-presets", "--drift", "--seed N", "--raw", "--command TEXT",
          "--no-command", "--interval MS", "--repeat N", "--device PATH", "data command"}) {
        EXPECT_NE(out.find(option), std::string::npos) << option;
    }
    size_t examples = 0;
    for (size_t at = 0; (at = out.find("\n  tolvane-sim ", at)) != std::string::npos; ++at) {
        ++examples;
    }
    EXPECT_GE(examples, 2u) << out;
}

TEST(SimBadArguments, ExitWithTwoAndSayWhatIsWrong) {
    struct Case {
        Args args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--preset", "no_such_instrument"}, "unknown preset 'no_such_instrument'"},
        {{"--preset"}, "--preset needs a value"},
        {{"--drift", "--line", "x"}, "--drift makes its own lines"},
        {{"--drift", "--preset", "barcode_alpha"}, "BARCODE_ALPHA reads text"},
        {{"--seed", "5", "--line", "x"}, "--seed only matters with --drift"},
        {{"--drift", "--seed", "-1"}, "--seed"},
        {{"--drift", "--seed", "4294967296"}, "outside 0..4294967295"},
        {{"--drift=yes"}, "--drift takes no value"},
        {{"--raw"}, "--raw applies to the bytes of --line and --file"},
        {{"--raw", "--line", "x", "--terminator", "lf"}, "--raw adds no terminator"},
        {{"--raw", "--line", "\\x4"}, "two hex digits"},
        {{"--command", "", "--line", "x"}, "--command needs at least one byte"},
        {{"--command", "\\q", "--line", "x"}, "--command: unknown escape"},
        {{"--preset", "mitutoyo", "--command", "1\\r", "--no-command"}, "contradict"},
        {{"--preset", "mitutoyo", "--answer-only", "--no-command"}, "contradict"},
        {{"--preset", "generic", "--answer-only"}, "--answer-only needs a data command"},
        {{"--list-presets=all"}, "--list-presets takes no value"},
        {{"--interval", "soon", "--preset", "scale"}, "--interval: 'soon' is not a whole number"},
    };
    for (const Case& c : cases) {
        Args args = c.args;
        args.insert(args.begin(), TOLVANE_SIM);
        Child sim(args);
        EXPECT_EQ(sim.waitExit(5000), 2) << c.message;
        EXPECT_THAT(sim.errors(), ::testing::HasSubstr("tolvane-sim: "));
        EXPECT_THAT(sim.errors(), ::testing::HasSubstr(c.message));
        EXPECT_EQ(sim.output().find("PORT"), std::string::npos) << c.message;
    }
}

}  // namespace
