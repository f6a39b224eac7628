#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "serialkit/IOException.h"
#include "serialkit/NetworkSerial.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPortLocal.h"
#include "support/DeviceServer.h"
#include "support/NativeSerialTest.h"
#include "support/Pty.h"

namespace serialkit {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Every byte value, twice, so 0xFF (Telnet's IAC) comes in pairs and alone.
std::string allBytes() {
    std::string bytes;
    for (int round = 0; round < 2; ++round) {
        for (int b = 0; b < 256; ++b) {
            bytes.push_back(static_cast<char>(b));
        }
    }
    return bytes + "\xff";
}

// A listening socket of the test's own on 127.0.0.1, standing for an instrument or a server.
struct Listener {
    explicit Listener(int backlog) {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof address;
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, backlog) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len) != 0) {
            throw std::runtime_error("no listening socket on 127.0.0.1");
        }
    }
    ~Listener() { ::close(fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    std::string port() const { return std::to_string(ntohs(address.sin_port)); }

    int fd = -1;
    sockaddr_in address{};
};

// Network ports through the platform's own driver, as the program opens them.
class NetworkSerialTest : public testsupport::NativeSerialTest {
  protected:
    // Reads until `count` bytes arrived, the port fails, or 10 s passed.
    static std::string readBytes(SerialPortLocal& port, std::size_t count) {
        std::string got;
        std::vector<std::uint8_t> buf(4096);
        const auto deadline = Clock::now() + 10s;
        while (got.size() < count && Clock::now() < deadline) {
            const int n = port.getData(buf);
            if (n > 0) {
                got.append(reinterpret_cast<const char*>(buf.data()), static_cast<std::size_t>(n));
            } else {
                port.waitForData(200);
            }
        }
        return got;
    }

    // The message the port's read gives once the far end has gone, or "" after 10 s.
    static std::string lossMessage(SerialPortLocal& port) {
        const auto deadline = Clock::now() + 10s;
        std::vector<std::uint8_t> buf(64);
        while (Clock::now() < deadline) {
            try {
                port.waitForData(200);
                port.getData(buf);
            } catch (const IOException& e) {
                return e.what();
            }
        }
        return "";
    }

    static std::string openFailure(const std::string& name) {
        try {
            SerialPortLocal port{SerialConfig(name)};
        } catch (const IOException& e) {
            return e.what();
        }
        return "opened";
    }
};

class DeviceServerTest : public NetworkSerialTest {
  protected:
    void SetUp() override {
        NetworkSerialTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (testsupport::DeviceServer::program().empty()) {
            GTEST_SKIP() << "ser2net is not installed";
        }
        server_ = std::make_unique<testsupport::DeviceServer>(pty_.slavePath(), TERMIOS_SPY);
    }

    testsupport::Pty pty_;
    std::unique_ptr<testsupport::DeviceServer> server_;
};

TEST_F(DeviceServerTest, BytesPassBothWaysUnchangedAndLineSettingsReachTheDevice) {
    SerialPortLocal port{SerialConfig(server_->url())};
    ASSERT_TRUE(port.isOpen());

    const std::string bytes = allBytes();
    pty_.write(bytes);
    EXPECT_EQ(readBytes(port, bytes.size()), bytes);
    port.putString(bytes);
    EXPECT_EQ(pty_.read(bytes.size(), 10000), bytes);

    // Opening sent the record's 9600 8N1; a change goes out as RFC 2217 requests. The pty keeps
    // the speed and stop bits, but always reads back 8 bits without parity: those are checked
    // in what ser2net asked of it.
    termios t = pty_.lineSettings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(server_->lastControlFlags() & (PARENB | CSIZE), static_cast<unsigned>(CS8));
    port.setBitRate(SerialConfig::BR_19200);
    port.setParity(SerialConfig::PY_EVEN);
    port.setDataBits(SerialConfig::LN_7BITS);
    port.setStopBits(SerialConfig::ST_2BITS);
    port.configure();
    t = pty_.lineSettings();
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(server_->lastControlFlags() & (PARENB | PARODD | CSIZE),
              static_cast<unsigned>(PARENB | CS7));

    // Modem lines go out and come back without failing.
    port.setDTR(false);
    port.setRTS(true);
    port.sigCTS();
}

TEST_F(DeviceServerTest, ADeviceServerThatDiesIsALostPortAndCanBeOpenedAgainWhenBack) {
    SerialPortLocal port{SerialConfig(server_->url())};
    pty_.write("12.5 g\r\n");
    EXPECT_EQ(readBytes(port, 8), "12.5 g\r\n");

    server_->stop();
    EXPECT_THAT(lossMessage(port), HasSubstr("Connection closed by the device server"));
    port.close();
    EXPECT_THAT(openFailure(server_->url()), HasSubstr("Connection refused"));

    server_->start();
    port.open();
    pty_.write("12.6 g\r\n");
    EXPECT_EQ(readBytes(port, 8), "12.6 g\r\n");
}

// A raw TCP instrument: a listener of the test's own stands for it.
TEST_F(NetworkSerialTest, RawTcpCarriesBytesUntouchedAndTellsWhenTheFarEndCloses) {
    Listener listener(1);

    SerialPortLocal port{SerialConfig("tcp://127.0.0.1:" + listener.port())};
    const int peer = ::accept(listener.fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    // Line settings and modem lines have nothing to act on and succeed.
    port.setBitRate(SerialConfig::BR_1200);
    port.configure();
    port.setDTR(true);

    const std::string bytes = allBytes();
    ASSERT_EQ(::write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(readBytes(port, bytes.size()), bytes);
    port.putString(bytes);
    std::string back(bytes.size(), '\0');
    std::size_t got = 0;
    while (got < back.size()) {
        const ssize_t n = ::read(peer, back.data() + got, back.size() - got);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(back, bytes);

    // Writing to a connection the far end has just closed fails; it never kills the process.
    ::shutdown(peer, SHUT_RDWR);
    ::close(peer);
    for (int i = 0; i < 20; ++i) {
        try {
            port.putString("12.5\r\n");
        } catch (const IOException&) {
        }
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_THAT(lossMessage(port), HasSubstr("Connection closed by the device server"));
}

TEST_F(NetworkSerialTest, AFailedConnectionSaysWhatHappened) {
    const std::string closed = std::to_string(testsupport::DeviceServer::freePort());
    struct Row {
        std::string name;
        std::string says;
    };
    std::vector<Row> rows = {
        {"rfc2217://127.0.0.1:" + closed, "Connection refused"},
        {"tcp://127.0.0.1:" + closed, "Connection refused"},
        {"tcp://no-such-instrument.invalid:4001", "Host name not found"},
        {"tcp://127.0.0.1", "Port not valid"},
        {"rfc2217://[::1:4001", "Port not valid"},
    };
    // An IPv6 address in brackets, where this machine has IPv6.
    const int v6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 loop6{};
    loop6.sin6_family = AF_INET6;
    loop6.sin6_addr = in6addr_loopback;
    if (v6 >= 0 && ::bind(v6, reinterpret_cast<sockaddr*>(&loop6), sizeof loop6) == 0) {
        socklen_t len = sizeof loop6;
        ::getsockname(v6, reinterpret_cast<sockaddr*>(&loop6), &len);
        rows.push_back({"rfc2217://[::1]:" + std::to_string(ntohs(loop6.sin6_port)),
                        "Connection refused"});  // bound, never listening
    }
    // A server whose serial port cannot be opened takes the connection and drops it, often
    // while Telnet is still negotiating: that must not end this process. Whether the drop or
    // the unanswered line settings come first is the server's timing.
    std::unique_ptr<testsupport::DeviceServer> deviceless;
    if (!testsupport::DeviceServer::program().empty()) {
        deviceless = std::make_unique<testsupport::DeviceServer>("/dev/tolvane-no-such-device");
        rows.push_back({deviceless->url(), "device server"});
    }
    for (const auto& row : rows) {
        EXPECT_THAT(openFailure(row.name), HasSubstr(row.says)) << row.name;
    }
    if (v6 >= 0) {
        ::close(v6);
    }
}

TEST_F(NetworkSerialTest, AServerThatNeverAnswersTimesOutInTimeOrWhenStopped) {
    // A listener whose queue is full leaves further handshakes unanswered.
    Listener listener(0);
    std::vector<int> queued;
    for (int i = 0; i < 3; ++i) {
        queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(queued.back(), reinterpret_cast<const sockaddr*>(&listener.address),
                  sizeof listener.address);
    }
    std::this_thread::sleep_for(100ms);

    NetworkSerial network(300);
    SerialConfig cfg("rfc2217://127.0.0.1:" + listener.port());
    const auto asked = Clock::now();
    EXPECT_EQ(network.SerOpenPort(cfg), NativeSerial::ERR_TIMEOUT);
    EXPECT_LT(Clock::now() - asked, 3s);
    EXPECT_THAT(network.SerLastError(-1), HasSubstr("no answer within 300 ms"));

    // A stop (the port's wake-up from another thread) ends the wait before the time-out.
    SerialPortLocal port;
    port.setPortName(cfg.getPortNameString());
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        port.wakeUp();
    });
    const auto opened = Clock::now();
    std::string failure = "opened";
    try {
        port.open();
    } catch (const IOException& e) {
        failure = e.what();
    }
    EXPECT_THAT(failure, HasSubstr("Connecting was stopped"));
    EXPECT_LT(Clock::now() - opened, 3s);  // the time-out is 5 s
    stopper.join();
    for (int fd : queued) {
        ::close(fd);
    }
}

// A device server's notifications, sent by a listener of the test's own speaking Telnet:
// line errors count once, modem lines as their last state.
TEST_F(NetworkSerialTest, LineStateAndModemStateNotificationsAreHonoured) {
    Listener listener(1);
    std::thread server([fd = listener.fd] {
        const int peer = ::accept(fd, nullptr, nullptr);
        // IAC DO/WILL COM-PORT-OPTION, then NOTIFY-LINESTATE (parity error) and
        // NOTIFY-MODEMSTATE (CTS and DSR on), each IAC SB 44 <code> <value> IAC SE.
        const unsigned char answer[] = {255, 253, 44,  255, 251, 44, 255, 250, 44, 106,
                                        4,   255, 240, 255, 250, 44, 107, 48,  255, 240};
        [[maybe_unused]] ssize_t n = ::write(peer, answer, sizeof answer);
        char sink[256];
        while (::read(peer, sink, sizeof sink) > 0) {
        }
        ::close(peer);
    });

    NetworkSerial network;
    SerialConfig cfg("rfc2217://127.0.0.1:" + listener.port());
    ASSERT_EQ(network.SerOpenPort(cfg), NativeSerial::OPEN_OK);
    const int handle = cfg.getPort() - 1;
    const auto seen = [&](int (NetworkSerial::*query)(int)) {
        const auto deadline = Clock::now() + 5s;
        while (Clock::now() < deadline) {
            if ((network.*query)(handle) == 1) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    };
    EXPECT_TRUE(seen(&NetworkSerial::SerSigParityErr));
    EXPECT_EQ(network.SerSigParityErr(handle), 0);  // counted once
    EXPECT_EQ(network.SerSigFrameErr(handle), 0);
    EXPECT_TRUE(seen(&NetworkSerial::SerSigCTS));
    EXPECT_EQ(network.SerSigDSR(handle), 1);
    EXPECT_EQ(network.SerSigCD(handle), 0);
    network.SerClosePort(handle);
    server.join();
}

}  // namespace
}  // namespace serialkit
