#pragma once

#include <stdexcept>
#include <string>

namespace quorvel::util {

// A text that is not a number of the expected form.
class NumberFormatException : public std::invalid_argument {
public:
    explicit NumberFormatException(const std::string& message) : std::invalid_argument(message) {}
};

}  // namespace quorvel::util
