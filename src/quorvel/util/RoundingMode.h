#pragma once

namespace quorvel::util {

// How a decimal is shortened to fewer fraction digits.
enum class RoundingMode {
    CEILING,    // towards positive infinity
    DOWN,       // towards zero
    FLOOR,      // towards negative infinity
    HALF_DOWN,  // nearest, ties towards zero
    HALF_EVEN,  // nearest, ties to the even neighbour
    HALF_UP,    // nearest, ties away from zero
    UP,         // away from zero
    UNNECESSARY // exact only; raises an arithmetic failure when digits would be lost
};

}  // namespace quorvel::util
