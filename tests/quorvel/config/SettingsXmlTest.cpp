#include "quorvel/config/SettingsXml.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <stdexcept>
#include <string>

namespace quorvel::config {
namespace {

const QString NODE = QStringLiteral("/com/varnholt/tolvane");

std::string readError(const QByteArray& document) {
    try {
        SettingsXml::read(document, NODE);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(accepted)";
}

// A document whose settings node holds `tolvaneMap`.
QByteArray wrap(const QByteArray& tolvaneMap,
                const QByteArray& prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") {
    return prolog +
           "<preferences EXTERNAL_XML_VERSION=\"1.0\">"
           "<root type=\"user\"><map/><node name=\"com\"><map/><node name=\"varnholt\"><map/>"
           "<node name=\"tolvane\">" +
           tolvaneMap + "</node></node></node></root></preferences>\n";
}

TEST(SettingsXmlTest, WritesTheCommonPreferencesExportLayout) {
    const QByteArray doc = SettingsXml::write(
        NODE, {{"bitRate", "7"}, {"customRegEx", "(\\d+) \"kg\" <&>"}, {"port", "COM3"}});
    EXPECT_EQ(
        doc.toStdString(),
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
        "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">\n"
        "<preferences EXTERNAL_XML_VERSION=\"1.0\">\n"
        "  <root type=\"user\">\n"
        "    <map/>\n"
        "    <node name=\"com\">\n"
        "      <map/>\n"
        "      <node name=\"varnholt\">\n"
        "        <map/>\n"
        "        <node name=\"tolvane\">\n"
        "          <map>\n"
        "            <entry key=\"bitRate\" value=\"7\"/>\n"
        "            <entry key=\"customRegEx\" value=\"(\\d+) &quot;kg&quot; &lt;&amp;&gt;\"/>\n"
        "            <entry key=\"port\" value=\"COM3\"/>\n"
        "          </map>\n"
        "        </node>\n"
        "      </node>\n"
        "    </node>\n"
        "  </root>\n"
        "</preferences>\n");

    const QByteArray empty = SettingsXml::write(NODE, {});
    EXPECT_TRUE(empty.contains("<node name=\"tolvane\">\n          <map/>\n        </node>"))
        << empty.toStdString();
    EXPECT_TRUE(SettingsXml::read(empty, NODE).empty());
}

TEST(SettingsXmlTest, AnyCharacterInKeysAndValuesSurvivesTheRoundTrip) {
    const QChar mark(char16_t(0xF8FF));  // a private-use character, as a user could paste it
    const SettingsXml::Entries entries = {
        {"quotes", "it's \"quoted\""},
        {"markup", "<entry key=\"x\"/> & &amp; &#10; ]]> <!-- -->"},
        {"breaks", "line1\nline2\r\nline3\rend"},
        {"blanks", "  leading, trailing  \t tab\t"},
        {"nonAscii", QString::fromUtf8("é€ü 日本 😀")},
        {"controls",
         QString(QChar(2)) + "STX ETX" + QChar(3) + QChar(0) + QChar(0x1F) + QChar(0x7F)},
        {"private", QString(mark) + "0041" + mark + mark + QChar(2) + mark},
        {"lone", QString("a") + QChar(char16_t(0xD800)) + "b" + QChar(char16_t(0xDC00))},
        {"nonChars", QString(QChar(char16_t(0xFFFE))) + QChar(char16_t(0xFFFF))},
        {QString::fromUtf8("kéy = : # \n"), ""},
        {"empty", ""},
    };
    const QByteArray doc = SettingsXml::write(NODE, entries);
    EXPECT_EQ(SettingsXml::read(doc, NODE), entries);
    // A control character is written as a character reference, as other exporters do.
    EXPECT_TRUE(doc.contains("&#x0002;STX ETX&#x0003;")) << doc.toStdString();
}

TEST(SettingsXmlTest, ReadsHandWrittenFilesOfOtherTools) {
    // Other attribute order, <map></map>, single quotes, comments, no DOCTYPE, no indentation,
    // a system root, entries in other nodes and a child node of the settings node.
    const QByteArray doc =
        "<?xml version='1.0' encoding='UTF-8'?>"
        "<!-- exported by hand -->"
        "<preferences EXTERNAL_XML_VERSION='1.0'><root type='system'><map></map>"
        "<node name='org'><map><entry key='bitRate' value='1'/></map></node>"
        "<node name='com'><map></map>"
        "  <node name='varnholt'>\n\t<map><entry value='ignored' key='elsewhere'/></map>"
        "    <node name='tolvane'>"
        "      <map>"
        "        <entry value='3' key='dataBits'/>"
        "        <entry key='port' value='/dev/ttyUSB0'></entry>"
        "        <!-- <entry key='commented' value='x'/> -->"
        "        <entry key='delay'\n value='&#10;50&amp;&#x41;'/>"
        "        <unknown key='x' value='y'/>"
        "      </map>"
        "      <node name='child'><map><entry key='bitRate' value='2'/></map></node>"
        "      <extra><map><entry key='bitRate' value='3'/></map></extra>"
        "    </node>"
        "  </node>"
        "</node></root></preferences>";
    const SettingsXml::Entries expected = {
        {"dataBits", "3"}, {"port", "/dev/ttyUSB0"}, {"delay", "\n50&A"}};
    EXPECT_EQ(SettingsXml::read(doc, NODE), expected);

    // An entry outside a map of the node itself is not one of its settings.
    EXPECT_TRUE(SettingsXml::read(wrap("<map/><entry key='a' value='b'/>"), NODE).empty());
    // Latin-1 files are read in their own encoding.
    const QByteArray latin1 = wrap("<map><entry key='k' value='\xE9'/></map>",
                                   "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>");
    EXPECT_EQ(SettingsXml::read(latin1, NODE),
              (SettingsXml::Entries{{"k", QString::fromUtf8("é")}}));
}

TEST(SettingsXmlTest, RefusesHostileAndForeignDocumentsWithAClearMessage) {
    const QByteArray laughsProlog =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE preferences [\n <!ENTITY lol \"lol\">\n"
        " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
        " <!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">\n"
        " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
        " <!ENTITY lol9 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">\n]>\n";
    const QByteArray laughs = wrap("<map><entry key='delay' value='&lol9;'/></map>", laughsProlog);
    QByteArray deep = "<preferences>";
    for (int i = 0; i < 10000; ++i) deep += "<node name='x'>";
    for (int i = 0; i < 10000; ++i) deep += "</node>";
    deep += "</preferences>";
    QByteArray huge = wrap("<map><entry key='k' value='" +
                           QByteArray(SettingsXml::MAX_IMPORT_SIZE, 'a') + "'/></map>");
    QByteArray many = "<map>";
    for (int i = 0; i <= SettingsXml::MAX_IMPORT_ENTRIES; ++i)
        many += "<entry key='k" + QByteArray::number(i) + "' value='v'/>";
    many += "</map>";

    const struct {
        const char* what;
        QByteArray document;
        std::string expected;
    } cases[] = {
        {"entity expansion", laughs, "declares entities"},
        {"one harmless entity", wrap("<map/>", "<!DOCTYPE preferences [<!ENTITY a 'b'>]>"),
         "declares entities"},
        {"parameter entity", wrap("<map/>", "<!DOCTYPE preferences [<!ENTITY % p 'b'>]>"),
         "declares entities"},
        {"undefined entity",
         wrap("<map>&secret;</map>",
              "<!DOCTYPE preferences SYSTEM 'http://java.sun.com/dtd/preferences.dtd'>"),
         "undefined entity &secret;"},
        {"deep nesting", deep, "deeper than 64"},
        {"over 1 MiB", huge, "larger than 1 MiB"},
        {"too many entries", wrap(many), "more than 256 settings"},
        {"not XML", "port=COM3\nbitRate=7\n", "not a valid XML document"},
        {"binary", QByteArray("\x00\xFF\x13<\x01", 5), "not a valid XML document"},
        {"empty", " \n", "empty"},
        {"truncated", wrap("<map><entry key='a' value='b'/></map>").left(200),
         "not a valid XML document"},
        {"broken after the entries", wrap("<map><entry key='a' value='b'/></map>") + "<x>",
         "not a valid XML document"},
        {"wrong root", "<properties><entry key='port'>COM1</entry></properties>",
         "root element is <properties>"},
        {"no settings node", wrap("<map/>").replace("tolvane", "other"),
         "holds no Tolvane settings"},
        {"entry without key", wrap("<map><entry value='1'/></map>"), "has no key"},
        {"entry without value", wrap("<map><entry key='delay'/></map>"), "\"delay\""},
    };
    for (const auto& c : cases) {
        EXPECT_NE(readError(c.document).find(c.expected), std::string::npos)
            << c.what << ": " << readError(c.document);
    }
}

TEST(SettingsXmlTest, ReadFileRefusesMissingAndOversizedFilesBeforeParsing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath("missing.xml");
    EXPECT_THROW(SettingsXml::readFile(missing, NODE), std::runtime_error);

    const QString big = dir.filePath("big.xml");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // Well-formed up to the limit, so only the size can refuse it.
        f.write(wrap("<map/>").left(100));
        ASSERT_TRUE(f.resize(SettingsXml::MAX_IMPORT_SIZE + 1));
    }
    try {
        SettingsXml::readFile(big, NODE);
        ADD_FAILURE() << "an oversized file was read";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("larger than 1 MiB"), std::string::npos) << e.what();
    }

    const QString good = dir.filePath("good.xml");
    {
        QFile f(good);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(SettingsXml::write(NODE, {{"port", "COM1"}}));
    }
    EXPECT_EQ(SettingsXml::readFile(good, NODE), (SettingsXml::Entries{{"port", "COM1"}}));
}

}  // namespace
}  // namespace quorvel::config
