// Typing pace: 100 characters typed with the default 20 ms key delay, once through the recording
// injector (the typing stage alone) and once through XTEST into a private Xvfb server. The
// counters carry the figures: the mean time per key event against the delay, and the worst
// single interval.
#include <benchmark/benchmark.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <optional>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/platform/RecordingKeyInjector.h"
#include "quorvel/platform/X11KeyInjector.h"
#include "quorvel/platform/XvfbServer.h"
#include "quorvel/worker/KeyInjector.h"
#include "quorvel/worker/Keybot.h"

namespace {

using quorvel::config::ConfigHelper;
using quorvel::platform::RecordingKeyInjector;
using quorvel::worker::KeyInjector;
using quorvel::worker::Keybot;
using Clock = std::chrono::steady_clock;

constexpr int KEY_DELAY = 20;
constexpr int CHARACTERS = 100;

// Forwards to a real injector and stamps each press and release.
class TimedInjector : public KeyInjector {
public:
    explicit TimedInjector(std::shared_ptr<KeyInjector> inner) : inner_(std::move(inner)) {}
    void keyPress(int keyCode) override {
        inner_->keyPress(keyCode);
        stamps.push_back(Clock::now());
    }
    void keyRelease(int keyCode) override {
        inner_->keyRelease(keyCode);
        stamps.push_back(Clock::now());
    }
    void delay(int milliseconds) override { inner_->delay(milliseconds); }
    bool isCapsLockOn() override { return inner_->isCapsLockOn(); }

    std::vector<Clock::time_point> stamps;

private:
    std::shared_ptr<KeyInjector> inner_;
};

void typeAndReport(benchmark::State& state, const std::shared_ptr<KeyInjector>& inner) {
    QString text;
    for (int i = 0; i < CHARACTERS; ++i) {
        text += QChar(u'0' + i % 10);
    }
    double perEvent = 0;
    double worst = 0;
    for (auto _ : state) {
        auto timed = std::make_shared<TimedInjector>(inner);
        Keybot keybot(ConfigHelper::KeyMapType::NUMERIC, ConfigHelper::KeyboardType::QUERTY,
                      ConfigHelper::OutputTerminator::NONE, ConfigHelper::StartWith::NONE,
                      KEY_DELAY, timed);
        const auto start = Clock::now();
        keybot.typeString(text);
        const auto end = Clock::now();
        const auto& stamps = timed->stamps;
        // Each event is followed by one delay, so the whole run is events x delay.
        perEvent = std::chrono::duration<double, std::milli>(end - start).count() /
                   static_cast<double>(stamps.size());
        for (std::size_t i = 1; i < stamps.size(); ++i) {
            worst = std::max(worst,
                             std::chrono::duration<double, std::milli>(stamps[i] - stamps[i - 1]).count());
        }
    }
    state.counters["key_events"] = 2.0 * CHARACTERS;
    state.counters["ms_per_event"] = perEvent;
    state.counters["deviation_pct"] = 100.0 * std::abs(perEvent - KEY_DELAY) / KEY_DELAY;
    state.counters["worst_interval_ms"] = worst;
}

void BM_TypingPace_Recording(benchmark::State& state) {
    typeAndReport(state, std::make_shared<RecordingKeyInjector>(true));
}
BENCHMARK(BM_TypingPace_Recording)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_TypingPace_XTest(benchmark::State& state) {
    if (!quorvel::platform::test::XvfbServer::available()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    try {
        quorvel::platform::test::XvfbServer server;
        auto injector =
            std::make_shared<quorvel::platform::X11KeyInjector>(server.displayName());
        typeAndReport(state, injector);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(BM_TypingPace_XTest)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
