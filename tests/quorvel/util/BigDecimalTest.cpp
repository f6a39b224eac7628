#include "quorvel/util/BigDecimal.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>

#include "quorvel/util/ArithmeticException.h"
#include "quorvel/util/NumberFormatException.h"

namespace quorvel::util {
namespace {

using RM = RoundingMode;

BigDecimal bd(const char* text) {
    return BigDecimal::parse(std::string_view(text));
}
std::string plain(const BigDecimal& v) {
    return v.toPlainStdString();
}

TEST(BigDecimalTest, ParsesPlainAndExponentForms) {
    struct Case {
        const char* text;
        const char* unscaled;
        int scale;
    };
    const Case cases[] = {
        {"12.50", "1250", 2},
        {"+5", "5", 0},
        {"-0.0", "0", 1},
        {".5", "5", 1},
        {"5.", "5", 0},
        {"1E3", "1", -3},
        {"1e-3", "1", 3},
        {"1E+3", "1", -3},
        {"-1.5E-2", "-15", 3},
        {"0001.10", "110", 2},
        {"12.5E1", "125", 0},
        {"1E2147483647", "1", -2147483647},
        {"-123456789012345678901234567890.5", "-1234567890123456789012345678905", 1},
    };
    for (const auto& c : cases) {
        const BigDecimal v = bd(c.text);
        EXPECT_EQ(v.unscaledValue().get_str(), c.unscaled) << c.text;
        EXPECT_EQ(v.scale(), c.scale) << c.text;
    }
    EXPECT_EQ(BigDecimal::parse(QString("-7.25")), bd("-7.25"));
    EXPECT_EQ(bd("-0.0").signum(), 0);
}

TEST(BigDecimalTest, RejectsMalformedTextsAndOutOfRangeScales) {
    for (const char* text : {"",
                             "-",
                             ".",
                             "1.2.3",
                             "2,5",
                             " 1",
                             "1 ",
                             "1E",
                             "abc",
                             "1E2147483648",
                             "+-1",
                             "1E+",
                             "1E1.5",
                             "E3",
                             "-.",
                             "1e99999999999999999999",
                             "1E-2147483648",
                             "0.1E-2147483647",
                             "0x10",
                             "1_000"}) {
        EXPECT_THROW(bd(text), NumberFormatException) << '"' << text << '"';
    }
    EXPECT_THROW(BigDecimal::parse(QString::fromUtf8("\u0661")), NumberFormatException);
    try {
        bd("12a");
        FAIL();
    } catch (const NumberFormatException& e) {
        EXPECT_NE(std::string(e.what()).find("\"12a\""), std::string::npos) << e.what();
    }
}

TEST(BigDecimalTest, WritesPlainNotation) {
    EXPECT_EQ(plain(BigDecimal(mpz_class(-12), 4)), "-0.0012");
    EXPECT_EQ(plain(bd("1E3")), "1000");
    EXPECT_EQ(plain(bd("12.50")), "12.50");
    EXPECT_EQ(plain(bd("-0.0")), "0.0");
    EXPECT_EQ(plain(bd("0E5")), "0");
    EXPECT_EQ(plain(bd("-1.5")), "-1.5");
    EXPECT_EQ(plain(BigDecimal()), "0");
    EXPECT_EQ(BigDecimal(mpz_class(5), 3).toPlainString(), QString("0.005"));
    // Held cheaply, but a billion zeros are refused rather than written.
    EXPECT_THROW(plain(bd("1E999999999")), ArithmeticException);
    EXPECT_THROW(plain(bd("1E-999999999")), ArithmeticException);
}

TEST(BigDecimalTest, CompareIgnoresScaleButEqualityDoesNot) {
    EXPECT_EQ(bd("2.0").compareTo(bd("2.00")), 0);
    EXPECT_NE(bd("2.0"), bd("2.00"));
    EXPECT_EQ(bd("2.0"), bd("2.0"));
    EXPECT_EQ(bd("0").compareTo(bd("-0.000")), 0);
    EXPECT_LT(bd("-1").compareTo(bd("0.5")), 0);
    EXPECT_LT(bd("-2").compareTo(bd("-1.5")), 0);
    EXPECT_GT(bd("1.2345").compareTo(bd("1.23449999")), 0);
    EXPECT_LT(bd("-1.2345").compareTo(bd("-1.23449999")), 0);
    // Far-apart scales compare without aligning them.
    EXPECT_GT(bd("1E999999999").compareTo(bd("5")), 0);
    EXPECT_LT(bd("-1E999999999").compareTo(bd("-5")), 0);
    EXPECT_LT(bd("1E-999999999").compareTo(bd("1E-999999998")), 0);
    EXPECT_GT(bd("1E-999999999").compareTo(bd("0")), 0);
}

TEST(BigDecimalTest, ArithmeticKeepsExactScales) {
    EXPECT_EQ(bd("1.5").add(bd("2.25")), bd("3.75"));
    EXPECT_EQ(bd("1.5").subtract(bd("2.25")), bd("-0.75"));
    EXPECT_EQ(bd("1E3").add(bd("1")), bd("1001"));
    EXPECT_EQ(bd("1E3").add(bd("0.1")), bd("1000.1"));
    EXPECT_EQ(bd("1.10").add(bd("-1.1")), bd("0.00"));
    EXPECT_EQ(bd("2.5").multiply(bd("0.1")), bd("0.25"));
    EXPECT_EQ(plain(bd("1E3").multiply(bd("1E-5"))), "0.01");
    EXPECT_EQ(bd("-1.5").multiply(bd("2")), bd("-3.0"));
    EXPECT_EQ(bd("-1.50").abs(), bd("1.50"));
    EXPECT_EQ(bd("1.50").abs(), bd("1.50"));
    EXPECT_EQ(bd("-1.50").negate(), bd("1.50"));
    EXPECT_EQ(bd("0").negate().signum(), 0);
    EXPECT_EQ(bd("0.000").precision(), 1);
    EXPECT_EQ(bd("999").precision(), 3);
    EXPECT_EQ(bd("-10.00").precision(), 4);
    EXPECT_EQ(bd("99999999999999999999").precision(), 20);
    EXPECT_EQ(bd("100000000000000000000").precision(), 21);
    // A zero operand costs nothing to align; a non-zero one that far away is refused.
    EXPECT_EQ(bd("0E999999999").add(bd("5")), bd("5"));
    EXPECT_THROW(bd("1").add(bd("1E-200000")), ArithmeticException);
    EXPECT_THROW(bd("1E-2147483647").multiply(bd("1E-2")), ArithmeticException);
}

TEST(BigDecimalTest, ValuesBeyondSixtyFourBits) {
    const BigDecimal two64 = bd("18446744073709551616");
    EXPECT_EQ(plain(two64.multiply(two64)), "340282366920938463463374607431768211456");
    EXPECT_EQ(plain(BigDecimal(LLONG_MAX).add(BigDecimal(1))), "9223372036854775808");
    EXPECT_EQ(plain(BigDecimal(LLONG_MIN)), "-9223372036854775808");
    EXPECT_EQ(plain(BigDecimal(LLONG_MIN).negate()), "9223372036854775808");
    EXPECT_EQ(two64.multiply(two64).add(bd("1")).divide(two64, 0, RM::HALF_UP), two64);
    EXPECT_EQ(plain(bd("12345678901234567890.5").setScale(0, RM::HALF_EVEN)),
              "12345678901234567890");
    EXPECT_EQ(plain(bd("-12345678901234567891.5").setScale(0, RM::HALF_EVEN)),
              "-12345678901234567892");
    EXPECT_EQ(plain(bd("123456789012345678901234567890.12")), "123456789012345678901234567890.12");
}

// Columns in the order CEILING, DOWN, FLOOR, HALF_DOWN, HALF_EVEN, HALF_UP, UP.
TEST(BigDecimalTest, EveryRoundingModeToWholeNumbers) {
    constexpr std::array<RM, 7> modes = {RM::CEILING,   RM::DOWN,    RM::FLOOR, RM::HALF_DOWN,
                                         RM::HALF_EVEN, RM::HALF_UP, RM::UP};
    struct Row {
        const char* value;
        std::array<const char*, 7> expected;
    };
    const Row rows[] = {
        {"5.5", {"6", "5", "5", "5", "6", "6", "6"}},
        {"2.5", {"3", "2", "2", "2", "2", "3", "3"}},
        {"2.501", {"3", "2", "2", "3", "3", "3", "3"}},
        {"2.499", {"3", "2", "2", "2", "2", "2", "3"}},
        {"1.6", {"2", "1", "1", "2", "2", "2", "2"}},
        {"1.1", {"2", "1", "1", "1", "1", "1", "2"}},
        {"1.0", {"1", "1", "1", "1", "1", "1", "1"}},
        {"0.5", {"1", "0", "0", "0", "0", "1", "1"}},
        {"0.4", {"1", "0", "0", "0", "0", "0", "1"}},
        {"-0.4", {"0", "0", "-1", "0", "0", "0", "-1"}},
        {"-0.5", {"0", "0", "-1", "0", "0", "-1", "-1"}},
        {"-1.0", {"-1", "-1", "-1", "-1", "-1", "-1", "-1"}},
        {"-1.1", {"-1", "-1", "-2", "-1", "-1", "-1", "-2"}},
        {"-1.6", {"-1", "-1", "-2", "-2", "-2", "-2", "-2"}},
        {"-2.499", {"-2", "-2", "-3", "-2", "-2", "-2", "-3"}},
        {"-2.5", {"-2", "-2", "-3", "-2", "-2", "-3", "-3"}},
        {"-2.501", {"-2", "-2", "-3", "-3", "-3", "-3", "-3"}},
        {"-5.5", {"-5", "-5", "-6", "-5", "-6", "-6", "-6"}},
    };
    for (const auto& row : rows) {
        for (std::size_t m = 0; m < modes.size(); ++m) {
            EXPECT_EQ(plain(bd(row.value).setScale(0, modes[m])), row.expected[m])
                << row.value << " mode column " << m;
        }
    }
}

TEST(BigDecimalTest, SetScaleShortensLengthensAndGoesNegative) {
    EXPECT_EQ(plain(bd("12.345").setScale(2, RM::HALF_UP)), "12.35");
    EXPECT_EQ(plain(bd("12.345").setScale(2, RM::HALF_EVEN)), "12.34");
    EXPECT_EQ(plain(bd("12.355").setScale(2, RM::HALF_EVEN)), "12.36");
    EXPECT_EQ(plain(bd("-12.345").setScale(2, RM::HALF_DOWN)), "-12.34");
    EXPECT_EQ(bd("12.5").setScale(3, RM::UNNECESSARY), bd("12.500"));
    EXPECT_EQ(plain(bd("1E3").setScale(2, RM::DOWN)), "1000.00");
    EXPECT_EQ(bd("1.50").setScale(1, RM::UNNECESSARY), bd("1.5"));
    EXPECT_THROW(bd("1.55").setScale(1, RM::UNNECESSARY), ArithmeticException);
    const BigDecimal hundreds = bd("1250").setScale(-2, RM::HALF_EVEN);
    EXPECT_EQ(hundreds.scale(), -2);
    EXPECT_EQ(plain(hundreds), "1200");
    EXPECT_EQ(plain(bd("1350").setScale(-2, RM::HALF_EVEN)), "1400");
    EXPECT_EQ(plain(bd("123.456").setScale(-20, RM::UP)), "100000000000000000000");
    // Dropping far more digits than the value has still rounds correctly.
    EXPECT_EQ(bd("5").setScale(-1000000000, RM::CEILING), BigDecimal(mpz_class(1), -1000000000));
    EXPECT_EQ(bd("-5").setScale(-1000000000, RM::FLOOR), BigDecimal(mpz_class(-1), -1000000000));
    EXPECT_EQ(bd("5").setScale(-1000000000, RM::HALF_UP).signum(), 0);
    EXPECT_THROW(bd("1").setScale(200000, RM::UNNECESSARY), ArithmeticException);
    EXPECT_EQ(bd("0").setScale(200000, RM::UNNECESSARY).scale(), 200000);
}

TEST(BigDecimalTest, DivideRoundsTheExactQuotient) {
    EXPECT_EQ(plain(bd("10").divide(bd("3"), 2, RM::HALF_UP)), "3.33");
    EXPECT_EQ(plain(bd("10").divide(bd("3"), 0, RM::HALF_UP)), "3");
    EXPECT_EQ(plain(bd("10").divide(bd("3"), 2, RM::UP)), "3.34");
    EXPECT_EQ(plain(bd("10").divide(bd("-3"), 2, RM::HALF_UP)), "-3.33");
    EXPECT_EQ(plain(bd("10").divide(bd("-3"), 2, RM::FLOOR)), "-3.34");
    EXPECT_EQ(plain(bd("10").divide(bd("-3"), 2, RM::CEILING)), "-3.33");
    EXPECT_EQ(plain(bd("-10").divide(bd("-3"), 2, RM::HALF_UP)), "3.33");
    EXPECT_EQ(plain(bd("2").divide(bd("3"), 2, RM::HALF_DOWN)), "0.67");
    EXPECT_EQ(plain(bd("1").divide(bd("8"), 2, RM::HALF_EVEN)), "0.12");
    EXPECT_EQ(plain(bd("1").divide(bd("8"), 2, RM::HALF_DOWN)), "0.12");
    EXPECT_EQ(plain(bd("-1").divide(bd("8"), 2, RM::HALF_UP)), "-0.13");
    EXPECT_EQ(plain(bd("1.00").divide(bd("0.5"), 0, RM::UNNECESSARY)), "2");
    EXPECT_EQ(plain(bd("12.5").divide(bd("0.1"), 1, RM::UNNECESSARY)), "125.0");
    EXPECT_EQ(plain(bd("12345").divide(bd("1"), -2, RM::HALF_UP)), "12300");
    EXPECT_EQ(plain(bd("0").divide(bd("5"), 2, RM::UP)), "0.00");
    EXPECT_THROW(bd("1").divide(bd("3"), 2, RM::UNNECESSARY), ArithmeticException);
    EXPECT_THROW(bd("1").divide(bd("0"), 2, RM::HALF_UP), ArithmeticException);
    EXPECT_THROW(bd("0").divide(bd("0.00"), 2, RM::HALF_UP), ArithmeticException);
    // A divisor a billion digits long rounds like any tiny quotient; a huge result is refused.
    EXPECT_EQ(plain(bd("1").divide(bd("1E999999999"), 2, RM::UP)), "0.01");
    EXPECT_EQ(plain(bd("-1").divide(bd("1E999999999"), 2, RM::HALF_UP)), "0.00");
    EXPECT_THROW(bd("1").divide(bd("1E-999999999"), 2, RM::UP), ArithmeticException);
}

}  // namespace
}  // namespace quorvel::util
