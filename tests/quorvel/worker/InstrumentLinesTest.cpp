// Real instrument lines through the reading worker's line processing, preset by preset: the
// reading a user expects, or nothing, and the stability the line carries.
#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QStringList>

#include "quorvel/config/Config.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/config/LineFormat.h"
#include "quorvel/worker/LineProcessor.h"

namespace quorvel::worker {
namespace {

using config::ConfigHelper;
using config::Setting;
using config::Stability;

// "\r", "\n", "\t" and "\xHH" as written in the tables; every other character as it stands.
QString unescape(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const QChar c = text[++i];
        if (c == u'r') {
            out += u'\r';
        } else if (c == u'n') {
            out += u'\n';
        } else if (c == u't') {
            out += u'\t';
        } else if (c == u'x') {
            out += QChar(text.mid(i + 1, 2).toUShort(nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

struct Row {
    QString preset, raw, expected, stability, where;
};

std::vector<Row> rowsOf(const char* file) {
    QFile f(QStringLiteral(TOLVANE_SOURCE_DIR "/tests/quorvel/worker/data/") + file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file;
    std::vector<Row> rows;
    int number = 0;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).chopped(1);
        if (++number == 1 || line.isEmpty())
            continue;
        const QStringList cols = line.split(u'\t');
        EXPECT_GE(cols.size(), 4) << file << ":" << number;
        if (cols.size() >= 4)
            rows.push_back({cols[0], unescape(cols[1]), cols[2], cols[3],
                            QStringLiteral("%1:%2 %3").arg(file).arg(number).arg(cols[1])});
    }
    EXPECT_FALSE(rows.empty()) << file;
    return rows;
}

class InstrumentLinesTest : public ::testing::TestWithParam<const char*> {};

TEST_P(InstrumentLinesTest, EachLineGivesTheReadingOrNothing) {
    for (const Row& row : rowsOf(GetParam())) {
        SCOPED_TRACE(row.where.toStdString());
        ASSERT_TRUE(Setting<ConfigHelper::Instrument>::isValid(row.preset));
        const auto instrument = Setting<ConfigHelper::Instrument>::fromName(row.preset);
        config::Config settings = config::InstrumentPresets::getDefaultConfig(instrument);
        settings.setInstrument(instrument);
        LineProcessor processor(settings, LineProcessor::Mode::NUMBER);

        const LineProcessor::Outcome out = processor.evaluate(row.raw);
        EXPECT_EQ(out.value.toStdString(), row.expected.toStdString());
        if (row.stability == u"unstable") {
            EXPECT_EQ(out.stability, Stability::UNSTABLE);
        } else if (row.stability == u"tare") {
            EXPECT_EQ(out.stability, Stability::TARE);
        } else if (row.stability == u"stable") {
            EXPECT_NE(out.stability, Stability::UNSTABLE);
        } else if (row.stability == u"overload" || row.stability == u"underload" ||
                   row.stability == u"error") {
            // The log says why nothing was typed.
            EXPECT_FALSE(out.reason.isEmpty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tables, InstrumentLinesTest,
                         ::testing::Values("example-lines.tsv", "format-lines.tsv"));

// Line ends inside the matched text behave as in the usual engines, for custom patterns and
// presets alike: "." stops at any line end and "$" matches before a final one.
TEST(LineEndTest, LineEndsAreNotPartOfTheValue) {
    struct Case {
        const char* pattern;
        QString line;
        const char* value;
    };
    const Case cases[] = {
        {"(.+)", QStringLiteral("12.5\r"), "12.5"},
        {"(.+)", QStringLiteral("12.5\r\n"), "12.5"},
        {"([0-9.]+)$", QStringLiteral("12.5\r"), "12.5"},
        {"([0-9.]+)$", QStringLiteral("12.5\r\n"), "12.5"},
        {"(.+)", QString("12.5") + QChar(0x85), "12.5"},
        {"(.+)", QString("12.5") + QChar(0x2028), "12.5"},
        // A line end left from the previous line does not count either.
        {"^([0-9.]+)$", QStringLiteral("\n12.5\r"), "12.5"},
        {"^([0-9.]+)$", QStringLiteral("12.5\r7\r"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        config::Config settings;
        settings.setCustomRegEx(QString::fromLatin1(c.pattern));
        LineProcessor text(settings, LineProcessor::Mode::BARCODE);
        EXPECT_EQ(text.process(c.line).toStdString(), c.value);
    }
}

}  // namespace
}  // namespace quorvel::worker
