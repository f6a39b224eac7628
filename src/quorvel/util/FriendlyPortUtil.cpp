#include "quorvel/util/FriendlyPortUtil.h"

#include <mutex>
#include <optional>
#include <utility>

#include "serialkit/IOException.h"
#include "serialkit/SerialPortLocal.h"

namespace quorvel::util {

namespace {

std::mutex& recordsMutex() {
    static std::mutex m;
    return m;
}

// Absent until the first successful load (or set), so "nothing loaded" stays distinguishable.
std::optional<std::vector<serialkit::PortDriverInfo>>& records() {
    static std::optional<std::vector<serialkit::PortDriverInfo>> list;
    return list;
}

QString fromSerial(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

void FriendlyPortUtil::loadPortInfoList() {
    if (!serialkit::SerialPortLocal::isSupported("supDriverInfo")) {
        throw serialkit::IOException("Not supported on this platform");
    }
    // Throws "Must call SerialPortLocal.getPortList method first" while the port list is empty;
    // the records are only replaced once the copy is in hand.
    std::vector<serialkit::PortDriverInfo> fresh = serialkit::SerialPortLocal::getDriverInfoList();
    std::lock_guard<std::mutex> lock(recordsMutex());
    records() = std::move(fresh);
}

bool FriendlyPortUtil::portInfoListIsPopulated() {
    std::lock_guard<std::mutex> lock(recordsMutex());
    return records().has_value() && !records()->empty();
}

QStringList FriendlyPortUtil::getFriendlyPortList() {
    std::lock_guard<std::mutex> lock(recordsMutex());
    QStringList list;
    if (records()) {
        for (const auto& info : *records()) {
            list.append(friendlyForm(info));
        }
    }
    return list;
}

QString FriendlyPortUtil::getFriendlyPortName(const QString& portName) {
    std::lock_guard<std::mutex> lock(recordsMutex());
    if (records()) {
        for (const auto& info : *records()) {
            if (fromSerial(info.getPortName()) == portName) {
                return friendlyForm(info);
            }
        }
    }
    return portName;
}

QString FriendlyPortUtil::getUnfriendlyPortName(const QString& friendlyName) {
    std::lock_guard<std::mutex> lock(recordsMutex());
    if (records()) {
        for (const auto& info : *records()) {
            if (friendlyForm(info) == friendlyName) {
                return fromSerial(info.getPortName());
            }
        }
    }
    return friendlyName;
}

QString FriendlyPortUtil::friendlyForm(const serialkit::PortDriverInfo& info) {
    return fromSerial(info.getPortName()) + QStringLiteral(": ") +
           fromSerial(info.getDriverDesc()) + QStringLiteral(" - ") +
           fromSerial(info.getDriverMfgr());
}

void FriendlyPortUtil::setPortInfoList(std::vector<serialkit::PortDriverInfo> list) {
    std::lock_guard<std::mutex> lock(recordsMutex());
    records() = std::move(list);
}

void FriendlyPortUtil::clear() {
    std::lock_guard<std::mutex> lock(recordsMutex());
    records().reset();
}

}  // namespace quorvel::util
