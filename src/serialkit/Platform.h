#pragma once

#include <string>

namespace serialkit {

// The operating system as the platform tables name it: "Linux", "FreeBSD", ...
std::string systemOsName();
// The architecture in the same naming: "amd64" for x86_64, "i386", "arm", "aarch64", ...
std::string systemOsArch();
// The name with the "SK_OSNAME" process property taking precedence.
std::string currentOsName();
// The architecture with "SK_OSARCH" taking precedence.
std::string currentOsArch();

}  // namespace serialkit
