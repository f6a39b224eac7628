#pragma once

#include <QRegularExpression>
#include <QString>

#include "quorvel/config/Config.h"
#include "quorvel/config/LineFormat.h"
#include "quorvel/worker/Editor.h"
#include "quorvel/worker/NumberFormatter.h"
#include "quorvel/worker/Remover.h"

namespace quorvel::worker {

// What happens to one terminated line between the port and the DataLine: the instrument's
// format decides whether the line holds a reading and where; then editing, removal, and (for
// numbers) whitespace removal and formatting.
// Built once per connection, then used by the reading thread only.
class LineProcessor {
public:
    enum class Mode {
        NUMBER,   // capture group of the preset, whitespace removed, number formatting
        BARCODE,  // always group 1, text kept as it is after editing and removal
    };

    // The value to type (empty: none), how stable the instrument said it was, and why there
    // is none when the line says so (a worker bundle key, or empty).
    struct Outcome {
        QString value;
        config::Stability stability = config::Stability::UNMARKED;
        QString reason;
    };

    // Pattern: the custom expression when set, otherwise the instrument's (GENERIC when none).
    // Throws std::invalid_argument with the pattern's error when it does not compile.
    LineProcessor(const config::Config& settings, Mode mode);

    // The line (terminator included) through the whole pipeline.
    // Throws util::NumberFormatException / util::ArithmeticException from the formatter, and
    // std::invalid_argument when the value's group took no part in the match.
    Outcome evaluate(const QString& line);
    // Only the value of `evaluate`.
    QString process(const QString& line) { return evaluate(line).value; }

    const QRegularExpression& pattern() const { return format_.pattern(); }
    int captureGroup() const { return 1; }

private:
    Mode mode_;
    config::LineFormat format_;
    Editor editor_;
    Remover remover_;
    NumberFormatter formatter_;
};

}  // namespace quorvel::worker
