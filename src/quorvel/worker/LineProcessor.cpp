#include "quorvel/worker/LineProcessor.h"

#include <stdexcept>

#include "quorvel/config/Instrument.h"

namespace quorvel::worker {

using config::ConfigHelper;
using config::InstrumentPresets;

namespace {

ConfigHelper::Instrument instrumentOf(const config::Config& settings) {
    return settings.getInstrument().value_or(ConfigHelper::Instrument::GENERIC);
}

QRegularExpression patternOf(const config::Config& settings) {
    const QString custom = settings.getCustomRegEx();
    QRegularExpression pattern(
        custom.isEmpty() ? InstrumentPresets::getRegEx(instrumentOf(settings)) : custom);
    if (!pattern.isValid()) {
        const QString message =
            QStringLiteral("%1 at position %2 of the pattern %3")
                .arg(pattern.errorString(), QString::number(pattern.patternErrorOffset()),
                     pattern.pattern());
        throw std::invalid_argument(message.toStdString());
    }
    // Compiled now, once, rather than on the first line.
    pattern.optimize();
    return pattern;
}

// Text instruments never format, so settings that only matter to numbers (an unreadable
// operand, say) must not keep them from reading.
config::Config formatterSettings(const config::Config& settings, LineProcessor::Mode mode) {
    config::Config copy(settings);
    if (mode == LineProcessor::Mode::BARCODE) {
        copy.setMathOperation(ConfigHelper::MathOperation::NONE);
        copy.setDecimalPlaces(QString(""));
    }
    return copy;
}

// What "\s" matches without Unicode properties: tab, line feed, vertical tab, form feed,
// carriage return and space. A plain scan is cheaper than a second expression per line.
bool isPatternWhitespace(QChar c) {
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

QString withoutWhitespace(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!isPatternWhitespace(c))
            out.append(c);
    }
    return out;
}

}  // namespace

LineProcessor::LineProcessor(const config::Config& settings, Mode mode)
    : mode_(mode),
      pattern_(patternOf(settings)),
      group_(mode == Mode::BARCODE ? 1
                                   : InstrumentPresets::getCaptureGroup(instrumentOf(settings))),
      editor_(settings),
      remover_(settings),
      formatter_(formatterSettings(settings, mode)) {}

QString LineProcessor::process(const QString& line) {
    QString text("");
    // A group the pattern does not have yields nothing rather than a failure.
    if (group_ >= 0 && group_ <= pattern_.captureCount()) {
        const QRegularExpressionMatch match = pattern_.match(line);
        if (match.hasMatch()) {
            // A group that took no part (the other side of an alternation matched) has no
            // value to give; an empty line would hide that the pattern does not fit.
            if (match.capturedStart(group_) < 0)
                throw std::invalid_argument(
                    QStringLiteral("Group %1 of the pattern took no part in the match")
                        .arg(group_)
                        .toStdString());
            text = match.captured(group_);
        }
    }
    if (text.isNull())
        text = QString("");

    if (editor_.getNumCharacters() > 0)
        text = editor_.process(text);
    if (!remover_.isEmpty() && !text.isEmpty())
        text = remover_.remove(text);

    if (mode_ == Mode::BARCODE)
        return text;

    text = withoutWhitespace(text);
    if (text.isEmpty())
        return QString("");
    return formatter_.format(text);
}

}  // namespace quorvel::worker
