#pragma once

#include <stdexcept>
#include <string>

namespace quorvel::prefs {

// The preferences file could not be read or written.
class BackingStoreException : public std::runtime_error {
public:
    explicit BackingStoreException(const std::string& message, int error = 0)
        : std::runtime_error(message), error_(error) {}

    // The system's error number (errno) behind the failure; 0 when there is none.
    int error() const noexcept { return error_; }

private:
    int error_;
};

}  // namespace quorvel::prefs
