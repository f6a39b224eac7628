#pragma once

#include <string>
#include <vector>

#include "SimOptions.h"

namespace tools {

// Every instrument preset of the program under its constant name (MITUTOYO, KERN_MPS, ...),
// then "scale" for the GENERIC preset. Each sends the preset's own sample lines, then the lines
// of its maker's other formats (SimFormats.h), with the preset's terminator; a preset with
// neither sends a common line set its pattern reads.
const std::vector<Preset>& instrumentPresets();

// The --list-presets table.
std::string presetList();

}  // namespace tools
