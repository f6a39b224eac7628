#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serialkit/NativeSerial.h"
#include "serialkit/SerialConfig.h"

namespace serialkit {

// An in-memory programmable serial driver for tests and demonstrations. It is never picked
// by platform name; a caller installs it explicitly (SerialPortLocal::useNative).
// All operations are thread-safe.
class SimulatedSerial : public NativeSerial {
  public:
    struct ModemLines {
        bool dtr = false;
        bool rts = false;
    };
    // Input lines as a function of the output lines the port drives.
    using LineFunction = std::function<bool(const ModemLines&)>;

    // A received byte and the line errors it carried.
    struct RxByte {
        std::uint8_t value = 0;
        bool parityError = false;
        bool framingError = false;
    };

    // Adds a port that discovery reports (in the order added) with its driver information.
    void addPort(const std::string& name, const std::string& manufacturer = "",
                 const std::string& description = "");
    void removePort(const std::string& name);
    // Makes the next (and every later) open of `name` answer `code` instead of opening;
    // 0 restores normal opening.
    void setOpenResult(const std::string& name, int code);
    // Makes a named native operation ("SerSetDTR", "SerConfigure", ...) answer `result`
    // on every call until cleared with clearResult.
    void setResult(const std::string& operation, int result);
    void clearResult(const std::string& operation);
    void setCtsFunction(const std::string& name, LineFunction f);
    void setDsrFunction(const std::string& name, LineFunction f);
    void setCd(const std::string& name, bool on);
    void setRing(const std::string& name, bool on);

    // Queues bytes for the port to receive; wakes a waiting SerWaitRx.
    void inject(const std::string& name, const std::string& bytes);
    void inject(const std::string& name, const RxByte& byte);
    // Makes reads on the port fail as if the device were unplugged.
    void unplug(const std::string& name);

    // Everything written to the port so far.
    std::string written(const std::string& name) const;
    ModemLines modemLines(const std::string& name) const;
    bool isOpen(const std::string& name) const;
    // The record seen by the last SerConfigure of that port (bit rate, parity, ...).
    SerialConfig lastConfig(const std::string& name) const;
    // Names of the native operations called so far, in order.
    std::vector<std::string> calls() const;

    // NativeSerial
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

    // Calls the registered device-change callback, as a driver would on plug or unplug.
    void notifyDeviceChange();

  private:
    struct Port {
        std::string name;
        std::string manufacturer;
        std::string description;
        int openResult = 0;
        bool open = false;
        bool unplugged = false;
        int handle = -1;
        std::deque<RxByte> rx;
        std::string tx;
        ModemLines lines;
        LineFunction cts;
        LineFunction dsr;
        bool cd = false;
        bool ring = false;
        bool parityPending = false;
        bool framingPending = false;
        bool wakePending = false;
        int timeoutRx = 0;
        int timeoutTx = 0;
        std::string lastError;
        SerialConfig config;
    };

    Port* byHandle(int handle);
    Port* byName(const std::string& name);
    const Port* byName(const std::string& name) const;
    bool overridden(const std::string& op, int& result);
    // Logs the call and answers whether the operation is forced (both under the lock).
    bool enter(const char* op, int& forced);
    Port& require(const std::string& name);
    const Port& require(const std::string& name) const;
    int readFailed(Port& port);
    void takeByte(Port& port, std::uint8_t& out);
    int sigLine(int handle, const char* op, bool cts);

    mutable std::mutex mutex_;
    std::condition_variable rxChanged_;
    std::vector<Port> ports_;
    std::map<std::string, int> results_;
    std::vector<std::string> calls_;
    std::function<void()> deviceCallback_;
    int nextHandle_ = 0;
    int instanceLock_ = 0;
    std::map<int, int> powerModes_;
};

}  // namespace serialkit
