// Throughput of reading a byte stream from a pseudo-terminal through the port object,
// one getByte() per byte, as the reading loop does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPortLocal.h"

namespace {

struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string path;
    PtyPair() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        path = name;
    }
    ~PtyPair() {
        close(master);
        close(slave);
    }
};

void BM_GetByteStream(benchmark::State& state) {
    const std::size_t total = static_cast<std::size_t>(state.range(0));
    PtyPair pty;
    serialkit::SerialPortLocal port{serialkit::SerialConfig(pty.path)};
    std::vector<char> chunk(4096, 'x');
    for (auto _ : state) {
        std::atomic<bool> done{false};
        std::thread writer([&] {
            std::size_t sent = 0;
            while (sent < total) {
                std::size_t n = std::min(chunk.size(), total - sent);
                ssize_t w = write(pty.master, chunk.data(), n);
                if (w > 0) {
                    sent += static_cast<std::size_t>(w);
                } else {
                    pollfd p{pty.master, POLLOUT, 0};
                    poll(&p, 1, 10);
                }
            }
            done = true;
        });
        std::size_t received = 0;
        while (received < total) {
            int b = port.getByte();
            if (b >= 0) {
                ++received;
            } else {
                port.waitForData(100);
            }
        }
        writer.join();
        benchmark::DoNotOptimize(received);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(total));
}
BENCHMARK(BM_GetByteStream)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
