#pragma once

#include <QRegularExpression>
#include <QString>

#include "quorvel/config/Config.h"
#include "quorvel/worker/Editor.h"
#include "quorvel/worker/NumberFormatter.h"
#include "quorvel/worker/Remover.h"

namespace quorvel::worker {

// What happens to one terminated line between the port and the DataLine: the pattern's first
// match, editing, removal, and (for numbers) whitespace removal and formatting.
// Built once per connection, then used by the reading thread only.
class LineProcessor {
public:
    enum class Mode {
        NUMBER,   // capture group of the preset, whitespace removed, number formatting
        BARCODE,  // always group 1, text kept as it is after editing and removal
    };

    // Pattern: the custom expression when set, otherwise the instrument's (GENERIC when none).
    // Throws std::invalid_argument with the pattern's error when it does not compile.
    LineProcessor(const config::Config& settings, Mode mode);

    // The processed text for the line (terminator included); empty when nothing matched.
    // Throws util::NumberFormatException / util::ArithmeticException from the formatter.
    QString process(const QString& line);

    const QRegularExpression& pattern() const { return pattern_; }
    int captureGroup() const { return group_; }

private:
    Mode mode_;
    QRegularExpression pattern_;
    int group_;
    Editor editor_;
    Remover remover_;
    NumberFormatter formatter_;
};

}  // namespace quorvel::worker
