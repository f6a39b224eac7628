// The event log's line formats and styles, read back from the document, its thread hand-over
// and its bound.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTime>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "quorvel/EventLog.h"
#include "quorvel/worker/DataLine.h"

namespace quorvel {
namespace {

using Style = EventLog::Style;
using worker::DataLine;

constexpr Style kAllStyles[] = {Style::DEFAULT,   Style::REGULAR, Style::UNKNOWN,
                                Style::IMPORTANT, Style::TYPED,   Style::IGNORED};

// (text, style name) for each run of one format in a block; "?" for a format of no style.
// Standard strings, so a failure prints readable text.
using Runs = std::vector<std::pair<std::string, std::string>>;

class EventLogTest : public ::testing::Test {
  protected:
    QTextEdit view;
    EventLog log{&view};

    std::string styleOf(const QTextCharFormat& format) const {
        for (Style style : kAllStyles) {
            if (format == log.format(style)) {
                return EventLog::styleName(style).toStdString();
            }
        }
        return "?";
    }

    Runs runsOf(const QTextBlock& block) const {
        Runs runs;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const std::string style = styleOf(fragment.charFormat());
            if (!runs.empty() && runs.back().second == style) {
                runs.back().first += fragment.text().toStdString();
            } else {
                runs.emplace_back(fragment.text().toStdString(), style);
            }
        }
        return runs;
    }

    Runs runsOfLine(int index) const { return runsOf(view.document()->findBlockByNumber(index)); }

    bool waitForLines(int count) {
        QElapsedTimer timer;
        timer.start();
        while (log.lineCount() < count && timer.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return log.lineCount() == count;
    }
};

// 07:08:09 local time today, as the reading thread would stamp it.
DataLine::Instant at070809() {
    const QDateTime local(QDate::currentDate(), QTime(7, 8, 9));
    return DataLine::Instant(std::chrono::milliseconds(local.toMSecsSinceEpoch()));
}

DataLine received(const QString& raw, const QString& processed) {
    return DataLine(raw, processed, 1, at070809(), false);
}

TEST_F(EventLogTest, SixNamedStylesLookDifferent) {
    QStringList names;
    for (Style style : kAllStyles) {
        names << EventLog::styleName(style);
    }
    EXPECT_EQ(names,
              QStringList({"default", "regular", "unknown", "important", "typed", "ignored"}));
    for (Style a : kAllStyles) {
        for (Style b : kAllStyles) {
            if (a != b) {
                EXPECT_NE(log.format(a), log.format(b))
                    << EventLog::styleName(a).toStdString() << " vs "
                    << EventLog::styleName(b).toStdString();
            }
        }
    }
}

// ---- received lines ------------------------------------------------------------------------

TEST_F(EventLogTest, FoundValueIsTypedAndTheRestIgnored) {
    log.appendDataLine(received("ST,GS,  12.50 kg\r", "12.50"));
    EXPECT_EQ(log.lineCount(), 1);
    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 ", "regular"},
                                   {"ST,GS,  ", "ignored"},
                                   {"12.50", "typed"},
                                   {" kg<13>", "ignored"}}));
    EXPECT_EQ(view.toPlainText(), "07:08:09 ST,GS,  12.50 kg<13>\n");
}

TEST_F(EventLogTest, ALineThatIsNoLongerTypedIsNotShownAsTyped) {
    log.appendDataLine(received("ST,GS,  12.50 kg\r", "12.50"), false);
    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 ST,GS,  12.50 kg<13>", "ignored"}}));
}

TEST_F(EventLogTest, ValueAtTheEdgesLeavesNoEmptyRuns) {
    log.appendDataLine(received("4711", "4711"));
    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 ", "regular"}, {"4711", "typed"}}));
    EXPECT_EQ(view.toPlainText(), "07:08:09 4711\n");
}

TEST_F(EventLogTest, ARunawayLineShowsItsFirstThousandCharactersAndHowManyMore) {
    // A received line: the time (9) and 991 raw characters are shown, in their styles.
    const std::string longRaw = "ST " + std::string(100000, 'x') + " 12.50";
    log.appendDataLine(received(QString::fromStdString(longRaw), "12.50"));
    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 ", "regular"},
                                   {longRaw.substr(0, 991) + "\u2026 (99018 more)", "ignored"}}));
    // A message, whatever thread it comes from.
    std::thread writer([this] { log.append(QString(5000, u'm'), Style::IMPORTANT); });
    writer.join();
    ASSERT_TRUE(waitForLines(2));
    EXPECT_EQ(runsOfLine(1)[0].first.size(), 1000u + std::string("\u2026 (4009 more)").size());
    EXPECT_TRUE(QString::fromStdString(runsOfLine(1)[0].first).endsWith("\u2026 (4009 more)"));
    // A line at the limit is whole.
    log.append(QString(991, u'k'), Style::REGULAR);
    EXPECT_EQ(view.document()->findBlockByNumber(2).text().size(), 1000);
}

TEST_F(EventLogTest, CommaValueIsFoundAsPointAndPointAsComma) {
    log.appendDataLine(received("N    +12.5 g\r\n", "12,5"));
    log.appendDataLine(received("S S     3,25 kg\r", "3.25"));
    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 ", "regular"},
                                   {"N    +", "ignored"},
                                   {"12.5", "typed"},
                                   {" g<13><10>", "ignored"}}));
    EXPECT_EQ(runsOfLine(1), (Runs{{"07:08:09 ", "regular"},
                                   {"S S     ", "ignored"},
                                   {"3,25", "typed"},
                                   {" kg<13>", "ignored"}}));
}

TEST_F(EventLogTest, LineWithoutValueIsIgnoredWhole) {
    log.appendDataLine(received("ST,GS,  12.50 kg\r", ""));
    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 ST,GS,  12.50 kg<13>", "ignored"}}));
    // Why the line gives nothing, when the instrument said so, follows it.
    DataLine overload = received("OL,+999999.9  g\r", "");
    overload.setRemark("overload");
    log.appendDataLine(overload);
    EXPECT_EQ(runsOfLine(1), (Runs{{"07:08:09 OL,+999999.9  g<13>  (overload)", "ignored"}}));
}

TEST_F(EventLogTest, ValueNotInTheRawTextIsUnknown) {
    log.appendDataLine(received("ST,GS,  12.50 kg\r", "25.00"));
    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 ST,GS,  12.50 kg<13>", "unknown"}}));
}

TEST_F(EventLogTest, EscapeBeforeTheValueMakesTheLineUnknown) {
    // STX in front: the value may sit inside an escape, so nothing is highlighted.
    log.appendDataLine(received(QString(QChar(2)) + " 12.50 kg\r", "12.50"));
    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 <2> 12.50 kg<13>", "unknown"}}));
    // The value itself would be found in the escape "<13>".
    log.appendDataLine(received("A\r", "13"));
    EXPECT_EQ(runsOfLine(1), (Runs{{"07:08:09 A<13>", "unknown"}}));
}

TEST_F(EventLogTest, MarkupAndControlBytesShowLiterally) {
    log.appendDataLine(received("<b>x</b>\t\x7f\r", ""));
    log.appendDataLine(received("W <img src=x> 5\r", "5"));
    log.append("<img src=x><b>bold?</b>&amp;", Style::IMPORTANT);
    const QStringList lines = view.toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "07:08:09 <b>x</b><9><127><13>");
    EXPECT_EQ(lines[1], "07:08:09 W <img src=x> 5<13>");
    EXPECT_TRUE(lines[2].endsWith(" <img src=x><b>bold?</b>&amp;")) << lines[2].toStdString();
    EXPECT_EQ(runsOfLine(1), (Runs{{"07:08:09 W <img src=x> 5<13>", "unknown"}}));
    // No image or other object was made of the bytes.
    for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            EXPECT_FALSE(it.fragment().charFormat().isImageFormat());
            EXPECT_FALSE(it.fragment().charFormat().isAnchor());
        }
    }
}

// ---- the program's own messages ------------------------------------------------------------

TEST_F(EventLogTest, MessagesCarryTheCurrentTimeInTheirStyle) {
    const QTime before = QTime::currentTime();
    log.append("Connected to /dev/ttyUSB0", Style::REGULAR);
    log.append("Error [WW]: broken", Style::IMPORTANT);
    const QTime after = QTime::currentTime();
    ASSERT_EQ(log.lineCount(), 2);

    const Runs first = runsOfLine(0);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].second, "regular");
    const QRegularExpression form("^(\\d\\d:\\d\\d:\\d\\d) Connected to /dev/ttyUSB0$");
    const auto match = form.match(QString::fromStdString(first[0].first));
    ASSERT_TRUE(match.hasMatch()) << first[0].first;
    const QTime logged = QTime::fromString(match.captured(1), "HH:mm:ss");
    if (before <= after) {  // not across midnight
        EXPECT_GE(logged, QTime(before.hour(), before.minute(), before.second()));
        EXPECT_LE(logged, after);
    }

    const Runs second = runsOfLine(1);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].second, "important");
    EXPECT_TRUE(QString::fromStdString(second[0].first).endsWith(" Error [WW]: broken"));
}

TEST_F(EventLogTest, LinesFromOtherThreadsArriveOnTheUiThreadInOrder) {
    constexpr int kPerThread = 400;
    std::thread first([this] {
        for (int i = 0; i < kPerThread; ++i) {
            log.append(QString("A %1").arg(i), Style::REGULAR);
        }
    });
    std::thread second([this] {
        for (int i = 0; i < kPerThread; ++i) {
            log.append(QString("B %1").arg(i), Style::IMPORTANT);
        }
    });
    first.join();
    second.join();
    // Only the UI thread writes the document, and it has not run its events yet.
    EXPECT_EQ(log.lineCount(), 0);
    ASSERT_TRUE(waitForLines(2 * kPerThread)) << log.lineCount();

    int nextA = 0;
    int nextB = 0;
    for (int i = 0; i < 2 * kPerThread; ++i) {
        const Runs runs = runsOfLine(i);
        ASSERT_EQ(runs.size(), 1u);
        const QString text = QString::fromStdString(runs[0].first).mid(9);
        if (text.startsWith("A ")) {
            EXPECT_EQ(text, QString("A %1").arg(nextA++));
            EXPECT_EQ(runs[0].second, "regular");
        } else {
            EXPECT_EQ(text, QString("B %1").arg(nextB++));
            EXPECT_EQ(runs[0].second, "important");
        }
    }
    EXPECT_EQ(nextA, kPerThread);
    EXPECT_EQ(nextB, kPerThread);
}

TEST_F(EventLogTest, LinesQueuedForALogThatIsGoneAreDropped) {
    auto* shortLived = new EventLog(&view);
    std::thread writer([shortLived] { shortLived->append("late", Style::REGULAR); });
    writer.join();
    delete shortLived;
    QCoreApplication::processEvents();
    EXPECT_EQ(view.toPlainText(), "");
}

// ---- the bound -----------------------------------------------------------------------------

TEST_F(EventLogTest, KeepsTheNewestTenThousandLinesWithTheirStyles) {
    constexpr int kTotal = EventLog::MAX_LINES + 50;
    view.resize(400, 200);
    view.show();
    for (int i = 0; i < kTotal; ++i) {
        if (i % 10 == 0) {
            log.appendDataLine(received(QString("ST,GS, %1 kg\r").arg(i), QString::number(i)));
        } else {
            log.append(QString("line %1").arg(i), Style::REGULAR);
        }
    }
    EXPECT_EQ(log.lineCount(), EventLog::MAX_LINES);
    // The lines and the empty block after the last line break.
    EXPECT_EQ(view.document()->blockCount(), EventLog::MAX_LINES + 1);
    EXPECT_EQ(view.document()->lastBlock().text(), "");

    EXPECT_EQ(runsOfLine(0), (Runs{{"07:08:09 ", "regular"},
                                   {"ST,GS, ", "ignored"},
                                   {"50", "typed"},
                                   {" kg<13>", "ignored"}}));
    EXPECT_TRUE(view.document()->findBlockByNumber(1).text().endsWith(" line 51"));
    EXPECT_TRUE(view.document()
                    ->findBlockByNumber(EventLog::MAX_LINES - 1)
                    .text()
                    .endsWith(QString(" line %1").arg(kTotal - 1)));
    EXPECT_FALSE(view.toPlainText().contains(" line 49\n"));
    // The newest line is in sight.
    QCoreApplication::processEvents();
    EXPECT_GT(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
}

}  // namespace
}  // namespace quorvel
