#pragma once

#include <stdexcept>
#include <string>

namespace quorvel::util {

// Division by zero and other impossible exact operations.
class ArithmeticException : public std::runtime_error {
public:
    explicit ArithmeticException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace quorvel::util
