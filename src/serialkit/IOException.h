#pragma once

#include <stdexcept>
#include <string>

namespace serialkit {

// A failure of a port operation; what() is the message shown to the user unchanged.
class IOException : public std::runtime_error {
  public:
    explicit IOException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace serialkit
