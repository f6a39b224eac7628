#include "serialkit/tool/FormatData.h"

#include <limits>
#include <stdexcept>

namespace serialkit::tool {

namespace {

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

int digitValue(std::uint8_t b) {
    if (b >= '0' && b <= '9') {
        return b - '0';
    }
    if (b >= 'a' && b <= 'f') {
        return b - 'a' + 10;
    }
    if (b >= 'A' && b <= 'F') {
        return b - 'A' + 10;
    }
    return -1;
}

void appendByte(std::string& out, std::uint8_t b) {
    out += FormatData::hexSym[b >> 4];
    out += FormatData::hexSym[b & 0x0F];
}

}  // namespace

std::uint64_t FormatData::getHexValue(std::span<const std::uint8_t> bytes) {
    constexpr std::uint64_t kLimit = std::numeric_limits<std::uint64_t>::max() >> 4;
    std::uint64_t value = 0;
    for (std::uint8_t b : bytes) {
        const int digit = digitValue(b);
        if (digit < 0) {
            throw std::invalid_argument("Invalid hex value: " + std::to_string(b));
        }
        if (value > kLimit) {
            throw std::out_of_range("Hex value too large");
        }
        value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    return value;
}

std::uint64_t FormatData::getHexValue(std::string_view bytes) {
    return getHexValue(asBytes(bytes));
}

std::uint64_t FormatData::getHexValue(std::span<const std::uint8_t> bytes, std::size_t count) {
    if (count > bytes.size()) {
        throw std::invalid_argument("Hex digit count exceeds data length: " +
                                    std::to_string(count) + " > " + std::to_string(bytes.size()));
    }
    return getHexValue(bytes.first(count));
}

std::uint64_t FormatData::getHexValue(std::string_view bytes, std::size_t count) {
    return getHexValue(asBytes(bytes), count);
}

std::string FormatData::getHexString(std::uint64_t value, std::size_t minDigits) {
    std::string digits;
    do {
        digits.insert(digits.begin(), hexSym[value & 0x0F]);
        value >>= 4;
    } while (value != 0);
    if (digits.size() < minDigits) {
        digits.insert(0, minDigits - digits.size(), '0');
    }
    return digits;
}

std::string FormatData::getHexString(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            out += ' ';
        }
        appendByte(out, bytes[i]);
    }
    return out;
}

std::string FormatData::getHexString(std::string_view bytes) {
    return getHexString(asBytes(bytes));
}

std::string FormatData::getAsciiHexString(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        if (b >= 0x20 && b <= 0x7E && b != '<') {
            out += static_cast<char>(b);
        } else {
            out += '<';
            appendByte(out, b);
            out += '>';
        }
    }
    return out;
}

std::string FormatData::getAsciiHexString(std::string_view bytes) {
    return getAsciiHexString(asBytes(bytes));
}

}  // namespace serialkit::tool
