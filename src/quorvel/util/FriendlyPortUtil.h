#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "serialkit/PortDriverInfo.h"

namespace quorvel::util {

// Port names as people read them ("COM3: USB Serial Port - FTDI") and back to the bare name
// the serial layer needs. Class-wide state only, used from the user-interface thread.
class FriendlyPortUtil {
public:
    // Takes the serial layer's driver records; call after SerialPortLocal::getPortList.
    // Throws serialkit::IOException "Not supported on this platform" or "Must call
    // SerialPortLocal.getPortList method first"; the previous records then stay.
    static void loadPortInfoList();
    static bool portInfoListIsPopulated();
    static QStringList getFriendlyPortList();
    static QString getFriendlyPortName(const QString& portName);
    static QString getUnfriendlyPortName(const QString& friendlyName);

    // "%s: %s - %s" of port name, driver description, driver manufacturer.
    static QString friendlyForm(const serialkit::PortDriverInfo& info);

    // Replaces the records directly; tests and callers with their own discovery.
    static void setPortInfoList(std::vector<serialkit::PortDriverInfo> records);
    static void clear();
};

}  // namespace quorvel::util
