// First-key latency of the whole program: from the terminator byte written to the port until
// the first key press of the value reaches an X client. The real executable runs under a
// private Xvfb server with automatic start, key delay 0 and Enter after each value, reading a
// pseudo-terminal whose master this process writes; a window of this process records the keys
// and stamps each one as it comes off its connection, on the same clock as the write.
//
// The other rows run the program on a private session bus with the desktop's accessibility bus
// (at-spi) switched on, as under a full desktop, where changes to the window's widgets are
// announced over D-Bus: the second row with no one listening, the third with a listener of
// this process registered for every event, as an assistive technology registers.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/platform/XKeyRecorder.h"
#include "quorvel/platform/ProgramSettings.h"
#include "quorvel/platform/XvfbServer.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/support/TempPrefs.h"
#include "support/Pty.h"

extern char** environ;

namespace {

using quorvel::platform::test::XKeyRecorder;
using quorvel::platform::test::XvfbServer;
using H = quorvel::config::ConfigHelper;
using Clock = std::chrono::steady_clock;

constexpr int SAMPLES = 200;
const char* const ACCESSIBILITY_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher";

std::vector<std::string> environmentWith(const std::vector<std::string>& overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        // Neither the desktop's display nor its buses, unless given here.
        bool replaced = name == "WAYLAND_DISPLAY" || name == "DBUS_SESSION_BUS_ADDRESS" ||
                        name == "AT_SPI_BUS_ADDRESS";
        for (const auto& o : overrides) replaced = replaced || o.substr(0, o.find('=')) == name;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), overrides.begin(), overrides.end());
    return env;
}

// A child process with its output in a file; terminated and reaped on destruction.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& outputPath) {
        const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0)
            throw std::runtime_error("cannot create " + outputPath);
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
        posix_spawn_file_actions_adddup2(&actions, out, 2);
        const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out);
        if (rc != 0)
            throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    ~Child() {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

  private:
    pid_t pid_ = -1;
};

// A session bus of the run's own; D-Bus activation starts the accessibility bus on it.
class SessionBus {
  public:
    explicit SessionBus(const std::string& display) {
        // The launcher is activated with the bus's environment and needs the display.
        const std::string command = "env DISPLAY=" + display +
                                    " dbus-daemon --session --fork --print-address=1 "
                                    "--print-pid=1";
        FILE* out = ::popen(command.c_str(), "r");
        if (out == nullptr)
            throw std::runtime_error("cannot run dbus-daemon");
        char line[512];
        if (std::fgets(line, sizeof line, out) != nullptr)
            address_ = std::string(line, std::strcspn(line, "\n"));
        if (std::fgets(line, sizeof line, out) != nullptr)
            pid_ = static_cast<pid_t>(std::atol(line));
        ::pclose(out);
        if (address_.empty() || pid_ <= 0)
            throw std::runtime_error("dbus-daemon gave no address");
    }
    ~SessionBus() {
        // The accessibility bus launcher ends with the session bus it was activated on.
        ::kill(pid_, SIGTERM);
    }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    const std::string& address() const { return address_; }

  private:
    std::string address_;
    pid_t pid_ = -1;
};

// The program measured: the build's own, or another build named by TOLVANE_BENCH_PROGRAM (to
// compare two builds on one machine under the same load).
std::string programPath() {
    const char* other = std::getenv("TOLVANE_BENCH_PROGRAM");
    return other != nullptr && *other != '\0' ? other : TOLVANE_BINARY;
}

// An assistive technology's registration: every event of the accessibility bus is asked for
// and delivered to this process (QtDBus's own thread takes them off the connection).
class AccessibilityListener {
  public:
    explicit AccessibilityListener(const std::string& sessionAddress) {
        QDBusConnection session =
            QDBusConnection::connectToBus(QString::fromStdString(sessionAddress), SESSION);
        const QDBusMessage address = session.call(QDBusMessage::createMethodCall(
            "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
        if (address.type() != QDBusMessage::ReplyMessage || address.arguments().isEmpty())
            throw std::runtime_error("no accessibility bus: " +
                                     address.errorMessage().toStdString());
        QDBusConnection bus =
            QDBusConnection::connectToBus(address.arguments().front().toString(), ACCESSIBILITY);
        for (const char* event : {"object:", "window:", "focus:", "document:"}) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                "org.a11y.atspi.Registry", "/org/a11y/atspi/registry", "org.a11y.atspi.Registry",
                "RegisterEvent");
            call << QString::fromLatin1(event);
            const QDBusMessage reply = bus.call(call);
            if (reply.type() != QDBusMessage::ReplyMessage)
                throw std::runtime_error("the accessibility registry refused a listener: " +
                                         reply.errorMessage().toStdString());
        }
        QDBusMessage match = QDBusMessage::createMethodCall(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "AddMatch");
        match << QStringLiteral("type='signal'");
        bus.call(match);
    }
    ~AccessibilityListener() {
        QDBusConnection::disconnectFromBus(ACCESSIBILITY);
        QDBusConnection::disconnectFromBus(SESSION);
    }
    AccessibilityListener(const AccessibilityListener&) = delete;
    AccessibilityListener& operator=(const AccessibilityListener&) = delete;

  private:
    static constexpr const char* SESSION = "bench-session";
    static constexpr const char* ACCESSIBILITY = "bench-accessibility";
};

// No key delay: the first key is what is timed.
void writeSettings(const std::string& port) {
    quorvel::platform::test::saveProgramSettings(QStringLiteral("0"),
                                                 QString::fromStdString(port));
}

// A value that changes with every line, so no repeat filter holds one back.
std::string value(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", 10 + i % 80, i % 100);
    return text;
}

// Waits for the key presses to come in until `done` holds; false on time-out.
template <typename Done>
bool waitFor(XKeyRecorder& recorder, Done done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        recorder.takeArrived();
        if (done())
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{recorder.connectionFd(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    }
}

std::string keys(const XKeyRecorder& recorder) {
    std::string out;
    for (const auto& e : recorder.events()) out += (e.press ? " +" : " -") + e.keysym;
    return out;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

void BM_FirstKeyLatency(benchmark::State& state) {
    const bool accessibility = state.range(0) != 0;
    const bool listening = state.range(0) == 2;
    if (!XvfbServer::available()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    if (accessibility && ::access(ACCESSIBILITY_BUS_LAUNCHER, X_OK) != 0) {
        state.SkipWithError("at-spi2-core (the accessibility bus) is not installed");
        return;
    }
    std::vector<double> micros;
    try {
        for (auto _ : state) {
            XvfbServer server;
            server.useUs();
            XKeyRecorder recorder(server.displayName());
            testsupport::Pty pty;
            quorvel::support::TempPrefs prefs;
            writeSettings(pty.slavePath());
            std::vector<std::string> env = {"DISPLAY=" + server.displayName(),
                                            "QT_QPA_PLATFORM=xcb"};
            std::optional<SessionBus> bus;
            std::optional<AccessibilityListener> listener;
            if (accessibility) {
                bus.emplace(server.displayName());
                env.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus->address());
                env.push_back("QT_ACCESSIBILITY=1");
                env.push_back("QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1");
                if (listening)
                    listener.emplace(bus->address());
            }
            Child program(
                {programPath(),
                 "-D" + std::string(quorvel::prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE) +
                     "=" + prefs.file().toStdString(),
                 pty.slavePath()},
                environmentWith(env), prefs.dir().toStdString() + "/tolvane.txt");

            // Bytes sent before the program opens the port are flushed by the open: a value is
            // sent until one is typed, which shows that the program is up, reading and typing.
            const auto upBy = Clock::now() + std::chrono::seconds(30);
            while (recorder.text().empty() && Clock::now() < upBy) {
                pty.write("ST,GS  1.00 kg\r");
                waitFor(
                    recorder, [&] { return !recorder.text().empty(); },
                    std::chrono::milliseconds(300));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            recorder.clear();
            std::string expected;
            auto typed = [&] { return recorder.text() == expected; };
            for (int i = 0; i < SAMPLES + 10; ++i) {
                const std::string body = "ST,GS  " + value(i) + " kg";
                const std::size_t pressesBefore = recorder.pressed().size();
                pty.write(body);
                // The reading thread has taken the body and gone back to waiting.
                std::this_thread::sleep_for(std::chrono::milliseconds(15));
                const auto written = Clock::now();
                pty.write("\r");
                expected += value(i) + "\r";
                const auto timeout = std::chrono::seconds(5);
                if (!waitFor(
                        recorder, [&] { return recorder.pressed().size() > pressesBefore; },
                        timeout) ||
                    !waitFor(recorder, typed, timeout)) {
                    const QByteArray output =
                        quorvel::support::readWholeFile(prefs.dir() + "/tolvane.txt");
                    state.SkipWithError(("the program did not type \"" + value(i) +
                                         "\" (typed: \"" + recorder.text() + "\", " +
                                         keys(recorder) + "); it wrote:\n" + output.toStdString())
                                            .c_str());
                    return;
                }
                // The first lines warm up the program's caches; they do not count.
                if (i < 10)
                    continue;
                // The events of earlier lines arrived before the write.
                Clock::time_point firstPress{};
                for (const auto& e : recorder.events())
                    if (e.press && e.arrived > written) {
                        firstPress = e.arrived;
                        break;
                    }
                micros.push_back(
                    std::chrono::duration<double, std::micro>(firstPress - written).count());
                // Whatever the last line set off in the program settles before the next one.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    state.counters["samples"] = static_cast<double>(micros.size());
    state.counters["median_ms"] = percentile(micros, 0.5) / 1000.0;
    state.counters["p90_ms"] = percentile(micros, 0.9) / 1000.0;
    state.counters["max_ms"] = percentile(micros, 1.0) / 1000.0;
}
BENCHMARK(BM_FirstKeyLatency)
    ->ArgName("accessibility")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    // QtDBus, for the listener, wants an application object.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
