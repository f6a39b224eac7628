#include "quorvel/config/Config.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "quorvel/config/Instrument.h"
#include "quorvel/util/NumberFormatException.h"

namespace quorvel::config {

namespace {

// The strict integer of the settings' validity tests, raised as a parse failure.
int parseInt(const QString& text) {
    if (const auto value = ConfigHelper::parseInt(text))
        return *value;
    throw util::NumberFormatException("Not an integer: \"" + text.toStdString() + "\"");
}

}  // namespace

// The port starts unset, not empty: a record that never learnt a port must not overwrite the
// stored one when it is saved.
Config::Config() = default;

Config::Config(QString port, std::optional<H::Instrument> instrument, int bitRate, int dataBits,
               int stopBits, int parity, int inputTerminator, H::DecimalSeparator decimalSeparator,
               H::StartWith startWith, H::OutputTerminator outputTerminator, H::Connect connect,
               H::MathOperation mathOperation, QString mathOperand, QString decimalPlaces,
               H::RoundingMethod roundingMethod, H::Sound sound, H::KeyboardType keyboardType,
               QString delay, H::EditOperation editOperation, H::EditPosition editPosition,
               QString editNumCharacters, QString removeCharacters, QString customRegEx,
               QString ignoreTimeLimit, QString ignoreDifference, bool minimizeToTray,
               bool notifyWhenMinimizedToTray, bool checkForUpdates,
               bool abortAutoStartWhenPrevPortNotAvailable, bool ignoreDuplicates)
    : minimizeToTray(minimizeToTray),
      notifyWhenMinimizedToTray(notifyWhenMinimizedToTray),
      checkForUpdates(checkForUpdates),
      abortAutoStartWhenPrevPortNotAvailable(abortAutoStartWhenPrevPortNotAvailable),
      ignoreDuplicates(ignoreDuplicates),
      port_(std::move(port)),
      instrument_(instrument),
      bitRate_(bitRate),
      dataBits_(dataBits),
      stopBits_(stopBits),
      parity_(parity),
      inputTerminator_(inputTerminator),
      decimalSeparator_(decimalSeparator),
      startWith_(startWith),
      outputTerminator_(outputTerminator),
      connect_(connect),
      mathOperation_(mathOperation),
      mathOperand_(std::move(mathOperand)),
      decimalPlaces_(std::move(decimalPlaces)),
      roundingMethod_(roundingMethod),
      sound_(sound),
      keyboardType_(keyboardType),
      delay_(std::move(delay)),
      editOperation_(editOperation),
      editPosition_(editPosition),
      editNumCharacters_(std::move(editNumCharacters)),
      removeCharacters_(std::move(removeCharacters)),
      customRegEx_(std::move(customRegEx)),
      ignoreTimeLimit_(std::move(ignoreTimeLimit)),
      ignoreDifference_(std::move(ignoreDifference)) {}

// prevPort and the listeners belong to the original only.
Config::Config(const Config& o)
    : minimizeToTray(o.minimizeToTray),
      notifyWhenMinimizedToTray(o.notifyWhenMinimizedToTray),
      checkForUpdates(o.checkForUpdates),
      abortAutoStartWhenPrevPortNotAvailable(o.abortAutoStartWhenPrevPortNotAvailable),
      ignoreDuplicates(o.ignoreDuplicates),
      stableOnly(o.stableOnly),
      requestInterval(o.requestInterval),
      requestCommand(o.requestCommand),
      requestHotkey(o.requestHotkey),
      reconnect(o.reconnect),
      valueLog(o.valueLog),
      portalRestoreToken(o.portalRestoreToken),
      port_(o.port_),
      instrument_(o.instrument_),
      bitRate_(o.bitRate_),
      dataBits_(o.dataBits_),
      stopBits_(o.stopBits_),
      parity_(o.parity_),
      inputTerminator_(o.inputTerminator_),
      decimalSeparator_(o.decimalSeparator_),
      startWith_(o.startWith_),
      outputTerminator_(o.outputTerminator_),
      connect_(o.connect_),
      mathOperation_(o.mathOperation_),
      mathOperand_(o.mathOperand_),
      decimalPlaces_(o.decimalPlaces_),
      roundingMethod_(o.roundingMethod_),
      sound_(o.sound_),
      keyboardType_(o.keyboardType_),
      delay_(o.delay_),
      editOperation_(o.editOperation_),
      editPosition_(o.editPosition_),
      editNumCharacters_(o.editNumCharacters_),
      removeCharacters_(o.removeCharacters_),
      customRegEx_(o.customRegEx_),
      ignoreTimeLimit_(o.ignoreTimeLimit_),
      ignoreDifference_(o.ignoreDifference_) {}

void Config::setInstrument(std::optional<H::Instrument> v) {
    instrument_ = v;
    if (!v)
        return;
    const QString property =
        Setting<H::InstrumentType>::name(InstrumentPresets::getInstrumentType(*v));
    // A listener may add or remove listeners while being told.
    const auto listeners = listeners_;
    for (const auto& entry : listeners) entry.second(property, std::nullopt, v);
}

int Config::getDelayAsInt() const {
    return parseInt(delay_);
}

int Config::getDecimalPlacesAsInt() const {
    return parseInt(decimalPlaces_);
}

int Config::getEditNumCharactersAsInt() const {
    return parseInt(editNumCharacters_);
}

util::BigDecimal Config::getMathOperandAsBigDecimal() const {
    return util::BigDecimal::parse(mathOperand_);
}

bool Config::roundingEnabled() const {
    if (decimalPlaces_.isEmpty())
        return false;
    try {
        const int places = getDecimalPlacesAsInt();
        return places >= 0 && places <= 7;
    } catch (const util::NumberFormatException&) {
        return false;
    }
}

bool Config::mathEnabled() const {
    if (mathOperation_ == H::MathOperation::NONE || mathOperand_.isEmpty())
        return false;
    // A division is never applied without a precision to round it to.
    return mathOperation_ == H::MathOperation::MULTIPLY ||
           (mathOperation_ == H::MathOperation::DIVIDE && roundingEnabled());
}

bool Config::hasChanged(const Config& o) const {
    return port_ != o.port_ || instrument_ != o.instrument_ || bitRate_ != o.bitRate_ ||
           dataBits_ != o.dataBits_ || stopBits_ != o.stopBits_ || parity_ != o.parity_ ||
           inputTerminator_ != o.inputTerminator_ || decimalSeparator_ != o.decimalSeparator_ ||
           startWith_ != o.startWith_ || outputTerminator_ != o.outputTerminator_ ||
           connect_ != o.connect_ || mathOperation_ != o.mathOperation_ ||
           mathOperand_ != o.mathOperand_ || decimalPlaces_ != o.decimalPlaces_ ||
           roundingMethod_ != o.roundingMethod_ || sound_ != o.sound_ ||
           keyboardType_ != o.keyboardType_ || delay_ != o.delay_ ||
           editOperation_ != o.editOperation_ || editPosition_ != o.editPosition_ ||
           editNumCharacters_ != o.editNumCharacters_ || removeCharacters_ != o.removeCharacters_ ||
           customRegEx_ != o.customRegEx_ || ignoreTimeLimit_ != o.ignoreTimeLimit_ ||
           ignoreDifference_ != o.ignoreDifference_ || minimizeToTray != o.minimizeToTray ||
           notifyWhenMinimizedToTray != o.notifyWhenMinimizedToTray ||
           checkForUpdates != o.checkForUpdates ||
           abortAutoStartWhenPrevPortNotAvailable != o.abortAutoStartWhenPrevPortNotAvailable ||
           ignoreDuplicates != o.ignoreDuplicates || stableOnly != o.stableOnly ||
           requestInterval != o.requestInterval || requestCommand != o.requestCommand ||
           requestHotkey != o.requestHotkey || reconnect != o.reconnect || valueLog != o.valueLog ||
           portalRestoreToken != o.portalRestoreToken;
}

int Config::addPropertyChangeListener(Listener listener) {
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void Config::removePropertyChangeListener(int id) {
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [id](const auto& entry) { return entry.first == id; }),
                     listeners_.end());
}

}  // namespace quorvel::config
