#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "serialkit/PortDriverInfo.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPort.h"

namespace serialkit {

class DeviceNotificationCallback;
class ErrorStatusHandler;
class FlowControlTask;
class NativeSerial;
class SerialServerTask;

// The serial library's port object. The class picks and loads the platform's native driver
// once, before the first class-wide or port operation, and keeps the platform's feature
// flags and the discovered port list; each object opens one port with a SerialConfig.
//
// Every port operation checks first whether the platform supports it, then whether the port
// is open, then calls the driver and turns its error codes into IOException with fixed
// messages. A port object is used by one thread at a time; wakeUp() is the one operation
// meant for another thread.
//
// The platform name comes from "SK_OSNAME" when set, else from the system; the architecture
// from "SK_OSARCH" only when both are set. The runtime version and vendor that the Windows
// library choice looks at are the properties "runtime.version" and "runtime.vendor".
class SerialPortLocal : public SerialPort {
  public:
    static constexpr int BUILD_NUM = 9233;

    // Opens the port at once; throws IOException when it cannot be opened.
    explicit SerialPortLocal(const SerialConfig& config);
    // A closed port with a record for the platform's default port name; loads the driver
    // first if that did not happen yet.
    SerialPortLocal();
    // Stops the flow task and closes the port; never throws.
    ~SerialPortLocal() override;
    SerialPortLocal(const SerialPortLocal&) = delete;
    SerialPortLocal& operator=(const SerialPortLocal&) = delete;

    // ---- class-wide ----
    static std::vector<std::string> getPortList();
    // Appends unless an entry equal ignoring case exists.
    static void addPortName(const std::string& name);
    // Appends unless an entry with that port name (ignoring case) exists.
    static void addPortInfo(const std::string& portName, const std::string& manufacturer,
                            const std::string& description);
    static std::vector<PortDriverInfo> getDriverInfoList();
    static void clearPortListInfo();
    static bool isSupported(const std::string& feature);
    static bool isLibraryLoaded();
    static int getBuildNum() { return BUILD_NUM; }
    static std::string getVersionText();
    static int getMaxBitRate();
    static int getPortListMode();
    static void setPortListMode(int mode);
    static int getInstanceLock();
    static int setInstanceLock(int value);
    static int getPowerMode(int port);
    static void setPowerMode(int port, int mode);
    static int getResumeState(bool clear);
    static int getStatusAPM();
    // Retries the open every 500 ms for up to 3000 ms while the driver answers 16 (device
    // busy); only on "Solaris" and "SunOS". Returns the last open result.
    static int checkBusy(SerialConfig& cfg, int result);
    // The first "COM<number>" inside the text, or the text unchanged when there is none.
    static std::string stripCOM(const std::string& text);
    // Sets the support flags, maximum bit rate and default port name for the platform.
    static void featureSetup();
    // Chooses the driver's base name for the platform; "" when the platform has none.
    static void setNativeLibName();
    // On "EPOC" starts the driver's server task for the port and waits (at most 5 s, so a
    // hung server cannot hang the caller) until it is ready; elsewhere does nothing.
    static void srvTaskCheck(SerialPortLocal& port);
    static std::string getOsName();
    static std::string getOsArch();
    static std::string getNativeLibName();
    static std::string getDefaultPortName();

    // For tests and demonstrations: makes `native` the loaded driver.
    static void useNative(std::shared_ptr<NativeSerial> native);
    // For tests and demonstrations: runs the class-wide start-up again from scratch, with
    // the platform properties read anew and every class-wide state back at its start value.
    static void reinitialize();

    // ---- per port ----
    void open() override;
    void close() override;
    void configure() override;
    void configure(SerialConfig& cfg) override;
    void reset() override;
    void resetPortDriver() override;

    int getByte() override;
    int getData(std::span<std::uint8_t> buffer) override;
    int getData(std::span<std::uint8_t> buffer, int offset, int count) override;
    bool waitForData(int timeoutMs) override;
    void wakeUp() override;

    void putByte(std::uint8_t byte) override;
    void putData(std::span<const std::uint8_t> buffer) override;
    void putData(std::span<const std::uint8_t> buffer, int count) override;
    void putData(std::span<const std::uint8_t> buffer, int offset, int count) override;
    void putString(const std::string& text) override;

    void rxFlush() override;
    void txFlush() override;
    void txDrain() override;
    int rxReadyCount() override;
    int txBufCount() override;
    bool rxOverflow() override;
    void sendBreak(int durationMs) override;

    void setDTR(bool on) override;
    void setRTS(bool on) override;
    bool sigCTS() override;
    bool sigDSR() override;
    bool sigCD() override;
    bool sigRing() override;
    bool sigBreak() override;
    bool sigFrameErr() override;
    bool sigOverrun() override;
    bool sigParityErr() override;

    void setTimeoutRx(int ms) override;
    void setTimeoutTx(int ms) override;
    int getTimeoutRx() override;
    int getTimeoutTx() override;

    int getLibVer() override;
    std::string getName(int index) override;

    SerialConfig getConfig() const override { return config_; }
    void setConfig(const SerialConfig& cfg) override;
    int getBitRate() const override { return config_.getBitRate(); }
    void setBitRate(int bitRate) override { config_.setBitRate(bitRate); }
    int getDataBits() const override { return config_.getDataBits(); }
    void setDataBits(int dataBits) override { config_.setDataBits(dataBits); }
    int getParity() const override { return config_.getParity(); }
    void setParity(int parity) override { config_.setParity(parity); }
    int getStopBits() const override { return config_.getStopBits(); }
    void setStopBits(int stopBits) override { config_.setStopBits(stopBits); }
    int getHandshake() const override { return config_.getHandshake(); }
    void setHandshake(int handshake) override { config_.setHandshake(handshake); }
    void setPortName(const std::string& name) override;
    std::string getPortName() const override;
    std::string getDevName() const override { return getPortName(); }
    int getPortNum() const override { return handle_.load(); }
    bool isOpen() const override { return open_.load(); }
    std::string getName() const override { return name_; }
    void setName(const std::string& name) override { name_ = name; }

    bool sendSinceTxBufEmpty() const override { return wrSinceTxBufEmpty_; }
    void clearSendSinceTxBufEmpty() override { wrSinceTxBufEmpty_ = false; }
    bool readSinceRxBufCheck() const override { return rdSinceRxBufCheck_; }
    void clearReadSinceRxBufCheck() override { rdSinceRxBufCheck_ = false; }

    void setErrorStatusHandler(std::shared_ptr<ErrorStatusHandler> handler) override;
    void registerDeviceNotification(std::shared_ptr<DeviceNotificationCallback> cb) override;
    void unregisterDeviceNotification() override;
    // Prints "Serialkit.deviceNotification" and calls the registered callback.
    void deviceNotification() override;

    // The running flow task, or nullptr ("Windows 95" with hardware flow control only).
    FlowControlTask* getFlowControlTask() const { return flowTask_.get(); }
    SerialServerTask* getServerTask() const { return serverTask_.get(); }

  private:
    // Throws "<op> not supported on <osName>" unless the flag is set.
    void requireSupport(bool supported, const char* op) const;
    // Throws "<op>: Port not open" while the handle is negative.
    void requireOpen(const char* op) const;
    // Both checks, in that order, for an operation that names itself alike in each.
    void requireSupportAndOpen(bool supported, const char* op) const;
    // Calls the driver with this port's handle and `args`; throws IOException(failure) when it
    // answers below 0, else returns the answer.
    template <typename... Params, typename... Args>
    int callNative(int (NativeSerial::*call)(int, Params...), const char* failure, Args... args);
    // Writes `count` bytes; throws "<shortfall><sent> of <count> bytes" when the driver takes
    // fewer.
    void sendAll(const std::uint8_t* data, int count, const char* shortfall);
    // The driver this port talks to.
    NativeSerial& native() const { return *native_; }
    void stopFlowTask();
    void applyOpenTimeouts();
    void closeQuietly() noexcept;
    // Where the platform polls for its receive time-out, waits (polling the ready count) until
    // `count` bytes wait or the time-out runs out; false when it ran out.
    bool pollForBytes(int count);

    std::shared_ptr<ErrorStatusHandler> errorStatusHandler_;
    std::atomic<int> handle_{-1};
    std::string name_ = "Serial Port";
    SerialConfig config_;
    std::unique_ptr<FlowControlTask> flowTask_;
    std::unique_ptr<SerialServerTask> serverTask_;
    std::atomic<bool> open_{false};
    bool wrSinceTxBufEmpty_ = false;
    bool rdSinceRxBufCheck_ = false;

    // Set at construction and at every open; wakeUp() reads it from another thread.
    mutable std::mutex nativeMutex_;
    std::shared_ptr<NativeSerial> native_;
};

}  // namespace serialkit
