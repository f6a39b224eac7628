#include <gtest/gtest.h>

#include <stdexcept>

#include "quorvel/config/Config.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/util/NumberFormatException.h"
#include "quorvel/worker/LineProcessor.h"

namespace quorvel::worker {
namespace {

using config::Config;
using config::ConfigHelper;
using config::InstrumentPresets;
using Mode = LineProcessor::Mode;

Config settingsFor(ConfigHelper::Instrument instrument) {
    Config c = InstrumentPresets::getDefaultConfig(instrument);
    c.setInstrument(instrument);
    return c;
}

TEST(LineProcessorTest, DefaultPatternFindsTheNumberAndDropsItsBlanks) {
    LineProcessor p(settingsFor(ConfigHelper::Instrument::GENERIC), Mode::NUMBER);
    EXPECT_EQ(p.process("12.5 kg\r"), "12.5");
    EXPECT_EQ(p.process("ST,GS,  12.50 kg\r"), "12.50");
    // The space inside the match goes before formatting; the comma becomes a point.
    EXPECT_EQ(p.process("- 1,5\r"), "-1.5");
    EXPECT_EQ(p.process("no digits\r"), "");
    EXPECT_TRUE(p.process("\r").isEmpty());
}

TEST(LineProcessorTest, CustomPatternKeepsThePresetsGroup) {
    Config c = settingsFor(ConfigHelper::Instrument::GENERIC);
    c.setCustomRegEx(R"(W:\s*(\d+))");
    LineProcessor p(c, Mode::NUMBER);
    EXPECT_EQ(p.captureGroup(),
              InstrumentPresets::getCaptureGroup(ConfigHelper::Instrument::GENERIC));
    EXPECT_EQ(p.process("7 W: 42\r"), "42");

    // A pattern without the group gives nothing, not a failure.
    c.setCustomRegEx("[0-9]+");
    LineProcessor noGroup(c, Mode::NUMBER);
    EXPECT_EQ(noGroup.process("42\r"), "");

    // A group that took no part in the match is a failure of that line, in both modes.
    c.setCustomRegEx(R"((a)|(\d+))");
    for (Mode mode : {Mode::NUMBER, Mode::BARCODE}) {
        LineProcessor alternation(c, mode);
        EXPECT_THROW(alternation.process("123\r"), std::invalid_argument);
        if (mode == Mode::BARCODE) {
            EXPECT_EQ(alternation.process("a\r"), "a");
        }
    }

    c.setCustomRegEx("([0-9");
    EXPECT_THROW(LineProcessor(c, Mode::NUMBER), std::invalid_argument);
}

TEST(LineProcessorTest, EditingRemovalAndFormattingRunInThatOrder) {
    Config c = settingsFor(ConfigHelper::Instrument::GENERIC);
    c.setCustomRegEx(R"(=(.*)\r)");
    c.setEditOperation(ConfigHelper::EditOperation::REMOVE);
    c.setEditPosition(ConfigHelper::EditPosition::FIRST);
    c.setEditNumCharacters("2");
    c.setRemoveCharacters("x");
    c.setDecimalPlaces("1");
    c.setRoundingMethod(ConfigHelper::RoundingMethod::HALF_UP);
    c.setDecimalSeparator(ConfigHelper::DecimalSeparator::COMMA);
    LineProcessor p(c, Mode::NUMBER);
    // "ab" edited away, the x's removed, the blank dropped, then rounded and written with a comma.
    EXPECT_EQ(p.process("=ab1x2. 3x5\r"), "12,4");
    EXPECT_EQ(p.process("=ab\r"), "");
    EXPECT_THROW(p.process("=abq7\r"), util::NumberFormatException);
}

TEST(LineProcessorTest, EditorOnlyForAPositiveCount) {
    Config c = settingsFor(ConfigHelper::Instrument::GENERIC);
    c.setEditOperation(ConfigHelper::EditOperation::REMOVE);
    for (const char* count : {"", "0", "-1", "junk"}) {
        c.setEditNumCharacters(count);
        LineProcessor p(c, Mode::NUMBER);
        EXPECT_EQ(p.process("12345\r"), "12345") << count;
    }
}

TEST(LineProcessorTest, BarcodeKeepsTheTextAsItIs) {
    Config c = settingsFor(ConfigHelper::Instrument::BARCODE);
    // Number settings that would fail a number line do not matter to text.
    c.setMathOperation(ConfigHelper::MathOperation::MULTIPLY);
    c.setMathOperand("not a number");
    c.setDecimalPlaces("0");
    LineProcessor p(c, Mode::BARCODE);
    EXPECT_EQ(p.captureGroup(), 1);
    EXPECT_EQ(p.process("- 1,50\r"), "- 1,50");

    c.setCustomRegEx("[A-Z]+");
    LineProcessor noGroup(c, Mode::BARCODE);
    EXPECT_EQ(noGroup.process("ABC\r"), "");

    c.setCustomRegEx(R"(([A-Z ]+)-)");
    c.setRemoveCharacters("B");
    LineProcessor removal(c, Mode::BARCODE);
    EXPECT_EQ(removal.process("xx A BC-\r"), " A C");
}

TEST(LineProcessorTest, UnreadableOperandFailsANumberPreparation) {
    Config c = settingsFor(ConfigHelper::Instrument::GENERIC);
    c.setMathOperation(ConfigHelper::MathOperation::MULTIPLY);
    c.setMathOperand("not a number");
    EXPECT_THROW(LineProcessor(c, Mode::NUMBER), util::NumberFormatException);
}

}  // namespace
}  // namespace quorvel::worker
