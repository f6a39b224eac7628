#pragma once

#include <array>
#include <atomic>
#include <string>

namespace serialkit {

// Serial line parameters handed to the port and through it to the native backend.
class SerialConfig {
  public:
    static constexpr int BR_110 = 0;
    static constexpr int BR_150 = 1;
    static constexpr int BR_300 = 2;
    static constexpr int BR_600 = 3;
    static constexpr int BR_1200 = 4;
    static constexpr int BR_2400 = 5;
    static constexpr int BR_4800 = 6;
    static constexpr int BR_9600 = 7;
    static constexpr int BR_19200 = 8;
    static constexpr int BR_38400 = 9;
    static constexpr int BR_57600 = 10;
    static constexpr int BR_115200 = 11;
    static constexpr int BR_230400 = 12;
    static constexpr int BR_460800 = 13;
    static constexpr int BR_921600 = 14;

    static constexpr int LN_5BITS = 0;
    static constexpr int LN_6BITS = 1;
    static constexpr int LN_7BITS = 2;
    static constexpr int LN_8BITS = 3;

    static constexpr int ST_1BITS = 0;
    static constexpr int ST_2BITS = 1;

    static constexpr int PY_NONE = 0;
    static constexpr int PY_ODD = 1;
    static constexpr int PY_EVEN = 2;
    static constexpr int PY_MARK = 3;
    static constexpr int PY_SPACE = 4;

    static constexpr int HS_NONE = 0;
    static constexpr int HS_XONXOFF = 1;
    static constexpr int HS_CTSRTS = 2;
    static constexpr int HS_DSRDTR = 3;
    static constexpr int HS_CTSDTR = 2;

    static constexpr int HS_HARD_IN = 0x10;
    static constexpr int HS_HARD_OUT = 0x20;
    static constexpr int HS_SOFT_IN = 0x40;
    static constexpr int HS_SOFT_OUT = 0x80;
    static constexpr int HS_SPLIT_MASK = 0xF0;

    static constexpr std::array<int, 15> bitRateNumbers = {110,   150,    300,    600,    1200,
                                                           2400,  4800,   9600,   19200,  38400,
                                                           57600, 115200, 230400, 460800, 921600};
    static constexpr std::array<const char*, 5> parityNames = {"NONE", "ODD", "EVEN", "MARK",
                                                               "SPACE"};
    static constexpr std::array<const char*, 4> handshakeNames = {"NONE", "XON-XOFF", "CTS-RTS",
                                                                  "DSR-DTR"};

    // "COM1", base name "/dev/ttyS".
    SerialConfig();
    explicit SerialConfig(int portNum);
    SerialConfig(int portNum, int txLen, int rxLen);
    // The constructor the application uses.
    explicit SerialConfig(const std::string& portName);

    void setBitRate(int bitRate);
    void setDataBits(int dataBits);
    void setParity(int parity);
    void setStopBits(int stopBits);
    void setHandshake(int handshake);
    void setPortNum(int portNum);
    void setRxLen(int rxLen);
    void setTxLen(int txLen);
    void setPortName(const std::string& name);
    void setBaseName(const std::string& name);
    void setHardFlow(bool hardFlow) { hardFlow_ = hardFlow; }
    void setFlowPriority(bool flowPriority) { flowPriority_ = flowPriority; }

    int getPort() const { return portNum_.get(); }
    // The name as the native backend receives it: the text's bytes, no terminator.
    const std::string& getPortName() const { return portName_; }
    const std::string& getPortNameString() const { return sPortName_; }
    const std::string& getBaseName() const { return baseName_; }
    int getBitRate() const { return bitRate_; }
    int getDataBits() const { return dataBits_; }
    int getParity() const { return parity_; }
    int getStopBits() const { return stopBits_; }
    int getHandshake() const { return handshake_; }
    bool getHardFlow() const { return hardFlow_; }
    bool getFlowPriority() const { return flowPriority_; }
    int getRxLen() const { return rxLen_; }
    int getTxLen() const { return txLen_; }
    const std::string& getOsName() const { return osName_; }

    // Position of `rate` in bitRateNumbers, or -1.
    static int getBitRateIndex(int rate);
    // The literal rate when bitRate is above 30, else bitRateNumbers[index];
    // throws std::out_of_range for an index outside 0..14.
    int getBitRateNumber(int index) const;
    bool validBitRateIndex() const;
    // "9600 / NONE / 8 / 1 / NONE".
    std::string getSettingsString() const;
    SerialConfig copy() const { return *this; }

  private:
    // A driver's server thread writes the number while the opener polls it, so the field is
    // atomic; copies take its value like any other field.
    class PortNumber {
      public:
        PortNumber(int value = 0) : value_(value) {}
        PortNumber(const PortNumber& other) : value_(other.get()) {}
        PortNumber& operator=(const PortNumber& other) {
            set(other.get());
            return *this;
        }
        int get() const { return value_.load(std::memory_order_relaxed); }
        void set(int value) { value_.store(value, std::memory_order_relaxed); }

      private:
        std::atomic<int> value_;
    };

    bool dsrDtrAvailable() const;

    PortNumber portNum_ = 0;
    std::string sPortName_;
    std::string portName_ = std::string(1, '\0');
    std::string baseName_ = std::string(1, '\0');
    int txLen_ = 4096;
    int rxLen_ = 4096;
    int bitRate_ = BR_9600;
    int parity_ = PY_NONE;
    int dataBits_ = LN_8BITS;
    int stopBits_ = ST_1BITS;
    int handshake_ = HS_NONE;
    std::string osName_;
    bool hardFlow_ = true;
    bool flowPriority_ = false;
};

}  // namespace serialkit
