#include "quorvel/worker/DataLine.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "quorvel/worker/MultiDataLine.h"

namespace quorvel::worker {
namespace {

using namespace std::chrono_literals;

TEST(DataLineTest, TransformControlCharsShowsCodes) {
    EXPECT_EQ(DataLine::transformControlChars("12.5 kg\r"), "12.5 kg<13>");
    EXPECT_EQ(DataLine::transformControlChars(QString(QChar(2)) + "0.5\n"), "<2>0.5<10>");
    EXPECT_EQ(DataLine::transformControlChars(QString(QChar(0)) + QChar(0x1F) + " ~" + QChar(0x7F) +
                                              QChar(0xFF) + "\t"),
              "<0><31> ~<127><255><9>");
    // One character beyond U+FFFF is one code; a lone surrogate is its own unit.
    EXPECT_EQ(DataLine::transformControlChars(QString::fromUcs4(U"a\U0001F600b")), "a<128512>b");
    EXPECT_EQ(DataLine::transformControlChars(QString(QChar(0xD83D)) + "x"), "<55357>x");
    EXPECT_EQ(DataLine::transformControlChars(""), "");
}

TEST(DataLineTest, RecordKeepsItsValues) {
    const DataLine::Instant at{1'700'000'000'123ms};
    DataLine line(QString("12.5 kg\r"), QString("12.5"), 7, at, true);
    EXPECT_EQ(line.getRawData(), "12.5 kg<13>");
    EXPECT_EQ(line.getRawDataUnchanged().size(), 8);
    EXPECT_EQ(line.getNumber(), 7);
    EXPECT_EQ(line.getInstant(), at);
    EXPECT_TRUE(line.isError());
    EXPECT_EQ(line.getDateTime().toMSecsSinceEpoch(), 1'700'000'000'123);
    EXPECT_EQ(line.getDateTime().timeSpec(), Qt::LocalTime);

    DataLine copy = line.copy();
    line.deleteProcessedData();
    EXPECT_FALSE(line.hasValue());
    EXPECT_EQ(line.getProcessedData(), "");
    EXPECT_TRUE(copy.hasValue());
    EXPECT_EQ(copy.getProcessedData(), "12.5");
    EXPECT_FALSE(DataLine(QString("\r"), QString(), 1, at, false).hasValue());
}

TEST(DataLineTest, TestConstructorSaysSo) {
    testing::internal::CaptureStdout();
    const auto before = DataLine::Clock::now();
    DataLine line(QString("x"), QString("1"), 3);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("USE FOR TESTING ONLY"), std::string::npos);
    EXPECT_FALSE(line.isError());
    EXPECT_GE(line.getInstant(), before);
}

TEST(MultiDataLineTest, ValuesByIndex) {
    const DataLine::Instant at{5s};
    MultiDataLine line(QString("1;2\r"), QStringList{"1", "2"}, 4, at, false);
    EXPECT_EQ(line.getRawData(), "1;2<13>");
    EXPECT_EQ(line.getValue(1), "2");
    EXPECT_EQ(line.getValues().size(), 2);
    EXPECT_EQ(line.getDateTime().toMSecsSinceEpoch(), 5000);
    EXPECT_THROW(line.getValue(2), std::out_of_range);
    EXPECT_THROW(line.getValue(-1), std::out_of_range);
}

}  // namespace
}  // namespace quorvel::worker
