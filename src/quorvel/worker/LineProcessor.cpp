#include "quorvel/worker/LineProcessor.h"


#include "quorvel/config/Instrument.h"

namespace quorvel::worker {

using config::ConfigHelper;
using config::InstrumentPresets;

namespace {

ConfigHelper::Instrument instrumentOf(const config::Config& settings) {
    return settings.getInstrument().value_or(ConfigHelper::Instrument::GENERIC);
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
      format_(instrumentOf(settings), settings.getCustomRegEx()),
      editor_(settings),
      remover_(settings),
      formatter_(formatterSettings(settings, mode)) {}

LineProcessor::Outcome LineProcessor::evaluate(const QString& line) {
    const config::Reading reading = format_.read(line);
    Outcome out;
    out.stability = reading.stability;
    out.reason = reading.reason;
    QString text = reading.text;
    if (text.isNull())
        text = QString("");

    if (editor_.getNumCharacters() > 0)
        text = editor_.process(text);
    if (!remover_.isEmpty() && !text.isEmpty())
        text = remover_.remove(text);

    if (mode_ == Mode::BARCODE) {
        out.value = text;
        return out;
    }
    text = withoutWhitespace(text);
    out.value = text.isEmpty() ? QString("") : formatter_.format(text);
    return out;
}

}  // namespace quorvel::worker
