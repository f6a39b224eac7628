#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace quorvel::util {

// The line-oriented key=value text format shared by the resource bundles and the preferences file.
// The bytes are Latin-1; every character outside printable ASCII is written as \uXXXX
// (a character beyond U+FFFF as its two surrogate escapes).
class PropertiesFormat {
public:
    struct Entry {
        QString key;
        QString value;
    };

    struct ParseResult {
        std::vector<Entry> entries;  // in file order; a later duplicate key follows the earlier one
        // One readable note per line that could not be read completely (for example a broken
        // \u escape or a line of control bytes). What could be read is still in `entries`.
        std::vector<QString> problems;
    };

    // Reads logical lines: comments ('#' or '!' first), blank lines, continuation lines ending
    // in an odd number of backslashes, separators '=', ':' or blanks, and the escapes
    // \t \n \r \f \uXXXX and backslash before any other character (which stands for itself).
    static ParseResult parse(const QByteArray& bytes);

    // One "key=value" line without its line break. Key: backslash before '=', ':', '#', '!',
    // every space and backslash. Value: the same, but only a leading space is escaped.
    // Both: \t \n \r \f as escapes, everything outside 0x20..0x7E as \uXXXX (upper-case hex).
    static QString escapeKey(const QString& key);
    static QString escapeValue(const QString& value);
    static QByteArray formatLine(const QString& key, const QString& value);

    // "#comment\n" with the comment escaped like a value (non-ASCII as \uXXXX).
    static QByteArray formatComment(const QString& comment);
};

}  // namespace quorvel::util
