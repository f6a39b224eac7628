#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <utility>

namespace quorvel::worker {

// One received line and what the pipeline made of it. A plain value; the ignore filter may
// clear the processed text in place.
class DataLine {
public:
    using Clock = std::chrono::system_clock;
    using Instant = Clock::time_point;

    DataLine(QString rawData, QString processedData, int number, Instant instant, bool error);
    // Tests only: the instant is now, no error; prints "USE FOR TESTING ONLY".
    DataLine(QString rawData, QString processedData, int number);

    DataLine copy() const { return *this; }
    void deleteProcessedData() { processedData_ = QString(""); }

    int getNumber() const { return number_; }
    Instant getInstant() const { return instant_; }
    const QString& getProcessedData() const { return processedData_; }
    bool isError() const { return error_; }
    // The raw text as received, every byte as the character of the same code.
    const QString& getRawDataUnchanged() const { return rawData_; }
    // The raw text in readable form (control characters as <code>).
    QString getRawData() const;
    // The instant in the local time zone.
    QDateTime getDateTime() const;
    bool hasValue() const { return !processedData_.isEmpty(); }

    // Whether the instrument marked the reading as in motion.
    bool isUnstable() const { return unstable_; }
    void setUnstable(bool unstable) { unstable_ = unstable; }
    // The line held a reading that was not typed because it was not stable.
    bool isSkippedAsUnstable() const { return skippedAsUnstable_; }
    void setSkippedAsUnstable(bool skipped) { skippedAsUnstable_ = skipped; }
    // A short word on why the line gives nothing ("overload", "not stable, skipped"), shown
    // beside it in the event log; empty when there is nothing to say.
    const QString& getRemark() const { return remark_; }
    void setRemark(QString remark) { remark_ = std::move(remark); }

    // Printable ASCII 0x20..0x7E unchanged, every other character as "<" + code + ">".
    static QString transformControlChars(const QString& text);

private:
    QString rawData_;
    QString processedData_;
    int number_;
    Instant instant_;
    bool error_;
    bool unstable_ = false;
    bool skippedAsUnstable_ = false;
    QString remark_;
};

}  // namespace quorvel::worker
