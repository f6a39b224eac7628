#pragma once

#include <string>

#include <sys/types.h>

namespace testsupport {

// Debian's ser2net as a serial device server on 127.0.0.1, with a Telnet RFC 2217 accepter in
// front of one serial device (a pseudo-terminal's slave in the tests). It can be stopped and
// started again on the same TCP port, the way a device server reboots.
class DeviceServer {
  public:
    // The ser2net program, or "" when it is not installed.
    static std::string program();
    // A TCP port on 127.0.0.1 that nothing listens on at the moment.
    static int freePort();

    // Starts at once; throws std::runtime_error when ser2net does not come up within 10 s.
    // `spy`, when given, is a library preloaded into ser2net that notes its termios changes.
    // Without `charDelay` ser2net sends what it has at once instead of waiting for more.
    explicit DeviceServer(std::string device, std::string spy = "", bool charDelay = true);
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    int port() const { return port_; }
    // "rfc2217://127.0.0.1:<port>"
    std::string url() const;
    void start();
    // Kills ser2net (SIGKILL, as a power cut) and waits until it is gone.
    void stop();
    // The control flags of the last termios change ser2net made, through the spy; 0 when none.
    unsigned int lastControlFlags() const;

  private:
    std::string device_;
    std::string spy_;
    bool charDelay_ = true;
    std::string pidFile_;
    std::string spyLog_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace testsupport
