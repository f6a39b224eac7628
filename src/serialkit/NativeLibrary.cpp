#include <map>
#include <mutex>
#include <stdexcept>

#include "serialkit/NativeSerial.h"
#include "serialkit/NetworkSerial.h"
#include "serialkit/PosixSerial.h"
#include "serialkit/RoutingSerial.h"

namespace serialkit {

namespace {

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, NativeLibrary::Factory>& registry() {
    // The built-in backends; explicit here because a static library drops unreferenced
    // self-registering objects.
    static std::map<std::string, NativeLibrary::Factory> r = [] {
        std::map<std::string, NativeLibrary::Factory> m;
        auto posix = [] {
            return std::make_shared<RoutingSerial>(std::make_shared<PosixSerial>(),
                                                   std::make_shared<NetworkSerial>());
        };
        for (const char* name : {"skLux86", "skLuxArm", "skLux86_64bit", "skLuxArm64"}) {
            m.emplace(name, posix);
        }
        return m;
    }();
    return r;
}

}  // namespace

void NativeLibrary::registerBackend(const std::string& baseName, Factory factory) {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry()[baseName] = std::move(factory);
}

std::shared_ptr<NativeSerial> NativeLibrary::load(const std::string& baseName) {
    Factory factory;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        auto it = registry().find(baseName);
        if (it == registry().end()) {
            throw std::runtime_error("no native library " + baseName + " for this platform");
        }
        factory = it->second;
    }
    return factory();
}

bool NativeLibrary::has(const std::string& baseName) {
    std::lock_guard<std::mutex> lock(registryMutex());
    return registry().count(baseName) != 0;
}

}  // namespace serialkit
