// The reading worker end to end on a real pseudo-terminal: throughput, latency from the
// terminator to the user-interface thread, the cost of an idle connection, and memory over a
// long run. The counters carry the figures; the timings only say how long each run took.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/config/Config.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/worker/DataLine.h"
#include "quorvel/worker/WeightWorker.h"
#include "quorvel/worker/WeightWorkerView.h"
#include "serialkit/SerialPortLocal.h"
#include "support/Pty.h"

#include "PtyFeeder.h"

namespace {

using quorvel::config::Config;
using quorvel::config::ConfigHelper;
using quorvel::config::InstrumentPresets;
using quorvel::worker::DataLine;
using quorvel::worker::WeightWorker;
using quorvel::worker::WeightWorkerView;
using Clock = std::chrono::steady_clock;

// A window that only counts; it stops the event loop it is given once `target` lines are in.
class CountingView : public WeightWorkerView {
  public:
    void eventLogAppend(const QString&) override { ++logLines; }
    void logImportantEvent(const QString& text) override {
        // The closing note about an unterminated rest (the LF after the last CR) is expected;
        // a failed line is not.
        if (text.startsWith(QStringLiteral("Error [WW]: ")) && ++lineFailures <= 3) {
            std::fprintf(stderr, "worker: %s\n", qPrintable(text));
        }
    }
    void setConnectedInGUI(bool) override {}
    void processDataLine(DataLine& line) override {
        lastLineAt = Clock::now();
        lastInstant = line.getInstant();
        ++lines;
        if (line.hasValue()) {
            ++values;
        }
        if (loop != nullptr && lines >= target) {
            loop->quit();
        }
    }
    void showWarning(const QString&, const QString&) override {}

    std::atomic<int> logLines{0};
    std::atomic<int> lineFailures{0};
    long long lines = 0;
    long long values = 0;
    long long target = 0;
    Clock::time_point lastLineAt;
    DataLine::Instant lastInstant;
    QEventLoop* loop = nullptr;
};

Config scaleSettings(const testsupport::Pty& pty,
                     ConfigHelper::Instrument instrument = ConfigHelper::Instrument::GENERIC) {
    Config c = InstrumentPresets::getDefaultConfig(instrument);
    c.setInstrument(instrument);
    c.setPort(QString::fromStdString(pty.slavePath()));
    // A pseudo-terminal carries 8 bits without parity only, whatever the preset's framing.
    c.setDataBits(3);
    c.setParity(0);
    return c;
}

// A scale's output, "ST,GS,  12.50 kg" with a changing value, each line ended the way the
// configured terminator expects (CR LF for 13, LF for 10, else the terminator alone).
std::string scaleLines(long long count, int terminator, long long first = 0) {
    std::string out;
    out.reserve(static_cast<std::size_t>(count) * 20);
    char line[64];
    for (long long i = first; i < first + count; ++i) {
        const int centigrams = 1250 + static_cast<int>(i % 97);
        std::snprintf(line, sizeof line, "ST,GS,%4d.%02d kg", centigrams / 100, centigrams % 100);
        out += line;
        if (terminator == 13) {
            out += "\r\n";
        } else {
            out += static_cast<char>(terminator);
        }
    }
    return out;
}

// A Sartorius balance's output with an ID code, "N1    +111.25507 mg " and CR LF, the value
// changing in its last digits.
std::string sartoriusLines(long long count) {
    std::string out;
    out.reserve(static_cast<std::size_t>(count) * 24);
    char line[64];
    for (long long i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "N1    +111.%05d mg \r\n",
                      25507 + static_cast<int>(i % 97));
        out += line;
    }
    return out;
}

// Runs the event loop until the view has `target` lines or the time is up; false on time-out.
bool runUntil(CountingView& view, long long target, int timeoutMs) {
    if (view.lines >= target) {
        return true;
    }
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(timeoutMs);
    view.target = target;
    view.loop = &loop;
    loop.exec();
    view.loop = nullptr;
    return view.lines >= target;
}

void runFor(int ms) {
    QEventLoop loop;
    // A coarse timer may fire 5 % early, which would shorten the idle window.
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void stop(WeightWorker& worker) {
    worker.cancel();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!worker.isDone() && Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

bool driverMissing(benchmark::State& state) {
    if (!serialkit::SerialPortLocal::isLibraryLoaded()) {
        state.SkipWithError("no native serial driver on this platform");
        return true;
    }
    return false;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::set<long> taskIds() {
    std::set<long> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] != '.') {
                ids.insert(std::stol(e->d_name));
            }
        }
        closedir(dir);
    }
    return ids;
}

// voluntary_ctxt_switches of one thread: how often it blocked, so how often it was woken.
long long voluntarySwitches(long tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string key;
    long long value = -1;
    while (status >> key) {
        if (key == "voluntary_ctxt_switches:") {
            status >> value;
            break;
        }
    }
    return value;
}

double threadCpuSeconds(long tid) {
    // The kernel's per-thread CPU clock id for a thread of this process.
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) {
        return -1;
    }
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The one thread that start() adds: the reading thread.
long readingThread(WeightWorker& worker) {
    const std::set<long> before = taskIds();
    worker.start();
    long found = -1;
    for (int attempt = 0; attempt < 100 && found < 0; ++attempt) {
        std::vector<long> added;
        for (long id : taskIds()) {
            if (before.count(id) == 0) {
                added.push_back(id);
            }
        }
        if (added.size() == 1) {
            found = added.front();
        } else if (added.size() > 1) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return found;
}

double ownCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// ---- throughput ----

void BM_WorkerThroughput(benchmark::State& state) {
    if (driverMissing(state)) {
        return;
    }
    const long long count = state.range(0);
    // 0: the generic preset on scale lines; 1: the Sartorius preset on its balance's lines.
    const bool sartorius = state.range(1) == 1;
    state.SetLabel(sartorius ? "SARTORIUS" : "GENERIC");
    double totalSeconds = 0;
    double readerCpu = 0;
    double uiCpu = 0;
    long long totalLines = 0;
    for (auto _ : state) {
        testsupport::Pty pty;
        CountingView view;
        Config settings = scaleSettings(pty, sartorius ? ConfigHelper::Instrument::SARTORIUS
                                                       : ConfigHelper::Instrument::GENERIC);
        const std::string bytes =
            sartorius ? sartoriusLines(count) : scaleLines(count, settings.getInputTerminator());
        WeightWorker worker(view, std::move(settings));
        const long reader = readingThread(worker);
        if (reader < 0) {
            stop(worker);
            state.SkipWithError("could not tell the reading thread apart");
            return;
        }
        const double reader0 = threadCpuSeconds(reader);
        const double ui0 = ownCpuSeconds();
        const auto begin = Clock::now();
        bench::PtyFeeder feeder(pty, bytes);
        const bool complete = runUntil(view, count, 120000);
        // Read while the reading thread still exists.
        readerCpu += threadCpuSeconds(reader) - reader0;
        uiCpu += ownCpuSeconds() - ui0;
        const std::string failure = feeder.failure();
        stop(worker);
        if (!complete || !failure.empty() || view.values != count || view.lineFailures > 0) {
            state.SkipWithError(("lines lost or feeding failed: " + failure).c_str());
            return;
        }
        const double s = seconds(view.lastLineAt - begin);
        state.SetIterationTime(s);
        totalSeconds += s;
        totalLines += view.lines;
    }
    const double lines = static_cast<double>(totalLines);
    state.counters["lines_per_s"] = lines / totalSeconds;
    // CPU per line of each side: what the two threads could do on cores of their own.
    state.counters["reader_us_per_line"] = 1e6 * readerCpu / lines;
    state.counters["ui_us_per_line"] = 1e6 * uiCpu / lines;
}
BENCHMARK(BM_WorkerThroughput)
    ->Args({200000, 0})
    ->Args({200000, 1})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- latency ----

void BM_WorkerLatency(benchmark::State& state) {
    if (driverMissing(state)) {
        return;
    }
    const long long samples = state.range(0);
    std::vector<double> micros;
    // The two legs: until the reading thread stamps the line, and from there to the window.
    std::vector<double> toReader;
    std::vector<double> toWindow;
    for (auto _ : state) {
        testsupport::Pty pty;
        CountingView view;
        Config settings = scaleSettings(pty);
        const int terminator = settings.getInputTerminator();
        WeightWorker worker(view, std::move(settings));
        worker.start();
        runFor(100);
        for (long long i = 0; i < samples; ++i) {
            // One line per write, the terminator its last byte (no trailing LF that would sit
            // in the next line's buffer); a gap lets the reading thread go back to waiting.
            std::string line = scaleLines(1, terminator, i);
            if (terminator == 13) {
                line.pop_back();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            const auto written = Clock::now();
            const auto writtenWall = DataLine::Clock::now();
            pty.write(line);
            if (!runUntil(view, i + 1, 5000)) {
                stop(worker);
                state.SkipWithError("a line did not arrive within 5 s");
                return;
            }
            using Micros = std::chrono::duration<double, std::micro>;
            micros.push_back(Micros(view.lastLineAt - written).count());
            toReader.push_back(Micros(view.lastInstant - writtenWall).count());
            toWindow.push_back(micros.back() - toReader.back());
        }
        stop(worker);
        state.SetIterationTime(1);
    }
    auto at = [](std::vector<double>& v, double q) {
        std::sort(v.begin(), v.end());
        const auto i = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
        return v[std::min(i, v.size() - 1)];
    };
    state.counters["median_us"] = at(micros, 0.5);
    state.counters["p99_us"] = at(micros, 0.99);
    state.counters["max_us"] = micros.back();
    state.counters["samples"] = static_cast<double>(micros.size());
    state.counters["over_2ms"] = static_cast<double>(
        std::count_if(micros.begin(), micros.end(), [](double us) { return us > 2000; }));
    state.counters["reader_p99_us"] = at(toReader, 0.99);
    state.counters["window_p99_us"] = at(toWindow, 0.99);
}
BENCHMARK(BM_WorkerLatency)
    ->Arg(2000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- idle ----

struct Usage {
    double cpuSeconds;
    long long voluntary;
};

Usage processUsage() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {s(u.ru_utime) + s(u.ru_stime), u.ru_nvcsw};
}

void BM_WorkerIdle(benchmark::State& state) {
    if (driverMissing(state)) {
        return;
    }
    const int idleMs = static_cast<int>(state.range(0));
    for (auto _ : state) {
        testsupport::Pty pty;
        CountingView view;
        WeightWorker worker(view, scaleSettings(pty));
        const long reader = readingThread(worker);
        if (reader < 0) {
            stop(worker);
            state.SkipWithError("could not tell the reading thread apart");
            return;
        }
        runFor(300);

        const Usage p0 = processUsage();
        const long long v0 = voluntarySwitches(reader);
        const double c0 = threadCpuSeconds(reader);
        const auto t0 = Clock::now();
        runFor(idleMs);
        const double wall = seconds(Clock::now() - t0);
        const Usage p1 = processUsage();
        const long long v1 = voluntarySwitches(reader);
        const double c1 = threadCpuSeconds(reader);
        stop(worker);

        state.SetIterationTime(wall);
        state.counters["process_cpu_pct"] = 100.0 * (p1.cpuSeconds - p0.cpuSeconds) / wall;
        state.counters["reader_cpu_pct"] = 100.0 * (c1 - c0) / wall;
        state.counters["reader_wakeups_per_s"] = static_cast<double>(v1 - v0) / wall;
        state.counters["process_wakeups_per_s"] =
            static_cast<double>(p1.voluntary - p0.voluntary) / wall;
    }
}
BENCHMARK(BM_WorkerIdle)->Arg(5000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- memory ----

long long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0;
    long long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_WorkerMemory(benchmark::State& state) {
    if (driverMissing(state)) {
        return;
    }
    const long long total = state.range(0);
    const long long chunk = 100000;
    for (auto _ : state) {
        testsupport::Pty pty;
        CountingView view;
        Config settings = scaleSettings(pty);
        const int terminator = settings.getInputTerminator();
        WeightWorker worker(view, std::move(settings));
        worker.start();
        // Warm-up: first-use allocations (pattern JIT, formatter, queues) are not growth.
        {
            bench::PtyFeeder feeder(pty, scaleLines(chunk / 5, terminator));
            if (!runUntil(view, chunk / 5, 60000) || !feeder.failure().empty()) {
                stop(worker);
                state.SkipWithError("warm-up lines did not arrive");
                return;
            }
        }
        const long long rssBefore = residentKb();
        long long rssMax = rssBefore;
        const auto begin = Clock::now();
        long long sent = view.lines;
        for (long long done = 0; done < total; done += chunk) {
            bench::PtyFeeder feeder(pty, scaleLines(chunk, terminator, sent));
            sent += chunk;
            if (!runUntil(view, sent, 120000) || !feeder.failure().empty()) {
                stop(worker);
                state.SkipWithError("lines did not arrive");
                return;
            }
            rssMax = std::max(rssMax, residentKb());
        }
        const double s = seconds(Clock::now() - begin);
        const long long rssAfter = residentKb();
        stop(worker);
        if (view.values != view.lines || view.lineFailures > 0) {
            state.SkipWithError("lines without a value or failed lines");
            return;
        }
        state.SetIterationTime(s);
        state.counters["lines"] = static_cast<double>(view.lines);
        state.counters["rss_before_kb"] = static_cast<double>(rssBefore);
        state.counters["rss_after_kb"] = static_cast<double>(rssAfter);
        state.counters["rss_max_kb"] = static_cast<double>(rssMax);
        state.counters["rss_growth_kb"] = static_cast<double>(rssAfter - rssBefore);
    }
}
BENCHMARK(BM_WorkerMemory)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The workers deliver through queued calls, so the runs need an event loop on this thread.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
