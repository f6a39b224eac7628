#include "quorvel/platform/XvfbServer.h"

#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace quorvel::platform::test {

namespace {

using Clock = std::chrono::steady_clock;

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Spawns `argv` (looked up on PATH) with its standard output and error going to `outputFd`,
// closing `closeInChild` there if it is not -1.
pid_t spawn(const std::vector<std::string>& argv, int outputFd, int closeInChild = -1) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
    if (closeInChild != -1)
        posix_spawn_file_actions_addclose(&actions, closeInChild);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("Cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

std::string tempFile(int& fd) {
    char path[] = "/tmp/quorvel-xvfb-XXXXXX";
    fd = mkstemp(path);
    if (fd < 0)
        throw std::runtime_error(errnoText("mkstemp"));
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

bool XvfbServer::available() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty())
            continue;
        if (access((dir + "/Xvfb").c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

XvfbServer::XvfbServer(const std::vector<std::string>& extraArguments) {
    int logFd = -1;
    logPath_ = tempFile(logFd);

    int fds[2];
    if (pipe(fds) != 0) {
        close(logFd);
        throw std::runtime_error(errnoText("pipe"));
    }
    try {
        // The server picks a free display itself and writes its number to the pipe once it
        // accepts connections.
        std::vector<std::string> argv{"Xvfb",      "-displayfd", std::to_string(fds[1]),
                                      "-screen",   "0",          "1024x768x24",
                                      "-nolisten", "tcp",        "-noreset"};
        argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
        pid_ = spawn(argv, logFd, fds[0]);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        close(logFd);
        unlink(logPath_.c_str());
        throw;
    }
    close(fds[1]);
    close(logFd);

    std::string number;
    bool complete = false;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!complete && Clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char buffer[32];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;  // the server ended without naming a display
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n')
                complete = true;
            else if (!complete)
                number += buffer[i];
        }
    }
    close(fds[0]);
    if (!complete || number.empty()) {
        const std::string output = serverOutput();
        stop();
        throw std::runtime_error("Xvfb did not report a display number. Its output:\n" + output);
    }
    displayName_ = ":" + number;

    // Belt and braces: the number comes when the server listens, but prove it with a client.
    for (;;) {
        if (::Display* d = XOpenDisplay(displayName_.c_str())) {
            XCloseDisplay(d);
            break;
        }
        if (Clock::now() >= deadline) {
            const std::string output = serverOutput();
            stop();
            throw std::runtime_error("Xvfb on " + displayName_ +
                                     " does not accept connections. Its output:\n" + output);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

XvfbServer::~XvfbServer() {
    stop();
}

void XvfbServer::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    if (!logPath_.empty()) {
        unlink(logPath_.c_str());
        logPath_.clear();
    }
}

void XvfbServer::crash() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

std::string XvfbServer::serverOutput() const {
    return readFile(logPath_);
}

void XvfbServer::setKeyboardLayout(const std::string& layout, const std::string& variant) {
    int outFd = -1;
    const std::string outPath = tempFile(outFd);
    // Without -variant, setxkbmap drops the one in force ("us" after "us intl" is plain "us").
    std::vector<std::string> argv{"setxkbmap", "-display", displayName_, "-layout", layout};
    if (!variant.empty()) {
        argv.push_back("-variant");
        argv.push_back(variant);
    }
    pid_t pid = -1;
    try {
        pid = spawn(argv, outFd);
    } catch (...) {
        close(outFd);
        unlink(outPath.c_str());
        throw;
    }
    close(outFd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string output = readFile(outPath);
    unlink(outPath.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string command;
        for (const auto& a : argv) command += (command.empty() ? "" : " ") + a;
        throw std::runtime_error(command + " failed:\n" + output);
    }
}

}  // namespace quorvel::platform::test
