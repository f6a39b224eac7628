#include "quorvel/worker/CsvValueRecorder.h"

#include <QByteArrayList>
#include <QLocale>

#include <exception>
#include <utility>

namespace quorvel::worker {

namespace {

const QByteArray kHeader = "time,port,instrument,line,received,value,outcome\r\n";

QByteArray field(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\r') &&
        !bytes.contains('\n')) {
        return bytes;
    }
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

QByteArray csvRow(const ValueRecorder::Row& row) {
    QByteArrayList fields;
    for (const QString& text : {CsvValueRecorder::timeText(row.instant), row.port, row.instrument,
                                QString::number(row.line), row.received, row.value,
                                CsvValueRecorder::outcomeWord(row.outcome)}) {
        fields.append(field(text));
    }
    return fields.join(',') + "\r\n";
}

}  // namespace

CsvValueRecorder::CsvValueRecorder(const QString& path, FailureReport reportFailure)
    : file_(path), reportFailure_(std::move(reportFailure)) {
    ensureOpen();
}

void CsvValueRecorder::record(const Row& row) {
    try {
        if (ensureOpen()) {
            writeAll(csvRow(row));
        }
    } catch (const std::exception& e) {
        fail(QString::fromUtf8(e.what()));
    }
}

QString CsvValueRecorder::outcomeWord(Outcome outcome) {
    switch (outcome) {
        case Outcome::TYPED:
            return QStringLiteral("typed");
        case Outcome::REPEAT:
            return QStringLiteral("repeat");
        case Outcome::UNSTABLE:
            return QStringLiteral("unstable");
        case Outcome::NO_VALUE:
            return QStringLiteral("no value");
        case Outcome::FAILED:
            return QStringLiteral("failed");
        case Outcome::NOT_TYPED:
            return QStringLiteral("not typed");
    }
    return QString("");
}

QString CsvValueRecorder::timeText(const QDateTime& instant) {
    if (!instant.isValid()) {
        return QString("");
    }
    const int offset = instant.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    // Written out by hand: Qt's ISO form says "Z" for a zero offset.
    return QLocale::c().toString(instant.toOffsetFromUtc(offset),
                                 QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")) +
           (offset < 0 ? u'-' : u'+') + QString::number(minutes / 60).rightJustified(2, u'0') +
           u':' + QString::number(minutes % 60).rightJustified(2, u'0');
}

bool CsvValueRecorder::ensureOpen() {
    if (file_.isOpen()) {
        return true;
    }
    // Append (O_APPEND): every write lands at the end, whatever else writes to the file.
    // Unbuffered: each row goes to the system in one write.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        fail(file_.errorString());
        return false;
    }
    if (file_.size() == 0) {
        return writeAll(kHeader);
    }
    if (endsInsideARow()) {
        // The broken row is left as it is; the next one starts on a line of its own.
        return writeAll("\r\n");
    }
    return true;
}

bool CsvValueRecorder::writeAll(const QByteArray& bytes) {
    if (file_.write(bytes) == bytes.size() && file_.flush()) {
        return true;
    }
    fail(file_.errorString());
    // Opened again for the next row, which may find the disk writable again.
    file_.close();
    return false;
}

bool CsvValueRecorder::endsInsideARow() const {
    QFile reader(file_.fileName());
    if (!reader.open(QIODevice::ReadOnly) || !reader.seek(reader.size() - 1)) {
        return false;
    }
    char last = 0;
    return reader.getChar(&last) && last != '\n';
}

void CsvValueRecorder::fail(const QString& reason) {
    if (reported_) {
        return;
    }
    reported_ = true;
    if (reportFailure_) {
        reportFailure_(reason);
    }
}

}  // namespace quorvel::worker
