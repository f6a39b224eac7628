// Time per key at key delay 0 on each keyboard output: the Wayland virtual keyboard on sway, the
// RemoteDesktop portal on GNOME Shell and on KWin, each inside a real headless desktop (the
// desktop scripts beside the project), and XTEST into a private Xvfb server for comparison. The
// same 200 characters are typed one by one from a thread of their own, as the typing stage does,
// and every character's press-and-release is timed where the program sends it. The counters
// carry the median, 90th percentile and worst time per key.
//
// For the desktops this binary is itself the client: with TOLVANE_BENCH_OUTPUT set it types
// into the focused window, prints its times and ends before any benchmark runs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcessEnvironment>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/platform/DesktopScripts.h"
#include "quorvel/platform/PortalKeyInjector.h"
#include "quorvel/platform/VirtualKeyboardInjector.h"
#include "quorvel/platform/X11KeyInjector.h"
#include "quorvel/platform/XKeyRecorder.h"
#include "quorvel/platform/XvfbServer.h"
#include "quorvel/worker/KeyInjector.h"

namespace {

using quorvel::platform::test::desktopsFolder;
using quorvel::platform::test::readFile;
using quorvel::platform::test::runDesktop;
using quorvel::worker::KeyInjector;
using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

constexpr int CHARACTERS = 200;
constexpr const char* CLIENT_SWITCH = "TOLVANE_BENCH_OUTPUT";
constexpr const char* TIMES_PREFIX = "per-key-us";

// Digits and small letters: one key each on every output, no shift level involved.
std::string benchText() {
    const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string text;
    for (int i = 0; i < CHARACTERS; ++i)
        text += alphabet[static_cast<std::size_t>(i) % alphabet.size()];
    return text;
}

// Types the text through `injector` from a thread of its own and returns each key's time in
// microseconds; throws what the injector threw.
std::vector<double> typeTimed(KeyInjector& injector, const std::string& text) {
    std::vector<double> times;
    std::exception_ptr failure;
    std::thread typing([&] {
        try {
            for (const char c : text) {
                const auto start = Clock::now();
                if (!injector.typeCharacter(static_cast<char32_t>(c), 0))
                    throw std::runtime_error(std::string("cannot type '") + c + "'");
                times.push_back(Micros(Clock::now() - start).count());
            }
        } catch (...) {
            failure = std::current_exception();
        }
    });
    typing.join();
    if (failure)
        std::rethrow_exception(failure);
    return times;
}

// The client inside a desktop: "vk" or "portal". Prints one line of times, else "error: ...".
int typeIntoDesktop(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        const std::string output = std::getenv(CLIENT_SWITCH);
        std::unique_ptr<KeyInjector> injector;
        if (output == "vk")
            injector = std::make_unique<quorvel::platform::VirtualKeyboardInjector>();
        else
            // The portal asks on this thread, in a nested event loop, as on the program's window.
            injector = std::make_unique<quorvel::platform::PortalKeyInjector>(QString(), 30000);
        const std::vector<double> times = typeTimed(*injector, benchText());
        injector->keyPress(10);
        injector->keyRelease(10);
        std::printf("%s", TIMES_PREFIX);
        for (const double t : times) std::printf(" %.1f", t);
        std::printf("\n");
        std::fflush(stdout);
        // Let the desktop deliver the last keys before the session closes.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return 0;
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        return 2;
    }
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

void report(benchmark::State& state, const char* label, const std::vector<double>& times) {
    state.SetLabel(label);
    state.counters["keys"] = static_cast<double>(times.size());
    state.counters["median_us"] = percentile(times, 0.5);
    state.counters["p90_us"] = percentile(times, 0.9);
    state.counters["worst_us"] = *std::max_element(times.begin(), times.end());
}

struct Desktop {
    const char* label;
    const char* script;
    const char* output;  // what the client types through
};

const Desktop DESKTOPS[] = {
    {"virtual keyboard, sway", "sway.sh", "vk"},
    {"portal, GNOME Shell", "gnome.sh", "portal"},
    {"portal, KWin", "kde.sh", "portal"},
};
constexpr int DESKTOP_COUNT = static_cast<int>(sizeof DESKTOPS / sizeof DESKTOPS[0]);

void BM_PerKey_Desktop(benchmark::State& state) {
    const Desktop& desktop = DESKTOPS[state.range(0)];
    state.SetLabel(desktop.label);
    if (geteuid() != 0) {
        state.SkipWithError("the desktop scripts start the compositor as root");
        return;
    }
    const std::string script = desktopsFolder() + "/" + desktop.script;
    if (!std::filesystem::exists(script)) {
        state.SkipWithError((script + " is missing (set DESKTOPS_DIR)").c_str());
        return;
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (auto _ : state) {
        char pattern[] = "/tmp/bench-outputs-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            state.SkipWithError("cannot make a folder below /tmp");
            return;
        }
        const std::filesystem::path out = pattern;
        QProcessEnvironment env;
        env.insert("CLIENT", QString::fromStdString(std::string("env ") + CLIENT_SWITCH + "=" +
                                                    desktop.output + " " + self));
        env.insert("CONSENT", "auto");
        env.insert("TIMEOUT", "60");
        const auto result = runDesktop(script, out, env);
        const std::string log = readFile(out / "client.log");
        const std::string typed = readFile(out / "typed.txt");
        std::filesystem::remove_all(out);
        if (result.exitCode == 3) {
            state.SkipWithError(("the desktop cannot run here: " + result.said).c_str());
            return;
        }
        const auto at = log.find(TIMES_PREFIX);
        if (result.exitCode != 0 || at == std::string::npos) {
            state.SkipWithError((result.said + log).c_str());
            return;
        }
        // Times of keys that did not all arrive would flatter the output.
        if (typed != benchText() + "\n") {
            state.SkipWithError(("typed \"" + typed + "\"").c_str());
            return;
        }
        std::istringstream line(log.substr(at + std::string(TIMES_PREFIX).size()));
        std::vector<double> times;
        for (double t = 0; line >> t;) times.push_back(t);
        if (times.size() != CHARACTERS) {
            state.SkipWithError(("the client said: " + log).c_str());
            return;
        }
        report(state, desktop.label, times);
    }
}
BENCHMARK(BM_PerKey_Desktop)
    ->DenseRange(0, DESKTOP_COUNT - 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// XTEST measured the same way, into a window of this process on a private Xvfb server.
void BM_PerKey_XTest(benchmark::State& state) {
    using quorvel::platform::test::XKeyRecorder;
    using quorvel::platform::test::XvfbServer;
    state.SetLabel("XTEST, Xvfb");
    if (!XvfbServer::available()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    try {
        XvfbServer server;
        server.useUs();
        XKeyRecorder recorder(server.displayName());
        quorvel::platform::X11KeyInjector injector(server.displayName());
        for (auto _ : state) {
            recorder.clear();
            const std::vector<double> times = typeTimed(injector, benchText());
            if (recorder.waitForText(benchText()) != benchText()) {
                state.SkipWithError(("typed \"" + recorder.text() + "\"").c_str());
                return;
            }
            report(state, "XTEST, Xvfb", times);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(BM_PerKey_XTest)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv(CLIENT_SWITCH) != nullptr)
        return typeIntoDesktop(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
