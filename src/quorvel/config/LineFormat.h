#pragma once

#include <QRegularExpression>
#include <QString>

#include <vector>

#include "quorvel/config/ConfigHelper.h"

namespace quorvel::config {

// How sure the instrument is of a reading, as far as its line says.
enum class Stability {
    UNMARKED,  // the line carries no stability mark
    STABLE,
    UNSTABLE,
    TARE,  // a stored or just taken tare: not in motion
};

// What one received line holds: the value text as the pattern found it (sign and blanks as
// sent), or nothing, and then, where the line says so, why.
struct Reading {
    QString text;  // empty: nothing may be typed
    Stability stability = Stability::UNMARKED;
    QString reason;  // "quorvel.worker.WorkerBundle" key ("reading.overload", ...) or empty
    bool hasValue() const { return !text.isEmpty(); }
};

// Tells a reading from everything else an instrument sends: status, overload and error lines,
// headers, IDs and dates yield nothing; the value is taken from the field its maker documents;
// stability comes from the line's own mark. Built once per connection; `read` is const and
// may be used from any thread.
class LineFormat {
public:
    using Instrument = ConfigHelper::Instrument;

    // The preset's own value pattern, or `customPattern` when it is not empty (the preset's
    // status rules still apply). Throws std::invalid_argument with the pattern's error when
    // the pattern does not compile.
    explicit LineFormat(Instrument instrument, const QString& customPattern = QString());

    // `line` is the received text, terminator included.
    Reading read(const QString& line) const;

    const QRegularExpression& pattern() const { return pattern_; }

    // Whether the preset's lines carry a stability mark at all.
    static bool marksStability(Instrument instrument);

    // A pattern as every reader of lines compiles it: "." stops at line ends (CR, LF, NEL,
    // U+2028, U+2029) and "$" also matches before a final line end, as in most engines.
    static QRegularExpression compile(const QString& pattern);

    struct Rules;

private:
    Instrument instrument_;
    bool custom_;
    QRegularExpression pattern_;
    const Rules* rules_;
};

}  // namespace quorvel::config
