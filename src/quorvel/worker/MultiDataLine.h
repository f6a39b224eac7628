#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "quorvel/worker/DataLine.h"

namespace quorvel::worker {

// A received line that carries several values.
class MultiDataLine {
public:
    MultiDataLine(QString rawData, QStringList values, int number, DataLine::Instant instant,
                  bool error);

    QString getRawData() const;  // readable form, as DataLine
    const QString& getRawDataUnchanged() const { return rawData_; }
    const QStringList& getValues() const { return values_; }
    // Throws std::out_of_range outside 0..size-1.
    const QString& getValue(int index) const;
    int getNumber() const { return number_; }
    DataLine::Instant getInstant() const { return instant_; }
    QDateTime getDateTime() const;
    bool isError() const { return error_; }

private:
    QString rawData_;
    QStringList values_;
    int number_;
    DataLine::Instant instant_;
    bool error_;
};

}  // namespace quorvel::worker
