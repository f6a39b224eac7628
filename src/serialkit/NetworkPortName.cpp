#include "serialkit/NetworkPortName.h"

#include <cctype>

namespace serialkit {

namespace {

struct Scheme {
    const char* prefix;
    NetworkPortName::Kind kind;
};

constexpr Scheme kSchemes[] = {{"tcp://", NetworkPortName::Kind::Tcp},
                               {"rfc2217://", NetworkPortName::Kind::Rfc2217}};

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

const Scheme* schemeOf(const std::string& text) {
    for (const Scheme& s : kSchemes) {
        if (startsWithNoCase(text, s.prefix)) {
            return &s;
        }
    }
    return nullptr;
}

bool fail(std::string* why, const std::string& text) {
    if (why != nullptr) {
        *why = text;
    }
    return false;
}

}  // namespace

bool NetworkPortName::looksLikeOne(const std::string& name) { return schemeOf(name) != nullptr; }

std::size_t NetworkPortName::lengthAtStart(const std::string& text) {
    const Scheme* scheme = schemeOf(text);
    if (scheme == nullptr) {
        return 0;
    }
    std::size_t i = std::string(scheme->prefix).size();
    if (i < text.size() && text[i] == '[') {
        // An unclosed bracket must not swallow the rest of a ';'-separated list.
        const std::size_t close = text.find_first_of("];", i);
        if (close == std::string::npos || text[close] == ';') {
            return close == std::string::npos ? text.size() : close;
        }
        i = close + 1;
    } else {
        while (i < text.size() && text[i] != ':' && text[i] != ';') {
            ++i;
        }
    }
    // Only digits make a port; "tcp://host:/dev/ttyS0" is a name without one, then a path.
    if (i + 1 < text.size() && text[i] == ':' &&
        std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
    }
    return i;
}

std::optional<NetworkPortName> NetworkPortName::parse(const std::string& name, std::string* why) {
    const Scheme* scheme = schemeOf(name);
    if (scheme == nullptr) {
        fail(why, "not a tcp:// or rfc2217:// name");
        return std::nullopt;
    }
    NetworkPortName result;
    result.kind = scheme->kind;
    const std::string rest = name.substr(std::string(scheme->prefix).size());
    std::size_t colon = 0;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            fail(why, "the IPv6 address has no closing ']'");
            return std::nullopt;
        }
        result.host = rest.substr(1, close - 1);
        // A zone after '%' (fe80::1%eth0) names an interface, so only the address is checked.
        const std::string address = result.host.substr(0, result.host.find('%'));
        if (address.find(':') == std::string::npos ||
            address.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
            fail(why, "\"" + result.host + "\" is no IPv6 address");
            return std::nullopt;
        }
        colon = close + 1;
        if (colon >= rest.size() || rest[colon] != ':') {
            fail(why, "the port number is missing (HOST:PORT)");
            return std::nullopt;
        }
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) {
            fail(why, "the port number is missing (HOST:PORT)");
            return std::nullopt;
        }
        result.host = rest.substr(0, colon);
        if (result.host.find(':') != std::string::npos) {
            fail(why, "an IPv6 address must be written in brackets, e.g. [::1]:4001");
            return std::nullopt;
        }
        for (unsigned char c : result.host) {
            if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') {
                fail(why, "\"" + result.host + "\" is no host name");
                return std::nullopt;
            }
        }
        if (result.host.empty()) {
            fail(why, "the host is missing (HOST:PORT)");
            return std::nullopt;
        }
    }
    const std::string digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        fail(why, "\"" + digits + "\" is no port number (1-65535)");
        return std::nullopt;
    }
    result.port = std::stoi(digits);
    if (result.port < 1 || result.port > 65535) {
        fail(why, "\"" + digits + "\" is no port number (1-65535)");
        return std::nullopt;
    }
    return result;
}

}  // namespace serialkit
