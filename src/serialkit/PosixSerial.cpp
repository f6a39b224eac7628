#include "serialkit/PosixSerial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

#include "serialkit/ReceiveBuffer.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/Termios2.h"

namespace {

constexpr tcflag_t kBother = 0010000;
constexpr int kInputSpeedShift = 16;

}  // namespace

namespace serialkit {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReadChunk = 4096;
// How long SerClosePort waits for calls still running on the port before leaving the
// closing of the descriptor to the last of them.
constexpr auto kCloseGrace = std::chrono::seconds(2);

std::string errnoText(int err) {
    return std::strerror(err);
}

bool noModemLines(int err) {
    return err == ENOTTY || err == EINVAL;
}

// A read error that means the device is gone for good.
bool deviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE;
}

void signalEvent(int fd) {
    std::uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void drainEvent(int fd) {
    std::uint64_t value = 0;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

int closeNoIntr(int fd) {
    return fd >= 0 ? ::close(fd) : 0;
}

// Whether another open file holds a flock on the device node (how a program that locks the
// way we do shows up when its TIOCEXCL makes our open fail with EBUSY).
bool heldByFlock(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string token;
        bool flock = false;
        bool waiter = false;
        while (in >> token) {
            if (token == "->") {
                waiter = true;
            } else if (token == "FLOCK") {
                flock = true;
            } else if (std::count(token.begin(), token.end(), ':') == 2) {
                unsigned maj = 0;
                unsigned min = 0;
                unsigned long ino = 0;
                if (flock && !waiter &&
                    std::sscanf(token.c_str(), "%x:%x:%lu", &maj, &min, &ino) == 3 &&
                    maj == major(st.st_dev) && min == minor(st.st_dev) && ino == st.st_ino) {
                    return true;
                }
                break;
            }
        }
    }
    return false;
}

int openErrorCode(int err, const std::string& path) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return NativeSerial::ERR_NO_SUCH_DEVICE;
        case ENODEV:
        case ENXIO:
            return NativeSerial::ERR_NO_DEVICE;
        case EACCES:
        case EPERM:
        case EROFS:
            return NativeSerial::ERR_PERMISSION;
        case EBUSY:
            // A device held exclusively by another program answers EBUSY too; tell the two
            // apart by whether someone holds a lock on the node.
            return heldByFlock(path) ? NativeSerial::ERR_IN_USE : NativeSerial::ERR_BUSY;
        case EISDIR:
        case ENOTTY:
            return NativeSerial::ERR_NOT_VALID;
        default:
            return err != 0 ? err : -1;
    }
}

std::optional<speed_t> standardSpeed(int rate) {
    static const std::pair<int, speed_t> table[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& [r, s] : table) {
        if (r == rate) {
            return s;
        }
    }
    return std::nullopt;
}

// Raw input and output with the line error marks on and a read that waits for one byte,
// so a non-blocking read answers EAGAIN when nothing is there and poll reports real input.
void makeRaw(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | IMAXBEL | IUCLC);
    t.c_iflag |= INPCK | PARMRK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE |
                                        ICANON | ISIG | IEXTEN | TOSTOP);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

std::string readFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

// The last part of where a sysfs link points ("ftdi_sio" for a driver link), or "".
std::string linkName(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// A USB device (not one of its interfaces): it belongs to the usb subsystem and carries the
// vendor id.
bool isUsbDevice(const fs::path& dir) {
    std::error_code ec;
    return linkName(dir / "subsystem") == "usb" && fs::exists(dir / "idVendor", ec);
}

// ttyS2 before ttyS10: digit runs compare by value.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) {
                ++ei;
            }
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) {
                ++ej;
            }
            std::string na = a.substr(i, ei - i);
            std::string nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size()) {
                return na.size() < nb.size();
            }
            if (na != nb) {
                return na < nb;
            }
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) {
        return (a.size() - i) < (b.size() - j);
    }
    return a < b;
}

}  // namespace

struct PosixSerial::Port {
    std::string path;
    int fd = -1;
    int wakeFd = -1;   // SerWakeRx
    int closeFd = -1;  // SerClosePort; never drained, so every poll sees it

    std::mutex lifeMutex;
    std::condition_variable lifeChanged;
    int users = 0;
    bool closing = false;

    // Everything below is guarded by io.
    std::mutex io;
    ReceiveBuffer rx;
    bool parityEnabled = false;
    bool lost = false;
    std::string lastError;
    int timeoutRx = 0;
    int timeoutTx = 0;
    bool haveCounts = false;
    serial_icounter_struct errCounts{};  // frame and parity at the last classification
    int overrunBase = 0;
    int bufOverrunBase = 0;

    ~Port() { closeFds(); }

    void closeFds() {
        // The exclusive flag outlives our descriptor while the other end of a pseudo-terminal
        // (or a driver) keeps the tty alive; left set, it refuses every later open by a user
        // who is not root, our own next Start among them.
        if (fd >= 0) {
            ::ioctl(fd, TIOCNXCL);
        }
        closeNoIntr(fd);
        closeNoIntr(wakeFd);
        closeNoIntr(closeFd);
        fd = wakeFd = closeFd = -1;
    }

    void fail(int err) { lastError = errnoText(err); }

    void markLost(int err) {
        lost = true;
        fail(err);
    }

    // fail for a caller that does not hold io; -1 for it to hand on.
    int lockAndFail(int err) {
        std::lock_guard<std::mutex> lock(io);
        fail(err);
        return -1;
    }

    // 1 when the driver's counter moved since the last look, which becomes the new base; 0
    // when it did not or the driver keeps no counters.
    int counterMoved(int serial_icounter_struct::*counter, int& base) {
        serial_icounter_struct now{};
        if (::ioctl(fd, TIOCGICOUNT, &now) != 0) {
            return 0;
        }
        bool moved = now.*counter != base;
        base = now.*counter;
        return moved ? 1 : 0;
    }

    // Takes one bite of what the driver holds into the buffer: 1 when something came (it may
    // decode to nothing yet), 0 when nothing waits, -1 when the read failed.
    int fill() {
        if (lost) {
            return -1;
        }
        std::uint8_t raw[kReadChunk];
        for (;;) {
            ssize_t n = ::read(fd, raw, sizeof raw);
            if (n > 0) {
                rx.append(raw, static_cast<std::size_t>(n), [this] { return lineErrorKind(); });
                return 1;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return 0;
            }
            if (n == 0) {
                // End of file on a terminal is a hang-up: the device went away.
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                    markLost(EIO);
                    return -1;
                }
                return 0;
            }
            int err = errno;
            if (deviceGone(err)) {
                markLost(err);
            } else {
                fail(err);
            }
            return -1;
        }
    }

    // The mark does not say parity or framing. A UART's error counters do: if only one of
    // them moved since the last look, that is the kind. Otherwise a line with parity is taken
    // to have a parity error and one without a framing error.
    std::uint8_t lineErrorKind() {
        std::uint8_t fallback = parityEnabled ? ReceiveBuffer::PARITY : ReceiveBuffer::FRAME;
        serial_icounter_struct now{};
        if (!haveCounts || ::ioctl(fd, TIOCGICOUNT, &now) != 0) {
            return fallback;
        }
        bool frame = now.frame != errCounts.frame;
        bool parity = now.parity != errCounts.parity;
        errCounts.frame = now.frame;
        errCounts.parity = now.parity;
        if (frame && !parity) {
            return ReceiveBuffer::FRAME;
        }
        if (parity && !frame) {
            return ReceiveBuffer::PARITY;
        }
        return fallback;
    }
};

class PosixSerial::Use {
  public:
    Use() = default;
    explicit Use(std::shared_ptr<Port> port) {
        if (!port) {
            return;
        }
        std::lock_guard<std::mutex> lock(port->lifeMutex);
        if (!port->closing) {
            ++port->users;
            port_ = std::move(port);
        }
    }
    ~Use() {
        if (!port_) {
            return;
        }
        std::lock_guard<std::mutex> lock(port_->lifeMutex);
        if (--port_->users == 0 && port_->closing) {
            port_->closeFds();
        }
        port_->lifeChanged.notify_all();
    }
    Use(Use&& other) noexcept : port_(std::move(other.port_)) {}
    Use& operator=(Use&&) = delete;

    explicit operator bool() const { return port_ != nullptr; }
    Port* operator->() const { return port_.get(); }
    Port& operator*() const { return *port_; }

  private:
    std::shared_ptr<Port> port_;
};

PosixSerial::PosixSerial(std::string sysClassTty, std::string devRoot)
    : sysClassTty_(std::move(sysClassTty)), devRoot_(std::move(devRoot)) {}

PosixSerial::~PosixSerial() {
    stopWatcher();
    std::vector<int> open;
    {
        std::lock_guard<std::mutex> lock(tableMutex_);
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            if (ports_[i]) {
                open.push_back(static_cast<int>(i));
            }
        }
    }
    for (int h : open) {
        SerClosePort(h);
    }
}

PosixSerial::Use PosixSerial::use(int handle) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> lock(tableMutex_);
        if (handle >= 0 && static_cast<std::size_t>(handle) < ports_.size()) {
            port = ports_[static_cast<std::size_t>(handle)];
        }
    }
    return Use(std::move(port));
}

template <typename Fn, typename R>
R PosixSerial::holdingPort(int handle, Fn fn, R missing) {
    Use port = use(handle);
    if (!port) {
        return missing;
    }
    return fn(*port);
}

template <typename Fn, typename R>
R PosixSerial::withPort(int handle, Fn fn, R missing) {
    return holdingPort(
        handle,
        [&fn](Port& port) -> R {
            std::lock_guard<std::mutex> lock(port.io);
            return fn(port);
        },
        missing);
}

int PosixSerial::SerOpenPort(SerialConfig& cfg) {
    std::string path = cfg.getPortNameString();
    if (path.empty()) {
        std::string base = cfg.getBaseName();
        base.erase(std::remove(base.begin(), base.end(), '\0'), base.end());
        if (!base.empty()) {
            path = base + std::to_string(cfg.getPort());
        }
    }
    auto refuse = [this](int code, int err) {
        std::lock_guard<std::mutex> lock(tableMutex_);
        openError_ = errnoText(err);
        return code;
    };
    if (path.empty()) {
        return refuse(ERR_NOT_VALID, ENOENT);
    }
    if (path.front() != '/') {
        // A bare name such as ttyUSB0 means the device node of that name.
        path = devRoot_ + "/" + path;
    }

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        return refuse(openErrorCode(err, path), err);
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return refuse(ERR_NOT_VALID, ENOTTY);
    }
    // flock is what keeps out other programs run by root, for whom TIOCEXCL does nothing; it
    // also keeps out a second open from this process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return refuse(ERR_IN_USE, EBUSY);
    }
    ::ioctl(fd, TIOCEXCL);

    auto port = std::make_shared<Port>();
    port->path = path;
    port->fd = fd;
    port->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    port->closeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (port->wakeFd < 0 || port->closeFd < 0) {
        int err = errno;
        return refuse(err != 0 ? err : -1, err);
    }

    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        makeRaw(t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    serial_icounter_struct counts{};
    if (::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        port->haveCounts = true;
        port->errCounts = counts;
        port->overrunBase = counts.overrun;
        port->bufOverrunBase = counts.buf_overrun;
    }

    std::lock_guard<std::mutex> lock(tableMutex_);
    std::size_t handle = 0;
    while (handle < ports_.size() && ports_[handle]) {
        ++handle;
    }
    if (handle == ports_.size()) {
        ports_.push_back(port);
    } else {
        ports_[handle] = port;
    }
    cfg.setPortNum(static_cast<int>(handle) + 1);
    openError_.clear();
    return OPEN_OK;
}

int PosixSerial::SerConfigure(SerialConfig& cfg) {
    Use port = use(cfg.getPort() - 1);
    if (!port) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(port->io);

    int rate = 0;
    int br = cfg.getBitRate();
    if (br >= 0 && br < static_cast<int>(SerialConfig::bitRateNumbers.size())) {
        rate = SerialConfig::bitRateNumbers[static_cast<std::size_t>(br)];
    } else if (br > 30) {
        rate = br;
    } else {
        port->fail(EINVAL);
        return -1;
    }

    tcflag_t size = 0;
    switch (cfg.getDataBits()) {
        case SerialConfig::LN_5BITS:
            size = CS5;
            break;
        case SerialConfig::LN_6BITS:
            size = CS6;
            break;
        case SerialConfig::LN_7BITS:
            size = CS7;
            break;
        case SerialConfig::LN_8BITS:
            size = CS8;
            break;
        default:
            port->fail(EINVAL);
            return -1;
    }

    tcflag_t parity = 0;
    switch (cfg.getParity()) {
        case SerialConfig::PY_NONE:
            break;
        case SerialConfig::PY_ODD:
            parity = PARENB | PARODD;
            break;
        case SerialConfig::PY_EVEN:
            parity = PARENB;
            break;
        case SerialConfig::PY_MARK:
            parity = PARENB | CMSPAR | PARODD;
            break;
        case SerialConfig::PY_SPACE:
            parity = PARENB | CMSPAR;
            break;
        default:
            port->fail(EINVAL);
            return -1;
    }

    tcflag_t stop = 0;
    switch (cfg.getStopBits()) {
        case SerialConfig::ST_1BITS:
            break;
        case SerialConfig::ST_2BITS:
            stop = CSTOPB;
            break;
        default:
            port->fail(EINVAL);
            return -1;
    }

    // termios has one switch for RTS/CTS in both directions, so either hardware half turns
    // on both. DSR/DTR flow control does not exist in termios and is refused.
    bool hard = false;
    bool softIn = false;
    bool softOut = false;
    int hs = cfg.getHandshake();
    if (hs & SerialConfig::HS_SPLIT_MASK) {
        hard = (hs & (SerialConfig::HS_HARD_IN | SerialConfig::HS_HARD_OUT)) != 0;
        softIn = (hs & SerialConfig::HS_SOFT_IN) != 0;
        softOut = (hs & SerialConfig::HS_SOFT_OUT) != 0;
    } else if (hs == SerialConfig::HS_XONXOFF) {
        softIn = softOut = true;
    } else if (hs == SerialConfig::HS_CTSRTS) {
        hard = true;
    } else if (hs != SerialConfig::HS_NONE) {
        port->lastError = hs == SerialConfig::HS_DSRDTR
                              ? "DSR/DTR flow control is not available on this system"
                              : errnoText(EINVAL);
        return -1;
    }

    termios t{};
    if (::tcgetattr(port->fd, &t) != 0) {
        port->fail(errno);
        return -1;
    }
    makeRaw(t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= size | parity | stop | (hard ? CRTSCTS : 0);
    if (softIn) {
        t.c_iflag |= IXOFF;
    }
    if (softOut) {
        t.c_iflag |= IXON;
    }
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;

    std::optional<speed_t> speed = standardSpeed(rate);
    // A free-form rate goes in through termios2 below; B38400 only holds its place.
    speed_t placeholder = speed ? *speed : B38400;
    if (::cfsetispeed(&t, placeholder) != 0 || ::cfsetospeed(&t, placeholder) != 0 ||
        ::tcsetattr(port->fd, TCSANOW, &t) != 0) {
        port->fail(errno);
        return -1;
    }

    if (!speed) {
        serialkit::Termios2 t2{};
        if (::ioctl(port->fd, serialkit::kGetTermios2, &t2) != 0) {
            port->fail(errno);
            return -1;
        }
        t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << kInputSpeedShift));
        t2.c_cflag |= kBother | (kBother << kInputSpeedShift);
        t2.c_ispeed = static_cast<speed_t>(rate);
        t2.c_ospeed = static_cast<speed_t>(rate);
        if (::ioctl(port->fd, serialkit::kSetTermios2, &t2) != 0) {
            port->fail(errno);
            return -1;
        }
        // Drivers round to what their clock can make; more than 5 % off is not that rate.
        serialkit::Termios2 back{};
        if (::ioctl(port->fd, serialkit::kGetTermios2, &back) == 0) {
            long got = static_cast<long>(back.c_ospeed);
            if (std::labs(got - rate) * 20 > rate) {
                port->lastError = "Bit rate " + std::to_string(rate) + " not supported";
                return -1;
            }
        }
    }
    port->parityEnabled = parity != 0;
    return 0;
}

int PosixSerial::SerClosePort(int handle) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> lock(tableMutex_);
        if (handle < 0 || static_cast<std::size_t>(handle) >= ports_.size() ||
            !ports_[static_cast<std::size_t>(handle)]) {
            return -1;
        }
        port = std::move(ports_[static_cast<std::size_t>(handle)]);
        ports_[static_cast<std::size_t>(handle)].reset();
    }
    std::unique_lock<std::mutex> lock(port->lifeMutex);
    port->closing = true;
    // Wakes any poll on the port; the descriptor stays open until the last call leaves.
    signalEvent(port->closeFd);
    if (port->users == 0) {
        port->closeFds();
    } else {
        port->lifeChanged.wait_for(lock, kCloseGrace, [&] { return port->users == 0; });
    }
    return 0;
}

int PosixSerial::SerGetByte(int handle) {
    return withPort(
        handle,
        [](Port& port) {
            if (port.rx.size() == 0 && port.fill() < 0) {
                return READ_FAILED;
            }
            std::uint8_t b = 0;
            if (port.rx.take(&b, 1) == 0) {
                return NO_DATA;
            }
            return static_cast<int>(b);
        },
        READ_FAILED);
}

int PosixSerial::SerGetData(int handle, std::uint8_t* buf, int count) {
    Use port = use(handle);
    if (!port || buf == nullptr || count < 0) {
        return READ_FAILED;
    }
    if (count == 0) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(port->io);
    auto want = static_cast<std::size_t>(count);
    if (port->rx.size() < want && port->fill() < 0 && port->rx.size() == 0) {
        return READ_FAILED;
    }
    return static_cast<int>(port->rx.take(buf, want));
}

int PosixSerial::SerPutByte(int handle, std::uint8_t byte) {
    return SerPutData(handle, &byte, 1) == 1 ? 0 : -1;
}

int PosixSerial::SerPutData(int handle, const std::uint8_t* buf, int count) {
    Use port = use(handle);
    if (!port || buf == nullptr || count < 0) {
        return -1;
    }
    int timeoutMs = 0;
    {
        std::lock_guard<std::mutex> lock(port->io);
        timeoutMs = port->timeoutTx;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int done = 0;
    auto failed = [&](int err) {
        port->lockAndFail(err);
        return done > 0 ? done : -1;
    };
    while (done < count) {
        ssize_t n = ::write(port->fd, buf + done, static_cast<std::size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return failed(errno);
        }
        int wait = -1;
        if (timeoutMs > 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                break;
            }
            wait = static_cast<int>(left.count());
        }
        pollfd p[2] = {{port->fd, POLLOUT, 0}, {port->closeFd, POLLIN, 0}};
        int r = ::poll(p, 2, wait);
        if (r < 0 && errno != EINTR) {
            return failed(errno);
        }
        if (p[1].revents & POLLIN) {
            break;  // the port is being closed
        }
        if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            return failed(EIO);
        }
    }
    return done;
}

int PosixSerial::SerRxReadyCount(int handle) {
    return withPort(handle, [](Port& port) {
        int waiting = 0;
        if (::ioctl(port.fd, FIONREAD, &waiting) != 0) {
            int err = errno;
            if (port.rx.size() > 0) {
                return static_cast<int>(port.rx.size());
            }
            port.fail(err);
            return -1;
        }
        if (port.lost && port.rx.size() == 0) {
            return -1;
        }
        // The driver's count includes mark bytes that decode away; close enough for "how much".
        return static_cast<int>(port.rx.size()) + waiting;
    });
}

int PosixSerial::SerTxBufCount(int handle) {
    return holdingPort(handle, [](Port& port) {
        int queued = 0;
        return ::ioctl(port.fd, TIOCOUTQ, &queued) != 0 ? port.lockAndFail(errno) : queued;
    });
}

int PosixSerial::SerRxFlush(int handle) {
    return withPort(handle, [](Port& port) {
        port.rx.clear();
        if (::tcflush(port.fd, TCIFLUSH) != 0) {
            port.fail(errno);
            return -1;
        }
        return 0;
    });
}

int PosixSerial::SerTxFlush(int handle) {
    return holdingPort(handle, [](Port& port) {
        return ::tcflush(port.fd, TCOFLUSH) != 0 ? port.lockAndFail(errno) : 0;
    });
}

int PosixSerial::SerTxDrain(int handle) {
    return holdingPort(
        handle, [](Port& port) { return ::tcdrain(port.fd) != 0 ? port.lockAndFail(errno) : 0; });
}

namespace {

// A device without modem lines (a pseudo-terminal, some adapters) takes the request and
// ignores it.
int setModemLine(int fd, int line, bool level, std::string& lastError) {
    if (::ioctl(fd, level ? TIOCMBIS : TIOCMBIC, &line) != 0) {
        int err = errno;
        if (noModemLines(err)) {
            return 0;
        }
        lastError = errnoText(err);
        return -1;
    }
    return 0;
}

// ... and reads every line as off.
int getModemLine(int fd, int line, std::string& lastError) {
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0) {
        int err = errno;
        if (noModemLines(err)) {
            return 0;
        }
        lastError = errnoText(err);
        return -1;
    }
    return (bits & line) ? 1 : 0;
}

}  // namespace

int PosixSerial::SerSetDTR(int handle, bool level) {
    return withPort(handle, [level](Port& port) {
        return setModemLine(port.fd, TIOCM_DTR, level, port.lastError);
    });
}

int PosixSerial::SerSetRTS(int handle, bool level) {
    return withPort(handle, [level](Port& port) {
        return setModemLine(port.fd, TIOCM_RTS, level, port.lastError);
    });
}

int PosixSerial::SerSigCTS(int handle) {
    return withPort(handle,
                    [](Port& port) { return getModemLine(port.fd, TIOCM_CTS, port.lastError); });
}

int PosixSerial::SerSigDSR(int handle) {
    return withPort(handle,
                    [](Port& port) { return getModemLine(port.fd, TIOCM_DSR, port.lastError); });
}

int PosixSerial::SerSigCD(int handle) {
    return withPort(handle,
                    [](Port& port) { return getModemLine(port.fd, TIOCM_CD, port.lastError); });
}

int PosixSerial::SerSigRing(int handle) {
    return withPort(handle,
                    [](Port& port) { return getModemLine(port.fd, TIOCM_RI, port.lastError); });
}

int PosixSerial::SerSigBreak(int handle) {
    return withPort(handle, [](Port& port) { return port.rx.takeSeen(ReceiveBuffer::BREAK); });
}

int PosixSerial::SerSigFrameErr(int handle) {
    return withPort(handle, [](Port& port) { return port.rx.takeSeen(ReceiveBuffer::FRAME); });
}

int PosixSerial::SerSigParityErr(int handle) {
    return withPort(handle, [](Port& port) { return port.rx.takeSeen(ReceiveBuffer::PARITY); });
}

int PosixSerial::SerSigOverrun(int handle) {
    return withPort(handle, [](Port& port) {
        return port.counterMoved(&serial_icounter_struct::overrun, port.overrunBase);
    });
}

int PosixSerial::SerRxOverflow(int handle) {
    return withPort(handle, [](Port& port) {
        return port.counterMoved(&serial_icounter_struct::buf_overrun, port.bufOverrunBase);
    });
}

int PosixSerial::SerSendBreak(int handle, int durationMs) {
    return holdingPort(handle, [durationMs](Port& port) {
        if (durationMs > 0 && ::ioctl(port.fd, TIOCSBRK) == 0) {
            // Hold the break for the time asked, but let a close cut it short.
            pollfd p{port.closeFd, POLLIN, 0};
            ::poll(&p, 1, durationMs);
            return ::ioctl(port.fd, TIOCCBRK) != 0 ? port.lockAndFail(errno) : 0;
        }
        return ::tcsendbreak(port.fd, 0) != 0 ? port.lockAndFail(errno) : 0;
    });
}

int PosixSerial::SerSetTimeoutRx(int handle, int ms) {
    if (ms < 0) {
        return -1;
    }
    return withPort(handle, [ms](Port& port) {
        port.timeoutRx = ms;
        return 0;
    });
}

int PosixSerial::SerSetTimeoutTx(int handle, int ms) {
    if (ms < 0) {
        return -1;
    }
    return withPort(handle, [ms](Port& port) {
        port.timeoutTx = ms;
        return 0;
    });
}

int PosixSerial::SerGetTimeoutRx(int handle) {
    return withPort(handle, [](Port& port) { return port.timeoutRx; });
}

int PosixSerial::SerGetTimeoutTx(int handle) {
    return withPort(handle, [](Port& port) { return port.timeoutTx; });
}

bool PosixSerial::driverInfo(const std::string& ttyName, DriverInfo& info) const {
    std::error_code ec;
    const fs::path entry = fs::path(sysClassTty_) / ttyName;
    const fs::path device = entry / "device";
    const fs::path driverLink = device / "driver";
    if (!fs::exists(driverLink, ec)) {
        return false;  // consoles, pseudo-terminals and other virtual terminals
    }
    // serial_core reports port type 0 (unknown) for the 8250 slots that have no UART behind.
    if (fs::exists(entry / "type", ec) && readFirstLine(entry / "type") == "0") {
        return false;
    }
    std::string driver = linkName(driverLink);
    // Newer kernels put serial_core's own port and controller devices between the tty and the
    // hardware; the driver worth naming is the hardware's.
    fs::path hardware = fs::canonical(device, ec);
    while (!ec && linkName(hardware / "subsystem") == "serial-base" &&
           hardware != hardware.parent_path()) {
        hardware = hardware.parent_path();
    }
    if (!ec && fs::exists(hardware / "driver", ec)) {
        driver = linkName(hardware / "driver");
    }
    ec.clear();

    // The USB device the port hangs off, if any, names itself; other buses' devices may carry
    // files of the same names that say nothing about the port.
    std::string product;
    std::string manufacturer;
    fs::path dir = fs::canonical(device, ec);
    for (int depth = 0; !ec && depth < 16 && !dir.empty(); ++depth) {
        if (isUsbDevice(dir)) {
            product = readFirstLine(dir / "product");
            manufacturer = readFirstLine(dir / "manufacturer");
            break;
        }
        if (dir == dir.parent_path()) {
            break;
        }
        dir = dir.parent_path();
    }
    info.description = product.empty() ? driver : product;
    info.manufacturer = manufacturer.empty() ? driver : manufacturer;
    return true;
}

void PosixSerial::SerGetPortList(PortListReceiver& receiver) {
    std::vector<std::pair<std::string, DriverInfo>> found;
    std::error_code ec;
    for (fs::directory_iterator it(sysClassTty_, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        DriverInfo info;
        if (driverInfo(name, info)) {
            found.emplace_back(std::move(name), std::move(info));
        }
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return naturalLess(a.first, b.first); });
    for (const auto& [name, info] : found) {
        std::string path = devRoot_ + "/" + name;
        receiver.addPortName(path);
        receiver.addPortInfo(path, info.manufacturer, info.description);
    }
}

std::string PosixSerial::SerGetPortMfgr(int handle) {
    std::string path;
    {
        Use port = use(handle);
        if (!port) {
            return "";
        }
        path = port->path;
    }
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);  // follows /dev/serial/by-id and the like
    DriverInfo info;
    if (ec || !driverInfo(real.filename().string(), info)) {
        return "";
    }
    return info.manufacturer;
}

// Nothing on Linux needs a driver reset, power modes or the helper tasks.
int PosixSerial::SerResetPortDriver(SerialConfig&) {
    return -1;
}
int PosixSerial::SerGetLibVer() {
    return LIB_VERSION;
}
std::string PosixSerial::SerGetName(int) {
    return "";
}
int PosixSerial::SerGetInstanceLock() {
    return -1;
}
int PosixSerial::SerSetInstanceLock(int) {
    return -1;
}
int PosixSerial::SerGetPowerMode(int) {
    return -1;
}
int PosixSerial::SerSetPowerMode(int, int) {
    return -1;
}
int PosixSerial::SerGetResumeState() {
    return -1;
}
int PosixSerial::SerGetStatusAPM() {
    return -1;
}
int PosixSerial::SerFlowTask(int) {
    return -1;
}

int PosixSerial::SerServerTask(SerialConfig&, std::string& failure) {
    failure = "no server task on this system";
    return -1;
}

// Shared with the watcher's thread, so neither side closes them while the other may still
// use them (a watcher let go from inside its own callback included).
struct PosixSerial::WatchFds {
    int inotifyFd = -1;
    int stopFd = -1;
    ~WatchFds() {
        closeNoIntr(inotifyFd);
        closeNoIntr(stopFd);
    }
};

namespace {

bool serialNodeName(const char* name) {
    return std::strncmp(name, "tty", 3) == 0 || std::strncmp(name, "rfcomm", 6) == 0;
}

}  // namespace

int PosixSerial::SerRegisterDeviceNotification(std::function<void()> callback) {
    stopWatcher();
    if (!callback) {
        return -1;
    }
    auto fds = std::make_shared<WatchFds>();
    fds->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    fds->stopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fds->inotifyFd < 0 || fds->stopFd < 0 ||
        ::inotify_add_watch(fds->inotifyFd, devRoot_.c_str(),
                            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) < 0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(watchMutex_);
    try {
        watcher_ = std::thread([fds, callback = std::move(callback)] {
            alignas(inotify_event) char buf[4096];
            for (;;) {
                pollfd p[2] = {{fds->inotifyFd, POLLIN, 0}, {fds->stopFd, POLLIN, 0}};
                if (::poll(p, 2, -1) < 0 && errno != EINTR) {
                    return;
                }
                if (p[1].revents & POLLIN) {
                    return;
                }
                bool changed = false;
                ssize_t n;
                while ((n = ::read(fds->inotifyFd, buf, sizeof buf)) > 0) {
                    for (ssize_t off = 0; off < n;) {
                        auto* ev = reinterpret_cast<inotify_event*>(buf + off);
                        if (ev->len > 0 && serialNodeName(ev->name)) {
                            changed = true;
                        }
                        off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                    }
                }
                if (changed) {
                    try {
                        callback();
                    } catch (...) {
                        // A failing listener must not take the process down; it hears of the next
                        // change.
                    }
                }
            }
        });
    } catch (const std::system_error&) {
        return -1;
    }
    watchFds_ = fds;
    return 0;
}

int PosixSerial::SerUnregisterDeviceNotification() {
    stopWatcher();
    return 0;
}

void PosixSerial::stopWatcher() {
    std::thread watcher;
    {
        std::lock_guard<std::mutex> lock(watchMutex_);
        if (!watcher_.joinable()) {
            return;
        }
        signalEvent(watchFds_->stopFd);
        watchFds_.reset();
        watcher = std::move(watcher_);
    }
    if (watcher.get_id() == std::this_thread::get_id()) {
        watcher.detach();  // unregistered from its own callback; it ends after the callback
    } else {
        watcher.join();
    }
}

int PosixSerial::SerWaitRx(int handle, int ms) {
    Use port = use(handle);
    if (!port) {
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(port->io);
        if (port->rx.size() > 0) {
            return WAIT_DATA;
        }
        if (port->lost) {
            return -1;
        }
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        int wait = -1;
        if (ms >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::max<long long>(0, left.count()));
        }
        pollfd p[3] = {
            {port->fd, POLLIN, 0}, {port->wakeFd, POLLIN, 0}, {port->closeFd, POLLIN, 0}};
        int r = ::poll(p, 3, wait);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return port->lockAndFail(errno);
        }
        if (r == 0) {
            return WAIT_TIMEOUT;
        }
        if (p[2].revents & POLLIN) {
            return WAIT_WOKEN;  // closing
        }
        if (p[1].revents & POLLIN) {
            drainEvent(port->wakeFd);
            return WAIT_WOKEN;
        }
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Whatever is still readable comes first; after that the port is gone.
            std::lock_guard<std::mutex> lock(port->io);
            if (port->rx.size() > 0 || (port->fill() > 0 && port->rx.size() > 0)) {
                return WAIT_DATA;
            }
            if (!port->lost) {
                port->markLost(EIO);
            }
            return -1;
        }
        if (p[0].revents & POLLIN) {
            return WAIT_DATA;
        }
    }
}

int PosixSerial::SerWakeRx(int handle) {
    return holdingPort(handle, [](Port& port) {
        signalEvent(port.wakeFd);
        return 0;
    });
}

std::string PosixSerial::SerLastError(int handle) {
    if (handle < 0) {
        std::lock_guard<std::mutex> lock(tableMutex_);
        return openError_;
    }
    return withPort(
        handle, [](Port& port) { return port.lastError; }, std::string());
}

}  // namespace serialkit
