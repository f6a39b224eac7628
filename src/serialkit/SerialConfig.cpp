#include "serialkit/SerialConfig.h"

#include <stdexcept>

#include "serialkit/Platform.h"

namespace serialkit {

namespace {

constexpr const char* kDsrDtrPlatforms[] = {"Windows 95",           "Windows NT",
                                            "Windows CE",           "Windows 98",
                                            "Windows Me",           "Windows XP",
                                            "Windows 2000",         "Windows 2003",
                                            "Windows Server 2008",  "Windows Server 2008 R2",
                                            "Windows Vista",        "Windows 7",
                                            "Windows NT (unknown)", "OS/2"};

}  // namespace

SerialConfig::SerialConfig() : osName_(currentOsName()) {
    setPortName("COM1");
    setBaseName("/dev/ttyS");
}

SerialConfig::SerialConfig(int portNum) : portNum_(portNum), osName_(currentOsName()) {
    setBaseName("/dev/ttyS");
}

SerialConfig::SerialConfig(int portNum, int txLen, int rxLen)
    : portNum_(portNum), txLen_(txLen), rxLen_(rxLen), osName_(currentOsName()) {
    setBaseName("/dev/ttyS");
}

SerialConfig::SerialConfig(const std::string& portName) : osName_(currentOsName()) {
    setPortName(portName);
}

void SerialConfig::setBitRate(int bitRate) {
    if (bitRate < 0 || bitRate > 921600) {
        throw std::invalid_argument("Invalid Serial Port Bit Rate");
    }
    bitRate_ = bitRate;
}

void SerialConfig::setDataBits(int dataBits) {
    if (dataBits < LN_5BITS || dataBits > LN_8BITS) {
        throw std::invalid_argument("Invalid Serial Port Data Bits");
    }
    dataBits_ = dataBits;
}

void SerialConfig::setParity(int parity) {
    if (parity < PY_NONE || parity > PY_SPACE) {
        throw std::invalid_argument("Invalid Serial Port Parity");
    }
    parity_ = parity;
}

void SerialConfig::setStopBits(int stopBits) {
    if (stopBits < ST_1BITS || stopBits > ST_2BITS) {
        throw std::invalid_argument("Invalid Serial Port Stop Bits");
    }
    stopBits_ = stopBits;
}

bool SerialConfig::dsrDtrAvailable() const {
    for (const char* name : kDsrDtrPlatforms) {
        if (osName_ == name) {
            return true;
        }
    }
    return false;
}

void SerialConfig::setHandshake(int handshake) {
    if (handshake == HS_DSRDTR) {
        if (!dsrDtrAvailable()) {
            throw std::invalid_argument("DSRDTR handshaking not available on this platform");
        }
    } else if (!(handshake >= HS_NONE && handshake <= HS_CTSRTS) &&
               !(handshake >= HS_HARD_IN && handshake <= HS_SPLIT_MASK)) {
        throw std::invalid_argument("Invalid Serial Port Handshake");
    }
    handshake_ = handshake;
}

void SerialConfig::setPortNum(int portNum) {
    if (portNum < 0 && osName_ != "EPOC") {
        throw std::invalid_argument("Invalid Port Number: " + std::to_string(portNum));
    }
    portNum_.set(portNum);
}

void SerialConfig::setRxLen(int rxLen) {
    if (rxLen > 8192 && osName_ == "EPOC") {
        throw std::invalid_argument("Limited to 8192 on EPOC");
    }
    rxLen_ = rxLen;
}

void SerialConfig::setTxLen(int txLen) {
    if (txLen > 8192 && osName_ == "EPOC") {
        throw std::invalid_argument("Limited to 8192 on EPOC");
    }
    txLen_ = txLen;
}

void SerialConfig::setPortName(const std::string& name) {
    sPortName_ = name;
    portName_ = name;  // UTF-8, the platform's default encoding
}

void SerialConfig::setBaseName(const std::string& name) {
    baseName_ = name;
}

int SerialConfig::getBitRateIndex(int rate) {
    for (std::size_t i = 0; i < bitRateNumbers.size(); ++i) {
        if (bitRateNumbers[i] == rate) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SerialConfig::getBitRateNumber(int index) const {
    if (bitRate_ > 30) {
        return bitRate_;
    }
    if (index < 0 || index >= static_cast<int>(bitRateNumbers.size())) {
        throw std::out_of_range("Bit rate index out of range: " + std::to_string(index));
    }
    return bitRateNumbers[static_cast<std::size_t>(index)];
}

bool SerialConfig::validBitRateIndex() const {
    return bitRate_ >= 0 && bitRate_ < static_cast<int>(bitRateNumbers.size());
}

std::string SerialConfig::getSettingsString() const {
    std::string s = std::to_string(getBitRateNumber(bitRate_));
    s += " / ";
    s += parityNames.at(static_cast<std::size_t>(parity_));
    s += " / ";
    s += static_cast<char>('5' + dataBits_);
    s += " / ";
    s += static_cast<char>('1' + stopBits_);
    s += " / ";
    if ((handshake_ & HS_SPLIT_MASK) != 0) {
        if (handshake_ & HS_HARD_IN)
            s += " HI";
        if (handshake_ & HS_HARD_OUT)
            s += " HO";
        if (handshake_ & HS_SOFT_IN)
            s += " SI";
        if (handshake_ & HS_SOFT_OUT)
            s += " SO";
    } else if (osName_ == "Mac OS" && handshake_ == HS_CTSDTR) {
        s += "CTS-DTR";
    } else {
        s += handshakeNames.at(static_cast<std::size_t>(handshake_));
    }
    return s;
}

}  // namespace serialkit
