#include "serialkit/RoutingSerial.h"

#include "serialkit/NetworkPortName.h"
#include "serialkit/SerialConfig.h"

namespace serialkit {

RoutingSerial::RoutingSerial(std::shared_ptr<NativeSerial> devices,
                             std::shared_ptr<NativeSerial> network)
    : devices_(std::move(devices)), network_(std::move(network)) {}

int RoutingSerial::SerOpenPort(SerialConfig& cfg) {
    const bool network = NetworkPortName::looksLikeOne(cfg.getPortNameString());
    NativeSerial* backend = network ? network_.get() : devices_.get();
    {
        std::lock_guard<std::mutex> lock(lastOpenMutex_);
        lastOpen_ = backend;
    }
    const int result = backend->SerOpenPort(cfg);
    if (result != OPEN_OK) {
        return result;
    }
    cfg.setPortNum((cfg.getPort() - 1) * 2 + (network ? 1 : 0) + 1);
    return OPEN_OK;
}

template <typename Fn>
int RoutingSerial::withBackendConfig(SerialConfig& cfg, Fn fn) {
    const int own = cfg.getPort();
    const Route r = route(own - 1);
    if (r.backend == nullptr) {
        return -1;
    }
    cfg.setPortNum(r.handle + 1);
    const int result = fn(*r.backend, cfg);
    cfg.setPortNum(own);
    return result;
}

int RoutingSerial::SerConfigure(SerialConfig& cfg) {
    return withBackendConfig(cfg, [](NativeSerial& b, SerialConfig& c) { return b.SerConfigure(c); });
}

int RoutingSerial::SerResetPortDriver(SerialConfig& cfg) {
    if (route(cfg.getPort() - 1).backend == nullptr) {
        return devices_->SerResetPortDriver(cfg);
    }
    return withBackendConfig(
        cfg, [](NativeSerial& b, SerialConfig& c) { return b.SerResetPortDriver(c); });
}

int RoutingSerial::SerClosePort(int handle) {
    const Route r = route(handle);
    return r.backend == nullptr ? -1 : r.backend->SerClosePort(r.handle);
}

std::string RoutingSerial::SerGetPortMfgr(int handle) {
    const Route r = route(handle);
    return r.backend == nullptr ? std::string() : r.backend->SerGetPortMfgr(r.handle);
}

std::string RoutingSerial::SerLastError(int handle) {
    if (handle < 0) {
        NativeSerial* last = nullptr;
        {
            std::lock_guard<std::mutex> lock(lastOpenMutex_);
            last = lastOpen_;
        }
        return (last != nullptr ? last : devices_.get())->SerLastError(handle);
    }
    const Route r = route(handle);
    return r.backend == nullptr ? std::string() : r.backend->SerLastError(r.handle);
}

}  // namespace serialkit
