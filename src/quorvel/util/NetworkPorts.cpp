#include "quorvel/util/NetworkPorts.h"

#include <string>

#include "serialkit/NetworkPortName.h"

namespace quorvel::util {

bool NetworkPorts::isNetworkName(const QString& name) {
    return serialkit::NetworkPortName::looksLikeOne(name.toStdString());
}

QString NetworkPorts::problemWith(const QString& name) {
    const std::string text = name.toStdString();
    std::string why;
    if (!serialkit::NetworkPortName::looksLikeOne(text) ||
        serialkit::NetworkPortName::parse(text, &why)) {
        return {};
    }
    return QString::fromStdString(why);
}

}  // namespace quorvel::util
