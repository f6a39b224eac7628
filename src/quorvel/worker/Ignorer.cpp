#include "quorvel/worker/Ignorer.h"

#include <chrono>
#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "quorvel/config/Instrument.h"
#include "quorvel/util/NumberFormatException.h"

namespace quorvel::worker {

using config::ConfigHelper;

namespace {

// An optional sign and decimal digits that fit 32 bits; anything else means no limit.
int timeLimitOf(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return 0;
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return 0;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > limit)
            return 0;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

util::BigDecimal differenceOf(const config::Config& settings) {
    const auto instrument = settings.getInstrument().value_or(ConfigHelper::Instrument::GENERIC);
    // Barcodes are compared as texts, never as numbers.
    if (config::InstrumentPresets::getInstrumentType(instrument) ==
        ConfigHelper::InstrumentType::TEXT)
        return util::BigDecimal();
    try {
        return util::BigDecimal::parse(settings.getIgnoreDifference());
    } catch (const util::NumberFormatException&) {
        return util::BigDecimal();
    }
}

[[noreturn]] void refuseNull(const char* operation) {
    throw std::invalid_argument(
        std::string("Argument for @NotNull parameter 'dataLine' of quorvel/worker/Ignorer.") +
        operation + " must not be null");
}

util::BigDecimal numberOf(const QString& text) {
    QString normalized = text;
    normalized.replace(u',', u'.');
    return util::BigDecimal::parse(normalized);
}

}  // namespace

Ignorer::Ignorer(const config::Config& settings)
    : timeLimit_(timeLimitOf(settings.getIgnoreTimeLimit())), difference_(differenceOf(settings)) {}

Ignorer::Ignorer(int timeLimitMs, util::BigDecimal difference)
    : timeLimit_(timeLimitMs), difference_(std::move(difference)) {
    std::cout << "Ignorer constructor for testing purposes only!" << std::endl;
}

void Ignorer::process(DataLine* dataLine) {
    if (dataLine == nullptr)
        refuseNull("process");
    // A line without a value is neither a duplicate nor the new reference.
    if (dataLine->getProcessedData().isEmpty())
        return;
    DataLine copy = dataLine->copy();
    if (lastData_ && inTime(*dataLine) && inTolerance(dataLine))
        dataLine->deleteProcessedData();
    // The reference always moves on, so a run or a slow drift stays suppressed.
    lastData_ = std::move(copy);
}

bool Ignorer::inTime(const DataLine& dataLine) const {
    if (timeLimit_ == 0)
        return true;
    if (!lastData_)
        return false;  // nothing to be in time of
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        dataLine.getInstant() - lastData_->getInstant());
    return elapsed.count() <= static_cast<std::int64_t>(timeLimit_);
}

bool Ignorer::inTolerance(const DataLine* dataLine) const {
    if (dataLine == nullptr)
        refuseNull("inTolerance");
    if (!lastData_)
        return false;  // nothing to compare with
    if (difference_.signum() == 0)
        return dataLine->getProcessedData() == lastData_->getProcessedData();
    const util::BigDecimal gap =
        numberOf(dataLine->getProcessedData()).subtract(numberOf(lastData_->getProcessedData()));
    return gap.abs().compareTo(difference_) <= 0;
}

}  // namespace quorvel::worker
