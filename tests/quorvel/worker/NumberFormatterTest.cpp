#include "quorvel/worker/NumberFormatter.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "quorvel/util/ArithmeticException.h"
#include "quorvel/util/NumberFormatException.h"

namespace quorvel::worker {
namespace {

using H = config::ConfigHelper;

config::Config settings(QString places = "", H::RoundingMethod mode = H::RoundingMethod::HALF_UP,
                        H::MathOperation op = H::MathOperation::NONE, QString operand = "",
                        H::DecimalSeparator sep = H::DecimalSeparator::DOT) {
    config::Config c;
    c.setDecimalPlaces(places);
    c.setRoundingMethod(mode);
    c.setMathOperation(op);
    c.setMathOperand(operand);
    c.setDecimalSeparator(sep);
    return c;
}

QString fmt(const config::Config& c, const QString& text) {
    return NumberFormatter(c).format(text);
}

TEST(NumberFormatterTest, WritesTheExactValueWithItsOwnScale) {
    const auto plain = settings();
    const std::vector<std::pair<QString, QString>> cases = {
        {"12,50", "12.50"},
        {"+5", "5"},
        {"-1,5", "-1.5"},
        {".5", "0.5"},
        {"5.", "5"},
        {"1E3", "1000"},
        {"1.5E-3", "0.0015"},
        {"-0.00", "0.00"},
        {"000012", "12"},
        {"1234567.5", "1234567.5"},
        {"123456789012345678901234567890.125", "123456789012345678901234567890.125"}};
    for (const auto& [in, out] : cases) EXPECT_EQ(fmt(plain, in), out) << in.toStdString();
    // The comma setting changes only the separator: no grouping, minus stays "-".
    const auto comma = settings("", H::RoundingMethod::HALF_UP, H::MathOperation::NONE, "",
                                H::DecimalSeparator::COMMA);
    EXPECT_EQ(fmt(comma, "-1234567.5"), "-1234567,5");
    EXPECT_EQ(fmt(comma, "1E3"), "1000");
    EXPECT_EQ(NumberFormatter(comma).decimalSeparator(), u',');
    EXPECT_EQ(NumberFormatter(comma).getLocale().decimalPoint(), ",");
    EXPECT_EQ(NumberFormatter(plain).getLocale().decimalPoint(), ".");
}

TEST(NumberFormatterTest, RefusesTextThatIsNoNumber) {
    NumberFormatter f(settings("2"));
    for (const char* bad : {"", "1.2.3", "12,5,0", "abc", "1e", "--1", " 12", "1 2", "+", "."})
        EXPECT_THROW(f.format(bad), util::NumberFormatException) << bad;
    // Plain form of an absurd exponent is refused instead of allocating without bound.
    EXPECT_THROW(f.format("1E999999999"), util::ArithmeticException);
}

TEST(NumberFormatterTest, RoundingOnlyShortens) {
    const auto comma = [](H::RoundingMethod m) {
        return settings("2", m, H::MathOperation::NONE, "", H::DecimalSeparator::COMMA);
    };
    EXPECT_EQ(fmt(comma(H::RoundingMethod::HALF_UP), "12.345"), "12,35");
    EXPECT_EQ(fmt(comma(H::RoundingMethod::DOWN), "12.345"), "12,34");
    const auto two = settings("2");
    for (const char* kept : {"12.3", "12.34", "12", "1000"}) EXPECT_EQ(fmt(two, kept), kept);
    EXPECT_EQ(fmt(two, "1E3"), "1000");
    EXPECT_EQ(fmt(settings("0"), "12.5"), "13");
    // Decided: a value rounded to zero carries no sign.
    EXPECT_EQ(fmt(settings("0"), "-0.4"), "0");
    EXPECT_EQ(fmt(settings("1"), "-0.04"), "0.0");
    // The decision is taken on the exact value, far beyond what a double holds.
    EXPECT_EQ(fmt(settings("0"), "2.4999999999999999999"), "2");
    EXPECT_EQ(fmt(settings("2", H::RoundingMethod::HALF_EVEN), "0.1250000000000000001"), "0.13");
}

TEST(NumberFormatterTest, EveryRoundingModeOnTiesAndNearTies) {
    using R = H::RoundingMethod;
    // mode, -0.5, 2.5, -2.5, 3.5, 2.51 to 0 places
    const std::vector<
        std::tuple<R, const char*, const char*, const char*, const char*, const char*>>
        rows = {{R::CEILING, "0", "3", "-2", "4", "3"},   {R::DOWN, "0", "2", "-2", "3", "2"},
                {R::FLOOR, "-1", "2", "-3", "3", "2"},    {R::HALF_DOWN, "0", "2", "-2", "3", "3"},
                {R::HALF_EVEN, "0", "2", "-2", "4", "3"}, {R::HALF_UP, "-1", "3", "-3", "4", "3"},
                {R::UP, "-1", "3", "-3", "4", "3"}};
    for (const auto& [mode, a, b, c, d, e] : rows) {
        NumberFormatter f(settings("0", mode));
        const auto name = config::Setting<R>::name(mode).toStdString();
        EXPECT_EQ(f.format("-0.5"), a) << name;
        EXPECT_EQ(f.format("2.5"), b) << name;
        EXPECT_EQ(f.format("-2.5"), c) << name;
        EXPECT_EQ(f.format("3.5"), d) << name;
        EXPECT_EQ(f.format("2.51"), e) << name;
    }
}

TEST(NumberFormatterTest, MultiplyAddsScales) {
    const auto tenth = settings("", H::RoundingMethod::HALF_UP, H::MathOperation::MULTIPLY, "0.1");
    NumberFormatter f(tenth);
    EXPECT_EQ(f.format("2.5"), "0.25");
    EXPECT_EQ(f.getNumericValue().scale(), 2);
    EXPECT_EQ(f.format("2,50"), "0.250");
    // Rounded after the product, the last value stays unrounded.
    NumberFormatter r(settings("1", H::RoundingMethod::HALF_UP, H::MathOperation::MULTIPLY, "0.1"));
    EXPECT_EQ(r.format("2.5"), "0.3");
    EXPECT_EQ(r.getNumericValue().toPlainString(), "0.25");
    EXPECT_EQ(
        fmt(settings("", H::RoundingMethod::HALF_UP, H::MathOperation::MULTIPLY, "1E2"), "12"),
        "1200");
    EXPECT_EQ(fmt(settings("", H::RoundingMethod::HALF_UP, H::MathOperation::MULTIPLY,
                           "99999999999999999999"),
                  "-99999999999999999999"),
              "-9999999999999999999800000000000000000001");
}

TEST(NumberFormatterTest, DivideRoundsToTheDecimalPlaces) {
    const auto div = [](QString places, H::RoundingMethod m, QString operand) {
        return settings(places, m, H::MathOperation::DIVIDE, operand);
    };
    using R = H::RoundingMethod;
    EXPECT_EQ(fmt(div("2", R::HALF_UP, "3"), "10"), "3.33");
    EXPECT_EQ(fmt(div("0", R::HALF_UP, "3"), "10"), "3");
    EXPECT_EQ(fmt(div("0", R::HALF_EVEN, "4"), "10"), "2");
    EXPECT_EQ(fmt(div("0", R::HALF_UP, "4"), "10"), "3");
    EXPECT_EQ(fmt(div("2", R::FLOOR, "3"), "-10"), "-3.34");
    EXPECT_EQ(fmt(div("3", R::HALF_UP, "8"), "1"), "0.125");
    NumberFormatter f(div("4", R::DOWN, "1"));
    EXPECT_EQ(f.format("12.5"), "12.5000");  // the quotient has exactly the places
    EXPECT_EQ(f.getNumericValue().scale(), 4);
    // "0" is refused by validation; another spelling of zero reaches the formatter.
    EXPECT_THROW(fmt(div("2", R::HALF_UP, "0.0"), "10"), util::ArithmeticException);
    // Without decimal places division is off altogether, never done at some default scale.
    EXPECT_EQ(fmt(div("", R::HALF_UP, "3"), "10"), "10");
}

TEST(NumberFormatterTest, CommaOperandIsRefused) {
    EXPECT_FALSE(H::MathOperand::isValid("0,1"));
    EXPECT_TRUE(H::MathOperand::isValid("0.1"));
    // Should one slip through, the formatter fails once when built, naming the text.
    try {
        NumberFormatter f(
            settings("", H::RoundingMethod::HALF_UP, H::MathOperation::MULTIPLY, "0,1"));
        FAIL() << "built with a comma operand";
    } catch (const util::NumberFormatException& e) {
        EXPECT_NE(std::string(e.what()).find("0,1"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace quorvel::worker
