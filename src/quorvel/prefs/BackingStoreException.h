#pragma once

#include <stdexcept>
#include <string>

namespace quorvel::prefs {

// The preferences file could not be read or written.
class BackingStoreException : public std::runtime_error {
public:
    explicit BackingStoreException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace quorvel::prefs
