#include "quorvel/util/BigDecimal.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <utility>

#include "quorvel/util/ArithmeticException.h"
#include "quorvel/util/NumberFormatException.h"

namespace quorvel::util {

namespace {

// Aligning scales, lengthening a value or writing it out plainly may add at most this many
// digits. A value such as 1E999999999 is cheap to hold, but writing out or aligning its billion
// zeros would take gigabytes; such requests are refused instead.
constexpr std::int64_t kMaxExtraDigits = 100000;

constexpr std::int64_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();

bool fitsInt32(std::int64_t v) {
    return v >= kIntMin && v <= kIntMax;
}

[[noreturn]] void throwFormat(std::string_view text) {
    constexpr std::size_t kShown = 100;
    std::string shown(text.substr(0, kShown));
    if (text.size() > kShown)
        shown += "...";
    throw NumberFormatException("Not a decimal number: \"" + shown + "\"");
}

[[noreturn]] void throwTooManyDigits(std::int64_t digits) {
    throw ArithmeticException("Result would need " + std::to_string(digits) +
                              " more digits than allowed (" + std::to_string(kMaxExtraDigits) +
                              ")");
}

mpz_class powerOfTen(std::int64_t exponent) {
    mpz_class p;
    mpz_ui_pow_ui(p.get_mpz_t(), 10, static_cast<unsigned long>(exponent));
    return p;
}

// value * 10^gap, refusing gaps that would allocate absurd amounts (zero stays free).
mpz_class scaleUp(const mpz_class& value, std::int64_t gap) {
    if (gap == 0 || sgn(value) == 0)
        return value;
    if (gap > kMaxExtraDigits)
        throwTooManyDigits(gap);
    return value * powerOfTen(gap);
}

int digitCount(const mpz_class& value) {
    if (sgn(value) == 0)
        return 1;
    mpz_class magnitude = abs(value);
    // mpz_sizeinbase may overstate by one.
    std::size_t n = mpz_sizeinbase(magnitude.get_mpz_t(), 10);
    if (n > 1 && magnitude < powerOfTen(static_cast<std::int64_t>(n - 1)))
        --n;
    return static_cast<int>(n);
}

// num / den rounded by `mode` to an integer; den is not zero.
mpz_class divideRounded(const mpz_class& num, const mpz_class& den, RoundingMode mode) {
    mpz_class q;
    mpz_class r;
    mpz_tdiv_qr(q.get_mpz_t(), r.get_mpz_t(), num.get_mpz_t(), den.get_mpz_t());
    if (sgn(r) == 0)
        return q;

    // q is truncated towards zero; the exact quotient lies between q and q + sign.
    const int sign = sgn(num) * sgn(den);
    const mpz_class twiceRemainder = abs(r) * 2;
    const int half = cmp(twiceRemainder, abs(den));  // <0 below a tie, 0 a tie, >0 above
    bool away = false;
    switch (mode) {
        case RoundingMode::UP:
            away = true;
            break;
        case RoundingMode::DOWN:
            away = false;
            break;
        case RoundingMode::CEILING:
            away = sign > 0;
            break;
        case RoundingMode::FLOOR:
            away = sign < 0;
            break;
        case RoundingMode::HALF_UP:
            away = half >= 0;
            break;
        case RoundingMode::HALF_DOWN:
            away = half > 0;
            break;
        case RoundingMode::HALF_EVEN:
            away = half > 0 || (half == 0 && mpz_odd_p(q.get_mpz_t()));
            break;
        case RoundingMode::UNNECESSARY:
            throw ArithmeticException("Rounding necessary");
    }
    if (away)
        q += sign;
    return q;
}

}  // namespace

BigDecimal::BigDecimal() = default;

BigDecimal::BigDecimal(mpz_class unscaled, std::int32_t scale)
    : unscaled_(std::move(unscaled)), scale_(scale) {}

BigDecimal::BigDecimal(long long value) {
    if (value >= std::numeric_limits<long>::min() && value <= std::numeric_limits<long>::max()) {
        unscaled_ = static_cast<long>(value);
    } else {
        unscaled_ = mpz_class(std::to_string(value), 10);
    }
}

BigDecimal BigDecimal::parse(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    std::string digits;
    std::int64_t fractionDigits = 0;
    bool seenPoint = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
            if (seenPoint)
                ++fractionDigits;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (digits.empty())
        throwFormat(text);

    std::int64_t exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        const std::size_t start = i;
        for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
            exponent = exponent * 10 + (text[i] - '0');
            // Stop accumulating long before int64 could overflow.
            if (exponent > kIntMax + 1)
                throwFormat(text);
        }
        if (i == start)
            throwFormat(text);
        if (negativeExponent)
            exponent = -exponent;
        if (!fitsInt32(exponent))
            throwFormat(text);
    }
    if (i != n)
        throwFormat(text);

    const std::int64_t scale = fractionDigits - exponent;
    if (!fitsInt32(scale))
        throwFormat(text);

    mpz_class unscaled(digits, 10);
    if (negative)
        unscaled = -unscaled;
    return BigDecimal(std::move(unscaled), static_cast<std::int32_t>(scale));
}

BigDecimal BigDecimal::parse(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return parse(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

int BigDecimal::signum() const {
    return sgn(unscaled_);
}

int BigDecimal::precision() const {
    return digitCount(unscaled_);
}

int BigDecimal::compareTo(const BigDecimal& other) const {
    const int sa = signum();
    const int sb = other.signum();
    if (sa != sb)
        return sa < sb ? -1 : 1;
    if (sa == 0)
        return 0;
    if (scale_ == other.scale_) {
        const int c = cmp(unscaled_, other.unscaled_);
        return (c > 0) - (c < 0);
    }
    // Position of the leading digit first; this settles far-apart scales without aligning them.
    const std::int64_t lead = static_cast<std::int64_t>(precision()) - scale_;
    const std::int64_t otherLead = static_cast<std::int64_t>(other.precision()) - other.scale_;
    if (lead != otherLead)
        return (lead > otherLead ? 1 : -1) * sa;
    // Same leading position: the scale gap equals the difference in digit counts, so aligning
    // costs no more than the digits already held.
    int c;
    if (scale_ < other.scale_) {
        c = cmp(unscaled_ * powerOfTen(other.scale_ - static_cast<std::int64_t>(scale_)),
                other.unscaled_);
    } else {
        c = cmp(unscaled_,
                other.unscaled_ * powerOfTen(scale_ - static_cast<std::int64_t>(other.scale_)));
    }
    return (c > 0) - (c < 0);
}

bool BigDecimal::operator==(const BigDecimal& other) const {
    return scale_ == other.scale_ && unscaled_ == other.unscaled_;
}

BigDecimal BigDecimal::abs() const {
    return BigDecimal(::abs(unscaled_), scale_);
}

BigDecimal BigDecimal::negate() const {
    return BigDecimal(-unscaled_, scale_);
}

BigDecimal BigDecimal::add(const BigDecimal& other) const {
    const std::int32_t scale = std::max(scale_, other.scale_);
    mpz_class sum = scaleUp(unscaled_, static_cast<std::int64_t>(scale) - scale_) +
                    scaleUp(other.unscaled_, static_cast<std::int64_t>(scale) - other.scale_);
    return BigDecimal(std::move(sum), scale);
}

BigDecimal BigDecimal::subtract(const BigDecimal& other) const {
    return add(other.negate());
}

BigDecimal BigDecimal::multiply(const BigDecimal& other) const {
    const std::int64_t scale = static_cast<std::int64_t>(scale_) + other.scale_;
    if (!fitsInt32(scale))
        throw ArithmeticException("Scale out of range: " + std::to_string(scale));
    return BigDecimal(unscaled_ * other.unscaled_, static_cast<std::int32_t>(scale));
}

BigDecimal BigDecimal::divide(const BigDecimal& divisor, std::int32_t scale,
                              RoundingMode mode) const {
    if (divisor.signum() == 0)
        throw ArithmeticException("Division by zero");
    // this / divisor * 10^scale = unscaled_ * 10^shift / divisor.unscaled_
    const std::int64_t shift = static_cast<std::int64_t>(scale) + divisor.scale_ - scale_;
    mpz_class num = unscaled_;
    mpz_class den = divisor.unscaled_;
    if (shift > 0 && sgn(num) != 0) {
        // A long divisor legitimately needs a long numerator; only digits beyond it count.
        if (shift - divisor.precision() > kMaxExtraDigits) {
            throwTooManyDigits(shift - divisor.precision());
        }
        num *= powerOfTen(shift);
    } else if (shift < 0) {
        // Once the denominator has more digits than the numerator plus one, the quotient is 0
        // and the remainder below a tenth of it: a larger power rounds the same way.
        const std::int64_t drop = std::min(-shift, static_cast<std::int64_t>(precision()) + 1);
        den *= powerOfTen(drop);
    }
    return BigDecimal(divideRounded(num, den, mode), scale);
}

BigDecimal BigDecimal::setScale(std::int32_t newScale, RoundingMode mode) const {
    if (newScale == scale_)
        return *this;
    if (newScale > scale_) {
        return BigDecimal(scaleUp(unscaled_, static_cast<std::int64_t>(newScale) - scale_),
                          newScale);
    }
    // As in divide: beyond the value's own digits a larger divisor rounds the same way.
    const std::int64_t drop = std::min(static_cast<std::int64_t>(scale_) - newScale,
                                       static_cast<std::int64_t>(precision()) + 1);
    return BigDecimal(divideRounded(unscaled_, powerOfTen(drop), mode), newScale);
}

std::string BigDecimal::toPlainStdString() const {
    const bool negative = sgn(unscaled_) < 0;
    std::string digits = mpz_class(::abs(unscaled_)).get_str(10);
    if (scale_ <= 0) {
        if (sgn(unscaled_) == 0)
            return "0";
        const std::int64_t zeros = -static_cast<std::int64_t>(scale_);
        if (zeros > kMaxExtraDigits)
            throwTooManyDigits(zeros);
        digits.append(static_cast<std::size_t>(zeros), '0');
    } else {
        const std::int64_t len = static_cast<std::int64_t>(digits.size());
        if (len > scale_) {
            digits.insert(static_cast<std::size_t>(len - scale_), 1, '.');
        } else {
            const std::int64_t zeros = scale_ - len;
            if (zeros > kMaxExtraDigits)
                throwTooManyDigits(zeros);
            digits = "0." + std::string(static_cast<std::size_t>(zeros), '0') + digits;
        }
    }
    return negative ? "-" + digits : digits;
}

QString BigDecimal::toPlainString() const {
    return QString::fromStdString(toPlainStdString());
}

}  // namespace quorvel::util
