#include "quorvel/util/FriendlyPortUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "serialkit/IOException.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SimulatedSerial.h"
#include "serialkit/SystemProperties.h"

namespace quorvel::util {
namespace {

using serialkit::PortDriverInfo;
using serialkit::SerialPortLocal;
using serialkit::SystemProperties;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kPlatformProperties[] = {"SK_OSNAME", "SK_OSARCH", "SERIAL_PORT_LIST"};

template <typename Fn>
std::string ioMessage(Fn&& fn) {
    try {
        fn();
    } catch (const serialkit::IOException& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("<other exception> ") + e.what();
    }
    return "<no exception>";
}

// Each test starts with nothing loaded and the serial layer on a platform of its choice, with
// simulated ports; the real platform comes back afterwards.
class FriendlyPortUtilTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kPlatformProperties) {
            SystemProperties::remove(name);
        }
        FriendlyPortUtil::clear();
        sim_ = std::make_shared<serialkit::SimulatedSerial>();
    }

    void TearDown() override {
        FriendlyPortUtil::clear();
        for (const char* name : kPlatformProperties) {
            SystemProperties::clear(name);
        }
        quietly([] { SerialPortLocal::reinitialize(); });
    }

    // The serial layer prints its banner and load attempts; keep the test output clean.
    template <typename Fn>
    static void quietly(Fn&& fn) {
        testing::internal::CaptureStdout();
        try {
            fn();
        } catch (...) {
            testing::internal::GetCapturedStdout();
            throw;
        }
        testing::internal::GetCapturedStdout();
    }

    void platform(const std::string& os, const std::string& arch = "") {
        SystemProperties::set("SK_OSNAME", os);
        if (!arch.empty()) {
            SystemProperties::set("SK_OSARCH", arch);
        }
        quietly([] { SerialPortLocal::reinitialize(); });
        SerialPortLocal::useNative(sim_);
    }

    static void listPorts() {
        quietly([] { SerialPortLocal::getPortList(); });
    }

    std::shared_ptr<serialkit::SimulatedSerial> sim_;
};

TEST_F(FriendlyPortUtilTest, NothingLoadedPassesNamesThrough) {
    EXPECT_FALSE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_THAT(FriendlyPortUtil::getFriendlyPortList(), IsEmpty());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM1"), "COM1");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM1: USB Serial Port - FTDI"),
              "COM1: USB Serial Port - FTDI");

    // An empty list counts as not populated either.
    FriendlyPortUtil::setPortInfoList({});
    EXPECT_FALSE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_THAT(FriendlyPortUtil::getFriendlyPortList(), IsEmpty());
}

TEST_F(FriendlyPortUtilTest, ReadableFormAndBothDirections) {
    FriendlyPortUtil::setPortInfoList(
        {PortDriverInfo("COM3", "FTDI", "USB Serial Port"),
         PortDriverInfo("COM1", "(Standard port types)", "Communications Port")});
    EXPECT_TRUE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_THAT(FriendlyPortUtil::getFriendlyPortList(),
                ElementsAre("COM3: USB Serial Port - FTDI",
                            "COM1: Communications Port - (Standard port types)"));
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM3"), "COM3: USB Serial Port - FTDI");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM1: Communications Port - (Standard "
                                                      "port types)"),
              "COM1");
    // A port without a record keeps its bare name both ways.
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM7"), "COM7");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM7"), "COM7");
    // Empty driver texts still make the fixed form.
    EXPECT_EQ(FriendlyPortUtil::friendlyForm(PortDriverInfo("/dev/ttyS0", "", "")),
              "/dev/ttyS0:  - ");
}

TEST_F(FriendlyPortUtilTest, LookupsAreExact) {
    FriendlyPortUtil::setPortInfoList({PortDriverInfo("COM3", "FTDI", "USB Serial Port")});
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("com3"), "com3");
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM3 "), "COM3 ");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("com3: USB Serial Port - FTDI"),
              "com3: USB Serial Port - FTDI");
    // Typed or stored with other spacing: not recognised, returned unchanged.
    for (const char* spaced : {"COM3:USB Serial Port - FTDI", "COM3: USB Serial Port-FTDI",
                               "COM3:  USB Serial Port - FTDI", " COM3: USB Serial Port - FTDI",
                               "COM3: USB Serial Port - FTDI "}) {
        EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(spaced), spaced);
    }
}

TEST_F(FriendlyPortUtilTest, FirstRecordWinsForDuplicates) {
    FriendlyPortUtil::setPortInfoList({PortDriverInfo("COM3", "FTDI", "USB Serial Port"),
                                       PortDriverInfo("COM3", "Prolific", "USB-to-Serial"),
                                       PortDriverInfo("COM4", "FTDI", "USB Serial Port")});
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM3"), "COM3: USB Serial Port - FTDI");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM4: USB Serial Port - FTDI"), "COM4");
}

TEST_F(FriendlyPortUtilTest, LoadsTheSerialLayersRecordsInDiscoveryOrder) {
    platform("Windows 10");
    sim_->addPort("COM5", "Prolific", "USB-to-Serial Comm Port");
    sim_->addPort("COM2", "FTDI", "USB Serial Port");
    listPorts();
    FriendlyPortUtil::loadPortInfoList();
    EXPECT_TRUE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_THAT(
        FriendlyPortUtil::getFriendlyPortList(),
        ElementsAre("COM5: USB-to-Serial Comm Port - Prolific", "COM2: USB Serial Port - FTDI"));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM2: USB Serial Port - FTDI"), "COM2");

    // A later load replaces the records, it does not add to them.
    SerialPortLocal::clearPortListInfo();
    SerialPortLocal::addPortInfo("COM9", "Acme", "Bluetooth link");
    FriendlyPortUtil::loadPortInfoList();
    EXPECT_THAT(FriendlyPortUtil::getFriendlyPortList(),
                ElementsAre("COM9: Bluetooth link - Acme"));
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM5"), "COM5");
}

TEST_F(FriendlyPortUtilTest, UnsupportedPlatformFailsAndKeepsThePreviousRecords) {
    FriendlyPortUtil::setPortInfoList({PortDriverInfo("COM3", "FTDI", "USB Serial Port")});
    platform("OpenServer", "IA32");
    SerialPortLocal::addPortName("COM1");
    listPorts();
    EXPECT_EQ(ioMessage([] { FriendlyPortUtil::loadPortInfoList(); }),
              "Not supported on this platform");
    EXPECT_THAT(FriendlyPortUtil::getFriendlyPortList(),
                ElementsAre("COM3: USB Serial Port - FTDI"));
    // The bare names from the port list still work everywhere.
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM1"), "COM1");
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM1"), "COM1");
}

TEST_F(FriendlyPortUtilTest, EmptyPortListFailsAndKeepsThePreviousRecords) {
    platform("Windows 10");
    // Driver records exist, but nobody asked for the port list yet.
    SerialPortLocal::addPortInfo("COM2", "FTDI", "USB Serial Port");
    EXPECT_EQ(ioMessage([] { FriendlyPortUtil::loadPortInfoList(); }),
              "Must call SerialPortLocal.getPortList method first");
    EXPECT_FALSE(FriendlyPortUtil::portInfoListIsPopulated());

    SerialPortLocal::clearPortListInfo();
    sim_->addPort("COM4", "Silicon Labs", "CP210x");
    listPorts();
    FriendlyPortUtil::loadPortInfoList();
    ASSERT_THAT(FriendlyPortUtil::getFriendlyPortList(),
                ElementsAre("COM4: CP210x - Silicon Labs"));

    // Discovery now finds nothing: the load fails and the records of the last good one stay.
    sim_->removePort("COM4");
    listPorts();
    ASSERT_THAT(SerialPortLocal::getPortList(), IsEmpty());
    EXPECT_EQ(ioMessage([] { FriendlyPortUtil::loadPortInfoList(); }),
              "Must call SerialPortLocal.getPortList method first");
    EXPECT_THAT(FriendlyPortUtil::getFriendlyPortList(),
                ElementsAre("COM4: CP210x - Silicon Labs"));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName("COM4: CP210x - Silicon Labs"), "COM4");
}

}  // namespace
}  // namespace quorvel::util
