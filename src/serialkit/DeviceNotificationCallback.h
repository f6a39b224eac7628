#pragma once

namespace serialkit {

// Called each time the driver reports that serial devices were attached or removed.
class DeviceNotificationCallback {
  public:
    virtual ~DeviceNotificationCallback() = default;
    virtual void deviceChanged() = 0;
};

}  // namespace serialkit
