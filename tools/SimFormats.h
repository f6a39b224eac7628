#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tools {

// A line as a real instrument of the preset's maker sends it, and the text the program takes
// from it ("" = nothing may be typed: overload, error, header, date and other lines).
struct FormatLine {
    std::string bytes;  // with the terminator where the instrument sends one
    std::string value;
};

// The lines of the maker's other layouts for the preset named `preset` (a constant name such as
// SARTORIUS); none for most presets. The simulator plays them after the preset's samples.
std::vector<FormatLine> formatLines(std::string_view preset);

}  // namespace tools
