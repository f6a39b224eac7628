#include "quorvel/worker/MultiDataLine.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace quorvel::worker {

MultiDataLine::MultiDataLine(QString rawData, QStringList values, int number,
                             DataLine::Instant instant, bool error)
    : rawData_(std::move(rawData)),
      values_(std::move(values)),
      number_(number),
      instant_(instant),
      error_(error) {}

QString MultiDataLine::getRawData() const {
    return DataLine::transformControlChars(rawData_);
}

const QString& MultiDataLine::getValue(int index) const {
    if (index < 0 || index >= values_.size())
        throw std::out_of_range("Value index " + std::to_string(index) + " out of range (" +
                                std::to_string(values_.size()) + " values)");
    return values_[index];
}

QDateTime MultiDataLine::getDateTime() const {
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(instant_.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count(), Qt::LocalTime);
}

}  // namespace quorvel::worker
