#include <gtest/gtest.h>

#include <string>

#include "serialkit/NetworkPortName.h"

namespace serialkit {
namespace {

// What parse makes of a name: "tcp|rfc2217 HOST PORT", or the reason it gives.
std::string parsed(const std::string& name) {
    std::string why;
    const auto p = NetworkPortName::parse(name, &why);
    if (!p) {
        return why;
    }
    return (p->kind == NetworkPortName::Kind::Tcp ? "tcp " : "rfc2217 ") + p->host + " " +
           std::to_string(p->port);
}

TEST(NetworkPortNameTest, ParseGivesThePartsOrSaysWhy) {
    const std::pair<const char*, const char*> rows[] = {
        {"tcp://10.0.0.5:4001", "tcp 10.0.0.5 4001"},
        {"TCP://scale-3.lab:1", "tcp scale-3.lab 1"},
        {"Rfc2217://[fe80::1%eth0]:65535", "rfc2217 fe80::1%eth0 65535"},
        {"/dev/ttyS0", "not a tcp:// or rfc2217:// name"},
        {"tcp://host", "the port number is missing (HOST:PORT)"},
        {"tcp://:4001", "the host is missing (HOST:PORT)"},
        {"tcp://my host:4001", "\"my host\" is no host name"},
        {"tcp://::1:4001", "an IPv6 address must be written in brackets, e.g. [::1]:4001"},
        {"rfc2217://[::1:2217", "the IPv6 address has no closing ']'"},
        {"rfc2217://[1.2.3.4]:2217", "\"1.2.3.4\" is no IPv6 address"},
        {"rfc2217://[::1]2217", "the port number is missing (HOST:PORT)"},
        {"tcp://host:65536", "\"65536\" is no port number (1-65535)"},
        {"tcp://host:40a1", "\"40a1\" is no port number (1-65535)"},
    };
    for (const auto& [name, want] : rows) {
        EXPECT_EQ(parsed(name), want) << name;
        EXPECT_EQ(NetworkPortName::looksLikeOne(name), name[0] != '/') << name;
    }
}

TEST(NetworkPortNameTest, LengthAtStartEndsAfterThePortDigits) {
    const std::pair<const char*, std::size_t> rows[] = {{"/dev/ttyS0:tcp://h:1", 0},
                                                         {"tcp://10.0.0.5:4001;COM1", 19},
                                                         {"rfc2217://[::1]:2217:/dev/ttyS0", 20},
                                                         {"tcp://host:/dev/ttyS0", 10},
                                                         {"rfc2217://[::1:2217;COM1", 19}};
    for (const auto& [text, length] : rows) {
        EXPECT_EQ(NetworkPortName::lengthAtStart(text), length) << text;
    }
}

}  // namespace
}  // namespace serialkit
