#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serialkit/DeviceNotificationCallback.h"
#include "serialkit/ErrorStatusHandler.h"
#include "serialkit/FlowControlTask.h"
#include "serialkit/IOException.h"
#include "serialkit/NativeHandleMutex.h"
#include "serialkit/Platform.h"
#include "serialkit/SerialConfig.h"
#include "serialkit/SerialPortLocal.h"
#include "serialkit/SerialServerTask.h"
#include "serialkit/SimulatedSerial.h"
#include "serialkit/SystemProperties.h"

namespace serialkit {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

static_assert(std::is_abstract_v<SerialPort>);
static_assert(std::is_base_of_v<SerialPort, SerialPortLocal>);

const char* const kPlatformProperties[] = {"SK_OSNAME", "SK_OSARCH", "SERIAL_PORT_LIST",
                                           "runtime.version"};

template <typename Fn>
std::string ioMessage(Fn&& fn) {
    try {
        fn();
    } catch (const IOException& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("<other exception> ") + e.what();
    }
    return "<no exception>";
}

template <typename Fn>
std::string stdoutOf(Fn&& fn) {
    testing::internal::CaptureStdout();
    try {
        fn();
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

bool contains(const std::vector<std::string>& calls, const std::string& op) {
    return std::find(calls.begin(), calls.end(), op) != calls.end();
}

// Every test picks its platform; the real one comes back afterwards.
class SerialPortLocalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kPlatformProperties) {
            SystemProperties::remove(name);
        }
        sim_ = std::make_shared<SimulatedSerial>();
    }

    void TearDown() override {
        for (const char* name : kPlatformProperties) {
            SystemProperties::clear(name);
        }
        stdoutOf([] { SerialPortLocal::reinitialize(); });
    }

    // Starts the library afresh on that platform with the simulated driver loaded.
    void platform(const std::string& os, const std::string& arch = "") {
        SystemProperties::set("SK_OSNAME", os);
        if (!arch.empty()) {
            SystemProperties::set("SK_OSARCH", arch);
        }
        stdoutOf([] { SerialPortLocal::reinitialize(); });
        SerialPortLocal::useNative(sim_);
    }

    // An open port on the simulated driver.
    std::unique_ptr<SerialPortLocal> openPort(const std::string& name) {
        sim_->addPort(name);
        return std::make_unique<SerialPortLocal>(SerialConfig(name));
    }

    // A port object that was opened and closed again.
    std::unique_ptr<SerialPortLocal> closedPort(const std::string& name) {
        auto port = openPort(name);
        port->close();
        return port;
    }

    std::shared_ptr<SimulatedSerial> sim_;
};

// ---- platform rules ------------------------------------------------------------------------

TEST_F(SerialPortLocalTest, UnsupportedFeatureFailsBeforeOpenCheck) {
    // OpenServer supports no optional feature at all.
    platform("OpenServer", "IA32");
    auto port = closedPort("COM1");
    const std::string on = " not supported on OpenServer";
    EXPECT_EQ(ioMessage([&] { port->setRTS(true); }), "setRts" + on);
    EXPECT_EQ(ioMessage([&] { port->setDTR(true); }), "setDTR" + on);
    EXPECT_EQ(ioMessage([&] { port->rxReadyCount(); }), "rxReadyCount" + on);
    EXPECT_EQ(ioMessage([&] { port->txBufCount(); }), "txBufCount" + on);
    EXPECT_EQ(ioMessage([&] { port->rxOverflow(); }), "rxOverflow" + on);
    EXPECT_EQ(ioMessage([&] { port->sigCD(); }), "sigCD" + on);
    EXPECT_EQ(ioMessage([&] { port->sigFrameErr(); }), "sigFrameErr" + on);
    EXPECT_EQ(ioMessage([&] { port->sigOverrun(); }), "sigOverrun" + on);
    EXPECT_EQ(ioMessage([&] { port->sigBreak(); }), "sigBreak" + on);
    EXPECT_EQ(ioMessage([&] { port->sigParityErr(); }), "sigParityErr" + on);
    EXPECT_EQ(ioMessage([&] { port->sigRing(); }), "sigRing" + on);
    EXPECT_EQ(ioMessage([&] { port->resetPortDriver(); }), "resetPortDriver" + on);
    // CTS and DSR have no support flag: the open check answers.
    EXPECT_EQ(ioMessage([&] { port->sigCTS(); }), "sigCTS: Port not open");
    EXPECT_EQ(ioMessage([&] { port->sigDSR(); }), "sigDSR: Port not open");
    // An open port gets the same answer: support comes first.
    port->open();
    EXPECT_EQ(ioMessage([&] { port->setRTS(false); }), "setRts" + on);
}

TEST_F(SerialPortLocalTest, ClosedPortAnswersPortNotOpen) {
    platform("Windows 10");
    auto port = closedPort("COM3");
    EXPECT_EQ(port->getPortNum(), -1);
    EXPECT_FALSE(port->isOpen());
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { port->txBufCount(); }, "txBufCount: Port not open"},
        {[&] { port->rxOverflow(); }, "rxOverflow: Port not open"},
        {[&] { port->sendBreak(10); }, "sendBreak: Port not open"},
        {[&] { port->setDTR(true); }, "setDTR: Port not open"},
        {[&] { port->setRTS(true); }, "setRTS: Port not open"},
        {[&] { port->sigCTS(); }, "sigCTS: Port not open"},
        {[&] { port->sigDSR(); }, "sigDSR: Port not open"},
        {[&] { port->sigCD(); }, "sigCD: Port not open"},
        {[&] { port->sigFrameErr(); }, "sigFrameErr: Port not open"},
        {[&] { port->sigOverrun(); }, "sigOverrun: Port not open"},
        {[&] { port->sigBreak(); }, "sigBreak: Port not open"},
        {[&] { port->sigParityErr(); }, "sigParityErr: Port not open"},
        {[&] { port->sigRing(); }, "sigRing: Port not open"},
        {[&] { port->configure(); }, "configure: Port is not open"},
        {[&] { port->reset(); }, "reset: Port is not open"},
        {[&] { port->waitForData(10); }, "waitForData: Port not open"},
    };
    for (const auto& [call, message] : cases) {
        EXPECT_EQ(ioMessage(call), message);
    }
    // Waking a closed port is harmless.
    EXPECT_NO_THROW(port->wakeUp());
}

TEST_F(SerialPortLocalTest, IsSupportedFollowsPlatform) {
    platform("Linux", "amd64");
    EXPECT_TRUE(SerialPortLocal::isSupported("sendBreak"));
    EXPECT_TRUE(SerialPortLocal::isSupported("setRTS"));
    EXPECT_TRUE(SerialPortLocal::isSupported("ParityMarkSpace"));
    // The POSIX driver's extras.
    EXPECT_TRUE(SerialPortLocal::isSupported("getPortList"));
    EXPECT_TRUE(SerialPortLocal::isSupported("supDriverInfo"));
    EXPECT_TRUE(SerialPortLocal::isSupported("sigParityErr"));
    EXPECT_TRUE(SerialPortLocal::isSupported("sigFrameErr"));
    EXPECT_FALSE(SerialPortLocal::isSupported("setTimeoutTx"));
    EXPECT_FALSE(SerialPortLocal::isSupported("rxOverflow"));
    EXPECT_FALSE(SerialPortLocal::isSupported("setPowerMode"));
    EXPECT_FALSE(SerialPortLocal::isSupported("noSuchFeature"));
    EXPECT_FALSE(SerialPortLocal::isSupported("SENDBREAK"));
    EXPECT_EQ(SerialPortLocal::getDefaultPortName(), "/dev/ttyS0");
    EXPECT_EQ(SerialPortLocal::getMaxBitRate(), 115200);

    platform("EPOC", "arm");
    EXPECT_FALSE(SerialPortLocal::isSupported("sendBreak"));
    EXPECT_TRUE(SerialPortLocal::isSupported("noIndexBitRate"));
    EXPECT_EQ(SerialPortLocal::getDefaultPortName(), "COMM::0");

    platform("Linux", "arm");
    EXPECT_TRUE(SerialPortLocal::isSupported("setPowerMode"));
}

TEST_F(SerialPortLocalTest, FeatureSetupSamples) {
    struct Sample {
        const char* os;
        const char* arch;
        int maxBitRate;
        const char* defaultPort;
        bool setRts;
        bool driverInfo;
        bool getPortList;
    };
    const Sample samples[] = {
        {"Windows 10", "amd64", 921600, "COM1", true, true, true},
        {"Windows 95", "x86", 921600, "COM1", true, false, true},
        {"Windows 2008", "x86", 115200, "", false, false, false},
        {"OS/2", "x86", 921600, "COM1", true, false, true},
        {"Mac OS", "ppc", 921600, "Modem Port", false, false, true},
        {"Mac OS X", "ppc", 230400, "", true, false, true},
        {"Solaris", "sparc", 115200, "/dev/ttya", true, false, false},
        {"Irix", "mips", 115200, "/dev/tty0", false, false, false},
        {"UnixWare", "IA32", 115200, "/dev/tty0", false, false, false},
        {"OSF1", "alpha", 115200, "/dev/tty00", true, false, false},
        {"Novell NetWare", "x86", 921600, "COM1", true, false, false},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.os);
        platform(s.os, s.arch);
        EXPECT_EQ(SerialPortLocal::getMaxBitRate(), s.maxBitRate);
        EXPECT_EQ(SerialPortLocal::getDefaultPortName(), s.defaultPort);
        EXPECT_EQ(SerialPortLocal::isSupported("setRTS"), s.setRts);
        EXPECT_EQ(SerialPortLocal::isSupported("supDriverInfo"), s.driverInfo);
        EXPECT_EQ(SerialPortLocal::isSupported("getPortList"), s.getPortList);
    }
    platform("OS/2", "x86");
    EXPECT_TRUE(SerialPortLocal::isSupported("noIndexBitRate"));
    platform("Irix", "mips");
    EXPECT_FALSE(SerialPortLocal::isSupported("sigCTS"));
    EXPECT_TRUE(SerialPortLocal::isSupported("sigDSR"));
}

TEST_F(SerialPortLocalTest, NativeLibraryNameTable) {
    struct Sample {
        const char* os;
        const char* arch;
        const char* library;
    };
    const Sample samples[] = {
        {"Linux", "amd64", "skLux86_64bit"},
        {"Linux", "aarch64", "skLuxArm64"},
        {"Linux", "i686", "skLux86"},
        {"Linux", "armv5tel", "skLuxArm"},
        {"Windows 10", "amd64", "skWin"},
        {"Windows NT (unknown)", "x86", "skWin"},
        {"Windows CE", "XSCALE", "skWceArm"},
        {"Windows CE  Java", "SH4", "skWceSh4"},
        {"EPOC", "x86", "skEpocx86"},
        {"Mac OS X", "x86_64", "skMacOSX"},
        {"FreeBSD", "i386", "skBsdx86"},
        {"SunOS", "sparc", "skSolSparc"},
        {"HP-UX", "PA_RISC2.0", "skHpxPaRisc"},
        {"AIX", "ppc", "skAixPpc"},
        {"OpenServer", "IA32", "skUxWareIA32"},
        {"OSF1", "alpha", "skTru64Alpha"},
        {"OS/2", "anything", "skos2j"},
        // Tested last, so it wins over everything else.
        {"Windows NetWare", "x86", "SkNw"},
        {"novell netware", "sparc", "SkNw"},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(std::string(s.os) + " " + s.arch);
        platform(s.os, s.arch);
        EXPECT_EQ(SerialPortLocal::getNativeLibName(), s.library);
        EXPECT_EQ(SerialPortLocal::getOsName(), s.os);
        EXPECT_EQ(SerialPortLocal::getOsArch(), s.arch);
    }
    SystemProperties::set("runtime.version", "1.0.2");
    platform("Windows XP", "x86");
    EXPECT_EQ(SerialPortLocal::getNativeLibName(), "skWinNm");
    SystemProperties::set("runtime.version", "102");
    platform("Windows", "x86");
    EXPECT_EQ(SerialPortLocal::getNativeLibName(), "skWinNm");
}

TEST_F(SerialPortLocalTest, ArchitectureOverrideNeedsNameOverride) {
    SystemProperties::set("SK_OSARCH", "sparc");
    stdoutOf([] { SerialPortLocal::reinitialize(); });
    EXPECT_EQ(SerialPortLocal::getOsName(), systemOsName());
    EXPECT_EQ(SerialPortLocal::getOsArch(), systemOsArch());
}

TEST_F(SerialPortLocalTest, StartUpPrintsBannerAndLoadsTheLinuxDriver) {
    SystemProperties::set("SK_OSNAME", "Linux");
    SystemProperties::set("SK_OSARCH", "amd64");
    const std::string out = stdoutOf([] { SerialPortLocal::reinitialize(); });
    EXPECT_THAT(out, HasSubstr("Serialkit Library: version 10.2.3: build 9233\n"));
    EXPECT_THAT(out, HasSubstr("os.name=\"Linux\"  os.arch=\"amd64\"\n"));
    EXPECT_THAT(out, HasSubstr("SerialPort class loaded: skLux86_64bit\n"));
    EXPECT_TRUE(SerialPortLocal::isLibraryLoaded());
    EXPECT_EQ(SerialPortLocal::getBuildNum(), 9233);
    EXPECT_EQ(SerialPortLocal::getVersionText(), "Serialkit Library: version 10.2.3: build 9233");
}

TEST_F(SerialPortLocalTest, UnknownPlatformLeavesTheLibraryUnloadedForTheCallerToReport) {
    SystemProperties::set("SK_OSNAME", "Plan 9");
    SystemProperties::set("SK_OSARCH", "mips");
    // The program must go on to tell the user; a library ending the process would not.
    std::string out = stdoutOf([] { SerialPortLocal::reinitialize(); });
    EXPECT_THAT(out, HasSubstr("osName=Plan 9 osArch=mips\nPlatform not supported, check VM "
                               "properties os.name & os.arch\n"));
    EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());
    EXPECT_EQ(ioMessage([] { SerialPortLocal port(SerialConfig("/dev/tty0")); }),
              "/dev/tty0: SerOpenPort failed: : -1");
}

TEST_F(SerialPortLocalTest, MissingLibraryOnlyPrintsAndPortCallsFailCleanly) {
    SystemProperties::set("SK_OSNAME", "FreeBSD");
    SystemProperties::set("SK_OSARCH", "i386");
    std::string out = stdoutOf([] { SerialPortLocal::reinitialize(); });
    EXPECT_THAT(out, HasSubstr(": Check that native library skBsdx86 is in proper directory\n"));
    EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());

    EXPECT_EQ(ioMessage([] { SerialPortLocal port(SerialConfig("/dev/tty0")); }),
              "/dev/tty0: SerOpenPort failed: : -1");

    std::unique_ptr<SerialPortLocal> port;
    out = stdoutOf([&] { port = std::make_unique<SerialPortLocal>(); });
    EXPECT_THAT(out, HasSubstr("SerialPortLocal: Attempt to load: skBsdx86\n"));
    EXPECT_EQ(port->getPortName(), "/dev/tty0");
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(ioMessage([&] { port->open(); }), "/dev/tty0: SerOpenPort failed: : -1");
    EXPECT_EQ(ioMessage([&] { port->getByte(); }), "getByte failed: Port not open");
    std::vector<std::uint8_t> buffer(4);
    EXPECT_EQ(ioMessage([&] { port->getData(buffer); }), "getData: failed");
    EXPECT_EQ(ioMessage([&] { port->rxFlush(); }), "rxFlush failed");
    EXPECT_EQ(ioMessage([&] { port->putString("x"); }), "PutString: sent only -1 of 1 bytes");
    EXPECT_EQ(ioMessage([&] { port->sigCTS(); }), "sigCTS: Port not open");
    EXPECT_TRUE(stdoutOf([] { EXPECT_TRUE(SerialPortLocal::getPortList().empty()); }) != "");
}

TEST_F(SerialPortLocalTest, WindowsSevenTriesTheUserFolder) {
    SystemProperties::set("SK_OSNAME", "Windows 7");
    const std::string out = stdoutOf([] { SerialPortLocal::reinitialize(); });
    EXPECT_THAT(out, HasSubstr(": Native library load failed skWin trying user's folder\n"));
    EXPECT_THAT(out, HasSubstr("skWin.dll"));
    EXPECT_THAT(out, HasSubstr(": Check that native library skWin is in proper directory\n"));
    EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());
}

// ---- port list -----------------------------------------------------------------------------

TEST_F(SerialPortLocalTest, PortListPropertyIsSplitWithoutDuplicates) {
    platform("Windows 10");
    sim_->addPort("COM9");
    SystemProperties::set("SERIAL_PORT_LIST", "COM1;COM1:COM2");
    EXPECT_THAT(SerialPortLocal::getPortList(), ElementsAre("COM1", "COM2"));
    EXPECT_THAT(SerialPortLocal::getPortList(), ElementsAre("COM1", "COM2"));
    EXPECT_FALSE(contains(sim_->calls(), "SerGetPortList"));
    SystemProperties::set("SERIAL_PORT_LIST", "   ");
    EXPECT_THAT(SerialPortLocal::getPortList(), ElementsAre("COM9"));
}

TEST_F(SerialPortLocalTest, PortListPropertyKeepsNetworkNamesWhole) {
    const std::pair<const char*, std::vector<std::string>> rows[] = {
        {"/dev/ttyS0:tcp://10.0.0.5:4001;rfc2217://[::1]:2217:/dev/ttyUSB0",
         {"/dev/ttyS0", "tcp://10.0.0.5:4001", "rfc2217://[::1]:2217", "/dev/ttyUSB0"}},
        {" TCP://scale-3.lab:4001 : COM1", {"TCP://scale-3.lab:4001", "COM1"}},
        // A broken name stays one entry, so that opening it can say what is wrong.
        {"rfc2217://[::1:2217;COM2", {"rfc2217://[::1:2217", "COM2"}}};
    for (const auto& [property, names] : rows) {
        platform("Linux", "amd64");
        SystemProperties::set("SERIAL_PORT_LIST", property);
        EXPECT_EQ(SerialPortLocal::getPortList(), names) << property;
    }
}

TEST_F(SerialPortLocalTest, WindowsDiscoverySortsComNumbers) {
    platform("Windows 10");
    sim_->addPort("COM10");
    sim_->addPort("COM2");
    sim_->addPort("LPT1");
    EXPECT_THAT(SerialPortLocal::getPortList(), ElementsAre("COM2", "COM10", "LPT1"));
    // Discovery starts from an empty list each time.
    sim_->removePort("COM10");
    EXPECT_THAT(SerialPortLocal::getPortList(), ElementsAre("COM2", "LPT1"));
}

TEST_F(SerialPortLocalTest, WindowsOrderingKeepsOddNames) {
    platform("Windows 10");
    for (const char* name : {"COM3", "X", "COMX", "COM1"}) {
        sim_->addPort(name);
    }
    EXPECT_THAT(SerialPortLocal::getPortList(), ElementsAre("COM1", "COM3", "X", "COMX"));
}

TEST_F(SerialPortLocalTest, LinuxDiscoveryKeepsDriverOrder) {
    platform("Linux", "amd64");
    sim_->addPort("/dev/ttyUSB1", "FTDI", "USB serial");
    sim_->addPort("/dev/ttyS0");
    EXPECT_THAT(SerialPortLocal::getPortList(), ElementsAre("/dev/ttyUSB1", "/dev/ttyS0"));
    const auto info = SerialPortLocal::getDriverInfoList();
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0], PortDriverInfo("/dev/ttyUSB1", "FTDI", "USB serial"));
}

TEST_F(SerialPortLocalTest, PortListWithoutDiscovery) {
    platform("OpenServer", "IA32");
    std::vector<std::string> list;
    std::string out = stdoutOf([&] { list = SerialPortLocal::getPortList(); });
    EXPECT_TRUE(list.empty());
    EXPECT_THAT(out, HasSubstr("getPortList: port discovery not currently supported on this "
                               "platform.\nOptions:\nA) addPortName can be used to build a list "
                               "of device names \n"));
    EXPECT_THAT(out, HasSubstr("SERIAL_PORT_LIST"));

    SerialPortLocal::addPortName("COM1");
    SerialPortLocal::addPortName("com1");
    SerialPortLocal::addPortName("COM2");
    out = stdoutOf([&] { list = SerialPortLocal::getPortList(); });
    EXPECT_THAT(list, ElementsAre("COM1", "COM2"));
    EXPECT_THAT(out, HasSubstr("getPortList: using list created with addPortName\n"));
}

TEST_F(SerialPortLocalTest, DriverInfoList) {
    platform("OpenServer", "IA32");
    EXPECT_EQ(ioMessage([] { SerialPortLocal::getDriverInfoList(); }),
              "Not supported on this platform");

    platform("Windows 10");
    EXPECT_EQ(ioMessage([] { SerialPortLocal::getDriverInfoList(); }),
              "Must call SerialPortLocal.getPortList method first");
    sim_->addPort("COM1", "Prolific", "USB-to-Serial");
    sim_->addPort("COM2", "Microsoft", "Communications Port");
    SerialPortLocal::getPortList();
    SerialPortLocal::addPortInfo("com1", "Other", "ignored: same port");
    const auto info = SerialPortLocal::getDriverInfoList();
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].getDriverMfgr(), "Prolific");
    EXPECT_EQ(info[1].getDriverDesc(), "Communications Port");
    SerialPortLocal::clearPortListInfo();
    EXPECT_TRUE(SerialPortLocal::getDriverInfoList().empty());
}

TEST_F(SerialPortLocalTest, StripCom) {
    EXPECT_EQ(SerialPortLocal::stripCOM("Communications Port (COM12)"), "COM12");
    EXPECT_EQ(SerialPortLocal::stripCOM("LPT1"), "LPT1");
}

// ---- open and configure --------------------------------------------------------------------

TEST_F(SerialPortLocalTest, OpenErrorCodesBecomeMessages) {
    platform("Windows 10");
    sim_->addPort("COM4");
    const std::vector<std::pair<int, std::string>> cases = {
        {1000, "Port is already open"}, {1002, "Port is in use"},
        {1003, "Port not valid"},       {1004, "2: No such device"},
        {1006, "Permission denied"},    {1007, "Device busy"},
        {1008, "19: No such device"},   {77, ": 77"},
    };
    for (const auto& [code, text] : cases) {
        sim_->setOpenResult("COM4", code);
        EXPECT_EQ(ioMessage([] { SerialPortLocal port(SerialConfig("COM4")); }),
                  "COM4: SerOpenPort failed: " + text);
        EXPECT_FALSE(sim_->isOpen("COM4"));
    }
    sim_->setOpenResult("COM4", 0);
    SerialPortLocal port(SerialConfig("COM4"));
    EXPECT_TRUE(port.isOpen());
    EXPECT_GE(port.getPortNum(), 0);
    EXPECT_EQ(port.getPortNum(), port.getConfig().getPort() - 1);
    EXPECT_EQ(ioMessage([] { SerialPortLocal second(SerialConfig("COM4")); }),
              "COM4: SerOpenPort failed: Port is in use");
}

TEST_F(SerialPortLocalTest, TransmitTimeoutFollowsRateAndBufferLength) {
    platform("Windows 10");
    auto port = openPort("COM1");
    EXPECT_EQ(port->getTimeoutTx(), 426300);
    EXPECT_EQ(port->getTimeoutRx(), 0);

    SerialConfig fast("COM2");
    fast.setBitRate(SerialConfig::BR_19200);
    fast.setTxLen(1000);
    sim_->addPort("COM2");
    SerialPortLocal second(fast);
    // 1000 * (1000000 / 1920) = 520000 -> 520 -> 52000
    EXPECT_EQ(second.getTimeoutTx(), 52000);

    // Linux sets no transmit time-out.
    sim_ = std::make_shared<SimulatedSerial>();
    platform("Linux", "amd64");
    auto linuxPort = openPort("/dev/ttyS0");
    EXPECT_FALSE(contains(sim_->calls(), "SerSetTimeoutTx"));
    EXPECT_TRUE(contains(sim_->calls(), "SerSetTimeoutRx"));
}

TEST_F(SerialPortLocalTest, TransmitTimeoutOfLargeBuffersNeitherOverflowsNorWraps) {
    platform("Windows 10");
    sim_->addPort("COM1");
    sim_->addPort("COM2");
    sim_->addPort("COM3");
    // 3000000 * 1041 does not fit in 32 bits; the result does.
    SerialConfig big("COM1");
    big.setTxLen(3000000);
    SerialPortLocal bigPort(big);
    EXPECT_EQ(bigPort.getTimeoutTx(), 312300000);
    // Beyond what an int holds: the longest time-out there is.
    SerialConfig huge("COM2");
    huge.setTxLen(INT_MAX);
    huge.setBitRate(SerialConfig::BR_110);
    SerialPortLocal hugePort(huge);
    EXPECT_EQ(hugePort.getTimeoutTx(), INT_MAX);
    // A negative length asks for no time at all rather than a negative time-out.
    SerialConfig negative("COM3");
    negative.setTxLen(-5);
    SerialPortLocal negativePort(negative);
    EXPECT_EQ(negativePort.getTimeoutTx(), 0);
}

TEST_F(SerialPortLocalTest, LiteralBitRateIsStoredAsIndex) {
    platform("Linux", "amd64");
    SerialConfig cfg("/dev/ttyS1");
    cfg.setBitRate(19200);
    sim_->addPort("/dev/ttyS1");
    SerialPortLocal port(cfg);
    EXPECT_EQ(port.getBitRate(), SerialConfig::BR_19200);
    EXPECT_EQ(sim_->lastConfig("/dev/ttyS1").getBitRate(), SerialConfig::BR_19200);
}

TEST_F(SerialPortLocalTest, UnsupportedBitRateLeavesPortClosed) {
    platform("Windows 10");
    sim_->addPort("COM1");
    for (int rate : {12345, 20}) {
        SerialConfig cfg("COM1");
        cfg.setBitRate(rate);
        EXPECT_EQ(ioMessage([&] { SerialPortLocal port(cfg); }),
                  "Unsupported Serial Port Bit Rate");
        EXPECT_FALSE(sim_->isOpen("COM1"));
    }
    // The port opens normally afterwards.
    SerialPortLocal port(SerialConfig("COM1"));
    EXPECT_TRUE(port.isOpen());
}

TEST_F(SerialPortLocalTest, PlatformWithoutIndexKeepsLiteralRates) {
    platform("EPOC", "arm");
    SerialConfig cfg("COMM::0");
    cfg.setBitRate(19200);
    sim_->addPort("COMM::0");
    SerialPortLocal port(cfg);
    EXPECT_EQ(sim_->lastConfig("COMM::0").getBitRate(), 19200);
    EXPECT_EQ(port.getTimeoutTx(), 212900);
    port.close();

    // Neither index nor rate: no time-out can be derived, and nothing breaks.
    SerialConfig odd("COMM::0");
    odd.setBitRate(20);
    SerialPortLocal oddPort(odd);
    EXPECT_TRUE(oddPort.isOpen());
    EXPECT_EQ(oddPort.getTimeoutTx(), 0);
}

TEST_F(SerialPortLocalTest, MarkSpaceParityNeedsPlatformSupport) {
    platform("OpenServer", "IA32");
    sim_->addPort("COM1");
    SerialConfig cfg("COM1");
    cfg.setParity(SerialConfig::PY_MARK);
    EXPECT_EQ(ioMessage([&] { SerialPortLocal port(cfg); }), "Unsupported Mark/Space parity");
    EXPECT_FALSE(sim_->isOpen("COM1"));

    platform("Linux", "amd64");
    sim_->addPort("/dev/ttyS0");
    SerialConfig linuxCfg("/dev/ttyS0");
    linuxCfg.setParity(SerialConfig::PY_SPACE);
    SerialPortLocal port(linuxCfg);
    EXPECT_EQ(sim_->lastConfig("/dev/ttyS0").getParity(), SerialConfig::PY_SPACE);
}

TEST_F(SerialPortLocalTest, ConfigureWithAnotherRecordAddressesThisPort) {
    platform("Windows 10");
    sim_->addPort("COM1");
    sim_->addPort("COM2");
    SerialPortLocal other(SerialConfig("COM1"));
    SerialPortLocal port(SerialConfig("COM2"));
    SerialConfig changed("COM2");
    changed.setBitRate(SerialConfig::BR_57600);
    port.configure(changed);
    EXPECT_EQ(sim_->lastConfig("COM2").getBitRate(), SerialConfig::BR_57600);
    EXPECT_EQ(sim_->lastConfig("COM1").getBitRate(), SerialConfig::BR_9600);

    sim_->setResult("SerConfigure", 3);
    EXPECT_EQ(ioMessage([&] { port.configure(); }), "Configure failed: 3");
}

TEST_F(SerialPortLocalTest, OpenClearsHardFlowExceptOnWindows95) {
    platform("Windows 10");
    auto port = openPort("COM1");
    EXPECT_FALSE(port->getConfig().getHardFlow());
    EXPECT_EQ(port->getFlowControlTask(), nullptr);
}

TEST_F(SerialPortLocalTest, Windows95StartsFlowTaskForHardwareHandshake) {
    platform("Windows 95", "x86");
    sim_->addPort("COM1");
    sim_->addPort("COM2");
    SerialConfig cfg("COM1");
    cfg.setHandshake(SerialConfig::HS_CTSRTS);
    std::unique_ptr<SerialPortLocal> port;
    const std::string out = stdoutOf([&] { port = std::make_unique<SerialPortLocal>(cfg); });
    EXPECT_THAT(out, HasSubstr("FlowControlTask created\n"));
    ASSERT_NE(port->getFlowControlTask(), nullptr);
    EXPECT_TRUE(port->getConfig().getHardFlow());
    EXPECT_EQ(port->getFlowControlTask()->getHandle(), port->getPortNum());
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!contains(sim_->calls(), "SerFlowTask") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(contains(sim_->calls(), "SerFlowTask"));

    FlowControlTask& task = *port->getFlowControlTask();
    EXPECT_TRUE(task.isAlive());
    // Started one step above normal.
    EXPECT_EQ(task.getFlowPriority(), FlowControlTask::NORM_PRIORITY + 1);
    EXPECT_THROW(task.setFlowPriority(0), std::invalid_argument);
    EXPECT_THROW(task.setFlowPriority(11), std::invalid_argument);
    task.setFlowPriority(10);
    EXPECT_EQ(task.getFlowPriority(), 10);

    // Closing stops the task and waits for it.
    port->close();
    EXPECT_EQ(port->getFlowControlTask(), nullptr);

    // No task without a hardware handshake.
    SerialPortLocal plain(SerialConfig("COM2"));
    EXPECT_EQ(plain.getFlowControlTask(), nullptr);
}

TEST_F(SerialPortLocalTest, EpocOpensThroughServerTask) {
    platform("EPOC", "arm");
    sim_->addPort("COMM::0");
    SerialPortLocal port(SerialConfig("COMM::0"));
    EXPECT_TRUE(port.isOpen());
    ASSERT_NE(port.getServerTask(), nullptr);
    EXPECT_TRUE(contains(sim_->calls(), "SerServerTask"));
    port.close();

    sim_->setResult("SerServerTask", 3);
    EXPECT_EQ(ioMessage([&] { port.open(); }), "srvTaskCheck: Server task failed: 3");
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getConfig().getPort(), -1);
}

TEST_F(SerialPortLocalTest, NativeLockIsHeldAroundOpenConfigureAndClose) {
    // A driver that checks, from another thread, whether the shared lock is taken.
    class LockProbe : public SimulatedSerial {
      public:
        std::vector<std::string> heldDuring;
        int SerOpenPort(SerialConfig& cfg) override {
            probe("open");
            return SimulatedSerial::SerOpenPort(cfg);
        }
        int SerConfigure(SerialConfig& cfg) override {
            probe("configure");
            return SimulatedSerial::SerConfigure(cfg);
        }
        int SerClosePort(int handle) override {
            probe("close");
            return SimulatedSerial::SerClosePort(handle);
        }
        int SerSetDTR(int handle, bool level) override {
            probe("setDTR");
            return SimulatedSerial::SerSetDTR(handle, level);
        }

      private:
        void probe(const std::string& op) {
            bool taken = false;
            std::thread([&] {
                auto& m = NativeHandleMutex::getInstance();
                if (m.try_lock()) {
                    m.unlock();
                } else {
                    taken = true;
                }
            }).join();
            if (taken) {
                heldDuring.push_back(op);
            }
        }
    };
    auto probe = std::make_shared<LockProbe>();
    platform("Windows 10");
    SerialPortLocal::useNative(probe);
    probe->addPort("COM1");
    {
        SerialPortLocal port(SerialConfig("COM1"));
        port.setDTR(true);
    }
    EXPECT_THAT(probe->heldDuring, ElementsAre("open", "configure", "close"));
    EXPECT_EQ(&NativeHandleMutex::getInstance(), &NativeHandleMutex::getInstance());
}

// ---- reading and writing -------------------------------------------------------------------

TEST_F(SerialPortLocalTest, GetByteReadsInOrderThenReportsNothing) {
    platform("Linux", "amd64");
    auto port = openPort("/dev/ttyS0");
    EXPECT_EQ(port->getByte(), -1);
    sim_->inject("/dev/ttyS0", std::string("A\xff\x00", 3));
    EXPECT_EQ(port->getByte(), 'A');
    EXPECT_EQ(port->getByte(), 0xFF);
    EXPECT_EQ(port->getByte(), 0);
    EXPECT_EQ(port->getByte(), -1);
    EXPECT_TRUE(port->readSinceRxBufCheck());
    port->clearReadSinceRxBufCheck();
    EXPECT_FALSE(port->readSinceRxBufCheck());
}

TEST_F(SerialPortLocalTest, ReceiveTimeoutIsPolledOnLinux) {
    platform("Linux", "amd64");
    auto port = openPort("/dev/ttyS0");
    port->setTimeoutRx(100);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->getByte(), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);

    std::thread feeder([&] {
        std::this_thread::sleep_for(20ms);
        sim_->inject("/dev/ttyS0", "Z");
    });
    port->setTimeoutRx(5000);
    EXPECT_EQ(port->getByte(), 'Z');
    feeder.join();
}

TEST_F(SerialPortLocalTest, DeviceLossIsReportedNotHidden) {
    platform("Linux", "amd64");
    auto port = openPort("/dev/ttyUSB0");
    sim_->unplug("/dev/ttyUSB0");
    EXPECT_EQ(ioMessage([&] { port->getByte(); }), "getByte failed: Input/output error");
    std::vector<std::uint8_t> buffer(8);
    EXPECT_EQ(ioMessage([&] { port->getData(buffer); }), "getData: failed");
    EXPECT_EQ(ioMessage([&] { port->waitForData(1000); }),
              "waitForData failed: Input/output error");
}

TEST_F(SerialPortLocalTest, GetDataHonoursOffsetAndBounds) {
    platform("Linux", "amd64");
    auto port = openPort("/dev/ttyS0");
    sim_->inject("/dev/ttyS0", "abcdef");
    std::vector<std::uint8_t> buffer(4, '.');
    EXPECT_EQ(port->getData(buffer, 1, 2), 2);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), ".ab.");
    // Never more than fits behind the offset.
    EXPECT_EQ(port->getData(buffer, 2, 10), 2);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), ".acd");
    EXPECT_EQ(port->getData(buffer), 2);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 2), "ef");
    EXPECT_EQ(port->getData(buffer), 0);
    EXPECT_EQ(ioMessage([&] { port->getData(buffer, 5, 1); }), "getData: count out of bounds");
    EXPECT_EQ(ioMessage([&] { port->getData(buffer, -1, 1); }), "getData: count out of bounds");
}

TEST_F(SerialPortLocalTest, WritesReachTheDriver) {
    platform("Windows 10");
    auto port = openPort("COM1");
    const std::vector<std::uint8_t> data = {'1', '2', '3', '4'};
    port->putData(data);
    port->putData(data, 2);
    port->putData(data, 1, 2);
    port->putString("OK\r");
    port->putByte('!');
    EXPECT_EQ(sim_->written("COM1"), "12341223OK\r!");
    EXPECT_TRUE(port->sendSinceTxBufEmpty());
    port->clearSendSinceTxBufEmpty();
    EXPECT_FALSE(port->sendSinceTxBufEmpty());

    const auto callsBefore = sim_->calls();
    const auto before = std::count(callsBefore.begin(), callsBefore.end(), "SerPutData");
    port->putData(std::vector<std::uint8_t>{});
    port->putString("");
    const auto calls = sim_->calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SerPutData"), before);
}

TEST_F(SerialPortLocalTest, WriteBoundsAreCheckedBeforeTheDriver) {
    platform("Windows 10");
    auto port = openPort("COM1");
    const std::vector<std::uint8_t> data = {'1', '2', '3', '4'};
    EXPECT_EQ(ioMessage([&] { port->putData(data, 5); }), "putData: count out of bounds");
    EXPECT_EQ(ioMessage([&] { port->putData(data, -1); }), "putData: count out of bounds");
    EXPECT_EQ(ioMessage([&] { port->putData(data, 3, 2); }), "putData3: count out of bounds");
    EXPECT_EQ(ioMessage([&] { port->putData(data, -1, 2); }), "putData3: count out of bounds");
    EXPECT_FALSE(contains(sim_->calls(), "SerPutData"));
    EXPECT_EQ(sim_->written("COM1"), "");
}

TEST_F(SerialPortLocalTest, ShortWritesAreReported) {
    platform("Windows 10");
    auto port = openPort("COM1");
    sim_->setResult("SerPutData", 2);
    const std::vector<std::uint8_t> data = {'1', '2', '3', '4'};
    EXPECT_EQ(ioMessage([&] { port->putData(data); }), "PutData1: Sent only 2 of 4 bytes");
    EXPECT_EQ(ioMessage([&] { port->putData(data, 3); }), "PutData2: Sent only 2 of 3 bytes");
    EXPECT_EQ(ioMessage([&] { port->putData(data, 1, 3); }), "putData3: Sent only 2 of 3 bytes");
    EXPECT_EQ(ioMessage([&] { port->putString("hello"); }), "PutString: sent only 2 of 5 bytes");
    sim_->setResult("SerPutByte", 5);
    EXPECT_EQ(ioMessage([&] { port->putByte('x'); }), "PutByte failed: 5");
}

TEST_F(SerialPortLocalTest, WaitForDataAndWakeUp) {
    platform("Linux", "amd64");
    auto port = openPort("/dev/ttyS0");
    EXPECT_FALSE(port->waitForData(30));
    sim_->inject("/dev/ttyS0", "x");
    EXPECT_TRUE(port->waitForData(10000));
    EXPECT_EQ(port->getByte(), 'x');

    std::atomic<bool> returned{false};
    bool result = true;
    const auto start = std::chrono::steady_clock::now();
    std::thread waiter([&] {
        result = port->waitForData(20000);
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    port->wakeUp();
    waiter.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(SerialPortLocalTest, ReadyCountAndErrorStatusHandler) {
    platform("Linux", "amd64");
    auto port = openPort("/dev/ttyS0");
    sim_->inject("/dev/ttyS0", "abc");
    EXPECT_EQ(port->rxReadyCount(), 3);

    sim_->setResult("SerRxReadyCount", -1);
    EXPECT_EQ(ioMessage([&] { port->rxReadyCount(); }), "rxReadyCount failed");

    struct Recorder : ErrorStatusHandler {
        std::vector<int> statuses;
        void errorStatus(int status) override { statuses.push_back(status); }
    };
    auto recorder = std::make_shared<Recorder>();
    port->setErrorStatusHandler(recorder);
    EXPECT_EQ(port->rxReadyCount(), -1);
    EXPECT_THAT(recorder->statuses, ElementsAre(10));
}

// ---- modem lines and line conditions -------------------------------------------------------

TEST_F(SerialPortLocalTest, ModemLinesGoThroughTheDriver) {
    platform("Linux", "amd64");
    sim_->addPort("/dev/ttyS0");
    // A null-modem: our RTS is the far end's CTS, our DTR its DSR.
    sim_->setCtsFunction("/dev/ttyS0", [](const SimulatedSerial::ModemLines& l) { return l.rts; });
    sim_->setDsrFunction("/dev/ttyS0", [](const SimulatedSerial::ModemLines& l) { return l.dtr; });
    SerialPortLocal port(SerialConfig("/dev/ttyS0"));
    port.setRTS(true);
    port.setDTR(false);
    EXPECT_TRUE(port.sigCTS());
    EXPECT_FALSE(port.sigDSR());
    port.setRTS(false);
    port.setDTR(true);
    EXPECT_FALSE(port.sigCTS());
    EXPECT_TRUE(port.sigDSR());
    EXPECT_TRUE(sim_->modemLines("/dev/ttyS0").dtr);
    sim_->setCd("/dev/ttyS0", true);
    EXPECT_TRUE(port.sigCD());
    EXPECT_FALSE(port.sigRing());
}

TEST_F(SerialPortLocalTest, LineErrorsAreSeenOnce) {
    platform("Linux", "amd64");
    auto port = openPort("/dev/ttyS0");
    sim_->inject("/dev/ttyS0", SimulatedSerial::RxByte{'x', true, false});
    sim_->inject("/dev/ttyS0", SimulatedSerial::RxByte{'y', false, true});
    EXPECT_EQ(port->getByte(), 'x');
    EXPECT_EQ(port->getByte(), 'y');
    EXPECT_TRUE(port->sigParityErr());
    EXPECT_TRUE(port->sigFrameErr());
    EXPECT_FALSE(port->sigParityErr());
    EXPECT_FALSE(port->sigFrameErr());
}

TEST_F(SerialPortLocalTest, DriverFailuresBecomeMessages) {
    platform("Windows 10");
    auto port = openPort("COM1");
    const std::vector<std::tuple<std::string, std::function<void()>, std::string>> cases = {
        {"SerRxFlush", [&] { port->rxFlush(); }, "rxFlush failed"},
        {"SerTxFlush", [&] { port->txFlush(); }, "txFlush failed"},
        {"SerTxDrain", [&] { port->txDrain(); }, "txDrain failed"},
        {"SerSetDTR", [&] { port->setDTR(true); }, "setDTR failed"},
        {"SerSetRTS", [&] { port->setRTS(true); }, "setRTS failed"},
        {"SerSigCTS", [&] { port->sigCTS(); }, "sigCTS failed"},
        {"SerSigDSR", [&] { port->sigDSR(); }, "sigDSR failed"},
        {"SerSigCD", [&] { port->sigCD(); }, "sigCD failed"},
        {"SerSigFrameErr", [&] { port->sigFrameErr(); }, "sigFrameErr failed"},
        {"SerSigOverrun", [&] { port->sigOverrun(); }, "sigOverrun failed"},
        {"SerTxBufCount", [&] { port->txBufCount(); }, "txBufCount failed"},
        {"SerRxOverflow", [&] { port->rxOverflow(); }, "rxOverflow failed"},
        {"SerSendBreak", [&] { port->sendBreak(50); }, "sendBreak failed"},
        {"SerSetTimeoutRx", [&] { port->setTimeoutRx(10); }, "setTimeoutRx failed"},
        {"SerSetTimeoutTx", [&] { port->setTimeoutTx(10); }, "setTimeoutTx failed"},
    };
    for (const auto& [op, call, message] : cases) {
        sim_->setResult(op, -1);
        EXPECT_EQ(ioMessage(call), message);
        sim_->clearResult(op);
        EXPECT_EQ(ioMessage(call), "<no exception>") << op;
    }
    // These read any failure as "not seen".
    for (const char* op : {"SerSigBreak", "SerSigParityErr", "SerSigRing"}) {
        sim_->setResult(op, -1);
    }
    EXPECT_FALSE(port->sigBreak());
    EXPECT_FALSE(port->sigParityErr());
    EXPECT_FALSE(port->sigRing());
}

// ---- close, reset, driver reset ------------------------------------------------------------

TEST_F(SerialPortLocalTest, CloseFailureStillClosesThePort) {
    platform("Windows 10");
    auto port = openPort("COM1");
    port->putString("x");
    sim_->setResult("SerClosePort", 5);
    EXPECT_EQ(ioMessage([&] { port->close(); }), "ClosePort failed");
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->getPortNum(), -1);
    EXPECT_FALSE(port->sendSinceTxBufEmpty());
    // A second close has nothing left to do.
    EXPECT_NO_THROW(port->close());
}

TEST_F(SerialPortLocalTest, ReleasingAnOpenPortClosesIt) {
    platform("Windows 10");
    {
        auto port = openPort("COM1");
        EXPECT_TRUE(sim_->isOpen("COM1"));
        sim_->setResult("SerClosePort", 5);
    }
    EXPECT_FALSE(sim_->isOpen("COM1"));
}

TEST_F(SerialPortLocalTest, ResetReopensAndKeepsTransmitTimeout) {
    platform("Windows 10");
    auto port = openPort("COM1");
    port->setTimeoutTx(1234);
    port->reset();
    EXPECT_TRUE(port->isOpen());
    EXPECT_TRUE(sim_->isOpen("COM1"));
    EXPECT_EQ(port->getTimeoutTx(), 1234);
    EXPECT_EQ(port->getPortNum(), port->getConfig().getPort() - 1);
    port->putString("after");
    EXPECT_EQ(sim_->written("COM1"), "after");

    sim_->setOpenResult("COM1", 1007);
    EXPECT_EQ(ioMessage([&] { port->reset(); }), "reset: SerOpenPort failed: 1007");
    EXPECT_FALSE(port->isOpen());
}

TEST_F(SerialPortLocalTest, ResetPortDriverNeedsAClosedPort) {
    platform("Windows 10");
    auto port = openPort("COM1");
    EXPECT_EQ(ioMessage([&] { port->resetPortDriver(); }), "resetPortDriver: Port must be closed");
    port->close();
    EXPECT_NO_THROW(port->resetPortDriver());
    sim_->setResult("SerResetPortDriver", 4);
    EXPECT_EQ(ioMessage([&] { port->resetPortDriver(); }), "Reset port driver failed: 4");
}

// ---- record accessors ----------------------------------------------------------------------

TEST_F(SerialPortLocalTest, SetConfigOnClosedPortBecomesDefault) {
    platform("Windows 10");
    auto port = closedPort("COM1");
    SerialConfig cfg("COM7");
    cfg.setPortNum(42);
    port->setConfig(cfg);
    EXPECT_EQ(port->getConfig().getPort(), 0);
    EXPECT_EQ(port->getPortName(), "COM7");
    EXPECT_EQ(port->getDevName(), "COM7");
    EXPECT_EQ(SerialPortLocal::getDefaultPortName(), "COM7");
    sim_->addPort("COM7");
    port->open();
    EXPECT_TRUE(sim_->isOpen("COM7"));

    port->setPortName("COM8");
    EXPECT_EQ(SerialPortLocal::getDefaultPortName(), "COM8");
    EXPECT_THROW(port->setParity(9), std::invalid_argument);
    EXPECT_EQ(port->getParity(), SerialConfig::PY_NONE);
}

TEST_F(SerialPortLocalTest, PortWithoutRecordUsesDefaultName) {
    platform("Linux", "amd64");
    SerialPortLocal port;
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getPortName(), "/dev/ttyS0");
    EXPECT_EQ(port.getName(), "Serial Port");
    port.setName("scale");
    EXPECT_EQ(port.getName(), "scale");
    EXPECT_EQ(port.getName(3), "Not implemented");
    EXPECT_EQ(port.getLibVer(), 1);
}

// ---- class-wide driver services ------------------------------------------------------------

TEST_F(SerialPortLocalTest, PowerModeOnlyWhereSupported) {
    platform("Linux", "amd64");
    EXPECT_EQ(SerialPortLocal::getPowerMode(0), -1);
    SerialPortLocal::setPowerMode(0, 1);
    EXPECT_FALSE(contains(sim_->calls(), "SerSetPowerMode"));

    platform("Linux", "arm");
    SerialPortLocal::setPowerMode(0, 3);
    EXPECT_EQ(SerialPortLocal::getPowerMode(0), 3);
    sim_->setResult("SerGetPowerMode", 5000);
    EXPECT_EQ(ioMessage([] { SerialPortLocal::getPowerMode(0); }), "getPowerMode failed: 5000");
    sim_->setResult("SerSetPowerMode", 2);
    EXPECT_EQ(ioMessage([] { SerialPortLocal::setPowerMode(0, 1); }), "setPowerMode failed: 2");
    EXPECT_EQ(SerialPortLocal::getResumeState(false), 0);
}

TEST_F(SerialPortLocalTest, InstanceLockAndApmOnlyWhereSupported) {
    platform("Linux", "amd64");
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), -1);
    EXPECT_EQ(SerialPortLocal::setInstanceLock(1), -1);
    EXPECT_EQ(SerialPortLocal::getResumeState(true), -1);
    EXPECT_EQ(SerialPortLocal::getStatusAPM(), 0);
    platform("Windows 10");
    EXPECT_EQ(SerialPortLocal::setInstanceLock(7), 0);
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 7);
    SerialPortLocal::setPortListMode(2);
    EXPECT_EQ(SerialPortLocal::getPortListMode(), 2);
}

TEST_F(SerialPortLocalTest, DeviceNotificationReachesTheRegisteredCallback) {
    platform("Windows 10");
    auto port = openPort("COM1");
    struct Counter : DeviceNotificationCallback {
        int count = 0;
        void deviceChanged() override { ++count; }
    };
    auto first = std::make_shared<Counter>();
    auto second = std::make_shared<Counter>();
    port->registerDeviceNotification(first);
    const std::string out = stdoutOf([&] { sim_->notifyDeviceChange(); });
    EXPECT_EQ(out, "Serialkit.deviceNotification\n");
    EXPECT_EQ(first->count, 1);

    port->registerDeviceNotification(second);
    EXPECT_TRUE(contains(sim_->calls(), "SerUnregisterDeviceNotification"));
    stdoutOf([&] { sim_->notifyDeviceChange(); });
    EXPECT_EQ(first->count, 1);
    EXPECT_EQ(second->count, 1);

    // A notification after the port is gone reaches the callback without touching it.
    port.reset();
    stdoutOf([&] { sim_->notifyDeviceChange(); });
    EXPECT_EQ(second->count, 2);
}

TEST_F(SerialPortLocalTest, UnregisteredCallbackHearsNothing) {
    platform("Windows 10");
    auto port = openPort("COM1");
    struct Counter : DeviceNotificationCallback {
        int count = 0;
        void deviceChanged() override { ++count; }
    };
    auto counter = std::make_shared<Counter>();
    port->registerDeviceNotification(counter);
    port->unregisterDeviceNotification();
    stdoutOf([&] {
        sim_->notifyDeviceChange();
        port->deviceNotification();
    });
    EXPECT_EQ(counter->count, 0);
}

}  // namespace
}  // namespace serialkit
