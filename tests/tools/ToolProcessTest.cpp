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

#include "support/Pty.h"

#ifndef TOLVANE_SIM
#error "TOLVANE_SIM must name the tolvane-sim binary"
#endif
#ifndef TOLVANE_READER
#error "TOLVANE_READER must name the tolvane-reader binary"
#endif

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A child process with its standard output and error captured.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        int out[2];
        int err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        // A pseudo-terminal master the test holds must not live on in the child, or closing it
        // would not look like a lost device.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        // The test may run where Ctrl-C is ignored (a background job); the tools must not be.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&attr, &all);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
        ::fcntl(err_, F_SETFL, O_NONBLOCK);
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(rc));
        }
    }

    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next whole line of standard output, without its line feed.
    std::optional<std::string> readLine(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            auto nl = outBuf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = outBuf_.substr(0, nl);
                outBuf_.erase(0, nl + 1);
                stdout_ += line + "\n";
                return line;
            }
            if (!pump(msLeft(deadline)) && msLeft(deadline) == 0) {
                return std::nullopt;
            }
        }
    }

    // Reads lines until one equals `wanted`.
    bool waitForLine(const std::string& wanted, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (auto line = readLine(msLeft(deadline))) {
            if (*line == wanted) {
                return true;
            }
        }
        return false;
    }

    // The exit code, or -1 when the child did not exit normally in time.
    int waitExit(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0) {
            int status = 0;
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                while (pump(0)) {
                }
                while (readLine(0)) {
                }
                stdout_ += outBuf_;
                outBuf_.clear();
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (msLeft(deadline) == 0) {
                return -1;
            }
            pump(20);
        }
        return -1;
    }

    void signal(int sig) { ::kill(pid_, sig); }
    // Everything read from standard output so far (whole lines).
    const std::string& output() const { return stdout_; }
    const std::string& errors() const { return stderr_; }

  private:
    // Moves what is available into the buffers; false when nothing came within timeoutMs.
    bool pump(int timeoutMs) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) <= 0) {
            return false;
        }
        bool got = false;
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? outBuf_ : stderr_).append(buf, static_cast<size_t>(n));
                got = true;
            }
        }
        return got;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuf_;
    std::string stdout_;
    std::string stderr_;
};

std::string portOf(Child& sim) {
    auto first = sim.readLine(10000);
    if (!first) {
        ADD_FAILURE() << "no PORT line";
        return "";
    }
    std::smatch m;
    if (!std::regex_match(*first, m, std::regex("PORT (/dev/pts/[0-9]+)"))) {
        ADD_FAILURE() << "first line is '" << *first << "'";
        return "";
    }
    return m[1];
}

// Opens the simulator's port as a reader would.
class SlaveEnd {
  public:
    explicit SlaveEnd(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~SlaveEnd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SlaveEnd(const SlaveEnd&) = delete;
    SlaveEnd& operator=(const SlaveEnd&) = delete;

    bool ok() const { return fd_ >= 0; }

    // Up to `count` bytes, waiting up to timeoutMs; less when the simulator closes the port.
    std::string read(size_t count, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string out;
        while (out.size() < count && msLeft(deadline) > 0) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0) {
                continue;
            }
            char buf[256];
            ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
            } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                break;
            }
        }
        return out;
    }

    void write(const std::string& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

  private:
    int fd_;
};

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
