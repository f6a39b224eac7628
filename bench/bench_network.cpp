// The same instrument lines read through the port object straight from a pseudo-terminal and
// through a serial device server (ser2net, RFC 2217 over loopback) in front of one: lines per
// second, and how long one byte takes from the instrument to getData() on an idle port.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPortLocal.h"
#include "support/DeviceServer.h"
#include "support/Pty.h"

#include "PtyFeeder.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The first argument of every run: which way the port reaches the instrument.
constexpr int64_t kPty = 0;
constexpr int64_t kRfc2217 = 1;
// ser2net waits for more characters before it sends (about 3 ms at 9600 bit/s); without that
// wait the figure is the network path's own.
constexpr int64_t kRfc2217NoCharDelay = 2;

// The instrument's line and the port the program reads it through. Members go in reverse:
// the port closes before the server, the server before the line.
struct Link {
    testsupport::Pty pty;
    std::unique_ptr<testsupport::DeviceServer> server;
    std::unique_ptr<serialkit::SerialPortLocal> port;
};

// Opens the run's way to the instrument; nullptr with the run skipped when that cannot be done.
std::unique_ptr<Link> openLink(benchmark::State& state) {
    const bool network = state.range(0) != kPty;
    const bool charDelay = state.range(0) == kRfc2217;
    state.SetLabel(!network ? "pty" : charDelay ? "rfc2217" : "rfc2217, no char delay");
    if (network && testsupport::DeviceServer::program().empty()) {
        state.SkipWithError("ser2net is not installed");
        return nullptr;
    }
    try {
        auto link = std::make_unique<Link>();
        std::string name = link->pty.slavePath();
        if (network) {
            link->server = std::make_unique<testsupport::DeviceServer>(name, "", charDelay);
            name = link->server->url();
        }
        link->port = std::make_unique<serialkit::SerialPortLocal>(serialkit::SerialConfig(name));
        return link;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

// A scale's output, "ST,GS,+0012.34 kg" and CR LF, the value changing from line to line.
std::string instrumentLines(int64_t count) {
    std::string out;
    out.reserve(static_cast<std::size_t>(count) * 20);
    char line[32];
    for (int64_t i = 0; i < count; ++i) {
        const int centigrams = 1234 + static_cast<int>(i % 97);
        std::snprintf(line, sizeof line, "ST,GS,+%04d.%02d kg\r\n", centigrams / 100,
                      centigrams % 100);
        out += line;
    }
    return out;
}

void BM_Lines(benchmark::State& state) {
    auto link = openLink(state);
    if (!link) {
        return;
    }
    const int64_t count = state.range(1);
    const std::string bytes = instrumentLines(count);
    std::vector<std::uint8_t> buf(4096);
    for (auto _ : state) {
        bench::PtyFeeder writer(link->pty, bytes);
        int64_t lines = 0;
        std::string failure;
        try {
            const auto deadline = Clock::now() + 60s;
            while (lines < count && Clock::now() < deadline) {
                link->port->waitForData(100);
                const int n = link->port->getData(buf);
                lines += std::count(buf.begin(), buf.begin() + std::max(n, 0), '\n');
            }
        } catch (const std::exception& e) {
            failure = e.what();
        }
        writer.join();
        if (lines != count) {
            state.SkipWithError(("lines lost: " + std::to_string(lines) + " of " +
                                 std::to_string(count) + " " + failure + writer.failure())
                                    .c_str());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Lines)
    ->ArgNames({"rfc2217", "lines"})
    ->Args({kPty, 100000})
    ->Args({kRfc2217, 100000})
    ->Args({kRfc2217NoCharDelay, 100000})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_FirstByte(benchmark::State& state) {
    auto link = openLink(state);
    if (!link) {
        return;
    }
    const std::string byte = "x";
    std::uint8_t buf[64];
    std::vector<double> micros;
    for (auto _ : state) {
        // The pause lets the reader fall asleep in waitForData before the byte goes out.
        bench::PtyFeeder writer(link->pty, byte, 2ms);
        int n = 0;
        Clock::time_point arrived;
        std::string failure;
        try {
            const auto deadline = Clock::now() + 5s;
            while (n == 0 && Clock::now() < deadline) {
                link->port->waitForData(1000);
                n = link->port->getData(buf);
            }
            arrived = Clock::now();
        } catch (const std::exception& e) {
            failure = e.what();
        }
        writer.join();
        if (n != 1) {
            state.SkipWithError(("the byte did not arrive alone within 5 s " + failure +
                                 writer.failure())
                                    .c_str());
            return;
        }
        const std::chrono::duration<double, std::micro> took = arrived - writer.written();
        micros.push_back(took.count());
        state.SetIterationTime(took.count() / 1e6);
    }
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double m : micros) {
        sum += m;
    }
    const auto at = [&](double q) {
        return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1) + 0.5)];
    };
    state.counters["median_us"] = at(0.5);
    state.counters["mean_us"] = sum / static_cast<double>(micros.size());
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = micros.back();
}
BENCHMARK(BM_FirstByte)
    ->ArgName("rfc2217")
    ->Arg(kPty)
    ->Arg(kRfc2217)
    ->Arg(kRfc2217NoCharDelay)
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
