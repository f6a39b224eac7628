// The whole program under Xvfb: the real executable, a settings file, the simulator on a
// pseudo-terminal and a window of the test's own that records what gets typed into it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QByteArrayList>

#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/platform/XKeyRecorder.h"
#include "quorvel/platform/ProgramSettings.h"
#include "quorvel/platform/XvfbServer.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/support/TempPrefs.h"

extern char** environ;

namespace quorvel::platform::test {
namespace {

using Clock = std::chrono::steady_clock;
using H = config::ConfigHelper;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// This process's environment with `overrides` ("NAME=value") put in place of their names.
std::vector<std::string> environmentWith(const std::vector<std::string>& overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = name == "WAYLAND_DISPLAY";  // Qt must not pick the desktop's session
        for (const auto& o : overrides)
            replaced = replaced || o.substr(0, o.find('=')) == name;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), overrides.begin(), overrides.end());
    return env;
}

// A child process whose standard output and error go to a file (its error stream to a file of
// its own when `errorPath` is given); stopped and reaped by the destructor at the latest, so
// no test leaves one behind.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          std::string outputPath, const std::string& errorPath = std::string())
        : outputPath_(std::move(outputPath)), name_(argv.at(0)) {
        const int out = ::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0)
            throw std::runtime_error("cannot create " + outputPath_ + ": " + std::strerror(errno));
        const int err = errorPath.empty() ? out
                                          : ::open(errorPath.c_str(),
                                                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (err < 0) {
            ::close(out);
            throw std::runtime_error("cannot create " + errorPath + ": " + std::strerror(errno));
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out, 1);
        posix_spawn_file_actions_adddup2(&actions, err, 2);
        const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out);
        if (err != out)
            ::close(err);
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + name_ + ": " + std::strerror(rc));
        }
    }
    ~Child() { stop(); }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running() {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            status_ = status;
            return false;
        }
        return true;
    }

    // The wait status once the process has ended on its own within `timeout`.
    std::optional<int> waitForEnd(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (running() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return status_;
    }

    // Terminates, then kills when the process is still there after the grace time. True when
    // the process is gone and reaped.
    bool stop(std::chrono::milliseconds grace = std::chrono::seconds(10)) {
        if (!running())
            return true;
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + grace;
        while (running()) {
            if (Clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                int status = 0;
                const bool reaped = ::waitpid(pid_, &status, 0) == pid_;
                pid_ = -1;
                killed_ = true;
                return reaped;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    bool killed() const { return killed_; }
    std::string output() const { return readFile(outputPath_); }
    std::string describe() const { return name_ + " wrote:\n" + output(); }

    // Waits for a line of output starting with `prefix`; returns the rest of that line.
    std::optional<std::string> waitForLine(const std::string& prefix,
                                           std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            std::istringstream lines(output());
            std::string line;
            while (std::getline(lines, line))
                if (line.rfind(prefix, 0) == 0)
                    return line.substr(prefix.size());
            if (!running() || Clock::now() >= deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    bool killed_ = false;
    std::string outputPath_;
    std::string name_;
};

void writeSettings() {
    saveProgramSettings(QStringLiteral("5"));
}

// Takes a setting out of the file: the program starts with its default and writes it back only
// when it saves.
void dropSetting(const support::TempPrefs& prefs, const QByteArray& entry) {
    QByteArrayList kept;
    for (const QByteArray& line : prefs.read().split('\n'))
        if (!line.startsWith(entry))
            kept << line;
    support::writeWholeFile(prefs.file(), kept.join('\n'));
    ASSERT_FALSE(prefs.read().contains(entry));
}

// The real program on `server`, with the settings file of `prefs` and `port` as its only port;
// its error stream goes to `errorPath` when one is given.
Child startProgram(const support::TempPrefs& prefs, const std::string& port,
                   const XvfbServer& server, const std::string& errorPath = std::string()) {
    return Child({TOLVANE_BINARY,
                  "-D" + std::string(prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE) + "=" +
                      prefs.file().toStdString(),
                  port},
                 environmentWith({"DISPLAY=" + server.displayName(), "QT_QPA_PLATFORM=xcb"}),
                 prefs.dir().toStdString() + "/tolvane.txt", errorPath);
}

std::vector<std::string> withoutModifiers(const std::vector<std::string>& keysyms) {
    std::vector<std::string> out;
    for (const auto& k : keysyms)
        if (k.rfind("Shift_", 0) != 0)
            out.push_back(k);
    return out;
}

TEST(EndToEndTest, ScaleValuesArriveTypedInOrderEachFollowedByEnter) {
    if (!XvfbServer::available())
        GTEST_SKIP() << "Xvfb is not installed";

    XvfbServer server;
    server.useUs();
    XKeyRecorder recorder(server.displayName());

    support::TempPrefs prefs;
    writeSettings();
    const std::string stored = prefs.read().toStdString();
    ASSERT_NE(stored.find("AUTO"), std::string::npos) << stored;
    ASSERT_NE(stored.find("ENTER"), std::string::npos) << stored;
    const std::string dir = prefs.dir().toStdString();

    Child sim({TOLVANE_SIM, "--line", "ST,GS  12.50 kg", "--line", "ST,GS  13.05 kg", "--line",
               "ST,GS  7.20 kg", "--interval", "200", "--repeat", "1"},
              environmentWith({}), dir + "/sim.txt");
    const auto port = sim.waitForLine("PORT ", std::chrono::seconds(20));
    ASSERT_TRUE(port.has_value()) << sim.describe();

    Child program = startProgram(prefs, *port, server);

    const std::string expected = "12.50\r13.05\r7.20\r";
    const std::string typed = recorder.waitForText(expected, std::chrono::seconds(20));
    EXPECT_EQ(typed, expected) << "(another window took the focus " << recorder.focusLosses()
                               << " times)\n"
                               << program.describe() << sim.describe();
    EXPECT_EQ(withoutModifiers(recorder.pressed()),
              (std::vector<std::string>{"1", "2", "period", "5", "0", "Return",    //
                                        "1", "3", "period", "0", "5", "Return",    //
                                        "7", "period", "2", "0", "Return"}));
    // Every key the program pressed it also let go.
    EXPECT_TRUE(recorder.waitUntil([&] {
        int down = 0;
        for (const auto& e : recorder.events()) down += e.press ? 1 : -1;
        return down == 0;
    })) << "a key is still down";

    EXPECT_TRUE(program.running()) << "the program ended early; " << program.describe();
    EXPECT_TRUE(program.stop());
    EXPECT_TRUE(sim.stop());
    EXPECT_FALSE(sim.killed()) << sim.describe();
}

TEST(EndToEndTest, ATerminationRequestClosesLikeTheWindowAndSavesTheSettings) {
    if (!XvfbServer::available())
        GTEST_SKIP() << "Xvfb is not installed";

    XvfbServer server;
    support::TempPrefs prefs;
    writeSettings();
    const QByteArray missing = "com.varnholt.tolvane.customRegEx=";
    dropSetting(prefs, missing);
    const std::string dir = prefs.dir().toStdString();

    Child sim({TOLVANE_SIM, "--line", "ST,GS  1.00 kg", "--interval", "100000", "--repeat", "0"},
              environmentWith({}), dir + "/sim.txt");
    const auto port = sim.waitForLine("PORT ", std::chrono::seconds(20));
    ASSERT_TRUE(port.has_value()) << sim.describe();
    Child program = startProgram(prefs, *port, server);
    // The automatic start has opened the port: the program is up and reading.
    ASSERT_TRUE(sim.waitForLine("A reader opened", std::chrono::seconds(20)).has_value())
        << program.describe() << sim.describe();

    EXPECT_TRUE(program.stop());
    EXPECT_FALSE(program.killed()) << "the program did not end on SIGTERM; " << program.describe();
    EXPECT_TRUE(prefs.read().contains(missing)) << prefs.read().toStdString();
    // Reading was stopped, so the port was let go.
    EXPECT_TRUE(sim.waitForLine("The reader closed", std::chrono::seconds(10)).has_value())
        << sim.describe();
}

TEST(EndToEndTest, LosingTheDisplayWhileTypingEndsOnceWithOneLineAndSavesTheSettings) {
    if (!XvfbServer::available())
        GTEST_SKIP() << "Xvfb is not installed";

    XvfbServer server;
    server.useUs();
    XKeyRecorder recorder(server.displayName());
    support::TempPrefs prefs;
    writeSettings();
    const QByteArray missing = "com.varnholt.tolvane.customRegEx=";
    dropSetting(prefs, missing);
    const std::string dir = prefs.dir().toStdString();

    // Values come faster than they are typed: the typing thread is always at work.
    Child sim(
        {TOLVANE_SIM, "--line", "ST,GS  12.50 kg", "--interval", "20", "--repeat", "0", "--quiet"},
        environmentWith({}), dir + "/sim.txt");
    const auto port = sim.waitForLine("PORT ", std::chrono::seconds(20));
    ASSERT_TRUE(port.has_value()) << sim.describe();
    const std::string errorPath = dir + "/errors.txt";
    Child program = startProgram(prefs, *port, server, errorPath);
    ASSERT_TRUE(
        recorder.waitUntil([&] { return recorder.text().find("12.50\r") != std::string::npos; },
                           std::chrono::seconds(20)))
        << program.describe() << readFile(errorPath);
    const std::size_t errorsBefore = readFile(errorPath).size();

    server.crash();
    const std::optional<int> status = program.waitForEnd(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value()) << "the program did not end; " << program.describe();
    EXPECT_FALSE(WIFSIGNALED(*status)) << "signal " << WTERMSIG(*status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "status " << *status;
    EXPECT_EQ(readFile(errorPath).substr(errorsBefore),
              "The connection to the display was lost, so Tolvane ends.\n");
    EXPECT_TRUE(prefs.read().contains(missing)) << prefs.read().toStdString();
    EXPECT_TRUE(sim.stop());
}

}  // namespace
}  // namespace quorvel::platform::test
