#pragma once

// Runs the built tools as child processes and plays the reader on their pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace toolstest {

using Clock = std::chrono::steady_clock;

inline int msLeft(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A child process with its standard output and error captured.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        int out[2];
        int err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        // A pseudo-terminal master the test holds must not live on in the child, or closing it
        // would not look like a lost device.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        // The test may run where Ctrl-C is ignored (a background job); the tools must not be.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&attr, &all);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
        ::fcntl(err_, F_SETFL, O_NONBLOCK);
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(rc));
        }
    }

    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next whole line of standard output, without its line feed.
    std::optional<std::string> readLine(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            auto nl = outBuf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = outBuf_.substr(0, nl);
                outBuf_.erase(0, nl + 1);
                stdout_ += line + "\n";
                return line;
            }
            if (!pump(msLeft(deadline)) && (msLeft(deadline) == 0 || outClosed_)) {
                // Out of time, or the child closed its output: no whole line will come.
                return std::nullopt;
            }
        }
    }

    // Reads lines until one equals `wanted`.
    bool waitForLine(const std::string& wanted, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (auto line = readLine(msLeft(deadline))) {
            if (*line == wanted) {
                return true;
            }
        }
        return false;
    }

    // The exit code, or -1 when the child did not exit normally in time.
    int waitExit(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0) {
            int status = 0;
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                while (pump(0)) {
                }
                while (readLine(0)) {
                }
                stdout_ += outBuf_;
                outBuf_.clear();
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (msLeft(deadline) == 0) {
                return -1;
            }
            pump(20);
        }
        return -1;
    }

    void signal(int sig) { ::kill(pid_, sig); }
    // Everything read from standard output so far (whole lines).
    const std::string& output() const { return stdout_; }
    const std::string& errors() const { return stderr_; }

  private:
    // Moves what is available into the buffers; false when nothing came within timeoutMs.
    bool pump(int timeoutMs) {
        // A closed pipe is left out (a negative descriptor is skipped by poll), so a child that
        // has gone cannot make this spin on its hang-up.
        pollfd fds[2] = {{outClosed_ ? -1 : out_, POLLIN, 0}, {errClosed_ ? -1 : err_, POLLIN, 0}};
        if (outClosed_ && errClosed_) {
            return false;
        }
        if (::poll(fds, 2, timeoutMs) <= 0) {
            return false;
        }
        bool got = false;
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? outBuf_ : stderr_).append(buf, static_cast<size_t>(n));
                got = true;
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                (i == 0 ? outClosed_ : errClosed_) = true;
            }
        }
        return got;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool outClosed_ = false;
    bool errClosed_ = false;
    std::string outBuf_;
    std::string stdout_;
    std::string stderr_;
};

inline std::string portOf(Child& sim) {
    auto first = sim.readLine(10000);
    if (!first) {
        ADD_FAILURE() << "no PORT line";
        return "";
    }
    std::smatch m;
    if (!std::regex_match(*first, m, std::regex("PORT (/dev/pts/[0-9]+)"))) {
        ADD_FAILURE() << "first line is '" << *first << "'";
        return "";
    }
    return m[1];
}

// Opens the simulator's port as a reader would.
class SlaveEnd {
  public:
    explicit SlaveEnd(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~SlaveEnd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SlaveEnd(const SlaveEnd&) = delete;
    SlaveEnd& operator=(const SlaveEnd&) = delete;

    bool ok() const { return fd_ >= 0; }

    // Up to `count` bytes, waiting up to timeoutMs; less when the simulator closes the port.
    std::string read(size_t count, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string out;
        while (out.size() < count && msLeft(deadline) > 0) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0) {
                continue;
            }
            char buf[256];
            ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
            } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                break;
            }
        }
        return out;
    }

    void write(const std::string& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

  private:
    int fd_;
};

}  // namespace toolstest
