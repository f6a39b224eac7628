#include "quorvel/worker/CsvValueRecorder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace quorvel::worker {
namespace {

using Outcome = ValueRecorder::Outcome;

const QDateTime kAt(QDate(2026, 12, 9), QTime(14, 3, 7, 123), Qt::OffsetFromUTC, 3600);

ValueRecorder::Row row(int line, Outcome outcome = Outcome::TYPED) {
    return {kAt, "/dev/ttyUSB0", "Generic", line, "ST,GS,  12.50 kg<13>", "12.50", outcome};
}

class CsvValueRecorderTest : public ::testing::Test {
  protected:
    QByteArray contents() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }
    void put(const QByteArray& bytes) const {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir dir;
    QString path = dir.filePath("readings.csv");
    QStringList failures;
    CsvValueRecorder::FailureReport report = [this](const QString& r) { failures << r; };
};

const QByteArray kHeader = "time,port,instrument,line,received,value,outcome\r\n";

TEST_F(CsvValueRecorderTest, EachRowHasTheColumnsQuotedAsNeeded) {
    struct Case {
        ValueRecorder::Row row;
        QByteArray expected;
    };
    const QDateTime west(QDate(2026, 1, 2), QTime(3, 4, 5, 6), Qt::OffsetFromUTC,
                         -(3 * 3600 + 1800));
    const QDateTime utc(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const std::vector<Case> cases = {
        {row(1),
         "2026-12-09T14:03:07.123+01:00,/dev/ttyUSB0,Generic,1,\"ST,GS,  12.50 kg<13>\","
         "12.50,typed\r\n"},
        {{west, "COM3", "Say \"A&D\"", 2, "S S 1.0<13><10>", "", Outcome::NO_VALUE},
         "2026-01-02T03:04:05.006-03:30,COM3,\"Say \"\"A&D\"\"\",2,S S 1.0<13><10>,,no value\r\n"},
        {{utc, "p", "Waage \u00fc", 3, "a\r\nb", "1,5", Outcome::REPEAT},
         "2026-01-02T03:04:05.000+00:00,p,Waage \xc3\xbc,3,\"a\r\nb\",\"1,5\",repeat\r\n"},
        {{utc, "p", "i", 4, "x", "9", Outcome::NOT_TYPED},
         "2026-01-02T03:04:05.000+00:00,p,i,4,x,9,not typed\r\n"},
    };
    CsvValueRecorder recorder(path, report);
    QByteArray expected = kHeader;
    for (const Case& c : cases) {
        recorder.record(c.row);
        expected += c.expected;
        EXPECT_EQ(contents(), expected) << "after line " << c.row.line;  // flushed at once
    }
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(CsvValueRecorderTest, AnExistingFileIsOnlyAppendedTo) {
    CsvValueRecorder(path, report).record(row(1));
    const QByteArray first = contents();
    ASSERT_TRUE(first.startsWith(kHeader));
    // A second run: no second header, nothing before the new row changed.
    CsvValueRecorder(path, report).record(row(2));
    const QByteArray second = contents();
    ASSERT_TRUE(second.startsWith(first));
    EXPECT_TRUE(second.mid(first.size()).startsWith("2026-12-09T14:03:07.123+01:00,"));
    EXPECT_EQ(second.count("time,port"), 1);

    // A row broken off earlier stays as it was; the next one starts on a line of its own.
    put(kHeader + "2026-12-09T14:03");
    CsvValueRecorder(path, report).record(row(3));
    EXPECT_TRUE(contents().startsWith(kHeader + "2026-12-09T14:03\r\n2026-12-09T14:03:07.123"));
    // An empty file is new: it gets the header.
    put("");
    CsvValueRecorder(path, report).record(row(4));
    EXPECT_TRUE(contents().startsWith(kHeader + "2026"));
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(CsvValueRecorderTest, AnUnwritableFileIsReportedOnceAndRowsAreTriedAgain) {
    // A missing folder cannot be written, not even by root.
    path = dir.filePath("later/readings.csv");
    CsvValueRecorder recorder(path, report);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_FALSE(failures.front().isEmpty());
    recorder.record(row(1));
    recorder.record(row(2));
    EXPECT_EQ(failures.size(), 1);
    EXPECT_FALSE(QFile::exists(path));

    ASSERT_TRUE(QDir(dir.path()).mkdir("later"));
    recorder.record(row(3));
    EXPECT_EQ(failures.size(), 1);
    EXPECT_TRUE(
        contents().startsWith(kHeader + "2026-12-09T14:03:07.123+01:00,/dev/ttyUSB0,Generic,3,"));
}

}  // namespace
}  // namespace quorvel::worker
