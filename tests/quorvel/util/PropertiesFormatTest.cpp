#include "quorvel/util/PropertiesFormat.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace quorvel::util {
namespace {

using Entries = std::vector<std::pair<QString, QString>>;

Entries entriesOf(const PropertiesFormat::ParseResult& r) {
    Entries out;
    for (const auto& e : r.entries) {
        out.emplace_back(e.key, e.value);
    }
    return out;
}

Entries parseEntries(const QByteArray& bytes) {
    return entriesOf(PropertiesFormat::parse(bytes));
}

TEST(PropertiesFormatParse, CommentsBlankLinesAndSeparators) {
    const QByteArray text =
        "# a comment\n"
        "! another = comment\n"
        "\n"
        "   \t \n"
        "a=1\n"
        "b:2\n"
        "c 3\n"
        "d \t = \t 4 \n"
        "e\t:five\n"
        "f==6\n"
        "g\n"
        "h=\n"
        "  # indented comment\n"
        "  i = leading blanks of the key skipped\n";
    EXPECT_EQ(parseEntries(text), (Entries{{"a", "1"},
                                           {"b", "2"},
                                           {"c", "3"},
                                           {"d", "4 "},
                                           {"e", "five"},
                                           {"f", "=6"},
                                           {"g", ""},
                                           {"h", ""},
                                           {"i", "leading blanks of the key skipped"}}));
    EXPECT_TRUE(PropertiesFormat::parse(text).problems.empty());
}

TEST(PropertiesFormatParse, LineBreaksOfEveryKindAndDuplicatesInOrder) {
    EXPECT_EQ(parseEntries("a=1\r\nb=2\rc=3\nd=4"),
              (Entries{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}));
    EXPECT_EQ(parseEntries("k=first\nk=second\n"), (Entries{{"k", "first"}, {"k", "second"}}));
}

TEST(PropertiesFormatParse, ContinuationLines) {
    // Leading blanks of the continued line are skipped; trailing blanks before the backslash stay.
    EXPECT_EQ(parseEntries("key = one, \\\n     two, \\\r\n\tthree\nnext=x\n"),
              (Entries{{"key", "one, two, three"}, {"next", "x"}}));
    // An even number of backslashes is an escaped backslash, not a continuation.
    EXPECT_EQ(parseEntries("a=b\\\\\nc=d\n"), (Entries{{"a", "b\\"}, {"c", "d"}}));
    // Three: an escaped backslash and then a continuation.
    EXPECT_EQ(parseEntries("a=b\\\\\\\n  c\n"), (Entries{{"a", "b\\c"}}));
    // A continued line starting with '#' is content, not a comment.
    EXPECT_EQ(parseEntries("a=x\\\n  #y\n"), (Entries{{"a", "x#y"}}));
    // A comment ending in a backslash does not swallow the next line.
    EXPECT_EQ(parseEntries("# note \\\na=1\n"), (Entries{{"a", "1"}}));
    // The key itself may be continued; a backslash at the end of the file is dropped.
    EXPECT_EQ(parseEntries("ke\\\n  y=v\nlast=z\\"), (Entries{{"key", "v"}, {"last", "z"}}));
}

TEST(PropertiesFormatParse, Escapes) {
    EXPECT_EQ(parseEntries("k=\\t\\n\\r\\f\\\\\\q\\=\\:\\ x\n"),
              (Entries{{"k", "\t\n\r\f\\q=: x"}}));
    // Escaped separators and blanks belong to the key.
    EXPECT_EQ(parseEntries("a\\=b\\:c\\ d=v\n"), (Entries{{"a=b:c d", "v"}}));
    // \u with either case of hex digits; an escaped separator from \u does not split the key.
    EXPECT_EQ(parseEntries("\\u006b\\u003D=\\u00e9\\u00E9\n"),
              (Entries{{QStringLiteral("k="), QString::fromUtf8("\xC3\xA9\xC3\xA9")}}));
    // A surrogate pair written as two escapes is one code point.
    const auto r = parseEntries("smile=\\uD83D\\uDE00\n");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].second, QString::fromUtf8("\xF0\x9F\x98\x80"));
    EXPECT_EQ(r[0].second.toUcs4().size(), 1);
}

TEST(PropertiesFormatParse, BytesAreLatin1) {
    EXPECT_EQ(parseEntries("k=caf\xE9\n"), (Entries{{"k", QString::fromUtf8("caf\xC3\xA9")}}));
    // UTF-8 is not decoded: each byte is one character.
    const auto r = parseEntries("k=\xC3\xA9\n");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].second.size(), 2);
    EXPECT_EQ(r[0].second[0].unicode(), 0xC3);
}

TEST(PropertiesFormatParse, BrokenUnicodeEscapeKeepsWhatWasReadAndGoesOn) {
    const auto r = PropertiesFormat::parse(
        "good=1\n"
        "cut=abc\\u00zz tail\n"
        "short=x\\u12\n"
        "bro\\uXken=value\n"
        "after=2\n");
    EXPECT_EQ(entriesOf(r),
              (Entries{{"good", "1"}, {"cut", "abc"}, {"short", "x"}, {"after", "2"}}));
    ASSERT_EQ(r.problems.size(), 3u);
    EXPECT_TRUE(r.problems[0].contains("line 2")) << r.problems[0].toStdString();
    EXPECT_TRUE(r.problems[1].contains("line 3")) << r.problems[1].toStdString();
    EXPECT_TRUE(r.problems[2].contains("line 4")) << r.problems[2].toStdString();
}

TEST(PropertiesFormatParse, GarbageLoadsTheReadablePart) {
    QByteArray bytes("first=1\n");
    for (int i = 0; i < 256; ++i) {
        bytes.append(static_cast<char>((i * 37 + 11) % 256));
    }
    bytes.append(QByteArray("\x00\x01\x02=\x03\n", 5));
    bytes.append("\nlast=2\n");
    const auto r = PropertiesFormat::parse(bytes);
    ASSERT_GE(r.entries.size(), 2u);
    EXPECT_EQ(r.entries.front().key, "first");
    EXPECT_EQ(r.entries.back().key, "last");
    EXPECT_EQ(r.entries.back().value, "2");
    EXPECT_FALSE(r.problems.empty());
    for (const auto& e : r.entries) {
        for (QChar c : e.key + e.value) {
            EXPECT_FALSE(c.unicode() < 0x20 && c != u'\t' && c != u'\f' && c != u'\n' && c != u'\r')
                << "control character " << int(c.unicode()) << " in " << e.key.toStdString();
        }
    }
    EXPECT_TRUE(PropertiesFormat::parse("").entries.empty());
    EXPECT_TRUE(PropertiesFormat::parse("").problems.empty());
}

TEST(PropertiesFormatWrite, EscapingOfKeysValuesAndComments) {
    EXPECT_EQ(PropertiesFormat::escapeKey("a b=c:d#e!f\\g"), "a\\ b\\=c\\:d\\#e\\!f\\\\g");
    EXPECT_EQ(PropertiesFormat::escapeValue("  a b=c:d#e!f\\g"), "\\  a b\\=c\\:d\\#e\\!f\\\\g");
    EXPECT_EQ(PropertiesFormat::escapeValue("\t\n\r\f"), "\\t\\n\\r\\f");
    EXPECT_EQ(PropertiesFormat::escapeValue(QString::fromUtf8("\xC3\xA9\x7F\x01~")),
              "\\u00E9\\u007F\\u0001~");
    EXPECT_EQ(PropertiesFormat::escapeValue(QString::fromUtf8("\xF0\x9F\x98\x80")),
              "\\uD83D\\uDE00");
    EXPECT_EQ(PropertiesFormat::formatLine("com.varnholt.tolvane.port", "COM3"),
              QByteArray("com.varnholt.tolvane.port=COM3"));
    EXPECT_EQ(PropertiesFormat::formatComment("FilePreferences"), QByteArray("#FilePreferences\n"));
    // A comment stays one readable comment line whatever it holds.
    EXPECT_EQ(PropertiesFormat::formatComment(QString::fromUtf8("Mon 12:30\n\xE2\x82\xAC")),
              QByteArray("#Mon 12:30\\n\\u20AC\n"));
}

TEST(PropertiesFormatRoundTrip, HostileKeysAndValuesSurvive) {
    const QStringList texts = {
        "",
        "=",
        ":",
        "#",
        "!",
        "#not a comment",
        "!not a comment",
        " leading space",
        "   ",
        "trailing space ",
        "a=b:c",
        "line\r\nbreaks\nand\rmore",
        "\ttab\f",
        "\\",
        "\\\\",
        "ends in backslash\\",
        "\\u0041 not an escape",
        QString::fromUtf8("caf\xC3\xA9 \xC3\xBC\xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD"),
        QString::fromUtf8("emoji \xF0\x9F\x98\x80\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"),
        QString(QChar(0)) + "nul and del" + QChar(0x7F),
        QString(QChar(0xD800)),  // a lone surrogate is kept as it is
    };
    for (const QString& t : texts) {
        const QString key = t.isEmpty() ? QStringLiteral("k") : t;
        const QByteArray line = PropertiesFormat::formatLine(key, t);
        EXPECT_FALSE(line.contains('\n') || line.contains('\r')) << line.toStdString();
        for (char c : line) {
            EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << line.toStdString();
        }
        // Comment lines, other entries and every kind of line break around it do not matter.
        const QByteArray file =
            PropertiesFormat::formatComment("header") + "before=1\r\n" + line + "\r\n" + "after=2";
        const auto r = PropertiesFormat::parse(file);
        ASSERT_EQ(r.entries.size(), 3u) << line.toStdString();
        EXPECT_EQ(r.entries[1].key, key) << line.toStdString();
        EXPECT_EQ(r.entries[1].value, t) << line.toStdString();
        EXPECT_EQ(r.entries[2].key, "after");
        EXPECT_TRUE(r.problems.empty());
    }
}

}  // namespace
}  // namespace quorvel::util
