#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "serialkit/HandleTable.h"
#include "serialkit/NativeSerial.h"

namespace serialkit {

// The driver for instruments on the network, through gensio: "tcp://HOST:PORT" is a plain TCP
// stream that carries the serial data, "rfc2217://HOST:PORT" a Telnet connection to a serial
// device server with COM-port control.
//
// - Opening connects within the connect time-out and tells refused, unreachable, timed out
//   and unknown host apart (ERR_REFUSED and friends; SerLastError(-1) has the details).
// - Received bytes wait in a per-connection buffer; SerWaitRx sleeps on a descriptor that the
//   gensio thread signals, like the termios driver's poll on its device.
// - A connection the other side closes counts as a lost device: reads fail with SerLastError
//   "Connection closed by the device server".
// - rfc2217: SerConfigure sends baud rate, data size, parity, stop size and flow control and
//   waits for the server's answers; DTR, RTS and break go out as SET-CONTROL; the modem and
//   line-state notifications the server sends are what the signal queries answer. Telnet
//   escaping of 0xFF is done both ways by gensio.
// - tcp: line settings and modem lines succeed without effect, as on a pseudo-terminal.
// - Nothing is ever listened on; only the named host is connected to.
class NetworkSerial : public NativeSerial {
  public:
    static constexpr int DEFAULT_CONNECT_TIMEOUT_MS = 5000;

    explicit NetworkSerial(int connectTimeoutMs = DEFAULT_CONNECT_TIMEOUT_MS);
    ~NetworkSerial() override;
    NetworkSerial(const NetworkSerial&) = delete;
    NetworkSerial& operator=(const NetworkSerial&) = delete;

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
    // Network ports are named, not discovered: reports nothing.
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
    int SerAbortOpen(const SerialConfig* record) override;
    std::string SerLastError(int handle) override;

    struct Conn;

  private:
    std::shared_ptr<Conn> find(int handle);
    int refuse(int code, const std::string& why);

    int connectTimeoutMs_;
    HandleTable<std::shared_ptr<Conn>> conns_;
    // Connections still opening, by the record they are opened with.
    std::mutex openingMutex_;
    std::vector<std::pair<const SerialConfig*, std::shared_ptr<Conn>>> opening_;
    std::mutex openErrorMutex_;
    std::string openError_;
};

}  // namespace serialkit
