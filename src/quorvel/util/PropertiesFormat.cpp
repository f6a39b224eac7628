#include "quorvel/util/PropertiesFormat.h"

#include <algorithm>

namespace quorvel::util {

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\f';
}

bool isLineBreak(QChar c) {
    return c == u'\n' || c == u'\r';
}

// Bytes that never belong in a text file; a line holding them is taken for garbage.
bool isControl(QChar c) {
    const char16_t u = c.unicode();
    return (u < 0x20 && !isBlank(c)) || u == 0x7F;
}

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') {
        return u - '0';
    }
    if (u >= 'a' && u <= 'f') {
        return u - 'a' + 10;
    }
    if (u >= 'A' && u <= 'F') {
        return u - 'A' + 10;
    }
    return -1;
}

// Splits the text into physical lines (\n, \r or \r\n), remembering each line's number.
struct PhysicalLines {
    const QString& text;
    qsizetype pos = 0;
    int number = 0;

    bool next(QString& line) {
        if (pos >= text.size()) {
            return false;
        }
        qsizetype end = pos;
        while (end < text.size() && !isLineBreak(text[end])) {
            ++end;
        }
        line = text.mid(pos, end - pos);
        if (end < text.size() && text[end] == u'\r' && end + 1 < text.size() &&
            text[end + 1] == u'\n') {
            ++end;
        }
        pos = end + 1;
        ++number;
        return true;
    }
};

qsizetype skipBlanks(const QString& s, qsizetype i) {
    while (i < s.size() && isBlank(s[i])) {
        ++i;
    }
    return i;
}

bool endsInOddBackslashes(const QString& s) {
    qsizetype count = 0;
    for (qsizetype i = s.size() - 1; i >= 0 && s[i] == u'\\'; --i) {
        ++count;
    }
    return count % 2 == 1;
}

// Decodes the escapes of raw[from, to). Stops at a broken \u escape and returns false;
// `out` then holds what came before it.
bool unescape(const QString& raw, qsizetype from, qsizetype to, QString& out) {
    out.reserve(to - from);
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = raw[i];
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++i >= to) {
            break;  // a lone backslash at the very end stands for nothing
        }
        const QChar e = raw[i];
        switch (e.unicode()) {
            case 't':
                out += u'\t';
                break;
            case 'n':
                out += u'\n';
                break;
            case 'r':
                out += u'\r';
                break;
            case 'f':
                out += u'\f';
                break;
            case 'u': {
                int code = 0;
                for (int k = 0; k < 4; ++k) {
                    const int h = (i + 1 < to) ? hexValue(raw[i + 1]) : -1;
                    if (h < 0) {
                        return false;
                    }
                    code = code * 16 + h;
                    ++i;
                }
                out += QChar(static_cast<char16_t>(code));
                break;
            }
            default:
                out += e;
                break;
        }
    }
    return true;
}

void appendEscaped(QString& out, const QString& text, bool isKey) {
    static const char* const hex = "0123456789ABCDEF";
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        switch (u) {
            case '\t':
                out += u"\\t";
                continue;
            case '\n':
                out += u"\\n";
                continue;
            case '\r':
                out += u"\\r";
                continue;
            case '\f':
                out += u"\\f";
                continue;
            case '=':
            case ':':
            case '#':
            case '!':
            case '\\':
                out += u'\\';
                out += QChar(u);
                continue;
            case ' ':
                if (isKey || i == 0) {
                    out += u'\\';
                }
                out += u' ';
                continue;
            default:
                break;
        }
        if (u < 0x20 || u > 0x7E) {
            out += u"\\u";
            out += QChar(hex[(u >> 12) & 0xF]);
            out += QChar(hex[(u >> 8) & 0xF]);
            out += QChar(hex[(u >> 4) & 0xF]);
            out += QChar(hex[u & 0xF]);
        } else {
            out += QChar(u);
        }
    }
}

}  // namespace

PropertiesFormat::ParseResult PropertiesFormat::parse(const QByteArray& bytes) {
    ParseResult result;
    const QString text = QString::fromLatin1(bytes);
    PhysicalLines lines{text};
    QString line;
    while (lines.next(line)) {
        const int first = lines.number;
        const qsizetype start = skipBlanks(line, 0);
        if (start == line.size() || line[start] == u'#' || line[start] == u'!') {
            continue;  // blank or comment; a comment never continues
        }
        QString logical = line.mid(start);
        while (endsInOddBackslashes(logical)) {
            logical.chop(1);
            QString more;
            if (!lines.next(more)) {
                break;
            }
            logical += more.mid(skipBlanks(more, 0));
        }

        bool hasControl = false;
        for (QChar c : logical) {
            if (isControl(c)) {
                hasControl = true;
                break;
            }
        }
        if (hasControl) {
            result.problems.push_back(
                QStringLiteral("line %1: control characters, line skipped").arg(first));
            continue;
        }

        // The key ends at the first unescaped '=', ':' or blank.
        qsizetype keyEnd = 0;
        while (keyEnd < logical.size()) {
            const QChar c = logical[keyEnd];
            if (c == u'\\') {
                keyEnd += 2;
                continue;
            }
            if (c == u'=' || c == u':' || isBlank(c)) {
                break;
            }
            ++keyEnd;
        }
        keyEnd = std::min(keyEnd, logical.size());
        qsizetype valueStart = skipBlanks(logical, keyEnd);
        if (valueStart < logical.size() &&
            (logical[valueStart] == u'=' || logical[valueStart] == u':')) {
            valueStart = skipBlanks(logical, valueStart + 1);
        }

        Entry entry;
        if (!unescape(logical, 0, keyEnd, entry.key)) {
            // A cut-off key could stand for another key and overwrite its value: drop it.
            result.problems.push_back(
                QStringLiteral("line %1: broken \\u escape in the key, line skipped").arg(first));
            continue;
        }
        if (!unescape(logical, valueStart, logical.size(), entry.value)) {
            result.problems.push_back(
                QStringLiteral("line %1: broken \\u escape in the value of \"%2\", value cut "
                               "short")
                    .arg(first)
                    .arg(entry.key));
        }
        result.entries.push_back(std::move(entry));
    }
    return result;
}

QString PropertiesFormat::escapeKey(const QString& key) {
    QString out;
    out.reserve(key.size() + key.size() / 4);
    appendEscaped(out, key, true);
    return out;
}

QString PropertiesFormat::escapeValue(const QString& value) {
    QString out;
    out.reserve(value.size() + value.size() / 4);
    appendEscaped(out, value, false);
    return out;
}

QByteArray PropertiesFormat::formatLine(const QString& key, const QString& value) {
    return (escapeKey(key) + u'=' + escapeValue(value)).toLatin1();
}

QByteArray PropertiesFormat::formatComment(const QString& comment) {
    // Like a value, except that the separators and comment marks need no backslash here:
    // the whole line is a comment, and "12:30" should stay readable.
    QString escaped;
    escaped.reserve(comment.size());
    for (QChar c : comment) {
        const char16_t u = c.unicode();
        if (u == '=' || u == ':' || u == '#' || u == '!' || u == ' ') {
            escaped += c;
        } else {
            appendEscaped(escaped, QString(c), false);
        }
    }
    return "#" + escaped.toLatin1() + "\n";
}

}  // namespace quorvel::util
