#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "serialkit/SerialConfig.h"

namespace serialkit {

class ErrorStatusHandler;
class DeviceNotificationCallback;

// One serial port: open with a SerialConfig, read and write bytes, drive and sample the modem
// lines, close. Port failures are IOException with fixed message texts; invalid settings are
// std::invalid_argument from SerialConfig.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    virtual void configure() = 0;
    virtual void configure(SerialConfig& cfg) = 0;
    virtual void reset() = 0;
    virtual void resetPortDriver() = 0;

    // The next byte 0..255, or -1 when nothing waits.
    virtual int getByte() = 0;
    virtual int getData(std::span<std::uint8_t> buffer) = 0;
    virtual int getData(std::span<std::uint8_t> buffer, int offset, int count) = 0;
    // True as soon as a byte waits; false when the time is up or after wakeUp().
    virtual bool waitForData(int timeoutMs) = 0;
    // Ends a waitForData running on another thread; harmless when closed.
    virtual void wakeUp() = 0;

    virtual void putByte(std::uint8_t byte) = 0;
    virtual void putData(std::span<const std::uint8_t> buffer) = 0;
    virtual void putData(std::span<const std::uint8_t> buffer, int count) = 0;
    virtual void putData(std::span<const std::uint8_t> buffer, int offset, int count) = 0;
    virtual void putString(const std::string& text) = 0;

    virtual void rxFlush() = 0;
    virtual void txFlush() = 0;
    virtual void txDrain() = 0;
    virtual int rxReadyCount() = 0;
    virtual int txBufCount() = 0;
    virtual bool rxOverflow() = 0;
    virtual void sendBreak(int durationMs) = 0;

    virtual void setDTR(bool on) = 0;
    virtual void setRTS(bool on) = 0;
    virtual bool sigCTS() = 0;
    virtual bool sigDSR() = 0;
    virtual bool sigCD() = 0;
    virtual bool sigRing() = 0;
    virtual bool sigBreak() = 0;
    virtual bool sigFrameErr() = 0;
    virtual bool sigOverrun() = 0;
    virtual bool sigParityErr() = 0;

    virtual void setTimeoutRx(int ms) = 0;
    virtual void setTimeoutTx(int ms) = 0;
    virtual int getTimeoutRx() = 0;
    virtual int getTimeoutTx() = 0;

    virtual int getLibVer() = 0;
    virtual std::string getName(int index) = 0;

    // The record used to open and configure.
    virtual SerialConfig getConfig() const = 0;
    virtual void setConfig(const SerialConfig& cfg) = 0;
    virtual int getBitRate() const = 0;
    virtual void setBitRate(int bitRate) = 0;
    virtual int getDataBits() const = 0;
    virtual void setDataBits(int dataBits) = 0;
    virtual int getParity() const = 0;
    virtual void setParity(int parity) = 0;
    virtual int getStopBits() const = 0;
    virtual void setStopBits(int stopBits) = 0;
    virtual int getHandshake() const = 0;
    virtual void setHandshake(int handshake) = 0;
    virtual void setPortName(const std::string& name) = 0;
    virtual std::string getPortName() const = 0;
    virtual std::string getDevName() const = 0;
    // The native handle; -1 while closed.
    virtual int getPortNum() const = 0;
    virtual bool isOpen() const = 0;
    virtual std::string getName() const = 0;
    virtual void setName(const std::string& name) = 0;

    virtual bool sendSinceTxBufEmpty() const = 0;
    virtual void clearSendSinceTxBufEmpty() = 0;
    virtual bool readSinceRxBufCheck() const = 0;
    virtual void clearReadSinceRxBufCheck() = 0;

    virtual void setErrorStatusHandler(std::shared_ptr<ErrorStatusHandler> handler) = 0;
    virtual void registerDeviceNotification(std::shared_ptr<DeviceNotificationCallback> cb) = 0;
    virtual void unregisterDeviceNotification() = 0;
    virtual void deviceNotification() = 0;
};

}  // namespace serialkit
