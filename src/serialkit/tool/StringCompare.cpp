#include "serialkit/tool/StringCompare.h"

#include <algorithm>

namespace serialkit::tool {

namespace {

// Locale-independent on purpose: the order must not change with the process locale.
unsigned char lowerByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// Negative, zero or positive like a three-way comparison of the lower-cased texts.
int compareLower(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = lowerByte(a[i]);
        const unsigned char cb = lowerByte(b[i]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace

bool StringCompare::lessThan(const std::string& a, const std::string& b) const {
    return compareLower(a, b) < 0;
}

bool StringCompare::lessThanOrEqual(const std::string& a, const std::string& b) const {
    return compareLower(a, b) <= 0;
}

}  // namespace serialkit::tool
