#pragma once

#include <QLocale>
#include <QString>

#include <optional>

#include "quorvel/config/Config.h"
#include "quorvel/util/BigDecimal.h"

namespace quorvel::worker {

// Turns an extracted number text into the text to type: exact reading, optional arithmetic,
// rounding that only ever shortens, the chosen decimal separator, no grouping, no exponent.
// Built once per connection; not thread-safe (one reading thread uses it).
class NumberFormatter {
public:
    explicit NumberFormatter(const config::Config& settings);

    // Throws util::NumberFormatException for a text that is not a decimal number (after commas
    // became points) and util::ArithmeticException for a zero divisor or a division without
    // decimal places.
    QString format(const QString& text);

    // The value of the latest line after arithmetic, before rounding.
    const util::BigDecimal& getNumericValue() const { return lastValue_; }
    const QLocale& getLocale() const { return locale_; }
    QChar decimalSeparator() const { return separator_; }

private:
    std::optional<int> decimalPlaces_;
    std::optional<util::RoundingMode> roundingMode_;
    std::optional<config::ConfigHelper::MathOperation> mathOperation_;
    std::optional<util::BigDecimal> mathOperand_;
    bool roundingOn_ = false;
    bool mathOn_ = false;
    QLocale locale_;
    QChar separator_ = u'.';
    util::BigDecimal lastValue_;
};

}  // namespace quorvel::worker
