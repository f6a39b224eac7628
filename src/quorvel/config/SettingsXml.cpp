#include "quorvel/config/SettingsXml.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <optional>
#include <stdexcept>
#include <string>

namespace quorvel::config {

namespace {

constexpr int MAX_DEPTH = 64;

[[noreturn]] void fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

QStringList nodeNames(const QString& nodePath) {
    return nodePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// XML 1.0 cannot carry most control characters, U+FFFE, U+FFFF or a lone surrogate, not even
// as character references; a removeCharacters setting may well hold STX or ETX. Such
// characters travel as numeric references (which common exporters write too) and are let
// through on reading by a private escape: MARK + four hex digits stands for the character,
// MARK MARK for MARK itself.
constexpr char16_t MARK = 0xF8FF;

bool isXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

QString hex4(char16_t unit) {
    return QStringLiteral("%1").arg(int(unit), 4, 16, QLatin1Char('0'));
}

// A value as handed to the writer: characters XML cannot hold become MARK + hex.
QString escapeForWriter(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t u = value[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < value.size() && value[i + 1].isLowSurrogate()) {
            out += value[i];
            out += value[++i];
        } else if (u == MARK) {
            out += QChar(MARK);
            out += QChar(MARK);
        } else if (QChar::isSurrogate(u) || !isXmlChar(u)) {
            out += QChar(MARK);
            out += hex4(u);
        } else {
            out += value[i];
        }
    }
    return out;
}

// The writer's output with every MARK + hex turned into a character reference and every
// MARK MARK back into one MARK.
QByteArray unescapeWriterOutput(const QByteArray& utf8) {
    const QString doc = QString::fromUtf8(utf8);
    if (!doc.contains(QChar(MARK)))
        return utf8;
    QString out;
    out.reserve(doc.size());
    for (qsizetype i = 0; i < doc.size(); ++i) {
        if (doc[i] != QChar(MARK) || i + 1 >= doc.size()) {
            out += doc[i];
        } else if (doc[i + 1] == QChar(MARK)) {
            out += QChar(MARK);
            ++i;
        } else {
            out += QStringLiteral("&#x") + doc.mid(i + 1, 4) + QLatin1Char(';');
            i += 4;
        }
    }
    return out.toUtf8();
}

// The code of a numeric character reference starting at `at` ("&#...;"), and its length.
std::optional<std::pair<char32_t, qsizetype>> characterReference(const QString& doc, qsizetype at) {
    if (at + 3 >= doc.size() || doc[at] != QLatin1Char('&') || doc[at + 1] != QLatin1Char('#'))
        return std::nullopt;
    qsizetype i = at + 2;
    const bool hex = doc[i] == QLatin1Char('x');
    if (hex)
        ++i;
    const qsizetype digitsStart = i;
    char32_t code = 0;
    for (; i < doc.size() && doc[i] != QLatin1Char(';'); ++i) {
        const char16_t c = doc[i].unicode();
        char32_t digit = 0;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (hex && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (hex && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return std::nullopt;
        code = code * (hex ? 16 : 10) + digit;
        if (code > 0x10FFFF)
            return std::nullopt;  // left to the parser to refuse
    }
    if (i == digitsStart || i >= doc.size())
        return std::nullopt;
    return std::make_pair(code, i + 1 - at);
}

// The reader's side of the escape above, applied to the whole document before parsing.
QString escapeForReader(const QString& doc) {
    QString out;
    out.reserve(doc.size());
    for (qsizetype i = 0; i < doc.size(); ++i) {
        if (doc[i] == QChar(MARK)) {
            out += QChar(MARK);
            out += QChar(MARK);
            continue;
        }
        if (doc[i] == QLatin1Char('&')) {
            if (auto ref = characterReference(doc, i)) {
                const char32_t code = ref->first;
                if (code == MARK) {
                    out += QChar(MARK);
                    out += QChar(MARK);
                    i += ref->second - 1;
                    continue;
                }
                if (!isXmlChar(code) && code <= 0xFFFF) {
                    out += QChar(MARK);
                    out += hex4(char16_t(code));
                    i += ref->second - 1;
                    continue;
                }
            }
        }
        out += doc[i];
    }
    return out;
}

QString unescapeValue(const QString& value) {
    if (!value.contains(QChar(MARK)))
        return value;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QChar(MARK)) {
            out += value[i];
        } else if (i + 1 < value.size() && value[i + 1] == QChar(MARK)) {
            out += QChar(MARK);
            ++i;
        } else {
            bool ok = false;
            const int code = QStringView(value).mid(i + 1, 4).toInt(&ok, 16);
            if (ok && i + 4 < value.size()) {
                out += QChar(char16_t(code));
                i += 4;
            } else {
                out += value[i];
            }
        }
    }
    return out;
}

// The document as text when it is UTF-8 (declared or by default); other encodings are left to
// the reader as bytes.
std::optional<QString> decodeUtf8(const QByteArray& document) {
    static const QRegularExpression declaration(
        QStringLiteral(R"(^\s*<\?xml[^>]*?encoding\s*=\s*["']([^"']*)["'])"));
    QByteArray head = document.left(256);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    const auto match = declaration.match(QString::fromLatin1(head));
    if (match.hasMatch() &&
        match.captured(1).compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(document);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString oversizeMessage() {
    return QStringLiteral("The file is larger than 1 MiB and cannot be a settings export.");
}

}  // namespace

QByteArray SettingsXml::write(const QString& nodePath, const Entries& entries) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(2);
    w.writeStartDocument(QStringLiteral("1.0"), false);
    w.writeDTD(QStringLiteral(
        "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">"));
    w.writeStartElement(QStringLiteral("preferences"));
    w.writeAttribute(QStringLiteral("EXTERNAL_XML_VERSION"), QStringLiteral("1.0"));
    w.writeStartElement(QStringLiteral("root"));
    w.writeAttribute(QStringLiteral("type"), QStringLiteral("user"));
    const QStringList names = nodeNames(nodePath);
    for (const QString& name : names) {
        w.writeEmptyElement(QStringLiteral("map"));
        w.writeStartElement(QStringLiteral("node"));
        w.writeAttribute(QStringLiteral("name"), escapeForWriter(name));
    }
    if (entries.empty()) {
        w.writeEmptyElement(QStringLiteral("map"));
    } else {
        w.writeStartElement(QStringLiteral("map"));
        for (const auto& [key, value] : entries) {
            w.writeEmptyElement(QStringLiteral("entry"));
            w.writeAttribute(QStringLiteral("key"), escapeForWriter(key));
            w.writeAttribute(QStringLiteral("value"), escapeForWriter(value));
        }
        w.writeEndElement();
    }
    for (qsizetype i = 0; i < names.size(); ++i) w.writeEndElement();
    w.writeEndElement();  // root
    w.writeEndElement();  // preferences
    w.writeEndDocument();
    if (w.hasError())
        fail(QStringLiteral("The settings could not be written as XML."));
    return unescapeWriterOutput(out);
}

SettingsXml::Entries SettingsXml::read(const QByteArray& document, const QString& nodePath) {
    if (document.size() > MAX_IMPORT_SIZE)
        fail(oversizeMessage());
    if (document.trimmed().isEmpty())
        fail(QStringLiteral("The file is empty."));

    const std::optional<QString> text = decodeUtf8(document);
    QXmlStreamReader reader;
    if (text)
        reader.addData(escapeForReader(*text));
    else
        reader.addData(document);
    const auto value = [&](const QString& v) { return text ? unescapeValue(v) : v; };

    // What each open element is, so that only the chain preferences/root/node.../map/entry
    // counts and anything else (with all it holds) is skipped.
    enum class Kind { Preferences, Root, Node, Map, Other };
    struct Frame {
        Kind kind;
        QStringList path;  // node names below the root, for Root, Node and Map
    };
    std::vector<Frame> stack;
    const QStringList target = nodeNames(nodePath);
    const QString targetText = QLatin1Char('/') + target.join(QLatin1Char('/'));
    bool found = false;
    Entries entries;

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::DTD:
                // Entity declarations are how expansion bombs are built; an export never needs
                // them.
                if (!reader.entityDeclarations().isEmpty() ||
                    reader.text().contains(QLatin1String("<!ENTITY")))
                    fail(
                        QStringLiteral("The file declares entities in its DOCTYPE and is refused "
                                       "for safety."));
                break;
            case QXmlStreamReader::EntityReference:
                fail(QStringLiteral("The file uses the undefined entity &%1;.")
                         .arg(reader.name().toString()));
            case QXmlStreamReader::StartElement: {
                if (stack.size() >= MAX_DEPTH)
                    fail(QStringLiteral("The file nests its elements deeper than %1 levels.")
                             .arg(MAX_DEPTH));
                const QStringView name = reader.name();
                if (stack.empty()) {
                    if (name != QLatin1String("preferences"))
                        fail(QStringLiteral("The file is not a preferences export: its root "
                                            "element is <%1>, not <preferences>.")
                                 .arg(name.toString()));
                    stack.push_back({Kind::Preferences, {}});
                    break;
                }
                const Frame& parent = stack.back();
                Frame frame{Kind::Other, {}};
                if (parent.kind == Kind::Preferences && name == QLatin1String("root")) {
                    frame = {Kind::Root, {}};
                } else if (parent.kind == Kind::Root || parent.kind == Kind::Node) {
                    if (name == QLatin1String("node")) {
                        const QString nodeName =
                            value(reader.attributes().value(QLatin1String("name")).toString());
                        if (!nodeName.isEmpty())
                            frame = {Kind::Node, parent.path + QStringList{nodeName}};
                    } else if (name == QLatin1String("map")) {
                        frame = {Kind::Map, parent.path};
                        if (frame.path == target)
                            found = true;
                    }
                } else if (parent.kind == Kind::Map && name == QLatin1String("entry") &&
                           parent.path == target) {
                    const QXmlStreamAttributes attributes = reader.attributes();
                    if (!attributes.hasAttribute(QLatin1String("key")))
                        fail(QStringLiteral("An entry of the node %1 has no key (line %2).")
                                 .arg(targetText)
                                 .arg(reader.lineNumber()));
                    const QString key = value(attributes.value(QLatin1String("key")).toString());
                    if (!attributes.hasAttribute(QLatin1String("value")))
                        fail(QStringLiteral("The entry \"%1\" of the node %2 has no value.")
                                 .arg(key, targetText));
                    if (entries.size() >= std::size_t(MAX_IMPORT_ENTRIES))
                        fail(QStringLiteral("The file holds more than %1 settings for the node "
                                            "%2.")
                                 .arg(MAX_IMPORT_ENTRIES)
                                 .arg(targetText));
                    entries.emplace_back(
                        key, value(attributes.value(QLatin1String("value")).toString()));
                }
                stack.push_back(std::move(frame));
                break;
            }
            case QXmlStreamReader::EndElement:
                if (!stack.empty())
                    stack.pop_back();
                break;
            default:
                break;
        }
    }
    if (reader.hasError())
        fail(QStringLiteral("The file is not a valid XML document: %1 (line %2, column %3).")
                 .arg(reader.errorString())
                 .arg(reader.lineNumber())
                 .arg(reader.columnNumber()));
    if (!found)
        fail(QStringLiteral("The file holds no Tolvane settings (no node %1).").arg(targetText));
    return entries;
}

SettingsXml::Entries SettingsXml::readFile(const QString& path, const QString& nodePath) {
    QFile file(path);
    if (!QFileInfo::exists(path))
        fail(QStringLiteral("The file %1 does not exist.").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("The file %1 cannot be read: %2").arg(path, file.errorString()));
    // The size may be unknown (a pipe) or wrong, so read one byte past the limit to tell.
    if (file.size() > MAX_IMPORT_SIZE)
        fail(oversizeMessage());
    const QByteArray document = file.read(MAX_IMPORT_SIZE + 1);
    if (document.size() > MAX_IMPORT_SIZE)
        fail(oversizeMessage());
    if (file.error() != QFileDevice::NoError)
        fail(QStringLiteral("The file %1 cannot be read: %2").arg(path, file.errorString()));
    return read(document, nodePath);
}

}  // namespace quorvel::config
