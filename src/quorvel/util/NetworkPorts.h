#pragma once

#include <QString>

namespace quorvel::util {

// Ports reached over the network (tcp://HOST:PORT, rfc2217://HOST:PORT) as the window and the
// settings see them: they are never discovered, only named.
class NetworkPorts {
  public:
    // True for anything that starts with one of the schemes, valid or not.
    static bool isNetworkName(const QString& name);
    // What is wrong with a name that starts with a scheme; empty for a valid one and for any
    // other name (those are judged when the port is opened).
    static QString problemWith(const QString& name);
};

}  // namespace quorvel::util
