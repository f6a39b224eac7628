#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serialkit/NativeSerial.h"

namespace serialkit {

// The termios serial driver for Linux. Ports are opened exclusively (flock plus TIOCEXCL),
// read without blocking into a per-port buffer, and found through sysfs.
//
// - The record's name is a path; a name without a leading '/' is looked up under the device
//   root, and an empty name with a base name means base name plus port number. Opening puts
//   the line in raw mode but keeps what already waits in its input queue.
// - Line errors: the driver marks a byte with a parity or framing error without saying which.
//   Where the UART keeps error counters the one that moved decides; otherwise it counts as a
//   parity error on a line with parity and as a framing error on one without. A marked NUL
//   is a break: it is delivered as a 0 byte and raises SerSigBreak only.
// - Flow control: termios has one RTS/CTS switch for both directions, so either hardware half
//   of a split handshake turns on both. DSR/DTR flow control does not exist and SerConfigure
//   refuses it. The buffer lengths, hardFlow and flowPriority of the record are not used.
// - Writes with no transmit time-out wait for room as long as it takes; closing the port
//   ends the wait.
// - SerRxReadyCount counts mark bytes still in the driver as if they were data.
// - SerLastError with a negative handle tells why the last open failed.
// - Device notification watches the device root for tty nodes coming and going.
class PosixSerial : public NativeSerial {
  public:
    // Library version SerGetLibVer reports.
    static constexpr int LIB_VERSION = 100;

    // The roots are parameters so discovery can run against a prepared directory tree.
    explicit PosixSerial(std::string sysClassTty = "/sys/class/tty", std::string devRoot = "/dev");
    ~PosixSerial() override;
    PosixSerial(const PosixSerial&) = delete;
    PosixSerial& operator=(const PosixSerial&) = delete;

    int SerOpenPort(SerialConfig& cfg) override;
    int SerConfigure(SerialConfig& cfg) override;
    int SerClosePort(int handle) override;
    int SerGetByte(int handle) override;
    int SerGetData(int handle, std::uint8_t* buf, int count) override;
    int SerPutByte(int handle, std::uint8_t byte) override;
    int SerPutData(int handle, const std::uint8_t* buf, int count) override;
    int SerRxReadyCount(int handle) override;
    int SerTxBufCount(int handle) override;
    int SerRxFlush(int handle) override;
    int SerTxFlush(int handle) override;
    int SerTxDrain(int handle) override;
    int SerSetDTR(int handle, bool level) override;
    int SerSetRTS(int handle, bool level) override;
    int SerSigCTS(int handle) override;
    int SerSigDSR(int handle) override;
    int SerSigCD(int handle) override;
    int SerSigRing(int handle) override;
    int SerSigBreak(int handle) override;
    int SerSigFrameErr(int handle) override;
    int SerSigOverrun(int handle) override;
    int SerSigParityErr(int handle) override;
    int SerRxOverflow(int handle) override;
    int SerSendBreak(int handle, int durationMs) override;
    int SerSetTimeoutRx(int handle, int ms) override;
    int SerSetTimeoutTx(int handle, int ms) override;
    int SerGetTimeoutRx(int handle) override;
    int SerGetTimeoutTx(int handle) override;
    void SerGetPortList(PortListReceiver& receiver) override;
    int SerResetPortDriver(SerialConfig& cfg) override;
    int SerGetLibVer() override;
    std::string SerGetName(int index) override;
    int SerGetInstanceLock() override;
    int SerSetInstanceLock(int value) override;
    int SerGetPowerMode(int port) override;
    int SerSetPowerMode(int port, int mode) override;
    int SerGetResumeState() override;
    int SerGetStatusAPM() override;
    std::string SerGetPortMfgr(int handle) override;
    int SerFlowTask(int handle) override;
    int SerServerTask(SerialConfig& cfg, std::string& failure) override;
    int SerRegisterDeviceNotification(std::function<void()> callback) override;
    int SerUnregisterDeviceNotification() override;
    int SerWaitRx(int handle, int ms) override;
    int SerWakeRx(int handle) override;
    std::string SerLastError(int handle) override;

  private:
    struct Port;
    // Holds a port open against a concurrent SerClosePort for the length of one call.
    class Use;
    // The descriptors of the device watcher, shared with its thread.
    struct WatchFds;
    struct DriverInfo {
        std::string manufacturer;
        std::string description;
    };

    Use use(int handle);
    // Runs fn(Port&) on the port `handle`, held open against SerClosePort for the call, and
    // answers what fn answers, or `missing` when there is no such port. withPort holds the
    // port's io mutex as well; holdingPort leaves it free, for calls that wait on the device
    // while reads go on.
    template <typename Fn, typename R = int>
    R withPort(int handle, Fn fn, R missing = -1);
    template <typename Fn, typename R = int>
    R holdingPort(int handle, Fn fn, R missing = -1);
    // Manufacturer and description of a sysfs tty entry; false when it is no serial port.
    bool driverInfo(const std::string& ttyName, DriverInfo& info) const;
    void stopWatcher();

    std::string sysClassTty_;
    std::string devRoot_;

    std::mutex tableMutex_;
    std::vector<std::shared_ptr<Port>> ports_;
    std::string openError_;

    std::mutex watchMutex_;
    std::thread watcher_;
    std::shared_ptr<WatchFds> watchFds_;
};

}  // namespace serialkit
