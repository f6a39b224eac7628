#include "support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

std::runtime_error sysError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        throw sysError("tcgetattr");
    }
    cfmakeraw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        throw sysError("tcsetattr");
    }
}

}  // namespace

Pty::Pty() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw sysError("openpty");
    }
    slavePath_ = name;
    try {
        makeRaw(slave_);
        makeRaw(master_);
        int flags = fcntl(master_, F_GETFL);
        if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
            throw sysError("fcntl");
        }
    } catch (...) {
        ::close(master_);
        ::close(slave_);
        throw;
    }
}

Pty::~Pty() {
    if (master_ >= 0) {
        ::close(master_);
    }
    if (slave_ >= 0) {
        ::close(slave_);
    }
}

void Pty::write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        if (master_ < 0) {
            throw std::runtime_error("pty master is closed");
        }
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            throw sysError("write to pty master");
        }
        pollfd p{master_, POLLOUT, 0};
        int r = ::poll(&p, 1, 10000);
        if (r == 0) {
            throw std::runtime_error("pty master write stalled");
        }
        if (r < 0 && errno != EINTR) {
            throw sysError("poll pty master");
        }
    }
}

std::string Pty::read(size_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    char buf[4096];
    while (out.size() < count && master_ >= 0) {
        size_t want = std::min(sizeof buf, count - out.size());
        ssize_t n = ::read(master_, buf, want);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        if (n == 0 || (n < 0 && errno == EIO)) {
            // No slave is open right now; poll would report a hang-up at once, so wait a bit.
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 5)));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            break;
        }
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    return out;
}

int Pty::unreadBytes() const {
    int waiting = 0;
    if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &waiting) != 0) {
        return -1;
    }
    return waiting;
}

void Pty::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void Pty::releaseSlave() {
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
}

termios Pty::lineSettings() const {
    termios t{};
    if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0) {
        throw sysError("tcgetattr");
    }
    return t;
}

}  // namespace testsupport
