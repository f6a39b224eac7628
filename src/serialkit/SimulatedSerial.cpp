#include "serialkit/SimulatedSerial.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

namespace serialkit {

namespace {

constexpr const char* kIoError = "Input/output error";
constexpr int kLibVersion = 1;
// How long one SerFlowTask call lasts, so a task loop calling it repeatedly does not spin.
constexpr auto kFlowTaskSlice = std::chrono::milliseconds(5);

}  // namespace

// ---- programming interface -------------------------------------------------------------

void SimulatedSerial::addPort(const std::string& name, const std::string& manufacturer,
                              const std::string& description) {
    std::lock_guard lock(mutex_);
    if (Port* existing = byName(name)) {
        // Adding a known port again plugs it back in with the new driver information.
        existing->manufacturer = manufacturer;
        existing->description = description;
        existing->unplugged = false;
        return;
    }
    Port port;
    port.name = name;
    port.manufacturer = manufacturer;
    port.description = description;
    ports_.push_back(std::move(port));
}

void SimulatedSerial::removePort(const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(ports_, [&](const Port& p) { return p.name == name; });
    }
    rxChanged_.notify_all();
}

void SimulatedSerial::setOpenResult(const std::string& name, int code) {
    std::lock_guard lock(mutex_);
    require(name).openResult = code;
}

void SimulatedSerial::setResult(const std::string& operation, int result) {
    std::lock_guard lock(mutex_);
    results_[operation] = result;
}

void SimulatedSerial::clearResult(const std::string& operation) {
    std::lock_guard lock(mutex_);
    results_.erase(operation);
}

void SimulatedSerial::setCtsFunction(const std::string& name, LineFunction f) {
    std::lock_guard lock(mutex_);
    require(name).cts = std::move(f);
}

void SimulatedSerial::setDsrFunction(const std::string& name, LineFunction f) {
    std::lock_guard lock(mutex_);
    require(name).dsr = std::move(f);
}

void SimulatedSerial::setCd(const std::string& name, bool on) {
    std::lock_guard lock(mutex_);
    require(name).cd = on;
}

void SimulatedSerial::setRing(const std::string& name, bool on) {
    std::lock_guard lock(mutex_);
    require(name).ring = on;
}

void SimulatedSerial::inject(const std::string& name, const std::string& bytes) {
    {
        std::lock_guard lock(mutex_);
        Port& port = require(name);
        for (char c : bytes) {
            port.rx.push_back(RxByte{static_cast<std::uint8_t>(c), false, false});
        }
    }
    rxChanged_.notify_all();
}

void SimulatedSerial::inject(const std::string& name, const RxByte& byte) {
    {
        std::lock_guard lock(mutex_);
        require(name).rx.push_back(byte);
    }
    rxChanged_.notify_all();
}

void SimulatedSerial::unplug(const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        require(name).unplugged = true;
    }
    rxChanged_.notify_all();
}

std::string SimulatedSerial::written(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return require(name).tx;
}

SimulatedSerial::ModemLines SimulatedSerial::modemLines(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return require(name).lines;
}

bool SimulatedSerial::isOpen(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Port* port = byName(name);
    return port != nullptr && port->open;
}

SerialConfig SimulatedSerial::lastConfig(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return require(name).config;
}

std::vector<std::string> SimulatedSerial::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void SimulatedSerial::notifyDeviceChange() {
    std::function<void()> callback;
    {
        std::lock_guard lock(mutex_);
        callback = deviceCallback_;
    }
    if (callback) {
        callback();
    }
}

// ---- open, configure, close ------------------------------------------------------------

int SimulatedSerial::SerOpenPort(SerialConfig& cfg) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerOpenPort", forced) && forced != OPEN_OK) {
        return forced;
    }
    Port* port = byName(cfg.getPortNameString());
    if (port == nullptr || port->unplugged) {
        return ERR_NO_SUCH_DEVICE;
    }
    if (port->open) {
        return ERR_IN_USE;
    }
    if (port->openResult != OPEN_OK) {
        return port->openResult;
    }
    port->open = true;
    port->handle = nextHandle_++;
    port->parityPending = false;
    port->framingPending = false;
    port->wakePending = false;
    port->timeoutRx = 0;
    port->timeoutTx = 0;
    port->lastError.clear();
    cfg.setPortNum(port->handle + 1);
    port->config = cfg;
    return OPEN_OK;
}

int SimulatedSerial::SerConfigure(SerialConfig& cfg) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerConfigure", forced) && forced != 0) {
        return forced;
    }
    Port* port = byHandle(cfg.getPort() - 1);
    if (port == nullptr) {
        return -1;
    }
    port->config = cfg;
    return forced;
}

int SimulatedSerial::SerClosePort(int handle) {
    int result = 0;
    {
        std::lock_guard lock(mutex_);
        int forced = 0;
        const bool isForced = enter("SerClosePort", forced);
        Port* port = byHandle(handle);
        if (port == nullptr) {
            return isForced ? forced : -1;
        }
        // Even a forced failure releases the port: the caller forgets the handle either way.
        port->open = false;
        port->handle = -1;
        result = isForced ? forced : 0;
    }
    rxChanged_.notify_all();
    return result;
}

// ---- reading and writing ---------------------------------------------------------------

int SimulatedSerial::SerGetByte(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    Port* port = byHandle(handle);
    if (enter("SerGetByte", forced)) {
        if (port != nullptr && forced == READ_FAILED) {
            port->lastError = kIoError;
        }
        return forced;
    }
    if (port == nullptr) {
        return -1;
    }
    if (port->unplugged) {
        return readFailed(*port);
    }
    if (port->rx.empty()) {
        return NO_DATA;
    }
    std::uint8_t value = 0;
    takeByte(*port, value);
    return value;
}

int SimulatedSerial::SerGetData(int handle, std::uint8_t* buf, int count) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerGetData", forced);
    Port* port = byHandle(handle);
    if (isForced) {
        if (port != nullptr && forced == READ_FAILED) {
            port->lastError = kIoError;
        }
        if (forced <= 0 || buf == nullptr || port == nullptr || port->unplugged) {
            return forced;
        }
        // A forced count still hands over real bytes as far as they go, zeros after that.
        const int n = std::min(forced, count);
        for (int i = 0; i < n; ++i) {
            buf[i] = 0;
            if (!port->rx.empty()) {
                takeByte(*port, buf[i]);
            }
        }
        return forced;
    }
    if (port == nullptr || count < 0 || (buf == nullptr && count > 0)) {
        return -1;
    }
    if (port->unplugged) {
        return readFailed(*port);
    }
    int n = 0;
    while (n < count && !port->rx.empty()) {
        takeByte(*port, buf[n]);
        ++n;
    }
    return n;
}

int SimulatedSerial::SerPutByte(int handle, std::uint8_t byte) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerPutByte", forced);
    Port* port = byHandle(handle);
    if (isForced && forced != 0) {
        return forced;
    }
    if (port == nullptr) {
        return isForced ? forced : -1;
    }
    port->tx.push_back(static_cast<char>(byte));
    return 0;
}

int SimulatedSerial::SerPutData(int handle, const std::uint8_t* buf, int count) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerPutData", forced);
    Port* port = byHandle(handle);
    if (port == nullptr || count < 0 || (buf == nullptr && count > 0)) {
        return isForced ? forced : -1;
    }
    // A forced count is a short (or failed) write: only that many bytes go out.
    const int sent = isForced ? std::clamp(forced, 0, count) : count;
    port->tx.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(sent));
    return isForced ? forced : count;
}

int SimulatedSerial::SerRxReadyCount(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerRxReadyCount", forced)) {
        return forced;
    }
    Port* port = byHandle(handle);
    return port == nullptr ? -1 : static_cast<int>(port->rx.size());
}

int SimulatedSerial::SerTxBufCount(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerTxBufCount", forced)) {
        return forced;
    }
    return byHandle(handle) == nullptr ? -1 : 0;
}

int SimulatedSerial::SerRxFlush(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerRxFlush", forced);
    Port* port = byHandle(handle);
    if (isForced && forced != 0) {
        return forced;
    }
    if (port == nullptr) {
        return isForced ? forced : -1;
    }
    port->rx.clear();
    return 0;
}

int SimulatedSerial::SerTxFlush(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerTxFlush", forced)) {
        return forced;
    }
    return byHandle(handle) == nullptr ? -1 : 0;
}

int SimulatedSerial::SerTxDrain(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerTxDrain", forced)) {
        return forced;
    }
    return byHandle(handle) == nullptr ? -1 : 0;
}

// ---- modem lines and line conditions ---------------------------------------------------

int SimulatedSerial::SerSetDTR(int handle, bool level) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerSetDTR", forced);
    Port* port = byHandle(handle);
    if (isForced && forced != 0) {
        return forced;
    }
    if (port == nullptr) {
        return isForced ? forced : -1;
    }
    port->lines.dtr = level;
    return 0;
}

int SimulatedSerial::SerSetRTS(int handle, bool level) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerSetRTS", forced);
    Port* port = byHandle(handle);
    if (isForced && forced != 0) {
        return forced;
    }
    if (port == nullptr) {
        return isForced ? forced : -1;
    }
    port->lines.rts = level;
    return 0;
}

int SimulatedSerial::sigLine(int handle, const char* op, bool cts) {
    LineFunction f;
    ModemLines lines;
    {
        std::lock_guard lock(mutex_);
        int forced = 0;
        if (enter(op, forced)) {
            return forced;
        }
        Port* port = byHandle(handle);
        if (port == nullptr) {
            return -1;
        }
        f = cts ? port->cts : port->dsr;
        lines = port->lines;
    }
    // The line function belongs to the test; it runs without our lock held.
    return f && f(lines) ? 1 : 0;
}

int SimulatedSerial::SerSigCTS(int handle) {
    return sigLine(handle, "SerSigCTS", true);
}

int SimulatedSerial::SerSigDSR(int handle) {
    return sigLine(handle, "SerSigDSR", false);
}

int SimulatedSerial::SerSigCD(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSigCD", forced)) {
        return forced;
    }
    Port* port = byHandle(handle);
    return port == nullptr ? -1 : (port->cd ? 1 : 0);
}

int SimulatedSerial::SerSigRing(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSigRing", forced)) {
        return forced;
    }
    Port* port = byHandle(handle);
    return port == nullptr ? -1 : (port->ring ? 1 : 0);
}

int SimulatedSerial::SerSigBreak(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSigBreak", forced)) {
        return forced;
    }
    return byHandle(handle) == nullptr ? -1 : 0;
}

int SimulatedSerial::SerSigFrameErr(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSigFrameErr", forced)) {
        return forced;
    }
    Port* port = byHandle(handle);
    if (port == nullptr) {
        return -1;
    }
    return std::exchange(port->framingPending, false) ? 1 : 0;
}

int SimulatedSerial::SerSigOverrun(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSigOverrun", forced)) {
        return forced;
    }
    return byHandle(handle) == nullptr ? -1 : 0;
}

int SimulatedSerial::SerSigParityErr(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSigParityErr", forced)) {
        return forced;
    }
    Port* port = byHandle(handle);
    if (port == nullptr) {
        return -1;
    }
    return std::exchange(port->parityPending, false) ? 1 : 0;
}

int SimulatedSerial::SerRxOverflow(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerRxOverflow", forced)) {
        return forced;
    }
    return byHandle(handle) == nullptr ? -1 : 0;
}

int SimulatedSerial::SerSendBreak(int handle, int /*durationMs*/) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSendBreak", forced)) {
        return forced;
    }
    return byHandle(handle) == nullptr ? -1 : 0;
}

// ---- time-outs -------------------------------------------------------------------------

int SimulatedSerial::SerSetTimeoutRx(int handle, int ms) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerSetTimeoutRx", forced);
    Port* port = byHandle(handle);
    if (isForced && forced != 0) {
        return forced;
    }
    if (port == nullptr) {
        return isForced ? forced : -1;
    }
    port->timeoutRx = ms;
    return 0;
}

int SimulatedSerial::SerSetTimeoutTx(int handle, int ms) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerSetTimeoutTx", forced);
    Port* port = byHandle(handle);
    if (isForced && forced != 0) {
        return forced;
    }
    if (port == nullptr) {
        return isForced ? forced : -1;
    }
    port->timeoutTx = ms;
    return 0;
}

int SimulatedSerial::SerGetTimeoutRx(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerGetTimeoutRx", forced)) {
        return forced;
    }
    Port* port = byHandle(handle);
    return port == nullptr ? -1 : port->timeoutRx;
}

int SimulatedSerial::SerGetTimeoutTx(int handle) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerGetTimeoutTx", forced)) {
        return forced;
    }
    Port* port = byHandle(handle);
    return port == nullptr ? -1 : port->timeoutTx;
}

// ---- discovery and driver services -----------------------------------------------------

void SimulatedSerial::SerGetPortList(PortListReceiver& receiver) {
    std::vector<Port> found;
    {
        std::lock_guard lock(mutex_);
        calls_.emplace_back("SerGetPortList");
        for (const Port& p : ports_) {
            Port copy;
            copy.name = p.name;
            copy.manufacturer = p.manufacturer;
            copy.description = p.description;
            found.push_back(std::move(copy));
        }
    }
    // The receiver is the caller's; report without our lock held.
    for (const Port& p : found) {
        receiver.addPortName(p.name);
        if (!p.manufacturer.empty() || !p.description.empty()) {
            receiver.addPortInfo(p.name, p.manufacturer, p.description);
        }
    }
}

int SimulatedSerial::SerResetPortDriver(SerialConfig& /*cfg*/) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    return enter("SerResetPortDriver", forced) ? forced : 0;
}

int SimulatedSerial::SerGetLibVer() {
    std::lock_guard lock(mutex_);
    int forced = 0;
    return enter("SerGetLibVer", forced) ? forced : kLibVersion;
}

std::string SimulatedSerial::SerGetName(int index) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back("SerGetName");
    if (index < 0 || static_cast<std::size_t>(index) >= ports_.size()) {
        return "";
    }
    return ports_[static_cast<std::size_t>(index)].name;
}

int SimulatedSerial::SerGetInstanceLock() {
    std::lock_guard lock(mutex_);
    int forced = 0;
    return enter("SerGetInstanceLock", forced) ? forced : instanceLock_;
}

int SimulatedSerial::SerSetInstanceLock(int value) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSetInstanceLock", forced) && forced != 0) {
        return forced;
    }
    instanceLock_ = value;
    return forced;
}

int SimulatedSerial::SerGetPowerMode(int port) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerGetPowerMode", forced)) {
        return forced;
    }
    auto it = powerModes_.find(port);
    return it == powerModes_.end() ? 0 : it->second;
}

int SimulatedSerial::SerSetPowerMode(int port, int mode) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerSetPowerMode", forced) && forced != 0) {
        return forced;
    }
    powerModes_[port] = mode;
    return forced;
}

int SimulatedSerial::SerGetResumeState() {
    std::lock_guard lock(mutex_);
    int forced = 0;
    return enter("SerGetResumeState", forced) ? forced : 0;
}

int SimulatedSerial::SerGetStatusAPM() {
    std::lock_guard lock(mutex_);
    int forced = 0;
    return enter("SerGetStatusAPM", forced) ? forced : 0;
}

std::string SimulatedSerial::SerGetPortMfgr(int handle) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back("SerGetPortMfgr");
    Port* port = byHandle(handle);
    return port == nullptr ? "" : port->manufacturer;
}

// ---- helper task bodies ----------------------------------------------------------------

int SimulatedSerial::SerFlowTask(int handle) {
    std::unique_lock lock(mutex_);
    int forced = 0;
    const bool isForced = enter("SerFlowTask", forced);
    const bool known = byHandle(handle) != nullptr;
    // One short slice of work; a close ends it early. Even failing calls take their slice so
    // a task loop calling this over and over never spins.
    rxChanged_.wait_for(lock, kFlowTaskSlice, [&] { return known && byHandle(handle) == nullptr; });
    if (isForced) {
        return forced;
    }
    return known ? 0 : -1;
}

int SimulatedSerial::SerServerTask(SerialConfig& cfg, std::string& failure) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerServerTask", forced) && forced != 0) {
        failure = "Server task failed: " + std::to_string(forced);
        return forced;
    }
    cfg.setPortNum(1);
    return 0;
}

int SimulatedSerial::SerRegisterDeviceNotification(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerRegisterDeviceNotification", forced) && forced != 0) {
        return forced;
    }
    deviceCallback_ = std::move(callback);
    return 0;
}

int SimulatedSerial::SerUnregisterDeviceNotification() {
    std::lock_guard lock(mutex_);
    int forced = 0;
    if (enter("SerUnregisterDeviceNotification", forced) && forced != 0) {
        return forced;
    }
    deviceCallback_ = nullptr;
    return 0;
}

// ---- waiting for input -----------------------------------------------------------------

int SimulatedSerial::SerWaitRx(int handle, int ms) {
    std::unique_lock lock(mutex_);
    int forced = 0;
    if (enter("SerWaitRx", forced)) {
        return forced;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        // Look the port up again after every wake: ports_ may have changed meanwhile.
        Port* port = byHandle(handle);
        if (port == nullptr) {
            return -1;
        }
        if (port->unplugged) {
            port->lastError = kIoError;
            return -1;
        }
        if (!port->rx.empty()) {
            return WAIT_DATA;
        }
        if (port->wakePending) {
            port->wakePending = false;
            return WAIT_WOKEN;
        }
        if (ms < 0) {
            rxChanged_.wait(lock);
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return WAIT_TIMEOUT;
        } else {
            rxChanged_.wait_until(lock, deadline);
        }
    }
}

int SimulatedSerial::SerWakeRx(int handle) {
    {
        std::lock_guard lock(mutex_);
        int forced = 0;
        const bool isForced = enter("SerWakeRx", forced);
        if (isForced && forced != 0) {
            return forced;
        }
        Port* port = byHandle(handle);
        if (port == nullptr) {
            return isForced ? forced : -1;
        }
        port->wakePending = true;
    }
    rxChanged_.notify_all();
    return 0;
}

std::string SimulatedSerial::SerLastError(int handle) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back("SerLastError");
    Port* port = byHandle(handle);
    return port == nullptr ? "" : port->lastError;
}

// ---- private helpers -------------------------------------------------------------------

SimulatedSerial::Port* SimulatedSerial::byHandle(int handle) {
    if (handle < 0) {
        return nullptr;
    }
    for (Port& p : ports_) {
        if (p.open && p.handle == handle) {
            return &p;
        }
    }
    return nullptr;
}

SimulatedSerial::Port* SimulatedSerial::byName(const std::string& name) {
    for (Port& p : ports_) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

const SimulatedSerial::Port* SimulatedSerial::byName(const std::string& name) const {
    for (const Port& p : ports_) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

SimulatedSerial::Port& SimulatedSerial::require(const std::string& name) {
    Port* port = byName(name);
    if (port == nullptr) {
        throw std::invalid_argument("no simulated port " + name);
    }
    return *port;
}

const SimulatedSerial::Port& SimulatedSerial::require(const std::string& name) const {
    const Port* port = byName(name);
    if (port == nullptr) {
        throw std::invalid_argument("no simulated port " + name);
    }
    return *port;
}

bool SimulatedSerial::overridden(const std::string& op, int& result) {
    auto it = results_.find(op);
    if (it == results_.end()) {
        return false;
    }
    result = it->second;
    return true;
}

bool SimulatedSerial::enter(const char* op, int& forced) {
    calls_.emplace_back(op);
    return overridden(op, forced);
}

int SimulatedSerial::readFailed(Port& port) {
    port.lastError = kIoError;
    return READ_FAILED;
}

void SimulatedSerial::takeByte(Port& port, std::uint8_t& out) {
    const RxByte b = port.rx.front();
    port.rx.pop_front();
    out = b.value;
    if (b.parityError) {
        port.parityPending = true;
    }
    if (b.framingError) {
        port.framingPending = true;
    }
}

}  // namespace serialkit
