#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/util/BigDecimal.h"

namespace quorvel::config {

// Every user setting. Texts keep what the user typed; an empty text means "off".
// A null QString is "unset" (port and prevPort distinguish unset from empty).
// Not synchronised: owned by the user-interface thread; workers get their own copy.
class Config {
public:
    using H = ConfigHelper;
    // (property name, old value, new value); the name is "NUMBER" or "TEXT".
    using Listener = std::function<void(const QString& property,
                                        std::optional<H::Instrument> oldValue,
                                        std::optional<H::Instrument> newValue)>;

    Config();
    // One argument per field except prevPort and the notifier, in declaration order.
    Config(QString port, std::optional<H::Instrument> instrument, int bitRate, int dataBits,
           int stopBits, int parity, int inputTerminator, H::DecimalSeparator decimalSeparator,
           H::StartWith startWith, H::OutputTerminator outputTerminator, H::Connect connect,
           H::MathOperation mathOperation, QString mathOperand, QString decimalPlaces,
           H::RoundingMethod roundingMethod, H::Sound sound, H::KeyboardType keyboardType,
           QString delay, H::EditOperation editOperation, H::EditPosition editPosition,
           QString editNumCharacters, QString removeCharacters, QString customRegEx,
           QString ignoreTimeLimit, QString ignoreDifference, bool minimizeToTray,
           bool notifyWhenMinimizedToTray, bool checkForUpdates,
           bool abortAutoStartWhenPrevPortNotAvailable, bool ignoreDuplicates);
    // A copy: every field except prevPort (left unset) and the listeners (none).
    Config(const Config& other);
    Config& operator=(const Config&) = delete;  // say Config(other) to get the copy rules above
    Config(Config&&) noexcept = default;
    Config& operator=(Config&&) noexcept = default;
    ~Config() = default;

    const QString& getPort() const { return port_; }
    void setPort(const QString& v) { port_ = v; }
    std::optional<H::Instrument> getInstrument() const { return instrument_; }
    // Stores the instrument, then tells the listeners of its type.
    void setInstrument(std::optional<H::Instrument> v);
    int getBitRate() const { return bitRate_; }
    void setBitRate(int v) { bitRate_ = v; }
    int getDataBits() const { return dataBits_; }
    void setDataBits(int v) { dataBits_ = v; }
    int getStopBits() const { return stopBits_; }
    void setStopBits(int v) { stopBits_ = v; }
    int getParity() const { return parity_; }
    void setParity(int v) { parity_ = v; }
    int getInputTerminator() const { return inputTerminator_; }
    void setInputTerminator(int v) { inputTerminator_ = v; }
    H::DecimalSeparator getDecimalSeparator() const { return decimalSeparator_; }
    void setDecimalSeparator(H::DecimalSeparator v) { decimalSeparator_ = v; }
    H::StartWith getStartWith() const { return startWith_; }
    void setStartWith(H::StartWith v) { startWith_ = v; }
    H::OutputTerminator getOutputTerminator() const { return outputTerminator_; }
    void setOutputTerminator(H::OutputTerminator v) { outputTerminator_ = v; }
    H::Connect getConnect() const { return connect_; }
    void setConnect(H::Connect v) { connect_ = v; }
    H::MathOperation getMathOperation() const { return mathOperation_; }
    void setMathOperation(H::MathOperation v) { mathOperation_ = v; }
    const QString& getMathOperand() const { return mathOperand_; }
    void setMathOperand(const QString& v) { mathOperand_ = v; }
    const QString& getDecimalPlaces() const { return decimalPlaces_; }
    void setDecimalPlaces(const QString& v) { decimalPlaces_ = v; }
    H::RoundingMethod getRoundingMethod() const { return roundingMethod_; }
    void setRoundingMethod(H::RoundingMethod v) { roundingMethod_ = v; }
    H::Sound getSound() const { return sound_; }
    void setSound(H::Sound v) { sound_ = v; }
    H::KeyboardType getKeyboardType() const { return keyboardType_; }
    void setKeyboardType(H::KeyboardType v) { keyboardType_ = v; }
    const QString& getDelay() const { return delay_; }
    void setDelay(const QString& v) { delay_ = v; }
    const QString& getPrevPort() const { return prevPort_; }
    void setPrevPort(const QString& v) { prevPort_ = v; }
    H::EditOperation getEditOperation() const { return editOperation_; }
    void setEditOperation(H::EditOperation v) { editOperation_ = v; }
    H::EditPosition getEditPosition() const { return editPosition_; }
    void setEditPosition(H::EditPosition v) { editPosition_ = v; }
    const QString& getEditNumCharacters() const { return editNumCharacters_; }
    void setEditNumCharacters(const QString& v) { editNumCharacters_ = v; }
    const QString& getRemoveCharacters() const { return removeCharacters_; }
    void setRemoveCharacters(const QString& v) { removeCharacters_ = v; }
    const QString& getCustomRegEx() const { return customRegEx_; }
    void setCustomRegEx(const QString& v) { customRegEx_ = v; }
    const QString& getIgnoreTimeLimit() const { return ignoreTimeLimit_; }
    void setIgnoreTimeLimit(const QString& v) { ignoreTimeLimit_ = v; }
    const QString& getIgnoreDifference() const { return ignoreDifference_; }
    void setIgnoreDifference(const QString& v) { ignoreDifference_ = v; }

    // Parsed views; a text that does not parse raises util::NumberFormatException.
    int getDelayAsInt() const;
    int getDecimalPlacesAsInt() const;
    int getEditNumCharactersAsInt() const;
    util::BigDecimal getMathOperandAsBigDecimal() const;

    // Decimal places set and an integer 0..7.
    bool roundingEnabled() const;
    // An operation other than NONE, an operand, and for DIVIDE also rounding.
    bool mathEnabled() const;
    // Any field except prevPort differs.
    bool hasChanged(const Config& other) const;

    // Returns an id for removePropertyChangeListener.
    int addPropertyChangeListener(Listener listener);
    void removePropertyChangeListener(int id);

    // Plain fields.
    bool minimizeToTray = true;
    bool notifyWhenMinimizedToTray = true;
    bool checkForUpdates = true;
    bool abortAutoStartWhenPrevPortNotAvailable = true;
    bool ignoreDuplicates = false;
    // Type only readings the instrument marks stable (or tare); not in the full constructor.
    bool stableOnly = false;
    // Asking the instrument for readings, reopening it after an unplug, recording every
    // reading; not in the full constructor. Text fields follow ConfigHelper's tests.
    QString requestInterval{"0"};
    QString requestCommand{""};
    QString requestHotkey{""};
    bool reconnect = true;
    QString valueLog{""};
    // The desktop portal's permission to type without asking again; empty when none. Belongs
    // to this desktop, so it is never exported or imported.
    QString portalRestoreToken{""};

private:
    QString port_;
    std::optional<H::Instrument> instrument_;
    int bitRate_ = 0;
    int dataBits_ = 0;
    int stopBits_ = 0;
    int parity_ = 0;
    int inputTerminator_ = 0;
    H::DecimalSeparator decimalSeparator_ = H::DecimalSeparator::DOT;
    H::StartWith startWith_ = H::StartWith::NONE;
    H::OutputTerminator outputTerminator_ = H::OutputTerminator::NONE;
    H::Connect connect_ = H::Connect::MANUAL;
    H::MathOperation mathOperation_ = H::MathOperation::NONE;
    QString mathOperand_{""};
    QString decimalPlaces_{""};
    H::RoundingMethod roundingMethod_ = H::RoundingMethod::HALF_UP;
    H::Sound sound_ = H::Sound::NONE;
    H::KeyboardType keyboardType_ = H::KeyboardType::QUERTY;
    QString delay_{"20"};
    QString prevPort_;
    H::EditOperation editOperation_ = H::EditOperation::REMOVE;
    H::EditPosition editPosition_ = H::EditPosition::FIRST;
    QString editNumCharacters_{""};
    QString removeCharacters_{""};
    QString customRegEx_{""};
    QString ignoreTimeLimit_{""};
    QString ignoreDifference_{""};
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListenerId_ = 1;
};

}  // namespace quorvel::config
