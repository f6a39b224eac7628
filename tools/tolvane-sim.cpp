// tolvane-sim: plays a serial instrument. Sends lines on a pseudo-terminal of its own (or on a
// given device) so the application can be tried without hardware.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "SimOptions.h"

namespace {

using Clock = std::chrono::steady_clock;

// Signals only write a byte here; every wait of the simulator also watches this pipe, so a
// Ctrl-C ends any wait at once.
int stopPipe[2] = {-1, -1};
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onStopSignal(int) {
    stopRequested = 1;
    int saved = errno;
    if (::write(stopPipe[1], "x", 1) < 0) {
        // Nothing to do: the flag alone still stops the next wait.
    }
    errno = saved;
}

void installSignals() {
    if (::pipe(stopPipe) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    for (int fd : stopPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocking tcdrain must return on Ctrl-C
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// The far end failed (device unplugged, socat gone).
class LineLost : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

speed_t speedFor(int baud) {
    switch (baud) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            throw std::invalid_argument("--baud: " + std::to_string(baud) +
                                        " is not a rate this system supports");
    }
}

// Raw 8N1, so no byte of a line is translated on the way out.
void makeRaw(int fd, int baud) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        throw std::runtime_error(errnoText("tcgetattr"));
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (baud > 0) {
        speed_t s = speedFor(baud);
        ::cfsetispeed(&t, s);
        ::cfsetospeed(&t, s);
    }
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        throw std::runtime_error(errnoText("tcsetattr"));
    }
}

class Simulator {
  public:
    Simulator(const tools::SimOptions& options, std::vector<std::string> lines)
        : options_(options), lines_(std::move(lines)), terminator_(options.terminatorBytes()) {}

    ~Simulator() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    void openPty() {
        int master = -1;
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            throw std::runtime_error(errnoText("openpty"));
        }
        fd_ = master;
        path_ = name;
        pty_ = true;
        try {
            // The line settings belong to the terminal, so they stay when our slave is closed.
            makeRaw(slave, options_.baud);
        } catch (...) {
            ::close(slave);
            throw;
        }
        // Without a slave of our own, the master reports a hang-up exactly while no reader has
        // the port open; that is how --wait-reader sees a reader come and go.
        ::close(slave);
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
    }

    void openDevice(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            throw std::runtime_error(errnoText("cannot open " + path));
        }
        path_ = path;
        pty_ = false;
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
            // A plain file never answers; reading it back would only echo our own lines.
            canRead_ = false;
        }
        if (::isatty(fd_)) {
            makeRaw(fd_, options_.baud);
        } else if (options_.baud > 0) {
            std::cout << "Note: " << path << " is no terminal; --baud is ignored" << std::endl;
        }
    }

    const std::string& path() const { return path_; }

    // Returns the exit code: 0 when all lines went out or a stop was requested.
    int run() {
        bool first = true;
        for (long round = 0; options_.repeat == 0 || round < options_.repeat; ++round) {
            for (const std::string& line : lines_) {
                if (!first && !pause(options_.intervalMs)) {
                    return stopped();
                }
                first = false;
                if (options_.waitsForReader() && !waitForReader()) {
                    return stopped();
                }
                const std::string bytes = line + terminator_;
                if (!sendAll(bytes)) {
                    return stopped();
                }
                if (!options_.quiet) {
                    std::cout << "sent: " << tools::readableBytes(bytes) << std::endl;
                }
            }
        }
        drain();
        std::cout << "All lines sent." << std::endl;
        return 0;
    }

  private:
    int stopped() {
        std::cout << "Stopped." << std::endl;
        return 0;
    }

    bool readerAttached() const {
        pollfd p{fd_, 0, 0};
        if (::poll(&p, 1, 0) < 0) {
            return true;
        }
        return (p.revents & POLLHUP) == 0;
    }

    void noteReader(bool attached) {
        if (!pty_ || attached == readerKnown_) {
            return;
        }
        readerKnown_ = attached;
        if (attached) {
            std::cout << "A reader opened " << path_ << std::endl;
        } else if (everAttached_) {
            std::cout << "The reader closed " << path_ << std::endl;
        }
        everAttached_ = everAttached_ || attached;
    }

    void echo(const char* data, size_t n) {
        std::cout << "reader sent: " << tools::readableBytes(std::string_view(data, n))
                  << std::endl;
    }

    // Reads whatever the other side sent; false when there is nothing (more) to read now.
    bool readBack() {
        char buf[4096];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            echo(buf, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return false;
        }
        if (pty_) {
            // EIO on the master: no one has the slave open.
            noteReader(false);
            return false;
        }
        if (n == 0) {
            throw LineLost(path_ + ": the device was closed");
        }
        throw LineLost(errnoText(path_));
    }

    // Waits up to ms, printing what the reader sends meanwhile; false once a stop is requested.
    bool pause(int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!stopRequested) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) {
                return true;
            }
            pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {fd_, POLLIN, 0}};
            nfds_t count = canRead_ ? 2 : 1;
            int timeout = static_cast<int>(left);
            if (pty_ && !readerAttached()) {
                // The master reports the hang-up at once and for as long as no one listens;
                // look again now and then instead of spinning on it.
                noteReader(false);
                count = 1;
                timeout = std::min(timeout, 50);
            }
            int r = ::poll(fds, count, timeout);
            if (r < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw std::runtime_error(errnoText("poll"));
            }
            if (count == 2 && fds[1].revents != 0) {
                if (pty_) {
                    noteReader(true);
                }
                bool gotData = (fds[1].revents & POLLIN) && readBack();
                if (!pty_ && !gotData && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
                    throw LineLost(path_ + ": the device hung up");
                }
            }
        }
        return false;
    }

    bool waitForReader() {
        if (!readerAttached()) {
            noteReader(false);
            std::cout << "Waiting for a reader to open " << path_ << " ..." << std::endl;
            while (!readerAttached()) {
                if (!pause(50)) {
                    return false;
                }
            }
        }
        if (readerKnown_) {
            return true;
        }
        noteReader(true);
        // A reader that has just opened the port usually configures and flushes it next; give
        // it that moment so the first line is not thrown away.
        return pause(200);
    }

    bool sendAll(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            if (stopRequested) {
                return false;
            }
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // The reader does not keep up (or none is there); wait for room.
                if (!pause(20)) {
                    return false;
                }
                continue;
            }
            throw LineLost(errnoText("write to " + path_));
        }
        return true;
    }

    // Closing the master throws away whatever the reader has not read yet, so wait (a while)
    // until it has.
    void drain() {
        if (!pty_) {
            if (::isatty(fd_)) {
                ::tcdrain(fd_);
            }
            return;
        }
        if (!readerAttached()) {
            return;
        }
        int probe = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0) {
            // Opened exclusively by the reader: we cannot look, so give it a moment.
            pause(500);
            return;
        }
        // The kernel hands bytes from the master to the slave's queue a little later, so an
        // empty queue right after the last write proves nothing: look only after a moment, and
        // want it empty twice in a row.
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        int emptyLooks = 0;
        while (emptyLooks < 2 && Clock::now() < deadline && pause(100)) {
            int waiting = 0;
            if (::ioctl(probe, FIONREAD, &waiting) != 0) {
                break;
            }
            emptyLooks = waiting > 0 ? 0 : emptyLooks + 1;
        }
        ::close(probe);
    }

    const tools::SimOptions& options_;
    std::vector<std::string> lines_;
    std::string terminator_;
    int fd_ = -1;
    std::string path_;
    bool pty_ = false;
    bool canRead_ = true;
    bool readerKnown_ = false;
    bool everAttached_ = false;
};

const char* const helpText = R"(Usage: tolvane-sim [OPTIONS]

Plays a serial instrument: sends text lines, each followed by a terminator, on a
pseudo-terminal of its own or on a given device. The first line printed is
"PORT <path>", the port to open in the application; bytes the application sends
back are shown as "reader sent: ...".

What to send (at least one; --line and --file may be repeated and mixed):
  --line TEXT         send TEXT; \r \n \t \\ and \xHH stand for those bytes
  --file FILE         send each line of FILE (escapes as for --line; a CR at the
                      end of a line of the file is dropped)
  --preset NAME       send the sample lines of an instrument, with its terminator;
                      --line/--file replace its lines, --terminator its terminator.
                      Presets:)";

const char* const helpText2 = R"(

How to send:
  --terminator T      bytes after each line: a byte value 0..255, or cr, lf,
                      crlf, none (default 13 = cr)
  --interval MS       pause between lines in milliseconds (default 1000)
  --repeat N          times through the list of lines (default 1; 0 = forever)

Where to send:
  (default)           a new pseudo-terminal; its path follows "PORT "
  --device PATH       an existing device instead, e.g. a real serial port or one
                      end of a socat pair; it is set to raw 8N1
  --baud RATE         line speed for the device (e.g. 9600); default: unchanged
  --wait-reader       wait until a program opens the pseudo-terminal before each
                      line (default with the pseudo-terminal; not with --device)
  --no-wait-reader    send on schedule even when no one listens

Other:
  -q, --quiet         do not print each line sent
  -h, --help          show this help

Ctrl-C (SIGINT, SIGTERM) stops and exits with 0; bad arguments exit with 2, a
failed or lost device with 1.
)";

void printHelp() {
    std::cout << helpText;
    for (const tools::Preset& p : tools::presets()) {
        std::cout << "\n                        " << p.name << ": " << p.description;
    }
    std::cout << helpText2;
}

}  // namespace

int main(int argc, char** argv) {
    tools::SimOptions options;
    std::vector<std::string> lines;
    try {
        options = tools::parseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            printHelp();
            return 0;
        }
        lines = tools::loadLines(options);
        if (options.baud > 0) {
            speedFor(options.baud);
        }
    } catch (const std::invalid_argument& e) {
        std::cerr << "tolvane-sim: " << e.what() << "\nTry 'tolvane-sim --help'." << std::endl;
        return 2;
    }

    try {
        installSignals();
        Simulator sim(options, std::move(lines));
        if (options.device.empty()) {
            sim.openPty();
            std::cout << "PORT " << sim.path() << "\nSimulated instrument on " << sim.path()
                      << "; open that port to receive its lines. Ctrl-C stops." << std::endl;
        } else {
            sim.openDevice(options.device);
            std::cout << "PORT " << sim.path() << "\nSending to " << sim.path() << ". Ctrl-C stops."
                      << std::endl;
        }
        return sim.run();
    } catch (const LineLost& e) {
        std::cerr << "tolvane-sim: " << e.what() << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "tolvane-sim: " << e.what() << std::endl;
        return 1;
    }
}
