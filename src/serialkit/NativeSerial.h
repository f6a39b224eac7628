#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace serialkit {

class SerialConfig;

// Receives what port discovery finds.
class PortListReceiver {
  public:
    virtual ~PortListReceiver() = default;
    virtual void addPortName(const std::string& name) = 0;
    virtual void addPortInfo(const std::string& portName, const std::string& manufacturer,
                             const std::string& description) = 0;
};

// The platform's serial driver. Handles are small non-negative integers; the record's
// portNum carries handle + 1 after a successful open. Unless said, -1 means failure.
class NativeSerial {
  public:
    // SerOpenPort result codes.
    static constexpr int OPEN_OK = 0;
    static constexpr int ERR_ALREADY_OPEN = 1000;
    static constexpr int ERR_IN_USE = 1002;
    static constexpr int ERR_NOT_VALID = 1003;
    static constexpr int ERR_NO_SUCH_DEVICE = 1004;
    static constexpr int ERR_PERMISSION = 1006;
    static constexpr int ERR_BUSY = 1007;
    static constexpr int ERR_NO_DEVICE = 1008;
    // Network ports: the host refused, could not be reached, did not answer in time, or its
    // name is unknown.
    static constexpr int ERR_REFUSED = 1010;
    static constexpr int ERR_UNREACHABLE = 1011;
    static constexpr int ERR_TIMEOUT = 1012;
    static constexpr int ERR_HOST_NOT_FOUND = 1013;
    // The server took the connection and closed it at once (its serial port busy or missing).
    static constexpr int ERR_CLOSED_BY_SERVER = 1014;
    // The open was given up on request (SerAbortOpen).
    static constexpr int ERR_OPEN_STOPPED = 1015;

    // SerGetByte: nothing waiting.
    static constexpr int NO_DATA = -1;
    // SerGetByte / SerGetData: the device is gone or the read failed; see SerLastError.
    static constexpr int READ_FAILED = -2;

    // SerWaitRx results.
    static constexpr int WAIT_DATA = 1;
    static constexpr int WAIT_TIMEOUT = 0;
    static constexpr int WAIT_WOKEN = 2;

    virtual ~NativeSerial() = default;

    // 0 = opened and cfg's portNum set to handle + 1; else one of the ERR_ codes or another.
    virtual int SerOpenPort(SerialConfig& cfg) = 0;
    // Applies the line settings of cfg to the port whose handle is cfg.getPort() - 1.
    virtual int SerConfigure(SerialConfig& cfg) = 0;
    virtual int SerClosePort(int handle) = 0;

    // Next byte 0..255, NO_DATA, or READ_FAILED.
    virtual int SerGetByte(int handle) = 0;
    // Stores up to count bytes at buf; the count stored (0 when nothing waits), or READ_FAILED.
    virtual int SerGetData(int handle, std::uint8_t* buf, int count) = 0;
    virtual int SerPutByte(int handle, std::uint8_t byte) = 0;
    // The number of bytes accepted, or -1.
    virtual int SerPutData(int handle, const std::uint8_t* buf, int count) = 0;

    virtual int SerRxReadyCount(int handle) = 0;
    virtual int SerTxBufCount(int handle) = 0;
    virtual int SerRxFlush(int handle) = 0;
    virtual int SerTxFlush(int handle) = 0;
    virtual int SerTxDrain(int handle) = 0;

    virtual int SerSetDTR(int handle, bool level) = 0;
    virtual int SerSetRTS(int handle, bool level) = 0;
    // 1 = asserted / seen since the previous query, 0 = not, -1 = failed.
    virtual int SerSigCTS(int handle) = 0;
    virtual int SerSigDSR(int handle) = 0;
    virtual int SerSigCD(int handle) = 0;
    virtual int SerSigRing(int handle) = 0;
    virtual int SerSigBreak(int handle) = 0;
    virtual int SerSigFrameErr(int handle) = 0;
    virtual int SerSigOverrun(int handle) = 0;
    virtual int SerSigParityErr(int handle) = 0;
    virtual int SerRxOverflow(int handle) = 0;
    virtual int SerSendBreak(int handle, int durationMs) = 0;

    virtual int SerSetTimeoutRx(int handle, int ms) = 0;
    virtual int SerSetTimeoutTx(int handle, int ms) = 0;
    virtual int SerGetTimeoutRx(int handle) = 0;
    virtual int SerGetTimeoutTx(int handle) = 0;

    // Reports every port through the receiver.
    virtual void SerGetPortList(PortListReceiver& receiver) = 0;
    virtual int SerResetPortDriver(SerialConfig& cfg) = 0;

    virtual int SerGetLibVer() = 0;
    virtual std::string SerGetName(int index) = 0;
    virtual int SerGetInstanceLock() = 0;
    virtual int SerSetInstanceLock(int value) = 0;
    virtual int SerGetPowerMode(int port) = 0;
    virtual int SerSetPowerMode(int port, int mode) = 0;
    virtual int SerGetResumeState() = 0;
    virtual int SerGetStatusAPM() = 0;
    virtual std::string SerGetPortMfgr(int handle) = 0;

    // Bodies of the helper tasks' threads; return 0 when they end normally.
    virtual int SerFlowTask(int handle) = 0;
    virtual int SerServerTask(SerialConfig& cfg, std::string& failure) = 0;

    virtual int SerRegisterDeviceNotification(std::function<void()> callback) = 0;
    virtual int SerUnregisterDeviceNotification() = 0;

    // Blocks until a byte waits (WAIT_DATA), ms elapse (WAIT_TIMEOUT), SerWakeRx is called
    // from another thread (WAIT_WOKEN), or the port fails (-1). ms < 0 waits without limit.
    virtual int SerWaitRx(int handle, int ms) = 0;
    // Wakes a SerWaitRx on that handle; a wake with nobody waiting makes the next wait return.
    virtual int SerWakeRx(int handle) = 0;
    // Makes a SerOpenPort in progress on another thread with this record give up at once
    // (ERR_OPEN_STOPPED), where opening can take long (a connection); 0 when one was stopped.
    virtual int SerAbortOpen(const SerialConfig* /*record*/) { return -1; }

    // Why the last call on this handle failed ("Input/output error"), or "".
    virtual std::string SerLastError(int handle) = 0;
};

// Built-in backends are found by the base name the platform tables choose.
class NativeLibrary {
  public:
    using Factory = std::function<std::shared_ptr<NativeSerial>()>;

    // Registers a backend under a base name (done by each backend at static start-up).
    static void registerBackend(const std::string& baseName, Factory factory);
    // The backend of that name; throws std::runtime_error("no native library " + name +
    // " for this platform") when there is none.
    static std::shared_ptr<NativeSerial> load(const std::string& baseName);
    static bool has(const std::string& baseName);
};

}  // namespace serialkit
