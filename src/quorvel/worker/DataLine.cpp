#include "quorvel/worker/DataLine.h"

#include <iostream>
#include <utility>

namespace quorvel::worker {

DataLine::DataLine(QString rawData, QString processedData, int number, Instant instant, bool error)
    : rawData_(std::move(rawData)),
      processedData_(std::move(processedData)),
      number_(number),
      instant_(instant),
      error_(error) {}

DataLine::DataLine(QString rawData, QString processedData, int number)
    : DataLine(std::move(rawData), std::move(processedData), number, Clock::now(), false) {
    std::cout << "USE FOR TESTING ONLY" << std::endl;
}

QString DataLine::getRawData() const {
    return transformControlChars(rawData_);
}

QDateTime DataLine::getDateTime() const {
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(instant_.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count(), Qt::LocalTime);
}

QString DataLine::transformControlChars(const QString& text) {
    QString out;
    out.reserve(text.size());
    const qsizetype len = text.size();
    for (qsizetype i = 0; i < len; ++i) {
        const char16_t unit = text[i].unicode();
        if (unit >= 0x20 && unit <= 0x7E) {
            out.append(QChar(unit));
            continue;
        }
        char32_t code = unit;
        // A pair of surrogates is one character beyond U+FFFF; a lone surrogate stays a unit.
        if (QChar::isHighSurrogate(unit) && i + 1 < len && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(unit, text[i + 1].unicode());
            ++i;
        }
        out.append(u'<');
        out.append(QString::number(static_cast<uint>(code)));
        out.append(u'>');
    }
    if (out.isNull())
        out = QString("");
    return out;
}

}  // namespace quorvel::worker
