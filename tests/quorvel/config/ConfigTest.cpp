#include "quorvel/config/Config.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "quorvel/util/NumberFormatException.h"

namespace quorvel::config {
namespace {

using H = ConfigHelper;
using Mutator = std::pair<const char*, std::function<void(Config&)>>;

// One change per field except prevPort; every value differs from the plain defaults and from
// the other fields of the same type, so that a swapped field shows up.
std::vector<Mutator> fieldMutators() {
    return {
        {"port", [](Config& c) { c.setPort("COM7"); }},
        {"instrument", [](Config& c) { c.setInstrument(H::Instrument::OHAUS); }},
        {"bitRate", [](Config& c) { c.setBitRate(7); }},
        {"dataBits", [](Config& c) { c.setDataBits(3); }},
        {"stopBits", [](Config& c) { c.setStopBits(1); }},
        {"parity", [](Config& c) { c.setParity(2); }},
        {"inputTerminator", [](Config& c) { c.setInputTerminator(13); }},
        {"decimalSeparator", [](Config& c) { c.setDecimalSeparator(H::DecimalSeparator::COMMA); }},
        {"startWith", [](Config& c) { c.setStartWith(H::StartWith::TAB); }},
        {"outputTerminator", [](Config& c) { c.setOutputTerminator(H::OutputTerminator::ENTER); }},
        {"connect", [](Config& c) { c.setConnect(H::Connect::AUTO); }},
        {"mathOperation", [](Config& c) { c.setMathOperation(H::MathOperation::DIVIDE); }},
        {"mathOperand", [](Config& c) { c.setMathOperand("2.5"); }},
        {"decimalPlaces", [](Config& c) { c.setDecimalPlaces("2"); }},
        {"roundingMethod", [](Config& c) { c.setRoundingMethod(H::RoundingMethod::FLOOR); }},
        {"sound", [](Config& c) { c.setSound(H::Sound::COWBELL); }},
        {"keyboardType", [](Config& c) { c.setKeyboardType(H::KeyboardType::AZERTY); }},
        {"delay", [](Config& c) { c.setDelay("35"); }},
        {"editOperation", [](Config& c) { c.setEditOperation(H::EditOperation::KEEP); }},
        {"editPosition", [](Config& c) { c.setEditPosition(H::EditPosition::LAST); }},
        {"editNumCharacters", [](Config& c) { c.setEditNumCharacters("4"); }},
        {"removeCharacters", [](Config& c) { c.setRemoveCharacters("kg"); }},
        {"customRegEx", [](Config& c) { c.setCustomRegEx("(\\d+)"); }},
        {"ignoreTimeLimit", [](Config& c) { c.setIgnoreTimeLimit("500"); }},
        {"ignoreDifference", [](Config& c) { c.setIgnoreDifference("0.05"); }},
        {"minimizeToTray", [](Config& c) { c.minimizeToTray = false; }},
        {"notifyWhenMinimizedToTray", [](Config& c) { c.notifyWhenMinimizedToTray = false; }},
        {"checkForUpdates", [](Config& c) { c.checkForUpdates = false; }},
        {"abortAutoStart", [](Config& c) { c.abortAutoStartWhenPrevPortNotAvailable = false; }},
        {"ignoreDuplicates", [](Config& c) { c.ignoreDuplicates = true; }},
        {"stableOnly", [](Config& c) { c.stableOnly = true; }},
        {"requestInterval", [](Config& c) { c.requestInterval = "1000"; }},
        {"requestCommand", [](Config& c) { c.requestCommand = "SI\\r\\n"; }},
        {"requestHotkey", [](Config& c) { c.requestHotkey = "F9"; }},
        {"reconnect", [](Config& c) { c.reconnect = false; }},
        {"valueLog", [](Config& c) { c.valueLog = "/tmp/v.csv"; }},
    };
}

TEST(ConfigTest, PlainConstructionDefaults) {
    const Config c;
    // Unset, not merely empty: saving such a record leaves the stored port alone.
    EXPECT_TRUE(c.getPort().isNull());
    EXPECT_TRUE(c.getPrevPort().isNull());
    EXPECT_FALSE(c.getInstrument().has_value());
    EXPECT_EQ(c.getBitRate() | c.getDataBits() | c.getStopBits() | c.getParity(), 0);
    EXPECT_EQ(c.getInputTerminator(), 0);
    EXPECT_EQ(c.getDecimalSeparator(), H::DecimalSeparator::DOT);
    EXPECT_EQ(c.getStartWith(), H::StartWith::NONE);
    EXPECT_EQ(c.getOutputTerminator(), H::OutputTerminator::NONE);
    EXPECT_EQ(c.getConnect(), H::Connect::MANUAL);
    EXPECT_EQ(c.getMathOperation(), H::MathOperation::NONE);
    EXPECT_EQ(c.getRoundingMethod(), H::RoundingMethod::HALF_UP);
    EXPECT_EQ(c.getSound(), H::Sound::NONE);
    EXPECT_EQ(c.getKeyboardType(), H::KeyboardType::QUERTY);
    EXPECT_EQ(c.getDelay(), "20");
    EXPECT_EQ(c.getEditOperation(), H::EditOperation::REMOVE);
    EXPECT_EQ(c.getEditPosition(), H::EditPosition::FIRST);
    for (const QString& text : {c.getMathOperand(), c.getDecimalPlaces(), c.getEditNumCharacters(),
                                c.getRemoveCharacters(), c.getCustomRegEx(), c.getIgnoreTimeLimit(),
                                c.getIgnoreDifference()}) {
        EXPECT_TRUE(text.isEmpty());
    }
    EXPECT_TRUE(c.minimizeToTray && c.notifyWhenMinimizedToTray && c.checkForUpdates &&
                c.abortAutoStartWhenPrevPortNotAvailable);
    EXPECT_FALSE(c.ignoreDuplicates);
    EXPECT_FALSE(c.stableOnly);
}

TEST(ConfigTest, HasChangedSeesEveryFieldButPrevPort) {
    const Config base;
    for (const auto& [field, mutate] : fieldMutators()) {
        Config other(base);
        mutate(other);
        EXPECT_TRUE(base.hasChanged(other)) << field;
        EXPECT_TRUE(other.hasChanged(base)) << field;
    }
    Config other(base);
    other.setPrevPort("COM9");
    EXPECT_FALSE(base.hasChanged(other));
    // Texts compare by content, not by object.
    other.setDelay(QString("2") + QString("0"));
    EXPECT_FALSE(base.hasChanged(other));
}

TEST(ConfigTest, CopyTakesEveryFieldExceptPrevPort) {
    Config original;
    for (const auto& [field, mutate] : fieldMutators()) mutate(original);
    original.setPrevPort("COM1");
    const Config copy(original);
    EXPECT_FALSE(copy.hasChanged(original));
    EXPECT_TRUE(copy.getPrevPort().isNull());
    EXPECT_EQ(copy.getCustomRegEx(), "(\\d+)");
}

TEST(ConfigTest, FullConstructorPutsEveryArgumentInItsField) {
    const Config built("COM7", H::Instrument::OHAUS, 7, 3, 1, 2, 13, H::DecimalSeparator::COMMA,
                       H::StartWith::TAB, H::OutputTerminator::ENTER, H::Connect::AUTO,
                       H::MathOperation::DIVIDE, "2.5", "2", H::RoundingMethod::FLOOR,
                       H::Sound::COWBELL, H::KeyboardType::AZERTY, "35", H::EditOperation::KEEP,
                       H::EditPosition::LAST, "4", "kg", "(\\d+)", "500", "0.05", false, false,
                       false, false, true);
    Config expected;
    for (const auto& [field, mutate] : fieldMutators()) mutate(expected);
    // Not among the constructor's arguments.
    expected.stableOnly = false;
    expected.requestInterval = "0";
    expected.requestCommand = "";
    expected.requestHotkey = "";
    expected.reconnect = true;
    expected.valueLog = "";
    EXPECT_FALSE(built.hasChanged(expected));
    EXPECT_TRUE(built.getPrevPort().isNull());
    EXPECT_EQ(built.getIgnoreTimeLimit(), "500");
}

TEST(ConfigTest, IntegerAccessorsParseStrictlyAndRaiseFailures) {
    Config c;
    for (const char* good : {"2147483647", "-2147483648", "+5", "-0", "007"}) {
        c.setDelay(good);
        EXPECT_EQ(c.getDelayAsInt(), QString(good).toInt()) << good;
    }
    for (const char* bad : {"", " 20", "20 ", "2147483648", "-2147483649", "1.5", "+", "-", "x1",
                            "99999999999999999999"}) {
        c.setDelay(bad);
        EXPECT_THROW(c.getDelayAsInt(), util::NumberFormatException) << '"' << bad << '"';
    }
    c.setDelay(QString::fromUtf8("\u0663"));  // a digit, but not a base-10 ASCII one
    EXPECT_THROW(c.getDelayAsInt(), util::NumberFormatException);
    c.setDecimalPlaces("3");
    c.setEditNumCharacters("12");
    EXPECT_EQ(c.getDecimalPlacesAsInt(), 3);
    EXPECT_EQ(c.getEditNumCharactersAsInt(), 12);
    c.setEditNumCharacters("");
    EXPECT_THROW(c.getEditNumCharactersAsInt(), util::NumberFormatException);
    c.setMathOperand("1e3");
    EXPECT_EQ(c.getMathOperandAsBigDecimal().compareTo(util::BigDecimal(1000)), 0);
    c.setMathOperand("2,5");
    EXPECT_THROW(c.getMathOperandAsBigDecimal(), util::NumberFormatException);
}

TEST(ConfigTest, RoundingAndMathEnabled) {
    Config c;
    for (const char* places : {"0", "7", "+3"}) {
        c.setDecimalPlaces(places);
        EXPECT_TRUE(c.roundingEnabled()) << places;
    }
    for (const char* places : {"", "8", "-1", "2.0", "abc", " 2"}) {
        c.setDecimalPlaces(places);
        EXPECT_FALSE(c.roundingEnabled()) << '"' << places << '"';
    }

    c.setDecimalPlaces("");
    c.setMathOperand("3");
    EXPECT_FALSE(c.mathEnabled());  // NONE
    c.setMathOperation(H::MathOperation::MULTIPLY);
    EXPECT_TRUE(c.mathEnabled());
    c.setMathOperand("");
    EXPECT_FALSE(c.mathEnabled());
    c.setMathOperation(H::MathOperation::DIVIDE);
    c.setMathOperand("3");
    EXPECT_FALSE(c.mathEnabled());  // no precision to divide to
    c.setDecimalPlaces("2");
    EXPECT_TRUE(c.mathEnabled());
    c.setDecimalPlaces("8");
    EXPECT_FALSE(c.mathEnabled());
}

TEST(ConfigTest, InstrumentChangeTellsListenersItsType) {
    Config c;
    std::vector<QString> heard;
    std::vector<std::optional<H::Instrument>> values;
    const int id = c.addPropertyChangeListener([&](const QString& property,
                                                   std::optional<H::Instrument> oldValue,
                                                   std::optional<H::Instrument> newValue) {
        EXPECT_FALSE(oldValue.has_value());
        heard.push_back(property);
        values.push_back(newValue);
    });
    int otherCalls = 0;
    c.addPropertyChangeListener([&](const QString&, auto, auto) { ++otherCalls; });

    c.setInstrument(H::Instrument::GENERIC);
    c.setInstrument(H::Instrument::BARCODE);
    c.setInstrument(std::nullopt);  // stored, but no type to announce
    EXPECT_FALSE(c.getInstrument().has_value());
    EXPECT_EQ(heard, (std::vector<QString>{"NUMBER", "TEXT"}));
    EXPECT_EQ(values.back(), H::Instrument::BARCODE);
    EXPECT_EQ(otherCalls, 2);

    Config copy(c);
    copy.setInstrument(H::Instrument::GENERIC);
    EXPECT_EQ(heard.size(), 2u);

    c.removePropertyChangeListener(id);
    c.setInstrument(H::Instrument::GENERIC);
    EXPECT_EQ(heard.size(), 2u);
    EXPECT_EQ(otherCalls, 3);
    EXPECT_EQ(c.getInstrument(), H::Instrument::GENERIC);
}

TEST(ConfigTest, ListenerMayRemoveItselfWhileBeingTold) {
    Config c;
    int calls = 0;
    int id = 0;
    id = c.addPropertyChangeListener([&](const QString&, auto, auto) {
        ++calls;
        c.removePropertyChangeListener(id);
    });
    c.setInstrument(H::Instrument::GENERIC);
    c.setInstrument(H::Instrument::GENERIC);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace quorvel::config
