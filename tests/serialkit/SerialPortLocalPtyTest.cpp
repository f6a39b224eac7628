#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serialkit/IOException.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPortLocal.h"
#include "support/NativeSerialTest.h"
#include "support/Pty.h"

namespace serialkit {
namespace {

using ::testing::StartsWith;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The port on a real pseudo-terminal through the platform's own driver.
class SerialPortLocalPtyTest : public testsupport::NativeSerialTest {
  protected:
    // Reads until `count` bytes arrived or 10 s passed, waiting on the port between bytes.
    static std::string readBytes(SerialPortLocal& port, std::size_t count) {
        std::string got;
        const auto deadline = Clock::now() + 10s;
        while (got.size() < count && Clock::now() < deadline) {
            const int b = port.getByte();
            if (b >= 0) {
                got.push_back(static_cast<char>(b));
            } else {
                port.waitForData(200);
            }
        }
        return got;
    }

    testsupport::Pty pty_;
};

TEST_F(SerialPortLocalPtyTest, ReadsABurstInOrder) {
    SerialPortLocal port{SerialConfig(pty_.slavePath())};
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.getPortName(), pty_.slavePath());
    std::string burst;
    for (int round = 0; round < 4; ++round) {
        for (int b = 0; b < 256; ++b) {
            burst.push_back(static_cast<char>(b));
        }
    }
    pty_.write(burst);
    EXPECT_EQ(readBytes(port, burst.size()), burst);
    EXPECT_EQ(port.getByte(), -1);
}

TEST_F(SerialPortLocalPtyTest, NothingReceivedReturnsAtOnce) {
    SerialPortLocal port{SerialConfig(pty_.slavePath())};
    const auto start = Clock::now();
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(SerialPortLocalPtyTest, WritesReachTheFarEnd) {
    SerialConfig cfg(pty_.slavePath());
    cfg.setBitRate(19200);
    SerialPortLocal port(cfg);
    EXPECT_EQ(port.getBitRate(), SerialConfig::BR_19200);
    port.putString("W\r");
    const std::vector<std::uint8_t> data = {0x00, 0x7F, 0x80, 0xFF};
    port.putData(data);
    port.putByte('!');
    port.txDrain();
    EXPECT_EQ(pty_.read(7, 5000), std::string("W\r\x00\x7F\x80\xFF!", 7));
}

TEST_F(SerialPortLocalPtyTest, SecondOpenOfTheSamePortIsRefused) {
    auto first = std::make_unique<SerialPortLocal>(SerialConfig(pty_.slavePath()));
    try {
        SerialPortLocal second{SerialConfig(pty_.slavePath())};
        FAIL() << "second open succeeded";
    } catch (const IOException& e) {
        EXPECT_EQ(std::string(e.what()), pty_.slavePath() + ": SerOpenPort failed: Port is in use");
    }
    first.reset();
    SerialPortLocal again{SerialConfig(pty_.slavePath())};
    EXPECT_TRUE(again.isOpen());
}

TEST_F(SerialPortLocalPtyTest, MissingDeviceIsReported) {
    const std::string path = "/dev/serialkit-no-such-port";
    try {
        SerialPortLocal port{SerialConfig(path)};
        FAIL() << "open of a missing device succeeded";
    } catch (const IOException& e) {
        EXPECT_THAT(std::string(e.what()), StartsWith(path + ": SerOpenPort failed: "));
    }
}

TEST_F(SerialPortLocalPtyTest, WaitForDataOnDataTimeoutAndWakeUp) {
    SerialPortLocal port{SerialConfig(pty_.slavePath())};
    EXPECT_FALSE(port.waitForData(50));

    pty_.write("d");
    EXPECT_TRUE(port.waitForData(10000));
    EXPECT_EQ(port.getByte(), 'd');

    std::atomic<bool> result{true};
    const auto start = Clock::now();
    std::thread waiter([&] { result = port.waitForData(30000); });
    std::this_thread::sleep_for(100ms);
    port.wakeUp();
    waiter.join();
    EXPECT_FALSE(result);
    EXPECT_LT(Clock::now() - start, 15s);
}

TEST_F(SerialPortLocalPtyTest, DeviceLossIsReported) {
    SerialPortLocal port{SerialConfig(pty_.slavePath())};
    pty_.closeMaster();
    std::string message;
    const auto deadline = Clock::now() + 10s;
    while (message.empty() && Clock::now() < deadline) {
        try {
            port.waitForData(200);
            port.getByte();
        } catch (const IOException& e) {
            message = e.what();
        }
    }
    ASSERT_FALSE(message.empty()) << "the port still looked connected after the hang-up";
    EXPECT_TRUE(message.rfind("getByte failed: ", 0) == 0 ||
                message.rfind("waitForData failed: ", 0) == 0)
        << message;
    // The port can still be closed after the loss.
    port.close();
    EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialPortLocalPtyTest, ReadingAClosedPortSaysSo) {
    SerialPortLocal port{SerialConfig(pty_.slavePath())};
    port.close();
    // The last failed open must not pass for the reason.
    EXPECT_THROW(SerialPortLocal{SerialConfig("/dev/serialkit-no-such-port")}, IOException);
    try {
        port.getByte();
        FAIL() << "a closed port read as quiet";
    } catch (const IOException& e) {
        EXPECT_EQ(std::string(e.what()), "getByte failed: Port not open");
    }
}

TEST_F(SerialPortLocalPtyTest, ModemLinesOnAPseudoTerminal) {
    SerialPortLocal port{SerialConfig(pty_.slavePath())};
    EXPECT_NO_THROW(port.setDTR(true));
    EXPECT_NO_THROW(port.setRTS(true));
    EXPECT_FALSE(port.sigCTS());
    EXPECT_FALSE(port.sigDSR());
    EXPECT_NO_THROW(port.setDTR(false));
    EXPECT_NO_THROW(port.setRTS(false));
}

TEST_F(SerialPortLocalPtyTest, FlushDropsWaitingInput) {
    SerialPortLocal port{SerialConfig(pty_.slavePath())};
    pty_.write("stale");
    ASSERT_TRUE(port.waitForData(10000));
    // Let the whole burst arrive before it is dropped.
    std::this_thread::sleep_for(100ms);
    port.rxFlush();
    EXPECT_EQ(port.getByte(), -1);
    pty_.write("n");
    EXPECT_EQ(readBytes(port, 1), "n");
}

}  // namespace
}  // namespace serialkit
