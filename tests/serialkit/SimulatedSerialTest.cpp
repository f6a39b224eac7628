#include "serialkit/SimulatedSerial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace serialkit {
namespace {

using namespace std::chrono_literals;

class RecordingReceiver : public PortListReceiver {
  public:
    void addPortName(const std::string& name) override { names.push_back(name); }
    void addPortInfo(const std::string& portName, const std::string& manufacturer,
                     const std::string& description) override {
        infos.emplace_back(portName, manufacturer, description);
    }

    std::vector<std::string> names;
    std::vector<std::tuple<std::string, std::string, std::string>> infos;
};

class SimulatedSerialTest : public ::testing::Test {
  protected:
    void SetUp() override { sim.addPort("COM3", "FTDI", "USB Serial Port"); }

    // Opens a port and returns its handle (portNum - 1).
    int open(const std::string& name = "COM3") {
        SerialConfig cfg(name);
        const int rc = sim.SerOpenPort(cfg);
        EXPECT_EQ(rc, 0) << "opening " << name;
        return cfg.getPort() - 1;
    }

    // Runs SerWaitRx on another thread; `act` runs meanwhile on this one. A waiter that does
    // not come back is released by closing the port, so a fault fails the test instead of
    // hanging it.
    template <typename Act>
    int waitWhile(int handle, int ms, Act act) {
        auto result = std::async(std::launch::async, [&] { return sim.SerWaitRx(handle, ms); });
        std::this_thread::sleep_for(20ms);
        act();
        if (result.wait_for(5s) != std::future_status::ready) {
            ADD_FAILURE() << "SerWaitRx did not return";
            sim.SerClosePort(handle);
        }
        return result.get();
    }

    SimulatedSerial sim;
};

TEST_F(SimulatedSerialTest, OpenAssignsFreshHandlesAndRecordsTheConfig) {
    SerialConfig cfg("COM3");
    cfg.setBitRate(SerialConfig::BR_19200);
    ASSERT_EQ(sim.SerOpenPort(cfg), NativeSerial::OPEN_OK);
    const int first = cfg.getPort() - 1;
    EXPECT_GE(first, 0);
    EXPECT_TRUE(sim.isOpen("COM3"));
    EXPECT_EQ(sim.lastConfig("COM3").getBitRate(), SerialConfig::BR_19200);
    EXPECT_EQ(sim.lastConfig("COM3").getPort(), first + 1);

    ASSERT_EQ(sim.SerClosePort(first), 0);
    EXPECT_FALSE(sim.isOpen("COM3"));
    // The old handle is dead; a reopen gets another one.
    EXPECT_EQ(sim.SerGetByte(first), -1);
    const int second = open();
    EXPECT_NE(second, first);
}

TEST_F(SimulatedSerialTest, OpenFailures) {
    SerialConfig unknown("COM9");
    EXPECT_EQ(sim.SerOpenPort(unknown), NativeSerial::ERR_NO_SUCH_DEVICE);

    open();
    SerialConfig again("COM3");
    EXPECT_EQ(sim.SerOpenPort(again), NativeSerial::ERR_IN_USE);

    sim.addPort("COM4");
    sim.setOpenResult("COM4", NativeSerial::ERR_PERMISSION);
    SerialConfig denied("COM4");
    EXPECT_EQ(sim.SerOpenPort(denied), NativeSerial::ERR_PERMISSION);
    EXPECT_EQ(sim.SerOpenPort(denied), NativeSerial::ERR_PERMISSION);
    EXPECT_FALSE(sim.isOpen("COM4"));
    sim.setOpenResult("COM4", 0);
    EXPECT_EQ(sim.SerOpenPort(denied), NativeSerial::OPEN_OK);

    sim.addPort("COM5");
    sim.removePort("COM5");
    SerialConfig removed("COM5");
    EXPECT_EQ(sim.SerOpenPort(removed), NativeSerial::ERR_NO_SUCH_DEVICE);
}

TEST_F(SimulatedSerialTest, ConfigureRecordsTheRecordOfItsHandle) {
    SerialConfig cfg("COM3");
    ASSERT_EQ(sim.SerOpenPort(cfg), 0);
    cfg.setParity(SerialConfig::PY_EVEN);
    cfg.setDataBits(SerialConfig::LN_7BITS);
    EXPECT_EQ(sim.SerConfigure(cfg), 0);
    EXPECT_EQ(sim.lastConfig("COM3").getParity(), SerialConfig::PY_EVEN);
    EXPECT_EQ(sim.lastConfig("COM3").getDataBits(), SerialConfig::LN_7BITS);

    SerialConfig stranger(42);
    EXPECT_EQ(sim.SerConfigure(stranger), -1);
}

TEST_F(SimulatedSerialTest, InjectedBytesAreReadInOrder) {
    const int h = open();
    EXPECT_EQ(sim.SerGetByte(h), NativeSerial::NO_DATA);
    sim.inject("COM3", std::string("AB\0\xFF", 4));
    sim.inject("COM3", "CDEF");
    EXPECT_EQ(sim.SerRxReadyCount(h), 8);

    EXPECT_EQ(sim.SerGetByte(h), 'A');
    std::uint8_t buf[4] = {};
    ASSERT_EQ(sim.SerGetData(h, buf, 4), 4);
    EXPECT_EQ(buf[0], 'B');
    EXPECT_EQ(buf[1], 0);
    EXPECT_EQ(buf[2], 0xFF);
    EXPECT_EQ(buf[3], 'C');
    // Fewer waiting than asked for: only what waits.
    ASSERT_EQ(sim.SerGetData(h, buf, 4), 3);
    EXPECT_EQ(std::string(buf, buf + 3), "DEF");
    EXPECT_EQ(sim.SerGetData(h, buf, 4), 0);
    EXPECT_EQ(sim.SerRxReadyCount(h), 0);

    sim.inject("COM3", "xyz");
    EXPECT_EQ(sim.SerRxFlush(h), 0);
    EXPECT_EQ(sim.SerGetByte(h), NativeSerial::NO_DATA);
}

TEST_F(SimulatedSerialTest, LineErrorsAreReportedOncePerFlaggedByte) {
    const int h = open();
    sim.inject("COM3", SimulatedSerial::RxByte{'p', true, false});
    sim.inject("COM3", "ok");
    sim.inject("COM3", SimulatedSerial::RxByte{'f', false, true});

    // Nothing is reported before the flagged byte has been read.
    EXPECT_EQ(sim.SerSigParityErr(h), 0);
    EXPECT_EQ(sim.SerGetByte(h), 'p');
    EXPECT_EQ(sim.SerSigFrameErr(h), 0);
    EXPECT_EQ(sim.SerSigParityErr(h), 1);
    EXPECT_EQ(sim.SerSigParityErr(h), 0);

    std::uint8_t buf[3] = {};
    ASSERT_EQ(sim.SerGetData(h, buf, 3), 3);
    EXPECT_EQ(buf[2], 'f');
    EXPECT_EQ(sim.SerSigParityErr(h), 0);
    EXPECT_EQ(sim.SerSigFrameErr(h), 1);
    EXPECT_EQ(sim.SerSigFrameErr(h), 0);
}

TEST_F(SimulatedSerialTest, InputLinesFollowTheOutputLinesByFunction) {
    const int h = open();
    // Unset functions read off.
    EXPECT_EQ(sim.SerSigCTS(h), 0);
    EXPECT_EQ(sim.SerSigDSR(h), 0);

    sim.setDsrFunction("COM3", [](const SimulatedSerial::ModemLines& l) { return l.dtr; });
    sim.setCtsFunction("COM3", [](const SimulatedSerial::ModemLines& l) { return l.rts; });
    EXPECT_EQ(sim.SerSetDTR(h, true), 0);
    EXPECT_EQ(sim.SerSigDSR(h), 1);
    EXPECT_EQ(sim.SerSigCTS(h), 0);
    EXPECT_EQ(sim.SerSetRTS(h, true), 0);
    EXPECT_EQ(sim.SerSetDTR(h, false), 0);
    EXPECT_EQ(sim.SerSigDSR(h), 0);
    EXPECT_EQ(sim.SerSigCTS(h), 1);
    EXPECT_FALSE(sim.modemLines("COM3").dtr);
    EXPECT_TRUE(sim.modemLines("COM3").rts);

    sim.setCd("COM3", true);
    sim.setRing("COM3", true);
    EXPECT_EQ(sim.SerSigCD(h), 1);
    EXPECT_EQ(sim.SerSigRing(h), 1);
    sim.setCd("COM3", false);
    EXPECT_EQ(sim.SerSigCD(h), 0);
}

TEST_F(SimulatedSerialTest, LineFunctionMayCallBackIntoTheSimulator) {
    const int h = open();
    // A line function runs without the simulator's lock; calling back in must not deadlock.
    sim.setCtsFunction("COM3",
                       [this](const SimulatedSerial::ModemLines&) { return sim.isOpen("COM3"); });
    EXPECT_EQ(sim.SerSigCTS(h), 1);
}

TEST_F(SimulatedSerialTest, WrittenBytesAreRecorded) {
    const int h = open();
    const std::uint8_t data[] = {'1', '2', 0, 0x80};
    EXPECT_EQ(sim.SerPutData(h, data, 4), 4);
    EXPECT_EQ(sim.SerPutByte(h, '\r'), 0);
    EXPECT_EQ(sim.written("COM3"), std::string("12\0\x80\r", 5));
}

TEST_F(SimulatedSerialTest, ClosedOrUnknownHandlesFail) {
    const int h = open();
    ASSERT_EQ(sim.SerClosePort(h), 0);
    const std::uint8_t b = 'x';
    EXPECT_EQ(sim.SerPutData(h, &b, 1), -1);
    EXPECT_EQ(sim.SerPutByte(h, b), -1);
    EXPECT_EQ(sim.SerSetDTR(h, true), -1);
    EXPECT_EQ(sim.SerSigCTS(h), -1);
    EXPECT_EQ(sim.SerRxReadyCount(h), -1);
    EXPECT_EQ(sim.SerSetTimeoutRx(h, 10), -1);
    EXPECT_EQ(sim.SerClosePort(h), -1);
    EXPECT_EQ(sim.SerWaitRx(h, 0), -1);
    EXPECT_EQ(sim.SerGetByte(-1), -1);
    EXPECT_EQ(sim.written("COM3"), "");
}

TEST_F(SimulatedSerialTest, UnplugMakesReadsFail) {
    const int h = open();
    sim.inject("COM3", "data");
    EXPECT_EQ(sim.SerLastError(h), "");
    sim.unplug("COM3");
    EXPECT_EQ(sim.SerGetByte(h), NativeSerial::READ_FAILED);
    std::uint8_t buf[4];
    EXPECT_EQ(sim.SerGetData(h, buf, 4), NativeSerial::READ_FAILED);
    EXPECT_EQ(sim.SerLastError(h), "Input/output error");
    EXPECT_EQ(sim.SerWaitRx(h, 0), -1);
    // A gone device cannot be opened again until it comes back.
    EXPECT_EQ(sim.SerClosePort(h), 0);
    SerialConfig cfg("COM3");
    EXPECT_EQ(sim.SerOpenPort(cfg), NativeSerial::ERR_NO_SUCH_DEVICE);
    sim.addPort("COM3", "FTDI", "USB Serial Port");
    EXPECT_EQ(sim.SerOpenPort(cfg), NativeSerial::OPEN_OK);
}

TEST_F(SimulatedSerialTest, WaitReturnsAtOnceWhenDataWaits) {
    const int h = open();
    sim.inject("COM3", "x");
    EXPECT_EQ(sim.SerWaitRx(h, -1), NativeSerial::WAIT_DATA);
    // Waiting consumes nothing.
    EXPECT_EQ(sim.SerGetByte(h), 'x');
}

TEST_F(SimulatedSerialTest, WaitTimesOut) {
    const int h = open();
    EXPECT_EQ(sim.SerWaitRx(h, 0), NativeSerial::WAIT_TIMEOUT);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sim.SerWaitRx(h, 30), NativeSerial::WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST_F(SimulatedSerialTest, WaitEndsOnDataFromAnotherThread) {
    const int h = open();
    EXPECT_EQ(waitWhile(h, -1, [&] { sim.inject("COM3", "z"); }), NativeSerial::WAIT_DATA);
    EXPECT_EQ(waitWhile(h, 60000,
                        [&] {
                            sim.SerGetByte(h);
                            sim.inject("COM3", "z");
                        }),
              NativeSerial::WAIT_DATA);
}

TEST_F(SimulatedSerialTest, WakeEndsAWaitOrTheNextOne) {
    const int h = open();
    EXPECT_EQ(waitWhile(h, -1, [&] { EXPECT_EQ(sim.SerWakeRx(h), 0); }), NativeSerial::WAIT_WOKEN);

    // Nobody waiting: the wake is kept for the next wait, and used up by it.
    EXPECT_EQ(sim.SerWakeRx(h), 0);
    EXPECT_EQ(sim.SerWaitRx(h, -1), NativeSerial::WAIT_WOKEN);
    EXPECT_EQ(sim.SerWaitRx(h, 0), NativeSerial::WAIT_TIMEOUT);
}

TEST_F(SimulatedSerialTest, UnplugOrCloseEndsAWait) {
    const int h = open();
    EXPECT_EQ(waitWhile(h, -1, [&] { sim.unplug("COM3"); }), -1);

    sim.addPort("COM4");
    const int h4 = open("COM4");
    EXPECT_EQ(waitWhile(h4, -1, [&] { sim.SerClosePort(h4); }), -1);
}

TEST_F(SimulatedSerialTest, DiscoveryReportsPortsInOrderWithDriverInfo) {
    sim.addPort("COM10");
    sim.addPort("COM1", "", "Communications Port");
    sim.addPort("COM7");
    sim.removePort("COM7");

    RecordingReceiver receiver;
    sim.SerGetPortList(receiver);
    EXPECT_EQ(receiver.names, (std::vector<std::string>{"COM3", "COM10", "COM1"}));
    using Info = std::tuple<std::string, std::string, std::string>;
    EXPECT_EQ(receiver.infos, (std::vector<Info>{Info{"COM3", "FTDI", "USB Serial Port"},
                                                 Info{"COM1", "", "Communications Port"}}));
}

TEST_F(SimulatedSerialTest, ForcedResultsReplaceTheAnswerUntilCleared) {
    const int h = open();
    sim.setResult("SerSetDTR", -1);
    EXPECT_EQ(sim.SerSetDTR(h, true), -1);
    EXPECT_FALSE(sim.modemLines("COM3").dtr);
    sim.clearResult("SerSetDTR");
    EXPECT_EQ(sim.SerSetDTR(h, true), 0);
    EXPECT_TRUE(sim.modemLines("COM3").dtr);

    sim.setResult("SerConfigure", 7);
    SerialConfig cfg = sim.lastConfig("COM3");
    EXPECT_EQ(sim.SerConfigure(cfg), 7);

    sim.setResult("SerRxReadyCount", -1);
    EXPECT_EQ(sim.SerRxReadyCount(h), -1);

    sim.setResult("SerOpenPort", NativeSerial::ERR_BUSY);
    sim.addPort("COM4");
    SerialConfig other("COM4");
    EXPECT_EQ(sim.SerOpenPort(other), NativeSerial::ERR_BUSY);
    EXPECT_FALSE(sim.isOpen("COM4"));
}

TEST_F(SimulatedSerialTest, ForcedShortWriteSendsOnlyThatMany) {
    const int h = open();
    sim.setResult("SerPutData", 2);
    const std::uint8_t data[] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(sim.SerPutData(h, data, 4), 2);
    EXPECT_EQ(sim.written("COM3"), "ab");
}

TEST_F(SimulatedSerialTest, ServerTaskOpensTheRecordOrReportsItsFailure) {
    SerialConfig cfg(0);
    std::string failure;
    EXPECT_EQ(sim.SerServerTask(cfg, failure), 0);
    EXPECT_EQ(cfg.getPort(), 1);
    EXPECT_EQ(failure, "");

    SerialConfig failing(0);
    sim.setResult("SerServerTask", 1007);
    EXPECT_EQ(sim.SerServerTask(failing, failure), 1007);
    EXPECT_EQ(failure, "Server task failed: 1007");
    EXPECT_EQ(failing.getPort(), 0);
}

TEST_F(SimulatedSerialTest, FlowTaskPausesBrieflyAndIsLogged) {
    const int h = open();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sim.SerFlowTask(h), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 5ms);
    EXPECT_EQ(sim.calls().back(), "SerFlowTask");
}

TEST_F(SimulatedSerialTest, DeviceNotificationReachesTheRegisteredCallback) {
    int calls = 0;
    sim.notifyDeviceChange();  // nothing registered: nothing happens
    EXPECT_EQ(sim.SerRegisterDeviceNotification([&] {
        ++calls;
        // Called without the simulator's lock, so calling back in is fine.
        sim.isOpen("COM3");
    }),
              0);
    sim.notifyDeviceChange();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sim.SerUnregisterDeviceNotification(), 0);
    sim.notifyDeviceChange();
    EXPECT_EQ(calls, 1);
}

TEST_F(SimulatedSerialTest, CallLogNamesOperationsInOrder) {
    const int h = open();
    sim.SerSetDTR(h, true);
    sim.SerGetByte(h);
    sim.SerClosePort(h);
    EXPECT_EQ(sim.calls(),
              (std::vector<std::string>{"SerOpenPort", "SerSetDTR", "SerGetByte", "SerClosePort"}));
}

TEST_F(SimulatedSerialTest, ProgrammingAnUnknownPortIsRejected) {
    EXPECT_THROW(sim.inject("COM9", "x"), std::invalid_argument);
    EXPECT_THROW(sim.setOpenResult("COM9", 1003), std::invalid_argument);
    EXPECT_FALSE(sim.isOpen("COM9"));
}

}  // namespace
}  // namespace serialkit
