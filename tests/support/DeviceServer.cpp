#include "support/DeviceServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace testsupport {

namespace {

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string DeviceServer::program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

int DeviceServer::freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("no free TCP port on 127.0.0.1");
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

DeviceServer::DeviceServer(std::string device, std::string spy, bool charDelay)
    : device_(std::move(device)), spy_(std::move(spy)), charDelay_(charDelay) {
    port_ = freePort();
    const std::string base =
        "/tmp/tolvane-ser2net-" + std::to_string(::getpid()) + "-" + std::to_string(port_);
    pidFile_ = base + ".pid";
    spyLog_ = base + ".termios";
    ::unlink(spyLog_.c_str());
    start();
}

DeviceServer::~DeviceServer() {
    stop();
    ::unlink(pidFile_.c_str());
    ::unlink(spyLog_.c_str());
}

unsigned int DeviceServer::lastControlFlags() const {
    std::ifstream log(spyLog_);
    std::string line;
    std::string last;
    while (std::getline(log, line)) {
        last = line;
    }
    return last.empty() ? 0u : static_cast<unsigned int>(std::stoul(last, nullptr, 8));
}

std::string DeviceServer::url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

void DeviceServer::start() {
    const std::string exe = program();
    if (exe.empty()) {
        throw std::runtime_error("ser2net is not installed");
    }
    // kickolduser: a client that vanished without closing must not keep the device.
    std::vector<std::string> args = {exe, "-n", "-u", "-P", pidFile_,
                                     "-Y", "connection: &instrument",
                                     "-Y", "  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                                               std::to_string(port_),
                                     "-Y", "  connector: serialdev," + device_ + ",9600n81,local",
                                     "-Y", "  options:",
                                     "-Y", "    kickolduser: true"};
    if (!charDelay_) {
        args.insert(args.end(), {"-Y", "    chardelay: false"});
    }
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        if (!spy_.empty()) {
            ::setenv("LD_PRELOAD", spy_.c_str(), 1);
            ::setenv("TOLVANE_TERMIOS_LOG", spyLog_.c_str(), 1);
        }
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!accepts(port_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("ser2net ended at start-up");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("ser2net did not start listening");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void DeviceServer::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

}  // namespace testsupport
