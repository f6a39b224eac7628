// tolvane-reader: opens a port with the serial library and prints each line it receives, so
// the simulator (or a real instrument) can be checked end to end before the main window exists.

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <climits>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SimOptions.h"
#include "serialkit/IOException.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPortLocal.h"

namespace {

const char* const helpText = R"(Usage: tolvane-reader --port PATH [OPTIONS]

Opens a serial port and prints each line received as "line N: " and the line in
readable form (printable ASCII as it is, other bytes as <code>, terminator
included), e.g. "line 1: ST,GS  12.50 kg<13>".

  --port PATH         the port to open, e.g. /dev/ttyUSB0 or the PORT path of
                      tolvane-sim (required)
  --baud RATE         bit rate, one of 110 150 300 600 1200 2400 4800 9600
                      19200 38400 57600 115200 230400 460800 921600
                      (default 9600); 8 data bits, no parity, 1 stop bit
  --terminator T      the byte that ends a line: 0..255, cr or lf (default 13)
  --count N           exit after N lines
  -h, --help          show this help

Ctrl-C (SIGINT, SIGTERM) stops and exits with 0; bad arguments exit with 2; a
port that cannot be opened or goes away prints the reason and exits with 1.
)";

// Ctrl-C arrives on a thread of its own (the signals are blocked everywhere else), which may
// call ordinary code: it raises the flag and wakes the read wait.
struct StopState {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    serialkit::SerialPortLocal* port = nullptr;
};

void watchSignals(StopState& state, sigset_t set) {
    int sig = 0;
    sigwait(&set, &sig);
    state.stop = true;
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.port) {
        state.port->wakeUp();
    }
}

class PortRegistration {
  public:
    PortRegistration(StopState& state, serialkit::SerialPortLocal& port) : state_(state) {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.port = &port;
    }
    ~PortRegistration() {
        std::lock_guard<std::mutex> lock(state_.mutex);
        state_.port = nullptr;
    }
    PortRegistration(const PortRegistration&) = delete;
    PortRegistration& operator=(const PortRegistration&) = delete;

  private:
    StopState& state_;
};

}  // namespace

int main(int argc, char** argv) {
    tools::ReaderOptions options;
    int bitRateIndex = -1;
    try {
        options = tools::parseReaderOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::cout << helpText;
            return 0;
        }
        bitRateIndex = serialkit::SerialConfig::getBitRateIndex(options.baud);
        if (bitRateIndex < 0) {
            throw std::invalid_argument("--baud: " + std::to_string(options.baud) +
                                        " is not a rate the serial library knows");
        }
    } catch (const std::invalid_argument& e) {
        std::cerr << "tolvane-reader: " << e.what() << "\nTry 'tolvane-reader --help'."
                  << std::endl;
        return 2;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    // A job started in the background of a script inherits Ctrl-C as ignored, and an ignored
    // signal never reaches sigwait; Ctrl-C must stop the reader wherever it runs.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ::signal(sig, SIG_DFL);
    }
    // Blocked before any thread starts, so every thread the library starts inherits it.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    StopState state;
    std::thread(watchSignals, std::ref(state), stopSignals).detach();

    std::string pending;
    try {
        serialkit::SerialConfig config(options.port);
        config.setBitRate(bitRateIndex);
        config.setDataBits(serialkit::SerialConfig::LN_8BITS);
        config.setParity(serialkit::SerialConfig::PY_NONE);
        config.setStopBits(serialkit::SerialConfig::ST_1BITS);
        serialkit::SerialPortLocal port(config);
        PortRegistration registration(state, port);
        std::cout << "Reading " << options.port << " at " << options.baud
                  << " baud; lines end at byte " << options.terminator << ". Ctrl-C stops."
                  << std::endl;

        long lines = 0;
        auto countReached = [&] { return options.count != 0 && lines >= options.count; };
        // Takes bytes while they wait, up to `limit`, until the count is reached.
        auto takeWaiting = [&](bool stopOnSignal, long limit) {
            int b;
            while (limit-- > 0 && !countReached() && !(stopOnSignal && state.stop) &&
                   (b = port.getByte()) >= 0) {
                pending += static_cast<char>(b);
                if (b == options.terminator) {
                    std::cout << "line " << ++lines << ": " << tools::readableBytes(pending)
                              << std::endl;
                    pending.clear();
                }
            }
        };
        while (!state.stop && !countReached()) {
            // A generous time-out only as a safety net; Ctrl-C wakes the wait at once.
            if (port.waitForData(1000)) {
                takeWaiting(true, LONG_MAX);
            }
        }
        // What had already arrived when Ctrl-C came is still shown; the bound keeps a
        // chattering device from holding the exit up.
        takeWaiting(false, 65536);
        if (!pending.empty()) {
            std::cout << "unterminated: " << tools::readableBytes(pending) << std::endl;
        }
        port.close();
    } catch (const serialkit::IOException& e) {
        if (!pending.empty()) {
            std::cout << "unterminated: " << tools::readableBytes(pending) << std::endl;
        }
        std::cerr << "tolvane-reader: " << e.what() << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "tolvane-reader: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
