#include "serialkit/SerialConfig.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>

#include "serialkit/Platform.h"
#include "serialkit/SystemProperties.h"

namespace serialkit {
namespace {

// Records read the platform name when they are built, so each test builds its record while
// SK_OSNAME names the platform it wants and forgets the property afterwards.
class OsNameOverride {
  public:
    explicit OsNameOverride(const std::string& name) { SystemProperties::set("SK_OSNAME", name); }
    ~OsNameOverride() { SystemProperties::clear("SK_OSNAME"); }
    OsNameOverride(const OsNameOverride&) = delete;
    OsNameOverride& operator=(const OsNameOverride&) = delete;
};

SerialConfig configOn(const std::string& osName) {
    OsNameOverride os(osName);
    return SerialConfig("COM3");
}

template <typename Fn>
std::string messageOf(Fn&& fn) {
    try {
        fn();
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "<no invalid_argument>";
}

void expectLineDefaults(const SerialConfig& c) {
    EXPECT_EQ(c.getTxLen(), 4096);
    EXPECT_EQ(c.getRxLen(), 4096);
    EXPECT_EQ(c.getBitRate(), SerialConfig::BR_9600);
    EXPECT_EQ(c.getParity(), SerialConfig::PY_NONE);
    EXPECT_EQ(c.getDataBits(), SerialConfig::LN_8BITS);
    EXPECT_EQ(c.getStopBits(), SerialConfig::ST_1BITS);
    EXPECT_EQ(c.getHandshake(), SerialConfig::HS_NONE);
    EXPECT_TRUE(c.getHardFlow());
    EXPECT_FALSE(c.getFlowPriority());
}

const std::string kOneZeroByte(1, '\0');

// ---- constructors --------------------------------------------------------------------------

TEST(SerialConfigConstruct, NoArguments) {
    OsNameOverride os("Linux");
    SerialConfig d;
    EXPECT_EQ(d.getPort(), 0);
    EXPECT_EQ(d.getPortNameString(), "COM1");
    EXPECT_EQ(d.getPortName(), "COM1");
    EXPECT_EQ(d.getBaseName(), "/dev/ttyS");
    expectLineDefaults(d);
}

TEST(SerialConfigConstruct, PortNumber) {
    SerialConfig c(5);
    EXPECT_EQ(c.getPort(), 5);
    EXPECT_EQ(c.getPortNameString(), "");
    EXPECT_EQ(c.getPortName(), kOneZeroByte);
    EXPECT_EQ(c.getBaseName(), "/dev/ttyS");
    expectLineDefaults(c);
}

TEST(SerialConfigConstruct, PortNumberAndLengthsSkipTheChecks) {
    SerialConfig c(2, 100, 200);
    EXPECT_EQ(c.getPort(), 2);
    EXPECT_EQ(c.getTxLen(), 100);
    EXPECT_EQ(c.getRxLen(), 200);
    EXPECT_EQ(c.getPortNameString(), "");
    EXPECT_EQ(c.getBaseName(), "/dev/ttyS");
    EXPECT_EQ(c.getBitRate(), SerialConfig::BR_9600);

    // Constructors do not validate: lengths above the EPOC limit and negative numbers stay.
    OsNameOverride os("EPOC");
    SerialConfig epoc(1, 10000, 20000);
    EXPECT_EQ(epoc.getTxLen(), 10000);
    EXPECT_EQ(epoc.getRxLen(), 20000);
    SystemProperties::set("SK_OSNAME", "Linux");
    SerialConfig negative(-3);
    EXPECT_EQ(negative.getPort(), -3);
}

TEST(SerialConfigConstruct, PortName) {
    SerialConfig c("/dev/ttyUSB0");
    EXPECT_EQ(c.getPortNameString(), "/dev/ttyUSB0");
    EXPECT_EQ(c.getPortName(), "/dev/ttyUSB0");
    EXPECT_EQ(c.getBaseName(), kOneZeroByte);
    EXPECT_EQ(c.getPort(), 0);
    expectLineDefaults(c);
}

TEST(SerialConfigConstruct, OsNameIsReadWhenBuilt) {
    SystemProperties::remove("SK_OSNAME");
    EXPECT_EQ(SerialConfig().getOsName(), systemOsName());
    SystemProperties::clear("SK_OSNAME");

    SerialConfig c = configOn("Windows 7");
    EXPECT_EQ(c.getOsName(), "Windows 7");
    // A later change of the property does not reach a record already built.
    OsNameOverride os("Windows 10");
    EXPECT_NO_THROW(c.setHandshake(SerialConfig::HS_DSRDTR));
    EXPECT_EQ(SerialConfig("x").getOsName(), "Windows 10");
}

// ---- setters -------------------------------------------------------------------------------

TEST(SerialConfigSetters, BitRateRange) {
    SerialConfig c("COM1");
    for (int rate : {0, 14, 15, 30, 31, 9600, 921600}) {
        c.setBitRate(rate);
        EXPECT_EQ(c.getBitRate(), rate);
    }
    c.setBitRate(SerialConfig::BR_19200);
    for (int rate : {-1, 921601, INT_MAX, INT_MIN}) {
        EXPECT_EQ(messageOf([&] { c.setBitRate(rate); }), "Invalid Serial Port Bit Rate") << rate;
        EXPECT_EQ(c.getBitRate(), SerialConfig::BR_19200);
    }
}

TEST(SerialConfigSetters, DataBitsRange) {
    SerialConfig c("COM1");
    for (int v : {0, 3}) {
        c.setDataBits(v);
        EXPECT_EQ(c.getDataBits(), v);
    }
    c.setDataBits(SerialConfig::LN_7BITS);
    for (int v : {-1, 4, 8}) {
        EXPECT_EQ(messageOf([&] { c.setDataBits(v); }), "Invalid Serial Port Data Bits") << v;
        EXPECT_EQ(c.getDataBits(), SerialConfig::LN_7BITS);
    }
}

TEST(SerialConfigSetters, ParityRange) {
    SerialConfig c("COM1");
    for (int v : {0, 4}) {
        c.setParity(v);
        EXPECT_EQ(c.getParity(), v);
    }
    c.setParity(SerialConfig::PY_ODD);
    for (int v : {-1, 5}) {
        EXPECT_EQ(messageOf([&] { c.setParity(v); }), "Invalid Serial Port Parity") << v;
        EXPECT_EQ(c.getParity(), SerialConfig::PY_ODD);
    }
}

TEST(SerialConfigSetters, StopBitsRange) {
    SerialConfig c("COM1");
    c.setStopBits(1);
    EXPECT_EQ(c.getStopBits(), SerialConfig::ST_2BITS);
    c.setStopBits(0);
    EXPECT_EQ(c.getStopBits(), SerialConfig::ST_1BITS);
    c.setStopBits(SerialConfig::ST_2BITS);
    for (int v : {-1, 2}) {
        EXPECT_EQ(messageOf([&] { c.setStopBits(v); }), "Invalid Serial Port Stop Bits") << v;
        EXPECT_EQ(c.getStopBits(), SerialConfig::ST_2BITS);
    }
}

TEST(SerialConfigSetters, HandshakeWholeModesAndSplitBits) {
    SerialConfig c = configOn("Linux");
    for (int v : {0, 1, 2, 16, 0x30, 0x90, 240}) {
        c.setHandshake(v);
        EXPECT_EQ(c.getHandshake(), v);
    }
    c.setHandshake(SerialConfig::HS_XONXOFF);
    for (int v : {-1, 4, 15, 241, 256, 0x100 | 0x10}) {
        EXPECT_EQ(messageOf([&] { c.setHandshake(v); }), "Invalid Serial Port Handshake") << v;
        EXPECT_EQ(c.getHandshake(), SerialConfig::HS_XONXOFF);
    }
}

TEST(SerialConfigSetters, DsrDtrOnlyOnListedPlatforms) {
    SerialConfig win10 = configOn("Windows 10");
    win10.setHandshake(SerialConfig::HS_CTSRTS);
    EXPECT_EQ(messageOf([&] { win10.setHandshake(SerialConfig::HS_DSRDTR); }),
              "DSRDTR handshaking not available on this platform");
    EXPECT_EQ(win10.getHandshake(), SerialConfig::HS_CTSRTS);

    SerialConfig win7 = configOn("Windows 7");
    win7.setHandshake(SerialConfig::HS_DSRDTR);
    EXPECT_EQ(win7.getHandshake(), SerialConfig::HS_DSRDTR);

    for (const char* os :
         {"Windows 95", "Windows NT", "Windows CE", "Windows 98", "Windows Me", "Windows XP",
          "Windows 2000", "Windows 2003", "Windows Server 2008", "Windows Server 2008 R2",
          "Windows Vista", "Windows 7", "Windows NT (unknown)", "OS/2"}) {
        SerialConfig c = configOn(os);
        EXPECT_NO_THROW(c.setHandshake(3)) << os;
    }
    // Exact names only; the application itself announces plain "Windows".
    for (const char* os : {"Windows 8", "Windows 10", "Windows", "windows 7", "Windows 7 ", "Linux",
                           "Mac OS", "EPOC", "OS/2 Warp"}) {
        SerialConfig c = configOn(os);
        EXPECT_EQ(messageOf([&] { c.setHandshake(3); }),
                  "DSRDTR handshaking not available on this platform")
            << os;
        EXPECT_EQ(c.getHandshake(), SerialConfig::HS_NONE);
    }
}

TEST(SerialConfigSetters, PortNumber) {
    SerialConfig c = configOn("Linux");
    c.setPortNum(0);
    EXPECT_EQ(c.getPort(), 0);
    c.setPortNum(INT_MAX);
    EXPECT_EQ(c.getPort(), INT_MAX);
    c.setPortNum(4);
    EXPECT_EQ(messageOf([&] { c.setPortNum(-1); }), "Invalid Port Number: -1");
    EXPECT_EQ(messageOf([&] { c.setPortNum(INT_MIN); }), "Invalid Port Number: -2147483648");
    EXPECT_EQ(c.getPort(), 4);

    SerialConfig epoc = configOn("EPOC");
    epoc.setPortNum(-1);
    EXPECT_EQ(epoc.getPort(), -1);
    epoc.setPortNum(INT_MIN);
    EXPECT_EQ(epoc.getPort(), INT_MIN);
}

TEST(SerialConfigSetters, BufferLengthsLimitedOnlyOnEpoc) {
    SerialConfig c = configOn("Linux");
    c.setRxLen(100000);
    c.setTxLen(100000);
    EXPECT_EQ(c.getRxLen(), 100000);
    EXPECT_EQ(c.getTxLen(), 100000);

    SerialConfig epoc = configOn("EPOC");
    epoc.setRxLen(8192);
    epoc.setTxLen(8192);
    EXPECT_EQ(epoc.getRxLen(), 8192);
    EXPECT_EQ(epoc.getTxLen(), 8192);
    epoc.setRxLen(512);
    epoc.setTxLen(1024);
    for (int v : {8193, 100000, INT_MAX}) {
        EXPECT_EQ(messageOf([&] { epoc.setRxLen(v); }), "Limited to 8192 on EPOC") << v;
        EXPECT_EQ(messageOf([&] { epoc.setTxLen(v); }), "Limited to 8192 on EPOC") << v;
    }
    EXPECT_EQ(epoc.getRxLen(), 512);
    EXPECT_EQ(epoc.getTxLen(), 1024);
}

TEST(SerialConfigSetters, NamesAndFlags) {
    SerialConfig c;
    c.setPortName("/dev/ttyACM1");
    EXPECT_EQ(c.getPortNameString(), "/dev/ttyACM1");
    EXPECT_EQ(c.getPortName(), "/dev/ttyACM1");
    EXPECT_EQ(c.getBaseName(), "/dev/ttyS");

    c.setBaseName("/dev/ttyUSB");
    EXPECT_EQ(c.getBaseName(), "/dev/ttyUSB");
    EXPECT_EQ(c.getPortNameString(), "/dev/ttyACM1");

    c.setHardFlow(false);
    c.setFlowPriority(true);
    EXPECT_FALSE(c.getHardFlow());
    EXPECT_TRUE(c.getFlowPriority());
}

// ---- bit rates -----------------------------------------------------------------------------

TEST(SerialConfigBitRate, IndexOfRate) {
    EXPECT_EQ(SerialConfig::getBitRateIndex(9600), 7);
    EXPECT_EQ(SerialConfig::getBitRateIndex(9601), -1);
    EXPECT_EQ(SerialConfig::getBitRateIndex(110), 0);
    EXPECT_EQ(SerialConfig::getBitRateIndex(921600), 14);
    EXPECT_EQ(SerialConfig::getBitRateIndex(0), -1);
    EXPECT_EQ(SerialConfig::getBitRateIndex(7), -1);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(SerialConfig::getBitRateIndex(
                      SerialConfig::bitRateNumbers[static_cast<std::size_t>(i)]),
                  i);
    }
}

TEST(SerialConfigBitRate, NumberOfIndexOrLiteral) {
    SerialConfig c("COM1");
    EXPECT_EQ(c.getBitRateNumber(SerialConfig::BR_110), 110);
    EXPECT_EQ(c.getBitRateNumber(SerialConfig::BR_9600), 9600);
    EXPECT_EQ(c.getBitRateNumber(SerialConfig::BR_921600), 921600);
    EXPECT_THROW(c.getBitRateNumber(15), std::out_of_range);
    EXPECT_THROW(c.getBitRateNumber(-1), std::out_of_range);

    // A literal rate wins over whatever index is asked for.
    c.setBitRate(19200);
    EXPECT_EQ(c.getBitRateNumber(0), 19200);
    EXPECT_EQ(c.getBitRateNumber(99), 19200);
    c.setBitRate(31);
    EXPECT_EQ(c.getBitRateNumber(31), 31);
    // 30 is no literal, so the index applies again.
    c.setBitRate(30);
    EXPECT_EQ(c.getBitRateNumber(2), 300);
    EXPECT_THROW(c.getBitRateNumber(30), std::out_of_range);
}

TEST(SerialConfigBitRate, ValidIndex) {
    SerialConfig c("COM1");
    EXPECT_TRUE(c.validBitRateIndex());
    for (int v : {0, 14}) {
        c.setBitRate(v);
        EXPECT_TRUE(c.validBitRateIndex()) << v;
    }
    for (int v : {15, 20, 30, 31, 9600, 921600}) {
        c.setBitRate(v);
        EXPECT_FALSE(c.validBitRateIndex()) << v;
    }
}

// ---- settings string and copy --------------------------------------------------------------

TEST(SerialConfigSettingsString, DefaultRecord) {
    EXPECT_EQ(configOn("Linux").getSettingsString(), "9600 / NONE / 8 / 1 / NONE");
    EXPECT_EQ(SerialConfig(3).getSettingsString(), "9600 / NONE / 8 / 1 / NONE");
}

TEST(SerialConfigSettingsString, SplitHandshake) {
    SerialConfig c = configOn("Linux");
    c.setBitRate(19200);
    c.setParity(SerialConfig::PY_EVEN);
    c.setDataBits(SerialConfig::LN_7BITS);
    c.setStopBits(SerialConfig::ST_2BITS);
    c.setHandshake(SerialConfig::HS_HARD_IN | SerialConfig::HS_SOFT_OUT);
    EXPECT_EQ(c.getSettingsString(), "19200 / EVEN / 7 / 2 /  HI SO");

    c.setBitRate(SerialConfig::BR_19200);
    EXPECT_EQ(c.getSettingsString(), "19200 / EVEN / 7 / 2 /  HI SO");
    c.setHandshake(SerialConfig::HS_SPLIT_MASK);
    EXPECT_EQ(c.getSettingsString(), "19200 / EVEN / 7 / 2 /  HI HO SI SO");
    c.setHandshake(SerialConfig::HS_HARD_OUT | SerialConfig::HS_SOFT_IN);
    EXPECT_EQ(c.getSettingsString(), "19200 / EVEN / 7 / 2 /  HO SI");
}

TEST(SerialConfigSettingsString, EveryField) {
    SerialConfig c = configOn("Windows 7");
    c.setBitRate(SerialConfig::BR_110);
    c.setParity(SerialConfig::PY_MARK);
    c.setDataBits(SerialConfig::LN_5BITS);
    c.setHandshake(SerialConfig::HS_DSRDTR);
    EXPECT_EQ(c.getSettingsString(), "110 / MARK / 5 / 1 / DSR-DTR");
    c.setBitRate(SerialConfig::BR_921600);
    c.setParity(SerialConfig::PY_SPACE);
    c.setDataBits(SerialConfig::LN_6BITS);
    c.setHandshake(SerialConfig::HS_XONXOFF);
    EXPECT_EQ(c.getSettingsString(), "921600 / SPACE / 6 / 1 / XON-XOFF");
    c.setBitRate(1000000 / 4);
    c.setParity(SerialConfig::PY_ODD);
    c.setHandshake(SerialConfig::HS_CTSRTS);
    EXPECT_EQ(c.getSettingsString(), "250000 / ODD / 6 / 1 / CTS-RTS");
}

TEST(SerialConfigSettingsString, MacOsNamesHandshakeTwoCtsDtr) {
    SerialConfig mac = configOn("Mac OS");
    mac.setHandshake(SerialConfig::HS_CTSDTR);
    EXPECT_EQ(mac.getSettingsString(), "9600 / NONE / 8 / 1 / CTS-DTR");
    mac.setHandshake(SerialConfig::HS_XONXOFF);
    EXPECT_EQ(mac.getSettingsString(), "9600 / NONE / 8 / 1 / XON-XOFF");

    SerialConfig other = configOn("Linux");
    other.setHandshake(SerialConfig::HS_CTSRTS);
    EXPECT_EQ(other.getSettingsString(), "9600 / NONE / 8 / 1 / CTS-RTS");
    SerialConfig macX = configOn("Mac OS X");
    macX.setHandshake(SerialConfig::HS_CTSRTS);
    EXPECT_EQ(macX.getSettingsString(), "9600 / NONE / 8 / 1 / CTS-RTS");
}

TEST(SerialConfigSettingsString, RateThatIsNeitherIndexNorLiteral) {
    SerialConfig c("COM1");
    c.setBitRate(20);
    EXPECT_THROW(c.getSettingsString(), std::out_of_range);
    EXPECT_EQ(c.getBitRate(), 20);
}

TEST(SerialConfigCopy, DuplicatesEveryFieldIndependently) {
    SerialConfig c = configOn("Windows 7");
    c.setPortNum(4);
    c.setPortName("/dev/ttyUSB4");
    c.setBaseName("/dev/ttyUSB");
    c.setBitRate(57600);
    c.setParity(SerialConfig::PY_ODD);
    c.setDataBits(SerialConfig::LN_7BITS);
    c.setStopBits(SerialConfig::ST_2BITS);
    c.setHandshake(SerialConfig::HS_DSRDTR);
    c.setRxLen(1000);
    c.setTxLen(2000);
    c.setHardFlow(false);
    c.setFlowPriority(true);

    const SerialConfig d = c.copy();
    c.setPortName("other");
    c.setBitRate(0);
    c.setHardFlow(true);

    EXPECT_EQ(d.getPort(), 4);
    EXPECT_EQ(d.getPortNameString(), "/dev/ttyUSB4");
    EXPECT_EQ(d.getPortName(), "/dev/ttyUSB4");
    EXPECT_EQ(d.getBaseName(), "/dev/ttyUSB");
    EXPECT_EQ(d.getBitRate(), 57600);
    EXPECT_EQ(d.getParity(), SerialConfig::PY_ODD);
    EXPECT_EQ(d.getDataBits(), SerialConfig::LN_7BITS);
    EXPECT_EQ(d.getStopBits(), SerialConfig::ST_2BITS);
    EXPECT_EQ(d.getHandshake(), SerialConfig::HS_DSRDTR);
    EXPECT_EQ(d.getRxLen(), 1000);
    EXPECT_EQ(d.getTxLen(), 2000);
    EXPECT_FALSE(d.getHardFlow());
    EXPECT_TRUE(d.getFlowPriority());
    EXPECT_EQ(d.getOsName(), "Windows 7");
}

}  // namespace
}  // namespace serialkit
