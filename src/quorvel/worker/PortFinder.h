#pragma once

#include <QString>

#include <optional>

namespace quorvel::worker {

// Finds a port's device again after it went away. A USB adapter that is plugged in again may
// come back under another ttyUSB number, but its link in /dev/serial/by-id/ names the adapter
// itself; a port without such a link is expected back under its own name. A network name
// (tcp://, rfc2217://) has neither, and is always answered as it is.
class PortFinder {
  public:
    static QString defaultByIdFolder();

    // Looks up, now, the link in `byIdFolder` that leads to the same device as `port` (both
    // sides with their symbolic links resolved). A bare port name means the node of that name
    // in /dev, as for the serial library.
    explicit PortFinder(QString port, QString byIdFolder = defaultByIdFolder());

    // The by-id link of the port's device; empty when it has none.
    const QString& byIdLink() const { return byIdLink_; }

    // Where the device is now: the current target of its by-id link, or, for a device without
    // one, the port name while that exists. Nothing while the device is away; with a by-id
    // link known, another adapter that takes over the old port name is not taken for it.
    std::optional<QString> whereNow() const;

  private:
    QString port_;
    QString byIdLink_;
    bool network_ = false;
};

}  // namespace quorvel::worker
