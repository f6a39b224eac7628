// The pieces of tolvane-sim that need no process: how a number of an instrument's format is
// written again with another value, the settling scale, and how lines are framed.

#include "SimDrift.h"

#include <gtest/gtest.h>

#include <QString>

#include <set>
#include <string>
#include <vector>

#include "SimOptions.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/Instrument.h"

namespace {

using quorvel::config::ConfigHelper;
using quorvel::config::InstrumentPresets;
using quorvel::config::Setting;
using tools::NumberShape;

// The value of a number text in steps of its last decimal: "+00012,45" is 1245.
long long unitsOf(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c == '-' || (c >= '0' && c <= '9')) {
            digits += c;
        }
    }
    return std::stoll(digits);
}

TEST(SimNumberShape, EverySampleValueIsWrittenBackExactly) {
    int shapes = 0;
    for (auto instrument : Setting<ConfigHelper::Instrument>::values()) {
        for (const auto& [line, value] : InstrumentPresets::getTestStrings(instrument)) {
            const std::string text = value.toStdString();
            if (text.empty()) {
                continue;
            }
            const auto shape = NumberShape::of(text);
            ASSERT_TRUE(shape.has_value()) << "'" << text << "'";
            EXPECT_EQ(shape->render(unitsOf(text)), text);
            ++shapes;
        }
    }
    EXPECT_GE(shapes, 20);
}

TEST(SimNumberShape, OtherValuesKeepSignPaddingAndSeparator) {
    const auto signedPadded = NumberShape::of("+00012,45");
    ASSERT_TRUE(signedPadded);
    EXPECT_EQ(signedPadded->decimals, 2);
    EXPECT_EQ(signedPadded->render(7), "+00000,07");
    EXPECT_EQ(signedPadded->render(-123456), "-01234,56");
    EXPECT_EQ(signedPadded->render(9999999), "+99999,99");

    const auto aligned = NumberShape::of("    0.058");
    ASSERT_TRUE(aligned);
    EXPECT_EQ(aligned->render(149999), "  149.999");
    // Wider than the sample: still one blank in front.
    EXPECT_EQ(aligned->render(123456789), " 123456.789");

    const auto whole = NumberShape::of("999");
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->render(42), "42");
    EXPECT_EQ(whole->unitsPerOne(), 1);

    const auto spacedSign = NumberShape::of("+ 60.24");
    ASSERT_TRUE(spacedSign);
    EXPECT_EQ(spacedSign->render(105), "+ 1.05");

    for (const char* notANumber : {"", " ", "+", "12.", ".5", "1.2.3", "12 kg", "abc", "1,2,3"}) {
        EXPECT_FALSE(NumberShape::of(notANumber).has_value()) << "'" << notANumber << "'";
    }
}

TEST(SimDriftFormat, StableAndUnstableMarksFollowTheReading) {
    const tools::DriftFormat scale{"ST,GS ", *NumberShape::of("  12.50"), " kg"};
    EXPECT_EQ(scale.line(1250, true), "ST,GS   12.50 kg");
    EXPECT_EQ(scale.line(1251, false), "US,GS   12.51 kg");
    const tools::DriftFormat unmarked{"0", *NumberShape::of("    2.45"), ""};
    EXPECT_EQ(unmarked.line(245, false), "0    2.45");
}

TEST(SimDriftScale, WeighingsCreepInSmallStepsThenHoldWithinRange) {
    tools::DriftScale scale(99, 2);
    tools::DriftScale same(99, 2);
    std::set<long long> weights;
    for (int w = 0; w < 50; ++w) {
        const auto readings = scale.weighing();
        const auto again = same.weighing();
        ASSERT_EQ(readings.size(), again.size());
        for (size_t i = 0; i < readings.size(); ++i) {
            EXPECT_EQ(readings[i].units, again[i].units);
        }
        ASSERT_GE(readings.size(), 7u);
        const long long weight = readings.back().units;
        weights.insert(weight);
        EXPECT_GE(weight, 100);
        EXPECT_LT(weight, 15000);
        size_t held = 0;
        for (size_t i = 0; i < readings.size(); ++i) {
            if (readings[i].stable) {
                EXPECT_EQ(readings[i].units, weight);
                ++held;
            } else {
                EXPECT_EQ(held, 0u) << "no settling after the hold";
                EXPECT_GT(readings[i].units, 0);
                const long long step = readings[i + 1].units - readings[i].units;
                EXPECT_NE(step, 0);
                EXPECT_LE(std::llabs(step), 4);
            }
        }
        EXPECT_GE(held, 4u);
        EXPECT_LE(held, 6u);
    }
    EXPECT_GT(weights.size(), 40u) << "new weights, not the same one";
}

TEST(SimFraming, InstrumentLinesKeepTheirTerminatorOwnLinesAlwaysGetOne) {
    tools::Preset preset;
    preset.name = "lf";
    preset.lines = {"1.5 kg\n", "2.5 kg"};
    preset.terminator = "\n";
    preset.dataCommand = "Q\r";
    const std::vector<tools::Preset> catalog{preset};

    const auto samples = tools::parseSimOptions({"--preset", "LF"}, catalog);
    EXPECT_EQ(samples.framed("1.5 kg\n"), "1.5 kg\n");
    EXPECT_EQ(samples.framed("2.5 kg"), "2.5 kg\n");
    EXPECT_EQ(samples.dataCommand(), "Q\r");

    const auto own = tools::parseSimOptions({"--preset", "lf", "--line", "x\\n"}, catalog);
    EXPECT_EQ(own.framed("x\n"), "x\n\n");
    EXPECT_EQ(own.dataCommand(), "Q\r") << "the instrument still waits for its command";

    const auto raw = tools::parseSimOptions({"--preset", "lf", "--raw", "--line", "x"}, catalog);
    EXPECT_EQ(raw.framed("x"), "x");

    EXPECT_EQ(tools::parseSimOptions({"--preset", "lf", "--no-command"}, catalog).dataCommand(),
              "");
    EXPECT_EQ(
        tools::parseSimOptions({"--preset", "lf", "--command", "SI\\r\\n"}, catalog).dataCommand(),
        "SI\r\n");
    EXPECT_EQ(tools::parseSimOptions({"--line", "x"}, catalog).dataCommand(), "");
}

TEST(SimFraming, DeviceSettingsComeFromThePresetAndBaudOverridesItsSpeed) {
    tools::Preset preset;
    preset.name = "seven";
    preset.lines = {"1"};
    preset.terminator = "\r";
    preset.serial = tools::LineSettings{2400, 7, 'E', 1};
    const std::vector<tools::Preset> catalog{preset};

    const auto plain = tools::parseSimOptions({"--preset", "seven"}, catalog).lineSettings();
    EXPECT_EQ(plain.baud, 2400);
    EXPECT_EQ(plain.dataBits, 7);
    EXPECT_EQ(plain.parity, 'E');
    const auto faster =
        tools::parseSimOptions({"--preset", "seven", "--baud", "9600"}, catalog).lineSettings();
    EXPECT_EQ(faster.baud, 9600);
    EXPECT_EQ(faster.dataBits, 7);
    const auto none = tools::parseSimOptions({"--line", "x"}, catalog).lineSettings();
    EXPECT_EQ(none.baud, 0) << "speed left alone";
    EXPECT_EQ(none.dataBits, 8);
    EXPECT_EQ(none.parity, 'N');
}

}  // namespace
