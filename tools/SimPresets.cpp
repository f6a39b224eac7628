#include "SimPresets.h"

#include "SimFormats.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/config/LineFormat.h"

namespace tools {

namespace {

using quorvel::config::Config;
using quorvel::config::ConfigHelper;
using quorvel::config::InstrumentPresets;
using quorvel::config::LineFormat;
using quorvel::config::Setting;
using Instrument = ConfigHelper::Instrument;

std::string bytesOf(const QString& text) {
    // Received lines are bytes taken as characters of the same code, so Latin-1 is exact.
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString textOf(const std::string& bytes) {
    return InstrumentPresets::textFromBytes(
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

// A line of the instrument's with its terminator, added unless the line ends with it.
std::string framedBy(const std::string& line, const std::string& terminator) {
    const bool ends =
        line.size() >= terminator.size() &&
        line.compare(line.size() - terminator.size(), terminator.size(), terminator) == 0;
    return ends ? line : line + terminator;
}

// What the reading program takes from a line, before blanks are dropped and numbers formatted.
std::string valueIn(Instrument instrument, const std::string& framedLine) {
    return bytesOf(InstrumentPresets::extract(instrument, textOf(framedLine)).value_or(QString()));
}

LineSettings lineSettingsOf(const Config& config) {
    LineSettings s;
    s.baud = std::stoi(utf8(Setting<ConfigHelper::BitRates>::labelOfCode(config.getBitRate())));
    s.dataBits =
        std::stoi(utf8(Setting<ConfigHelper::DataBits>::labelOfCode(config.getDataBits())));
    s.stopBits =
        std::stoi(utf8(Setting<ConfigHelper::StopBits>::labelOfCode(config.getStopBits())));
    const QString parity = Setting<ConfigHelper::Parity>::name(
        Setting<ConfigHelper::Parity>::fromCode(config.getParity()));
    s.parity = static_cast<char>(parity.at(0).toLatin1());
    return s;
}

std::string terminatorText(int byte) {
    if (auto t = ConfigHelper::inputTerminatorForValue(byte)) {
        return utf8(Setting<ConfigHelper::InputTerminator>::label(*t));
    }
    return std::to_string(byte);
}

std::string settingsLine(const Config& config) {
    const int stopBits =
        std::stoi(utf8(Setting<ConfigHelper::StopBits>::labelOfCode(config.getStopBits())));
    return "Set in Tolvane: " +
           utf8(Setting<ConfigHelper::BitRates>::labelOfCode(config.getBitRate())) + " baud, " +
           utf8(Setting<ConfigHelper::DataBits>::labelOfCode(config.getDataBits())) +
           " data bits, parity " +
           utf8(Setting<ConfigHelper::Parity>::name(
               Setting<ConfigHelper::Parity>::fromCode(config.getParity()))) +
           ", " + std::to_string(stopBits) + (stopBits == 1 ? " stop bit" : " stop bits") +
           ", input terminator " + terminatorText(config.getInputTerminator());
}

// Common line sets for presets without samples of their own, in the order they are tried.
std::vector<std::vector<std::string>> commonLineSets(bool text) {
    const std::vector<std::string> barcodes = findPreset("barcode")->lines;
    if (text) {
        return {barcodes};
    }
    return {findPreset("scale")->lines,
            {"ST,GS     120 pcs", "ST,GS     125 pcs", "US,GS     130 pcs"},
            barcodes};
}

// The weight of `line` replaced by others, kept only when the preset reads each of them back
// exactly as written.
std::optional<DriftFormat> driftFormatFrom(Instrument instrument, const std::string& line,
                                           const std::string& terminator) {
    const std::string framed = framedBy(line, terminator);
    // Matched as the program matches it: compiled the same way, a line end left at the start
    // of the line (the LF of CR LF on a CR preset) skipped.
    const QRegularExpression pattern = LineFormat::compile(InstrumentPresets::getRegEx(instrument));
    const size_t from = std::min(line.find_first_not_of("\r\n"), line.size());
    const QRegularExpressionMatch match = pattern.match(textOf(framed.substr(from)));
    const int group = InstrumentPresets::getCaptureGroup(instrument);
    if (!match.hasMatch() || match.capturedStart(group) < 0) {
        return std::nullopt;
    }
    const auto start = from + static_cast<size_t>(match.capturedStart(group));
    const auto length = static_cast<size_t>(match.capturedLength(group));
    if (start + length > line.size()) {
        return std::nullopt;
    }
    auto shape = NumberShape::of(std::string_view(line).substr(start, length));
    if (!shape) {
        return std::nullopt;
    }
    DriftFormat format{line.substr(0, start), *shape, line.substr(start + length)};
    const long long one = shape->unitsPerOne();
    for (long long units : {DriftScale::MIN_WEIGHT * one, 12 * one + one / 3,
                            DriftScale::MAX_WEIGHT * one - 1, DriftScale::MAX_WEIGHT * one + 20}) {
        for (bool stable : {false, true}) {
            const std::string drifted = framedBy(format.line(units, stable), terminator);
            if (valueIn(instrument, drifted) != shape->render(units)) {
                return std::nullopt;
            }
        }
    }
    return format;
}

Preset presetFor(Instrument instrument) {
    const Config config = InstrumentPresets::getDefaultConfig(instrument);
    const bool text =
        InstrumentPresets::getInstrumentType(instrument) == ConfigHelper::InstrumentType::TEXT;
    const QString label = Setting<Instrument>::label(instrument);

    Preset p;
    p.name = utf8(Setting<Instrument>::name(instrument));
    p.terminator = std::string(1, static_cast<char>(config.getInputTerminator()));
    p.dataCommand = bytesOf(InstrumentPresets::getDataCommand(instrument));
    p.serial = lineSettingsOf(config);
    p.valueOf = [instrument](const std::string& framedLine) {
        return valueIn(instrument, framedLine);
    };
    p.settingsText = {"Instrument preset " + p.name + ": " + utf8(label), settingsLine(config)};

    for (const auto& [sample, expected] : InstrumentPresets::getTestStrings(instrument)) {
        if (sample.isEmpty()) {
            continue;
        }
        p.lines.push_back(bytesOf(sample));
        p.values.push_back(bytesOf(expected));
    }
    const size_t sampleCount = p.lines.size();
    // What the maker's instruments also send, lines that must not be typed among them.
    for (FormatLine& f : formatLines(p.name)) {
        p.lines.push_back(std::move(f.bytes));
        p.values.push_back(std::move(f.value));
    }
    const size_t formatCount = p.lines.size() - sampleCount;
    const bool ownSamples = !p.lines.empty();
    if (!ownSamples) {
        const auto sets = commonLineSets(text);
        // The first set the preset reads a value from in every line; the first set otherwise.
        auto readable =
            std::find_if(sets.begin(), sets.end(), [&](const std::vector<std::string>& set) {
                return std::all_of(set.begin(), set.end(), [&](const std::string& line) {
                    return !valueIn(instrument, line + p.terminator).empty();
                });
            });
        p.lines = readable != sets.end() ? *readable : sets.front();
        for (const std::string& line : p.lines) {
            p.values.push_back(valueIn(instrument, line + p.terminator));
        }
        p.ownSamples = false;
    }

    std::string serial = std::to_string(p.serial->baud) + " baud " +
                         std::to_string(p.serial->dataBits) + p.serial->parity +
                         std::to_string(p.serial->stopBits) + ", terminator " +
                         terminatorText(config.getInputTerminator());
    p.description = utf8(label) + "; " + serial;
    if (!p.dataCommand.empty()) {
        p.description += "; answers the data command " + readableBytes(p.dataCommand);
    }
    if (sampleCount > 0) {
        p.description += "; " + std::to_string(sampleCount) +
                         (sampleCount == 1 ? " sample line" : " sample lines");
    }
    if (formatCount > 0) {
        p.description += "; " + std::to_string(formatCount) +
                         (formatCount == 1 ? " line" : " lines") + " of its maker's formats";
    }
    if (!ownSamples) {
        p.description += "; no samples of its own";
    }

    if (text) {
        p.noDrift = "--drift plays a scale, but " + p.name + " reads text";
        return p;
    }
    // Only lines the preset reads a value from; the samples before the maker's other formats,
    // in each the shortest first, those with decimals before whole numbers.
    auto hasDecimals = [&](const std::string& line) {
        const std::string v = valueIn(instrument, framedBy(line, p.terminator));
        return v.find_first_of(".,") != std::string::npos;
    };
    std::vector<std::string> candidates;
    for (auto [begin, end] :
         {std::pair{size_t{0}, sampleCount}, std::pair{sampleCount, sampleCount + formatCount}}) {
        const auto first = static_cast<std::ptrdiff_t>(candidates.size());
        for (size_t i = begin; i < end; ++i) {
            if (!p.values[i].empty() &&
                !valueIn(instrument, framedBy(p.lines[i], p.terminator)).empty()) {
                candidates.push_back(p.lines[i]);
            }
        }
        std::stable_sort(candidates.begin() + first, candidates.end(),
                         [&](const std::string& a, const std::string& b) {
                             if (hasDecimals(a) != hasDecimals(b)) {
                                 return hasDecimals(a);
                             }
                             return a.size() < b.size();
                         });
    }
    for (const auto& set : commonLineSets(false)) {
        candidates.insert(candidates.end(), set.begin(), set.end());
    }
    for (const std::string& line : candidates) {
        if (auto format = driftFormatFrom(instrument, line, p.terminator)) {
            p.drift = std::move(format);
            return p;
        }
    }
    p.noDrift = "--drift: no line format of " + p.name + " takes other weights";
    return p;
}

}  // namespace

const std::vector<Preset>& instrumentPresets() {
    static const std::vector<Preset> all = [] {
        std::vector<Preset> out;
        for (Instrument instrument : Setting<Instrument>::values()) {
            out.push_back(presetFor(instrument));
        }
        Preset scale = presetFor(Instrument::GENERIC);
        scale.name = "scale";
        scale.description = "the GENERIC preset, with common scale lines";
        out.push_back(std::move(scale));
        return out;
    }();
    return all;
}

std::string presetList() {
    std::string out =
        "Instrument presets (--preset NAME, any case). Each sends its sample lines with its\n"
        "input terminator and shows the line settings to choose in Tolvane.\n";
    size_t width = 0;
    for (const Preset& p : instrumentPresets()) {
        width = std::max(width, p.name.size());
    }
    for (const Preset& p : instrumentPresets()) {
        out += "  " + p.name + std::string(width + 2 - p.name.size(), ' ') + p.description + "\n";
    }
    return out;
}

}  // namespace tools
