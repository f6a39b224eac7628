#pragma once

#include <optional>
#include <string>

namespace serialkit {

// A port reached over the network: "tcp://HOST:PORT" (the stream is the serial data) or
// "rfc2217://HOST:PORT" (Telnet with COM-port control). HOST is a name, an IPv4 address or a
// bracketed IPv6 address; PORT is 1..65535.
struct NetworkPortName {
    enum class Kind { Tcp, Rfc2217 };

    Kind kind = Kind::Tcp;
    // Without the brackets of an IPv6 address.
    std::string host;
    int port = 0;

    // True when the name starts with one of the schemes (case-insensitive), valid or not, so
    // that it is never taken for a device path.
    static bool looksLikeOne(const std::string& name);
    // The parts of a valid name; nothing, with `why` set, for anything else.
    static std::optional<NetworkPortName> parse(const std::string& name, std::string* why = nullptr);
    // The length of the network name at the start of `text` (scheme, host and port digits),
    // or 0 when `text` does not start with a scheme. Used to split lists whose separator is ':'.
    static std::size_t lengthAtStart(const std::string& text);
};

}  // namespace serialkit
