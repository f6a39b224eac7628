#pragma once

namespace serialkit {

// Told about port failures that the port reports instead of throwing; a failing receive-count
// query reports status 10.
class ErrorStatusHandler {
  public:
    virtual ~ErrorStatusHandler() = default;
    virtual void errorStatus(int status) = 0;
};

}  // namespace serialkit
