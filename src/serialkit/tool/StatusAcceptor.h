#pragma once

#include <string>

namespace serialkit::tool {

// Lets a long-running operation hand its progress to whoever started it. The status is a
// short text; callers that report a numeric code pass it as its decimal text.
class StatusAcceptor {
  public:
    virtual ~StatusAcceptor() = default;

    virtual void acceptStatus(const std::string& status) = 0;
};

}  // namespace serialkit::tool
