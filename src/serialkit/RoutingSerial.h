#pragma once

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "serialkit/NativeSerial.h"

namespace serialkit {

// The Linux driver as the port object sees it: a tcp:// or rfc2217:// name opens through the
// network backend, any other name through the device backend. A handle of this driver is the
// backend's own handle times two, plus one for the network backend, so every call finds its
// backend without a lookup. Discovery and the class-wide calls are the device backend's.
class RoutingSerial : public NativeSerial {
  public:
    RoutingSerial(std::shared_ptr<NativeSerial> devices, std::shared_ptr<NativeSerial> network);

    int SerOpenPort(SerialConfig& cfg) override;
    int SerConfigure(SerialConfig& cfg) override;
    int SerClosePort(int handle) override;
    int SerGetByte(int handle) override { return call(handle, &NativeSerial::SerGetByte, READ_FAILED); }
    int SerGetData(int handle, std::uint8_t* buf, int count) override {
        return call(handle, &NativeSerial::SerGetData, READ_FAILED, buf, count);
    }
    int SerPutByte(int handle, std::uint8_t byte) override {
        return call(handle, &NativeSerial::SerPutByte, -1, byte);
    }
    int SerPutData(int handle, const std::uint8_t* buf, int count) override {
        return call(handle, &NativeSerial::SerPutData, -1, buf, count);
    }
    int SerRxReadyCount(int handle) override { return call(handle, &NativeSerial::SerRxReadyCount); }
    int SerTxBufCount(int handle) override { return call(handle, &NativeSerial::SerTxBufCount); }
    int SerRxFlush(int handle) override { return call(handle, &NativeSerial::SerRxFlush); }
    int SerTxFlush(int handle) override { return call(handle, &NativeSerial::SerTxFlush); }
    int SerTxDrain(int handle) override { return call(handle, &NativeSerial::SerTxDrain); }
    int SerSetDTR(int handle, bool level) override {
        return call(handle, &NativeSerial::SerSetDTR, -1, level);
    }
    int SerSetRTS(int handle, bool level) override {
        return call(handle, &NativeSerial::SerSetRTS, -1, level);
    }
    int SerSigCTS(int handle) override { return call(handle, &NativeSerial::SerSigCTS); }
    int SerSigDSR(int handle) override { return call(handle, &NativeSerial::SerSigDSR); }
    int SerSigCD(int handle) override { return call(handle, &NativeSerial::SerSigCD); }
    int SerSigRing(int handle) override { return call(handle, &NativeSerial::SerSigRing); }
    int SerSigBreak(int handle) override { return call(handle, &NativeSerial::SerSigBreak); }
    int SerSigFrameErr(int handle) override { return call(handle, &NativeSerial::SerSigFrameErr); }
    int SerSigOverrun(int handle) override { return call(handle, &NativeSerial::SerSigOverrun); }
    int SerSigParityErr(int handle) override { return call(handle, &NativeSerial::SerSigParityErr); }
    int SerRxOverflow(int handle) override { return call(handle, &NativeSerial::SerRxOverflow); }
    int SerSendBreak(int handle, int ms) override {
        return call(handle, &NativeSerial::SerSendBreak, -1, ms);
    }
    int SerSetTimeoutRx(int handle, int ms) override {
        return call(handle, &NativeSerial::SerSetTimeoutRx, -1, ms);
    }
    int SerSetTimeoutTx(int handle, int ms) override {
        return call(handle, &NativeSerial::SerSetTimeoutTx, -1, ms);
    }
    int SerGetTimeoutRx(int handle) override { return call(handle, &NativeSerial::SerGetTimeoutRx); }
    int SerGetTimeoutTx(int handle) override { return call(handle, &NativeSerial::SerGetTimeoutTx); }
    void SerGetPortList(PortListReceiver& receiver) override { devices_->SerGetPortList(receiver); }
    int SerResetPortDriver(SerialConfig& cfg) override;
    int SerGetLibVer() override { return devices_->SerGetLibVer(); }
    std::string SerGetName(int index) override { return devices_->SerGetName(index); }
    int SerGetInstanceLock() override { return devices_->SerGetInstanceLock(); }
    int SerSetInstanceLock(int value) override { return devices_->SerSetInstanceLock(value); }
    int SerGetPowerMode(int port) override { return devices_->SerGetPowerMode(port); }
    int SerSetPowerMode(int port, int mode) override { return devices_->SerSetPowerMode(port, mode); }
    int SerGetResumeState() override { return devices_->SerGetResumeState(); }
    int SerGetStatusAPM() override { return devices_->SerGetStatusAPM(); }
    std::string SerGetPortMfgr(int handle) override;
    int SerFlowTask(int handle) override { return call(handle, &NativeSerial::SerFlowTask); }
    int SerServerTask(SerialConfig& cfg, std::string& failure) override {
        return devices_->SerServerTask(cfg, failure);
    }
    int SerRegisterDeviceNotification(std::function<void()> callback) override {
        return devices_->SerRegisterDeviceNotification(std::move(callback));
    }
    int SerUnregisterDeviceNotification() override {
        return devices_->SerUnregisterDeviceNotification();
    }
    int SerWaitRx(int handle, int ms) override { return call(handle, &NativeSerial::SerWaitRx, -1, ms); }
    int SerWakeRx(int handle) override { return call(handle, &NativeSerial::SerWakeRx); }
    int SerAbortOpen(const SerialConfig* record) override {
        return network_->SerAbortOpen(record) == 0 || devices_->SerAbortOpen(record) == 0 ? 0 : -1;
    }
    std::string SerLastError(int handle) override;

  private:
    struct Route {
        NativeSerial* backend = nullptr;
        int handle = -1;
    };

    Route route(int handle) const {
        if (handle < 0) {
            return {};
        }
        return {(handle & 1) != 0 ? network_.get() : devices_.get(), handle >> 1};
    }
    template <typename R, typename... Params, typename... Args>
    R call(int handle, R (NativeSerial::*fn)(int, Params...), R missing, Args... args) {
        const Route r = route(handle);
        return r.backend == nullptr ? missing : (r.backend->*fn)(r.handle, args...);
    }
    int call(int handle, int (NativeSerial::*fn)(int)) { return call(handle, fn, -1); }
    // Runs fn on the backend's copy of cfg (its own handle), and takes the result back.
    template <typename Fn>
    int withBackendConfig(SerialConfig& cfg, Fn fn);

    std::shared_ptr<NativeSerial> devices_;
    std::shared_ptr<NativeSerial> network_;
    std::mutex lastOpenMutex_;
    NativeSerial* lastOpen_ = nullptr;
};

}  // namespace serialkit
