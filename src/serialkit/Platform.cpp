#include "serialkit/Platform.h"

#include <sys/utsname.h>

#include "serialkit/SystemProperties.h"

namespace serialkit {

std::string systemOsName() {
    struct utsname u {};
    if (uname(&u) != 0) {
        return "Linux";
    }
    return u.sysname;
}

std::string systemOsArch() {
    struct utsname u {};
    if (uname(&u) != 0) {
        return "";
    }
    const std::string machine = u.machine;
    // The tables use the runtime's traditional architecture names.
    if (machine == "x86_64") {
        return "amd64";
    }
    if (machine == "i486" || machine == "i586" || machine == "i686") {
        return "i386";
    }
    if (machine.rfind("armv", 0) == 0 && machine != "armv4l" && machine != "armv5tel" &&
        machine != "armv5l") {
        return "arm";
    }
    if (machine == "arm64") {
        return "aarch64";
    }
    return machine;
}

std::string currentOsName() {
    auto name = SystemProperties::get("SK_OSNAME");
    return name && !name->empty() ? *name : systemOsName();
}

std::string currentOsArch() {
    auto arch = SystemProperties::get("SK_OSARCH");
    return arch && !arch->empty() ? *arch : systemOsArch();
}

}  // namespace serialkit
