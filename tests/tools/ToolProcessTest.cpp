// Runs the built tolvane-sim and tolvane-reader as a user would and checks what crosses the
// pseudo-terminal and what they print.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ToolProcess.h"
#include "support/Pty.h"

#ifndef TOLVANE_SIM
#error "TOLVANE_SIM must name the tolvane-sim binary"
#endif
#ifndef TOLVANE_READER
#error "TOLVANE_READER must name the tolvane-reader binary"
#endif

namespace {

using namespace toolstest;

TEST(SimTool, WaitsForTheReaderThenSendsEachLineWithItsTerminator) {
    Child sim({TOLVANE_SIM, "--line", "ST,GS  12.50 kg", "--line", "A\\x01", "--terminator", "crlf",
               "--interval", "150"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    // Nothing is lost although the reader comes late.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto opened = Clock::now();
    SlaveEnd reader(port);
    ASSERT_TRUE(reader.ok());
    const std::string expected = "ST,GS  12.50 kg\r\nA\x01\r\n";
    EXPECT_EQ(reader.read(expected.size(), 10000), expected);
    // The second line waits for the interval (a lower bound only: the machine may be slow).
    EXPECT_GE(Clock::now() - opened, std::chrono::milliseconds(150));
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
    EXPECT_NE(sim.output().find("sent: ST,GS  12.50 kg<13><10>"), std::string::npos)
        << sim.output();
    EXPECT_NE(sim.output().find("sent: A<1><13><10>"), std::string::npos) << sim.output();
}

TEST(SimTool, RepeatsTheListAndNoTerminatorMeansNone) {
    Child sim({TOLVANE_SIM, "--line", "ab", "--line", "c", "--terminator", "none", "--repeat", "2",
               "--interval", "0", "--quiet"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    SlaveEnd reader(port);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader.read(100, 3000), "abcabc");
    EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
    EXPECT_EQ(sim.output().find("sent:"), std::string::npos) << "--quiet prints no lines";
}

TEST(SimTool, StopsWithZeroOnSigintAndSigterm) {
    {
        Child sim({TOLVANE_SIM, "--line", "x", "--repeat", "0", "--interval", "20"});
        const std::string port = portOf(sim);
        ASSERT_FALSE(port.empty());
        SlaveEnd reader(port);
        ASSERT_TRUE(reader.ok());
        EXPECT_EQ(reader.read(4, 5000), "x\rx\r");
        sim.signal(SIGINT);
        EXPECT_EQ(sim.waitExit(5000), 0);
        EXPECT_NE(sim.output().find("Stopped."), std::string::npos) << sim.output();
    }
    {
        // Still waiting for a reader.
        Child sim({TOLVANE_SIM, "--line", "x"});
        ASSERT_FALSE(portOf(sim).empty());
        sim.signal(SIGTERM);
        EXPECT_EQ(sim.waitExit(5000), 0);
    }
}

TEST(SimTool, PrintsWhatTheReaderSendsBack) {
    Child sim({TOLVANE_SIM, "--line", "x", "--repeat", "0", "--interval", "100", "--quiet"});
    const std::string port = portOf(sim);
    ASSERT_FALSE(port.empty());
    SlaveEnd reader(port);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader.read(2, 5000), "x\r");
    reader.write("SI\r\n");
    EXPECT_TRUE(sim.waitForLine("reader sent: SI<13><10>", 5000)) << sim.output();
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitExit(5000), 0);
}

TEST(SimTool, BadArgumentsExitWithTwoAndHelpNamesEveryOption) {
    for (std::vector<std::string> args : {std::vector<std::string>{TOLVANE_SIM},
                                          {TOLVANE_SIM, "--line", "x", "--terminator", "300"},
                                          {TOLVANE_SIM, "--line", "x", "--frobnicate"},
                                          {TOLVANE_SIM, "--line", "x", "--baud", "12345"},
                                          {TOLVANE_SIM, "--file", "/nonexistent/lines.txt"}}) {
        Child sim(args);
        EXPECT_EQ(sim.waitExit(5000), 2) << args.back();
        EXPECT_NE(sim.errors().find("tolvane-sim: "), std::string::npos) << sim.errors();
        EXPECT_EQ(sim.output().find("PORT"), std::string::npos);
    }
    Child help({TOLVANE_SIM, "--help"});
    EXPECT_EQ(help.waitExit(5000), 0);
    for (const char* option :
         {"--line", "--file", "--preset", "--terminator", "--interval", "--repeat", "--device",
          "--baud", "--wait-reader", "--no-wait-reader", "--quiet", "--help"}) {
        EXPECT_NE(help.output().find(option), std::string::npos) << option;
    }
}

TEST(SimTool, WritesToAGivenDeviceAndReportsItsLoss) {
    testsupport::Pty pty;
    {
        Child sim({TOLVANE_SIM, "--device", pty.slavePath(), "--line", "W1", "--terminator", "lf",
                   "--repeat", "2", "--interval", "10"});
        EXPECT_EQ(sim.readLine(5000).value_or(""), "PORT " + pty.slavePath());
        EXPECT_EQ(pty.read(6, 5000), "W1\nW1\n");
        EXPECT_EQ(sim.waitExit(10000), 0) << sim.errors();
    }
    Child sim({TOLVANE_SIM, "--device", pty.slavePath(), "--line", "W2", "--repeat", "0",
               "--interval", "20"});
    EXPECT_EQ(pty.read(3, 5000), "W2\r");
    pty.closeMaster();
    EXPECT_EQ(sim.waitExit(5000), 1);
    EXPECT_NE(sim.errors().find(pty.slavePath()), std::string::npos) << sim.errors();
}

TEST(ReaderTool, PrintsEachLineReadablyAndStopsAfterCount) {
    testsupport::Pty pty;
    Child reader({TOLVANE_READER, "--port", pty.slavePath(), "--count", "2"});
    ASSERT_TRUE(reader.waitForLine(
        "Reading " + pty.slavePath() + " at 9600 baud; lines end at byte 13. Ctrl-C stops.", 10000))
        << reader.output() << reader.errors();
    pty.write(std::string("ST,GS  12.50 kg\rUS\x01\xff\r", 21) + "not counted\r");
    EXPECT_EQ(reader.waitExit(10000), 0) << reader.errors();
    EXPECT_NE(reader.output().find("line 1: ST,GS  12.50 kg<13>\nline 2: US<1><255><13>\n"),
              std::string::npos)
        << reader.output();
    EXPECT_EQ(reader.output().find("line 3"), std::string::npos);
}

TEST(ReaderTool, OtherTerminatorAndSigintEndsWithZero) {
    testsupport::Pty pty;
    Child reader(
        {TOLVANE_READER, "--port", pty.slavePath(), "--terminator", "lf", "--baud", "2400"});
    ASSERT_TRUE(reader.waitForLine(
        "Reading " + pty.slavePath() + " at 2400 baud; lines end at byte 10. Ctrl-C stops.", 10000))
        << reader.output() << reader.errors();
    pty.write("a\rb\nrest");
    EXPECT_TRUE(reader.waitForLine("line 1: a<13>b<10>", 5000)) << reader.output();
    // Give the reader a moment to take the unterminated rest.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    reader.signal(SIGINT);
    EXPECT_EQ(reader.waitExit(5000), 0) << reader.errors();
    EXPECT_NE(reader.output().find("unterminated: rest"), std::string::npos) << reader.output();
}

TEST(ReaderTool, DeviceLossAndBadArgumentsAreReported) {
    {
        testsupport::Pty pty;
        Child reader({TOLVANE_READER, "--port", pty.slavePath()});
        ASSERT_TRUE(reader.waitForLine(
            "Reading " + pty.slavePath() + " at 9600 baud; lines end at byte 13. Ctrl-C stops.",
            10000))
            << reader.output() << reader.errors();
        pty.closeMaster();
        EXPECT_EQ(reader.waitExit(5000), 1);
        EXPECT_NE(reader.errors().find("tolvane-reader: "), std::string::npos);
    }
    {
        Child reader({TOLVANE_READER, "--port", "/dev/no-such-port-here"});
        EXPECT_EQ(reader.waitExit(5000), 1);
        EXPECT_NE(reader.errors().find("tolvane-reader: "), std::string::npos);
    }
    for (std::vector<std::string> args :
         {std::vector<std::string>{TOLVANE_READER},
          {TOLVANE_READER, "--port", "/dev/x", "--baud", "12345"},
          {TOLVANE_READER, "--port", "/dev/x", "--terminator", "crlf"}}) {
        Child reader(args);
        EXPECT_EQ(reader.waitExit(5000), 2) << args.back();
        EXPECT_NE(reader.errors().find("tolvane-reader: "), std::string::npos) << reader.errors();
    }
}

}  // namespace
