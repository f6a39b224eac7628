#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace quorvel::config {

// The preferences export document: declaration, DOCTYPE preferences, <preferences
// EXTERNAL_XML_VERSION="1.0">, <root type="user"> with an empty map and nested nodes down to the
// exported node, whose <map> holds one <entry key=".." value=".."/> per setting.
class SettingsXml {
public:
    using Entries = std::vector<std::pair<QString, QString>>;

    static constexpr qint64 MAX_IMPORT_SIZE = 1024 * 1024;
    // Far above the number of settings; bounds the store rewrites an import causes.
    static constexpr int MAX_IMPORT_ENTRIES = 256;

    // `nodePath` like "/com/varnholt/tolvane".
    static QByteArray write(const QString& nodePath, const Entries& entries);
    // The entries of the node at `nodePath`; throws std::runtime_error with a readable message
    // for a malformed, oversized, hostile or foreign document.
    static Entries read(const QByteArray& document, const QString& nodePath);
    static Entries readFile(const QString& path, const QString& nodePath);
};

}  // namespace quorvel::config
