// Arbitrary settings and arbitrary line bytes through line processing and the ignore filter,
// the way a connection handles them: bytes are appended to the buffer as characters of the same
// code and a line is processed at each terminator byte.
//
// Input layout (missing bytes read as zero, so every input is valid):
//   [0] instrument preset (modulo the number of presets)
//   [1] flags: bits 0-1 terminator (13, 10, 4, or byte [2]), bit 2 KEEP instead of REMOVE,
//       bit 3 LAST instead of FIRST, bit 4 comma separator, bit 5 use the custom pattern
//   [2] literal terminator byte
//   [3] rounding method, [4] math operation (modulo their sizes)
//   [5] milliseconds between two lines, times 4
//   then seven texts, each one length byte (taken modulo the field's bound) and its bytes:
//   custom pattern (UTF-8, <= 64), edit count (<= 8), remove characters (<= 16), decimal places
//   (<= 4), math operand (<= 24), ignore time limit (<= 12), ignore difference (<= 24)
//   the rest: the bytes the instrument sends.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include <QString>

#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/util/NumberFormatException.h"
#include "quorvel/worker/DataLine.h"
#include "quorvel/worker/Ignorer.h"
#include "quorvel/worker/LineProcessor.h"

namespace {

using quorvel::config::Config;
using quorvel::config::ConfigHelper;
using quorvel::config::Setting;
using quorvel::worker::DataLine;
using quorvel::worker::Ignorer;
using quorvel::worker::LineProcessor;

// A broken promise of the pipeline is a finding like a crash.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    QByteArray text(std::size_t bound) {
        const std::size_t wanted = byte() % (bound + 1);
        const std::size_t n = std::min(wanted, size_ - pos_);
        QByteArray out(reinterpret_cast<const char*>(data_ + pos_), static_cast<qsizetype>(n));
        pos_ += n;
        return out;
    }

    const std::uint8_t* rest() const { return data_ + pos_; }
    std::size_t restSize() const { return size_ - pos_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

template <typename E>
E pick(std::uint8_t b) {
    return Setting<E>::fromCode(b % Setting<E>::size());
}

struct Settings {
    Config config;
    int terminator = 13;
    int stepMs = 0;
};

Settings readSettings(Reader& in) {
    Settings s;
    Config& c = s.config;
    c.setInstrument(pick<ConfigHelper::Instrument>(in.byte()));
    const std::uint8_t flags = in.byte();
    const std::uint8_t literalTerminator = in.byte();
    static constexpr int kTerminators[] = {13, 10, 4};
    s.terminator = (flags & 3) == 3 ? literalTerminator : kTerminators[flags & 3];
    c.setInputTerminator(s.terminator);
    c.setEditOperation((flags & 4) ? ConfigHelper::EditOperation::KEEP
                                   : ConfigHelper::EditOperation::REMOVE);
    c.setEditPosition((flags & 8) ? ConfigHelper::EditPosition::LAST
                                  : ConfigHelper::EditPosition::FIRST);
    c.setDecimalSeparator((flags & 16) ? ConfigHelper::DecimalSeparator::COMMA
                                       : ConfigHelper::DecimalSeparator::DOT);
    c.setRoundingMethod(pick<ConfigHelper::RoundingMethod>(in.byte()));
    c.setMathOperation(pick<ConfigHelper::MathOperation>(in.byte()));
    s.stepMs = in.byte() * 4;

    const QString pattern = QString::fromUtf8(in.text(64));
    if (flags & 32) {
        c.setCustomRegEx(pattern);
    }
    c.setEditNumCharacters(QString::fromLatin1(in.text(8)));
    c.setRemoveCharacters(QString::fromLatin1(in.text(16)));
    c.setDecimalPlaces(QString::fromLatin1(in.text(4)));
    c.setMathOperand(QString::fromLatin1(in.text(24)));
    c.setIgnoreTimeLimit(QString::fromLatin1(in.text(12)));
    c.setIgnoreDifference(QString::fromLatin1(in.text(24)));
    return s;
}

bool isPrintableAscii(const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 0x20 || ch.unicode() > 0x7E) {
            return false;
        }
    }
    return true;
}

// Digits, an optional leading minus and at most one separator: no grouping, no exponent.
bool isPlainNumber(const QString& text, QChar separator) {
    qsizetype i = 0;
    if (i < text.size() && text[i] == u'-') {
        ++i;
    }
    bool digit = false;
    bool seenSeparator = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= u'0' && text[i] <= u'9') {
            digit = true;
        } else if (text[i] == separator && !seenSeparator) {
            seenSeparator = true;
        } else {
            return false;
        }
    }
    return digit;
}

// One worker's view of the line: its processing and, on the window's side, its ignore filter.
struct Pipeline {
    LineProcessor::Mode mode;
    std::unique_ptr<LineProcessor> processor;
    Ignorer ignorer;
    QChar separator;

    void handle(const QString& raw, int number, DataLine::Instant instant) {
        QString processed;
        try {
            processed = processor->process(raw);
        } catch (const std::exception&) {
            return;  // logged as a line failure by the worker; reading goes on
        }
        FUZZ_CHECK(!processed.isNull());
        if (mode == LineProcessor::Mode::NUMBER) {
            FUZZ_CHECK(processed.isEmpty() || isPlainNumber(processed, separator));
        } else {
            // A part of the line, edited and thinned, can never be longer than the line.
            FUZZ_CHECK(processed.size() <= raw.size());
        }

        DataLine line(raw, processed, number, instant, false);
        FUZZ_CHECK(isPrintableAscii(line.getRawData()));
        try {
            ignorer.process(&line);
        } catch (const quorvel::util::NumberFormatException&) {
            return;  // a text that is not a number with a non-zero difference
        }
        FUZZ_CHECK(line.getProcessedData().isEmpty() || line.getProcessedData() == processed);
    }
};

std::optional<Pipeline> makePipeline(const Config& config, LineProcessor::Mode mode) {
    std::unique_ptr<LineProcessor> processor;
    try {
        processor = std::make_unique<LineProcessor>(config, mode);
    } catch (const std::exception&) {
        return std::nullopt;  // the connection ends before its first byte
    }
    // The window builds its filter outside any handler: unreadable settings must not throw.
    const QChar separator =
        config.getDecimalSeparator() == ConfigHelper::DecimalSeparator::COMMA ? u',' : u'.';
    return Pipeline{mode, std::move(processor), Ignorer(config), separator};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const Settings settings = readSettings(in);

    std::optional<Pipeline> pipelines[] = {
        makePipeline(settings.config, LineProcessor::Mode::NUMBER),
        makePipeline(settings.config, LineProcessor::Mode::BARCODE),
    };

    // Fixed instants so the time limit is reached or not by the input alone.
    DataLine::Instant instant{std::chrono::hours(24 * 365 * 50)};
    QString buffer;
    int number = 0;
    const std::uint8_t* bytes = in.rest();
    for (std::size_t i = 0; i < in.restSize(); ++i) {
        const int byte = bytes[i];
        buffer.append(QChar(static_cast<char16_t>(byte)));
        if (byte != settings.terminator) {
            continue;
        }
        ++number;
        instant += std::chrono::milliseconds(settings.stepMs);
        FUZZ_CHECK(buffer.back() == QChar(static_cast<char16_t>(settings.terminator)));
        for (auto& pipeline : pipelines) {
            if (pipeline) {
                pipeline->handle(buffer, number, instant);
            }
        }
        buffer.clear();
    }
    // What a stop reports as unsent.
    FUZZ_CHECK(isPrintableAscii(DataLine::transformControlChars(buffer)));
    return 0;
}
