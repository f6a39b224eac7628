#pragma once

#include <string>

namespace serialkit {

// One discovered port with what its driver says about itself; never changed once built.
class PortDriverInfo {
  public:
    PortDriverInfo(std::string portName, std::string driverMfgr, std::string driverDesc)
        : portName_(std::move(portName)),
          driverMfgr_(std::move(driverMfgr)),
          driverDesc_(std::move(driverDesc)) {}

    const std::string& getPortName() const { return portName_; }
    const std::string& getDriverMfgr() const { return driverMfgr_; }
    const std::string& getDriverDesc() const { return driverDesc_; }

    bool operator==(const PortDriverInfo&) const = default;

  private:
    std::string portName_;
    std::string driverMfgr_;
    std::string driverDesc_;
};

}  // namespace serialkit
