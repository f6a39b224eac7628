#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace serialkit::tool {

// Hexadecimal conversions. Byte arrays are given either as text (its bytes) or as a span
// of unsigned bytes.
class FormatData {
  public:
    static constexpr std::string_view hexSym = "0123456789ABCDEF";

    // The value of the ASCII hex digits ('0'-'9', 'a'-'f', 'A'-'F'), most significant first;
    // empty input gives 0. Any other byte throws std::invalid_argument
    // "Invalid hex value: " + the byte's value 0..255 in decimal. A value that does not fit
    // in 64 bits throws std::out_of_range "Hex value too large"; leading zeros never count
    // against that, so any number of them followed by up to 16 digits is fine.
    static std::uint64_t getHexValue(std::string_view bytes);
    static std::uint64_t getHexValue(std::span<const std::uint8_t> bytes);
    // The same over the first `count` bytes. A count beyond the array's length throws
    // std::invalid_argument "Hex digit count exceeds data length: " + count + " > " + length,
    // rather than quietly reading fewer digits than the caller asked for.
    static std::uint64_t getHexValue(std::string_view bytes, std::size_t count);
    static std::uint64_t getHexValue(std::span<const std::uint8_t> bytes, std::size_t count);

    // `value` in upper-case hex without prefix, left-padded with '0' to at least `minDigits`
    // digits: (26, 4) gives "001A", (0, 0) gives "0", (0x12345, 2) gives "12345".
    static std::string getHexString(std::uint64_t value, std::size_t minDigits = 0);
    // Every byte as two upper-case hex digits, single spaces between bytes, none at either
    // end: {0x0A, 0xFF, 0x41} gives "0A FF 41"; empty input gives "".
    static std::string getHexString(std::string_view bytes);
    static std::string getHexString(std::span<const std::uint8_t> bytes);

    // A readable form of received data: printable ASCII (0x20..0x7E) as itself, every other
    // byte and '<' itself as '<', two upper-case hex digits and '>', so the text can be
    // read back unambiguously: "ST<0D><0A>" for "ST\r\n", "<3C>5" for "<5".
    static std::string getAsciiHexString(std::string_view bytes);
    static std::string getAsciiHexString(std::span<const std::uint8_t> bytes);
};

}  // namespace serialkit::tool
