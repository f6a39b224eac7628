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
#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "SimOptions.h"
#include "SimPresets.h"

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

tcflag_t dataBitsFlag(int bits) {
    switch (bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

// Raw, so no byte of a line is translated on the way out; the instrument's framing (8N1
// without one).
void makeRaw(int fd, const tools::LineSettings& line) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        throw std::runtime_error(errnoText("tcgetattr"));
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= dataBitsFlag(line.dataBits);
    switch (line.parity) {
        case 'O':
            t.c_cflag |= PARENB | PARODD;
            break;
        case 'E':
            t.c_cflag |= PARENB;
            break;
        case 'M':
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 'S':
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (line.stopBits == 2) {
        t.c_cflag |= CSTOPB;
    }
    if (line.baud > 0) {
        speed_t s = speedFor(line.baud);
        ::cfsetispeed(&t, s);
        ::cfsetospeed(&t, s);
    }
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        throw std::runtime_error(errnoText("tcsetattr"));
    }
}

class Simulator {
  public:
    // `nextRound` gives the lines of one round (one pass through the list, one weighing).
    Simulator(const tools::SimOptions& options, std::function<std::vector<std::string>()> nextRound)
        : options_(options),
          nextRound_(std::move(nextRound)),
          command_(options.dataCommand()),
          answersOnly_(options.answersOnly()) {}

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
            makeRaw(slave, options_.lineSettings());
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
            if (answersOnly_) {
                throw std::runtime_error(path + " is a plain file: no data command can ever come "
                                                "from it; leave out --answer-only and --command");
            }
        }
        if (::isatty(fd_)) {
            makeRaw(fd_, options_.lineSettings());
        } else if (options_.baud > 0) {
            std::cout << "Note: " << path << " is no terminal; --baud is ignored" << std::endl;
        }
    }

    const std::string& path() const { return path_; }
    bool onPseudoTerminal() const { return pty_ || path_.rfind("/dev/pts/", 0) == 0; }

    // Returns the exit code: 0 when all lines went out or a stop was requested.
    int run() {
        bool first = true;
        for (long round = 0; options_.repeat == 0 || round < options_.repeat; ++round) {
            for (const std::string& line : nextRound_()) {
                bool answer = false;
                if (answersOnly_) {
                    // An instrument that is only asked sends nothing before the question.
                    if (!waitForCommand()) {
                        return stopped();
                    }
                    answer = true;
                } else {
                    if (!first) {
                        // A data command cuts the pause short: it is answered at once.
                        awaitingCommand_ = !command_.empty();
                        const bool goOn = pause(options_.intervalMs);
                        awaitingCommand_ = false;
                        if (!goOn) {
                            return stopped();
                        }
                        if (pendingCommands_ > 0) {
                            --pendingCommands_;
                            answer = true;
                        }
                    }
                    if (options_.waitsForReader() && !waitForReader()) {
                        return stopped();
                    }
                }
                first = false;
                const std::string bytes = options_.framed(line);
                if (!sendAll(bytes)) {
                    return stopped();
                }
                if (!options_.quiet) {
                    std::cout << "sent: " << tools::readableBytes(bytes);
                    if (answer) {
                        std::cout << " (answer to " << tools::readableBytes(command_) << ")";
                    }
                    std::cout << std::endl;
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

    // Counts each data command in what the reader sent, also one split over several reads;
    // bytes around the commands are of no interest.
    void noteCommands(std::string_view data) {
        if (command_.empty()) {
            return;
        }
        received_.append(data);
        size_t at = 0;
        while ((at = received_.find(command_)) != std::string::npos) {
            ++pendingCommands_;
            received_.erase(0, at + command_.size());
        }
        if (received_.size() >= command_.size()) {
            received_.erase(0, received_.size() - (command_.size() - 1));
        }
    }

    bool waitForCommand() {
        awaitingCommand_ = true;
        while (pendingCommands_ == 0) {
            if (!pause(200)) {
                awaitingCommand_ = false;
                return false;
            }
        }
        awaitingCommand_ = false;
        --pendingCommands_;
        return true;
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
            noteCommands(std::string_view(buf, static_cast<size_t>(n)));
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
            if (awaitingCommand_ && pendingCommands_ > 0) {
                // A question is waiting for its answer.
                return true;
            }
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
        // it that moment (generously: a busy machine may be slow to get there) so the first
        // line is not thrown away.
        return pause(500);
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
    std::function<std::vector<std::string>()> nextRound_;
    std::string command_;
    const bool answersOnly_;
    std::string received_;
    long pendingCommands_ = 0;
    bool awaitingCommand_ = false;
    int fd_ = -1;
    std::string path_;
    bool pty_ = false;
    bool canRead_ = true;
    bool readerKnown_ = false;
    bool everAttached_ = false;
};

const char* const helpText = R"(Usage: tolvane-sim [OPTIONS]

Plays a serial instrument: sends lines, each followed by a terminator, on a
pseudo-terminal of its own or on a given device. The first line printed is
"PORT <path>", the port to open in Tolvane; bytes Tolvane sends back are shown
as "reader sent: ...".

What to send (one of these; --line and --file may be repeated and mixed):
  --preset NAME       an instrument preset of Tolvane: sends its sample lines,
                      then, for some makers, lines their instruments send in
                      other layouts (status, header and overload lines among
                      them), each with the preset's input terminator (unless
                      the line already ends in it), and first prints the line
                      settings to choose in Tolvane and the value Tolvane reads
                      from each line ("no value": nothing is typed). NAME is
                      the preset's constant name in any case (mitutoyo,
                      kern_mps, and_em, ...); "scale" is the GENERIC preset.
                      --line/--file replace its lines, --terminator its
                      terminator.
  --list-presets      list the presets and exit (also: --preset list)
  --line TEXT         send TEXT; \r \n \t \\ and \xHH stand for those bytes
  --file FILE         send each line of FILE (escapes as for --line; a CR at the
                      end of a line of the file is dropped)
  --drift             a scale settling: readings creep towards a weight, the
                      same value then comes several times (stable), then the
                      next weight; in the format of --preset (the scale format
                      without one), to try Tolvane's ignore filter. --repeat
                      counts weighings.
  --seed N            start --drift from N (0..4294967295), for the same
                      readings every run; without it a seed is picked and shown
  --raw               send the bytes of --line and --file exactly as escaped,
                      with no terminator (a file's line breaks are not sent)

Data command:
  A preset with a data command (MITUTOYO: 1<CR>) sends on the --interval timer
  and also answers each data command it receives at once with the next line.
  Tolvane itself never sends the command; a program of your own may.
  --answer-only       send only as answers to the data command, nothing on the
                      timer (as the instrument does when it is only asked)
  --command TEXT      answer TEXT only (escapes as for --line), nothing on the
                      timer; works with --line and --file too
  --no-command        ignore the preset's data command

How to send:
  --terminator T      bytes after each line: a byte value 0..255, or cr, lf,
                      crlf, none (default: the preset's, else 13 = cr)
  --interval MS       pause between lines in milliseconds (default 1000)
  --repeat N          times through the list of lines (default 1; 0 = forever)

Where to send:
  (default)           a new pseudo-terminal; its path follows "PORT "
  --device PATH       an existing device instead, e.g. a real serial port or one
                      end of a socat pair; it is set to raw, with the preset's
                      data bits, parity, stop bits and speed (8N1 without one)
  --baud RATE         line speed for the device (e.g. 9600); default: the
                      preset's, else unchanged
  --wait-reader       wait until a program opens the pseudo-terminal before each
                      line (default with the pseudo-terminal; not with --device)
  --no-wait-reader    send on schedule even when no one listens

Other:
  -q, --quiet         do not print each line sent
  -h, --help          show this help

Examples:
  tolvane-sim --preset kern_mps --interval 500 --repeat 0
      Kern MPS sample lines twice a second until Ctrl-C.
  tolvane-sim --drift --preset and --seed 7 --repeat 0
      an A&D balance settling on one weight after another.
  tolvane-sim --raw --line 'ST,GS  12.' --line '50 kg\r' --interval 300
      one line that arrives in two pieces.
  tolvane-sim --preset mitutoyo --answer-only --repeat 0
      a Mitutoyo gauge that sends a reading only for each 1<CR> it receives.

Ctrl-C (SIGINT, SIGTERM) stops and exits with 0; bad arguments exit with 2, a
failed or lost device with 1.
)";

void printHelp() {
    std::cout << helpText;
}

// What the user needs to set in Tolvane, and what it should read, before the first line.
void describe(const tools::SimOptions& options, const std::vector<std::string>& lines,
              std::uint32_t seed, bool pseudoTerminal) {
    const std::string command = options.dataCommand();
    const tools::Preset* preset = options.presetData ? &*options.presetData : nullptr;
    if (preset) {
        for (const std::string& text : preset->settingsText) {
            std::cout << text << std::endl;
        }
        const tools::LineSettings line = options.lineSettings();
        if (pseudoTerminal && (line.dataBits != 8 || line.parity != 'N')) {
            // Linux keeps every pseudo-terminal at 8 bits without parity, and a port that
            // checks its settings refuses to open with others.
            std::cout << "On this pseudo-terminal choose 8 data bits and parity NONE instead: it "
                         "carries no other framing (a real serial line takes the preset's)."
                      << std::endl;
        }
    }
    if (!command.empty() && options.answersOnly()) {
        std::cout << "Data command " << tools::readableBytes(command)
                  << ": each one received is answered with the next line; nothing is sent on a "
                     "timer."
                  << std::endl;
    } else if (!command.empty()) {
        std::cout << "Data command " << tools::readableBytes(command) << ": a line every "
                  << options.intervalMs
                  << " ms, and each command received is answered at once with the next line "
                     "(--answer-only: answers only)."
                  << std::endl;
    } else if (preset && !preset->dataCommand.empty()) {
        std::cout << "Not waiting for the data command "
                  << tools::readableBytes(preset->dataCommand) << " (--no-command): a line every "
                  << options.intervalMs << " ms." << std::endl;
    }
    if (options.drift) {
        const tools::DriftFormat& format = *preset->drift;
        const long long example = 12 * format.shape.unitsPerOne();
        std::cout << "Drift with seed " << seed << " (--seed " << seed
                  << " gives the same readings again); lines like "
                  << tools::readableBytes(options.framed(format.line(example, true)))
                  << " with the weight in place of \"" << format.shape.render(example) << "\"."
                  << std::endl;
        return;
    }
    if (!preset || options.raw) {
        return;
    }
    const bool own = options.linesFromInstrument();
    if (own && !preset->ownSamples) {
        std::cout << "The preset has no sample lines of its own; these are common lines."
                  << std::endl;
    }
    std::cout << "Lines, each with the value Tolvane reads from it (before blanks are dropped and "
                 "the number settings applied):"
              << std::endl;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string bytes = options.framed(lines[i]);
        std::string value;
        if (own && i < preset->values.size()) {
            value = preset->values[i];
        } else if (preset->valueOf) {
            value = preset->valueOf(bytes);
        }
        std::cout << "  " << (i + 1) << ": " << tools::readableBytes(bytes) << "  ->  "
                  << (value.empty() ? std::string("no value")
                                    : "\"" + tools::readableBytes(value) + "\"")
                  << std::endl;
    }
}

}  // namespace

int main(int argc, char** argv) {
    tools::SimOptions options;
    std::vector<std::string> lines;
    try {
        options = tools::parseSimOptions(std::vector<std::string>(argv + 1, argv + argc),
                                         tools::instrumentPresets());
        if (options.help) {
            printHelp();
            return 0;
        }
        if (options.listPresets) {
            std::cout << tools::presetList();
            return 0;
        }
        lines = tools::loadLines(options);
        const tools::LineSettings line = options.lineSettings();
        if (line.baud > 0) {
            speedFor(line.baud);
        }
    } catch (const std::invalid_argument& e) {
        std::cerr << "tolvane-sim: " << e.what() << "\nTry 'tolvane-sim --help'." << std::endl;
        return 2;
    }

    const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();
    std::function<std::vector<std::string>()> rounds = [&lines] { return lines; };
    if (options.drift) {
        const tools::DriftFormat format = *options.presetData->drift;
        auto scale = std::make_shared<tools::DriftScale>(seed, format.shape.decimals);
        rounds = [format, scale] {
            std::vector<std::string> out;
            for (const auto& reading : scale->weighing()) {
                out.push_back(format.line(reading.units, reading.stable));
            }
            return out;
        };
    }

    try {
        installSignals();
        Simulator sim(options, rounds);
        if (options.device.empty()) {
            sim.openPty();
            std::cout << "PORT " << sim.path() << "\nSimulated instrument on " << sim.path()
                      << "; open that port to receive its lines. Ctrl-C stops." << std::endl;
        } else {
            sim.openDevice(options.device);
            std::cout << "PORT " << sim.path() << "\nSending to " << sim.path() << ". Ctrl-C stops."
                      << std::endl;
        }
        describe(options, lines, seed, sim.onPseudoTerminal());
        return sim.run();
    } catch (const LineLost& e) {
        std::cerr << "tolvane-sim: " << e.what() << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "tolvane-sim: " << e.what() << std::endl;
        return 1;
    }
}
