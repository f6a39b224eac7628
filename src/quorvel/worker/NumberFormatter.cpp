#include "quorvel/worker/NumberFormatter.h"

#include "quorvel/util/ArithmeticException.h"

namespace quorvel::worker {

using config::ConfigHelper;

NumberFormatter::NumberFormatter(const config::Config& settings)
    : roundingOn_(settings.roundingEnabled()), mathOn_(settings.mathEnabled()) {
    if (roundingOn_) {
        decimalPlaces_ = settings.getDecimalPlacesAsInt();
        roundingMode_ = ConfigHelper::getRoundingMode(settings.getRoundingMethod());
    }
    if (mathOn_) {
        mathOperation_ = settings.getMathOperation();
        // An operand that is not a number fails here, once, rather than on every line.
        mathOperand_ = settings.getMathOperandAsBigDecimal();
    }
    if (settings.getDecimalSeparator() == ConfigHelper::DecimalSeparator::COMMA) {
        locale_ = QLocale(QLocale::German, QLocale::Germany);
        separator_ = u',';
    } else {
        locale_ = QLocale::c();
        separator_ = u'.';
    }
}

QString NumberFormatter::format(const QString& text) {
    QString normalized = text;
    normalized.replace(u',', u'.');
    util::BigDecimal value = util::BigDecimal::parse(normalized);

    if (mathOn_ && mathOperation_ && mathOperand_) {
        switch (*mathOperation_) {
            case ConfigHelper::MathOperation::NONE:
                break;
            case ConfigHelper::MathOperation::MULTIPLY:
                value = value.multiply(*mathOperand_);
                break;
            case ConfigHelper::MathOperation::DIVIDE:
                if (!decimalPlaces_ || !roundingMode_)
                    throw util::ArithmeticException(
                        "Division needs a number of decimal places to round to");
                if (mathOperand_->signum() == 0)
                    throw util::ArithmeticException("Division by zero");
                value = value.divide(*mathOperand_, *decimalPlaces_, *roundingMode_);
                break;
        }
    }
    lastValue_ = value;

    // Rounding only ever shortens: fewer decimals than configured are not padded.
    if (roundingOn_ && decimalPlaces_ && roundingMode_ && value.scale() > 0 &&
        *decimalPlaces_ < value.scale()) {
        value = value.setScale(*decimalPlaces_, *roundingMode_);
    }

    // The plain form has no grouping and no exponent (a negative scale is written as an
    // integer); a value rounded to zero has no sign, so "-0" is never typed.
    QString out = value.toPlainString();
    if (separator_ != u'.')
        out.replace(u'.', separator_);
    return out;
}

}  // namespace quorvel::worker
