#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <string>
#include <string_view>

#include <QString>

#include "quorvel/util/RoundingMode.h"

namespace quorvel::util {

// An exact decimal: unscaled * 10^-scale. Values are immutable; every operation returns a new one.
// Never converted through floating point.
// Operations that would have to add more than 100000 digits (aligning scales that far apart,
// lengthening a value, writing out the zeros of 1E999999999) throw ArithmeticException instead
// of allocating without bound.
class BigDecimal {
public:
    BigDecimal();  // 0, scale 0
    BigDecimal(mpz_class unscaled, std::int32_t scale);
    explicit BigDecimal(long long value);  // scale 0

    // Plain decimal syntax: optional '+'/'-', digits with at most one '.', at least one digit,
    // optional exponent 'E'/'e' with an optional sign and decimal digits. No blanks, no comma.
    // "12.50" has scale 2, "1E3" scale -3, ".5" scale 1, "5." scale 0.
    // Throws NumberFormatException (with the offending text in the message) otherwise,
    // also when the resulting scale does not fit 32 bits.
    static BigDecimal parse(std::string_view text);
    static BigDecimal parse(const QString& text);

    const mpz_class& unscaledValue() const { return unscaled_; }
    std::int32_t scale() const { return scale_; }
    int signum() const;
    // Number of decimal digits of the unscaled value (1 for zero).
    int precision() const;

    // Numeric comparison, ignoring scale: 2.0 compares equal to 2.00.
    int compareTo(const BigDecimal& other) const;
    // Value and scale equal (2.0 != 2.00), like an exact record comparison.
    bool operator==(const BigDecimal& other) const;
    bool operator!=(const BigDecimal& other) const { return !(*this == other); }

    BigDecimal abs() const;
    BigDecimal negate() const;
    BigDecimal add(const BigDecimal& other) const;       // scale = max of both
    BigDecimal subtract(const BigDecimal& other) const;  // scale = max of both
    BigDecimal multiply(const BigDecimal& other) const;  // scale = sum of both
    // this / divisor with exactly `scale` fraction digits, rounded by `mode`.
    // Throws ArithmeticException on a zero divisor, or with UNNECESSARY when rounding is needed.
    BigDecimal divide(const BigDecimal& divisor, std::int32_t scale, RoundingMode mode) const;
    // Same value with `newScale` fraction digits; shortening rounds by `mode`, lengthening pads zeros.
    // Throws ArithmeticException with UNNECESSARY when digits would be lost.
    BigDecimal setScale(std::int32_t newScale, RoundingMode mode) const;

    // Plain notation, never an exponent: "-0.0012", "1000" for 1E3, "12.50".
    std::string toPlainStdString() const;
    QString toPlainString() const;

private:
    mpz_class unscaled_;
    std::int32_t scale_ = 0;
};

}  // namespace quorvel::util
