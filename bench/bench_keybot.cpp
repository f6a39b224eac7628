// Typing pace. One table of cases: 100 digits at the default 20 ms key delay on `us`, and
// 1,000 characters of mixed text (capitals, umlauts, dead-key accents, symbols) on `de` at key
// delay 0 and 20 ms. Each case runs once through the recording injector (the typing stage
// alone) and once through XTEST into a private Xvfb server, where a window of this process
// receives the keys. The counters carry the figures: characters and key events per second, the
// mean time per key event (at delay 0 the whole overhead of one key; otherwise against the
// delay), and the worst single interval.
#include <benchmark/benchmark.h>
#include <poll.h>

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/platform/RecordingKeyInjector.h"
#include "quorvel/platform/X11KeyInjector.h"
#include "quorvel/platform/XKeyRecorder.h"
#include "quorvel/platform/XvfbServer.h"
#include "quorvel/worker/KeyInjector.h"
#include "quorvel/worker/Keybot.h"

namespace {

using quorvel::config::ConfigHelper;
using quorvel::platform::RecordingKeyInjector;
using quorvel::platform::test::XKeyRecorder;
using quorvel::platform::test::XvfbServer;
using quorvel::worker::Keybot;
using quorvel::worker::KeyInjector;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

struct Case {
    const char* name;
    const char* layout;
    ConfigHelper::KeyboardType keyboard;
    ConfigHelper::KeyMapType keyMap;
    bool mixed;  // else digits
    int characters;
    int keyDelay;
};

const Case CASES[] = {
    {"us digits 100 @20ms", "us", ConfigHelper::KeyboardType::QUERTY,
     ConfigHelper::KeyMapType::NUMERIC, false, 100, 20},
    {"de mixed 1000 @0ms", "de", ConfigHelper::KeyboardType::GERMAN,
     ConfigHelper::KeyMapType::ALPHANUMERIC_COMPLETE, true, 1000, 0},
    {"de mixed 1000 @20ms", "de", ConfigHelper::KeyboardType::GERMAN,
     ConfigHelper::KeyMapType::ALPHANUMERIC_COMPLETE, true, 1000, 20},
};
constexpr int CASE_COUNT = static_cast<int>(sizeof CASES / sizeof CASES[0]);

// The case's text, made only of characters its layout table can type.
QString textFor(const Case& c) {
    if (!c.mixed) {
        QString text;
        for (int i = 0; i < c.characters; ++i) text += QChar(u'0' + i % 10);
        return text;
    }
    const QString sample = QStringLiteral(
        "Probe Nr. 47: Wägung 12,50 kg; Größe ÄÖÜ äöüß (Soll=Ist?) café é è ê "
        "#1/2 + 3*4 - 5% & \"Zoë\" <ok> [x] {y} @Müller ~ $ | ");
    const ConfigHelper::Keymap keymap = ConfigHelper::getKeymap(c.keyboard, c.keyMap);
    QString typable;
    for (const QChar ch : sample)
        if (keymap.count(ch.unicode()) != 0)
            typable += ch;
    QString text;
    while (text.size() < c.characters) text += typable;
    text.truncate(c.characters);
    return text;
}

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

void report(benchmark::State& state, const Case& c, double ms, std::size_t events,
            const std::vector<Clock::time_point>& stamps) {
    double worst = 0;
    for (std::size_t i = 1; i < stamps.size(); ++i)
        worst = std::max(worst, Millis(stamps[i] - stamps[i - 1]).count());
    const double perEvent = ms / static_cast<double>(std::max<std::size_t>(events, 1));
    state.SetLabel(c.name);
    state.counters["chars_per_s"] = 1000.0 * c.characters / ms;
    state.counters["keys_per_s"] = 1000.0 * static_cast<double>(events) / ms;
    state.counters["key_events"] = static_cast<double>(events);
    // Each event is followed by one delay, so the whole run is events x delay plus overhead.
    state.counters["ms_per_event"] = perEvent;
    if (c.keyDelay > 0)
        state.counters["deviation_pct"] = 100.0 * std::abs(perEvent - c.keyDelay) / c.keyDelay;
    state.counters["worst_interval_ms"] = worst;
}

void BM_TypingPace_Recording(benchmark::State& state) {
    const Case& c = CASES[state.range(0)];
    const QString text = textFor(c);
    for (auto _ : state) {
        auto timed = std::make_shared<TimedInjector>(std::make_shared<RecordingKeyInjector>(true));
        Keybot keybot(c.keyMap, c.keyboard, ConfigHelper::OutputTerminator::NONE,
                      ConfigHelper::StartWith::NONE, c.keyDelay, timed);
        const auto start = Clock::now();
        keybot.typeString(text);
        report(state, c, Millis(Clock::now() - start).count(), timed->stamps.size(), timed->stamps);
    }
}
BENCHMARK(BM_TypingPace_Recording)
    ->DenseRange(0, CASE_COUNT - 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The injector the program uses, given to the typing stage as it is; the key events are
// counted and stamped where a desktop's window gets them.
void BM_TypingPace_XTest(benchmark::State& state) {
    const Case& c = CASES[state.range(0)];
    if (!XvfbServer::available()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    const QString text = textFor(c);
    try {
        XvfbServer server;
        server.setKeyboardLayout(c.layout);
        XKeyRecorder recorder(server.displayName());
        auto injector = std::make_shared<quorvel::platform::X11KeyInjector>(server.displayName());
        for (auto _ : state) {
            recorder.clear();
            Keybot keybot(c.keyMap, c.keyboard, ConfigHelper::OutputTerminator::NONE,
                          ConfigHelper::StartWith::NONE, c.keyDelay, injector);
            // The window takes its keys as they come, so each is stamped on arrival.
            std::atomic<bool> typed{false};
            const auto start = Clock::now();
            Clock::time_point end;
            std::thread typist([&] {
                keybot.typeString(text);
                end = Clock::now();
                typed = true;
            });
            const std::string expected = text.toStdString();
            const auto deadline = Clock::now() + std::chrono::minutes(5);
            while (!(typed && recorder.text() == expected) && Clock::now() < deadline) {
                pollfd p{recorder.connectionFd(), POLLIN, 0};
                ::poll(&p, 1, 10);
                recorder.takeArrived();
            }
            typist.join();
            const double ms = Millis(end - start).count();
            if (recorder.waitForText(expected) != expected) {
                state.SkipWithError(("typed \"" + recorder.text() + "\"").c_str());
                return;
            }
            std::vector<Clock::time_point> stamps;
            for (const auto& e : recorder.events()) stamps.push_back(e.arrived);
            report(state, c, ms, stamps.size(), stamps);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}
BENCHMARK(BM_TypingPace_XTest)
    ->DenseRange(0, CASE_COUNT - 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
