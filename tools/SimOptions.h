#pragma once

// Command-line handling shared by tolvane-sim and tolvane-reader. Header-only so both tools
// and their tests can use it without another library target.

#include <charconv>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "SimDrift.h"

namespace tools {

// Printable ASCII as it is, every other byte as "<code>": "ST,GS  12.50 kg<13>".
inline std::string readableBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b <= 0x7E) {
            out += c;
        } else {
            out += '<';
            out += std::to_string(b);
            out += '>';
        }
    }
    return out;
}

// A whole decimal number within [min, max]; `what` names the option in the message.
inline long parseNumber(std::string_view text, long min, long max, std::string_view what) {
    long value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (text.empty() || ec == std::errc::invalid_argument || ptr != last) {
        throw std::invalid_argument(std::string(what) + ": '" + std::string(text) +
                                    "' is not a whole number");
    }
    if (ec == std::errc::result_out_of_range || value < min || value > max) {
        throw std::invalid_argument(std::string(what) + ": " + std::string(text) + " is outside " +
                                    std::to_string(min) + ".." + std::to_string(max));
    }
    return value;
}

inline std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// The bytes sent after each line: a decimal byte value 0..255, or cr, lf, crlf, none.
inline std::string parseTerminator(std::string_view text) {
    const std::string name = lowerAscii(text);
    if (name == "cr") {
        return "\r";
    }
    if (name == "lf") {
        return "\n";
    }
    if (name == "crlf") {
        return "\r\n";
    }
    if (name == "none") {
        return "";
    }
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("--terminator: '" + std::string(text) +
                                    "' is neither a byte value 0..255 nor cr, lf, crlf or none");
    }
    return std::string(1, static_cast<char>(parseNumber(text, 0, 255, "--terminator")));
}

// The single byte a line ends with, for the reader: 0..255, cr or lf.
inline int parseTerminatorByte(std::string_view text) {
    const std::string name = lowerAscii(text);
    if (name == "cr") {
        return 13;
    }
    if (name == "lf") {
        return 10;
    }
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("--terminator: '" + std::string(text) +
                                    "' is neither a byte value 0..255 nor cr or lf");
    }
    return static_cast<int>(parseNumber(text, 0, 255, "--terminator"));
}

// Line text as typed: \r \n \t \\ and \xHH stand for the bytes, everything else is literal.
inline std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 >= text.size()) {
            throw std::invalid_argument("a line ends with a lone backslash (write \\\\ for one)");
        }
        char e = text[++i];
        switch (e) {
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            case 'x': {
                std::string_view hex = text.substr(i + 1, 2);
                unsigned value = 0;
                auto [ptr, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
                if (hex.size() != 2 || ec != std::errc() || ptr != hex.data() + hex.size()) {
                    throw std::invalid_argument("\\x needs two hex digits, e.g. \\x0D");
                }
                out += static_cast<char>(value);
                i += 2;
                break;
            }
            default:
                throw std::invalid_argument(std::string("unknown escape \\") + e +
                                            " (known: \\r \\n \\t \\\\ \\xHH)");
        }
    }
    return out;
}

// Line settings of a serial device: speed 0 leaves it unchanged.
struct LineSettings {
    int baud = 0;
    int dataBits = 8;
    char parity = 'N';  // N, O, E, M (mark) or S (space)
    int stopBits = 1;
};

// What an instrument of one kind sends, so a test session needs no --line typing.
struct Preset {
    std::string name;  // --preset takes it in any case
    std::string description;
    std::vector<std::string> lines;  // the bytes of each line, terminator not yet added
    std::string terminator;
    // Bytes the instrument waits for before each line; empty: it sends on its own.
    std::string dataCommand;
    // The instrument's framing for a device; none: 8N1 at the speed the device has.
    std::optional<LineSettings> serial;
    // Printed before the first line: what to set in the reading program.
    std::vector<std::string> settingsText;
    // The value the reading program takes from each of `lines` ("" = none), and from any
    // other line; empty when not known.
    std::vector<std::string> values;
    // False when `lines` are common lines, not the instrument's own samples.
    bool ownSamples = true;
    std::function<std::string(const std::string&)> valueOf;
    // The line format --drift writes, or why there is none.
    std::optional<DriftFormat> drift;
    std::string noDrift = "--drift needs an instrument preset that reads numbers";
};

// The tool's own line sets; the simulator puts the instrument presets in front of them.
inline const std::vector<Preset>& presets() {
    static const std::vector<Preset> table = [] {
        Preset scale;
        scale.name = "scale";
        scale.description = "stable and unstable gross weights in kg, CR";
        scale.lines = {"ST,GS  12.50 kg", "ST,GS  12.55 kg", "US,GS  12.60 kg"};
        scale.terminator = "\r";
        Preset barcode;
        barcode.name = "barcode";
        barcode.description = "EAN-13 codes, CR";
        barcode.lines = {"4006381333931", "9780201379624"};
        barcode.terminator = "\r";
        return std::vector<Preset>{scale, barcode};
    }();
    return table;
}

// Case-insensitive, so "mitutoyo" finds MITUTOYO.
inline const Preset* findPreset(std::string_view name,
                                const std::vector<Preset>& catalog = presets()) {
    const std::string wanted = lowerAscii(name);
    for (const Preset& p : catalog) {
        if (lowerAscii(p.name) == wanted) {
            return &p;
        }
    }
    return nullptr;
}

inline std::string presetNames(const std::vector<Preset>& catalog = presets()) {
    std::string names;
    for (const Preset& p : catalog) {
        names += names.empty() ? "" : ", ";
        names += p.name;
    }
    return names;
}

// Walks the arguments; an option's value is "--name=value" or the next argument.
class ArgReader {
  public:
    explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}

    bool next() {
        if (pos_ >= args_.size()) {
            return false;
        }
        const std::string& arg = args_[pos_++];
        inlineValue_.reset();
        auto eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name_ = arg.substr(0, eq);
            inlineValue_ = arg.substr(eq + 1);
        } else {
            name_ = arg;
        }
        return true;
    }

    const std::string& name() const { return name_; }
    bool hasInlineValue() const { return inlineValue_.has_value(); }

    std::string value() {
        if (inlineValue_) {
            return *inlineValue_;
        }
        if (pos_ >= args_.size()) {
            throw std::invalid_argument(name_ + " needs a value");
        }
        return args_[pos_++];
    }

    // Flags take no value; "--quiet=yes" is a mistake worth reporting.
    void noValue() const {
        if (inlineValue_) {
            throw std::invalid_argument(name_ + " takes no value");
        }
    }

  private:
    const std::vector<std::string>& args_;
    size_t pos_ = 0;
    std::string name_;
    std::optional<std::string> inlineValue_;
};

struct LineSource {
    bool fromFile = false;
    // The line itself (escapes not yet applied), or the file name.
    std::string text;
};

struct SimOptions {
    bool help = false;
    bool listPresets = false;
    // Empty: create a pseudo-terminal.
    std::string device;
    std::vector<LineSource> sources;
    // The name as given, and what it names.
    std::string preset;
    std::optional<Preset> presetData;
    std::optional<std::string> terminator;
    int intervalMs = 1000;
    // 0 = forever; with --drift it counts weighings.
    long repeat = 1;
    std::optional<bool> waitReader;
    // 0 = leave the line speed alone.
    int baud = 0;
    bool quiet = false;
    bool drift = false;
    std::optional<std::uint32_t> seed;
    bool raw = false;
    // --command (bytes), or --no-command; --answer-only.
    std::optional<std::string> command;
    bool noCommand = false;
    bool answerOnly = false;

    bool waitsForReader() const { return waitReader.value_or(device.empty()); }

    std::string terminatorBytes() const {
        if (raw) {
            return "";
        }
        if (terminator) {
            return *terminator;
        }
        if (presetData) {
            return presetData->terminator;
        }
        return "\r";
    }

    // The bytes each line is an answer to; empty when lines go out on the timer.
    std::string dataCommand() const {
        if (noCommand) {
            return "";
        }
        if (command) {
            return *command;
        }
        return presetData ? presetData->dataCommand : "";
    }

    // True when lines go out only as answers to the data command, never on the timer: asked
    // for with --answer-only, or implied by a --command of the user's own.
    bool answersOnly() const { return !dataCommand().empty() && (answerOnly || command); }

    // Lines of an instrument (its samples, --drift) may hold their terminator already; lines
    // the user gives always get one, unless they are raw bytes.
    bool linesFromInstrument() const { return drift || (sources.empty() && presetData); }

    std::string framed(const std::string& line) const {
        const std::string t = terminatorBytes();
        if (t.empty()) {
            return line;
        }
        const bool ends =
            line.size() >= t.size() && line.compare(line.size() - t.size(), t.size(), t) == 0;
        if (linesFromInstrument() && ends) {
            return line;
        }
        return line + t;
    }

    // The line settings a device is given: the instrument's, --baud overriding its speed.
    LineSettings lineSettings() const {
        LineSettings s = presetData && presetData->serial ? *presetData->serial : LineSettings{};
        if (baud > 0) {
            s.baud = baud;
        }
        return s;
    }
};

// `catalog` holds the names --preset takes; the simulator passes the instrument presets.
inline SimOptions parseSimOptions(const std::vector<std::string>& args,
                                  const std::vector<Preset>& catalog = presets()) {
    SimOptions o;
    ArgReader r(args);
    bool presetGiven = false;
    while (r.next()) {
        const std::string& n = r.name();
        if (n == "--help" || n == "-h") {
            r.noValue();
            o.help = true;
        } else if (n == "--list-presets") {
            r.noValue();
            o.listPresets = true;
        } else if (n == "--line") {
            o.sources.push_back({false, r.value()});
        } else if (n == "--file") {
            std::string f = r.value();
            if (f.empty()) {
                throw std::invalid_argument("--file needs a file name");
            }
            o.sources.push_back({true, f});
        } else if (n == "--preset") {
            o.preset = r.value();
            presetGiven = true;
            if (lowerAscii(o.preset) == "list") {
                o.listPresets = true;
                continue;
            }
            const Preset* p = findPreset(o.preset, catalog);
            if (!p) {
                throw std::invalid_argument("--preset: unknown preset '" + o.preset +
                                            "' (known: " + presetNames(catalog) +
                                            "; --list-presets describes them)");
            }
            o.presetData = *p;
        } else if (n == "--terminator") {
            o.terminator = parseTerminator(r.value());
        } else if (n == "--interval") {
            o.intervalMs = static_cast<int>(parseNumber(r.value(), 0, 86400000, "--interval"));
        } else if (n == "--repeat") {
            o.repeat = parseNumber(r.value(), 0, 1000000000, "--repeat");
        } else if (n == "--device") {
            o.device = r.value();
            if (o.device.empty()) {
                throw std::invalid_argument("--device needs a path");
            }
        } else if (n == "--baud") {
            o.baud = static_cast<int>(parseNumber(r.value(), 1, 4000000, "--baud"));
        } else if (n == "--wait-reader") {
            r.noValue();
            o.waitReader = true;
        } else if (n == "--no-wait-reader") {
            r.noValue();
            o.waitReader = false;
        } else if (n == "--quiet" || n == "-q") {
            r.noValue();
            o.quiet = true;
        } else if (n == "--drift") {
            r.noValue();
            o.drift = true;
        } else if (n == "--seed") {
            o.seed = static_cast<std::uint32_t>(parseNumber(r.value(), 0, 4294967295L, "--seed"));
        } else if (n == "--raw") {
            r.noValue();
            o.raw = true;
        } else if (n == "--command") {
            const std::string text = r.value();
            try {
                o.command = unescape(text);
            } catch (const std::invalid_argument& e) {
                throw std::invalid_argument(std::string("--command: ") + e.what());
            }
            if (o.command->empty()) {
                throw std::invalid_argument(
                    "--command needs at least one byte, e.g. --command '1\\r'");
            }
        } else if (n == "--no-command") {
            r.noValue();
            o.noCommand = true;
        } else if (n == "--answer-only") {
            r.noValue();
            o.answerOnly = true;
        } else {
            throw std::invalid_argument("unknown option '" + n + "'");
        }
    }
    if (o.help || o.listPresets) {
        return o;
    }
    if (o.drift) {
        if (!o.sources.empty()) {
            throw std::invalid_argument("--drift makes its own lines; leave out --line and --file");
        }
        if (!presetGiven) {
            // A scale of the common kind.
            if (const Preset* p = findPreset("scale", catalog)) {
                o.presetData = *p;
            }
        }
        if (!o.presetData || !o.presetData->drift) {
            throw std::invalid_argument(o.presetData ? o.presetData->noDrift
                                                     : std::string("--drift needs --preset"));
        }
    } else if (o.seed) {
        throw std::invalid_argument("--seed only matters with --drift");
    }
    if (o.raw) {
        if (o.sources.empty()) {
            throw std::invalid_argument(
                "--raw applies to the bytes of --line and --file; give one");
        }
        if (o.terminator) {
            throw std::invalid_argument(
                "--raw adds no terminator; write it into the bytes (e.g. \\r) instead of "
                "--terminator");
        }
    }
    if (o.sources.empty() && !o.presetData) {
        throw std::invalid_argument("nothing to send: give --line, --file, --preset or --drift");
    }
    if (o.command && o.noCommand) {
        throw std::invalid_argument("--command and --no-command contradict each other");
    }
    if (o.answerOnly && o.noCommand) {
        throw std::invalid_argument("--answer-only and --no-command contradict each other");
    }
    if (o.answerOnly && o.dataCommand().empty()) {
        throw std::invalid_argument(
            "--answer-only needs a data command: a preset that has one, or --command");
    }
    if (!o.device.empty() && o.waitReader.value_or(false)) {
        throw std::invalid_argument(
            "--wait-reader works only on the pseudo-terminal (without --device)");
    }
    return o;
}

// The lines to send, in command-line order; the preset's when no --line or --file is given
// (none with --drift, which makes its own). Throws std::invalid_argument for an unreadable
// file or a bad escape.
inline std::vector<std::string> loadLines(const SimOptions& o) {
    std::vector<std::string> lines;
    if (o.sources.empty()) {
        if (o.presetData && !o.drift) {
            lines = o.presetData->lines;
        }
        return lines;
    }
    for (const LineSource& s : o.sources) {
        if (!s.fromFile) {
            lines.push_back(unescape(s.text));
            continue;
        }
        std::ifstream in(s.text, std::ios::binary);
        if (!in) {
            throw std::invalid_argument("--file: cannot read '" + s.text + "'");
        }
        std::string text;
        int number = 0;
        while (std::getline(in, text)) {
            ++number;
            // A file written on Windows should not send its CR as part of the line.
            if (!text.empty() && text.back() == '\r') {
                text.pop_back();
            }
            try {
                lines.push_back(unescape(text));
            } catch (const std::invalid_argument& e) {
                throw std::invalid_argument(s.text + ":" + std::to_string(number) + ": " +
                                            e.what());
            }
        }
        if (in.bad()) {
            throw std::invalid_argument("--file: error reading '" + s.text + "'");
        }
    }
    if (lines.empty()) {
        throw std::invalid_argument("nothing to send: the files hold no lines");
    }
    return lines;
}

struct ReaderOptions {
    bool help = false;
    std::string port;
    int baud = 9600;
    int terminator = 13;
    // 0 = until stopped.
    long count = 0;
};

inline ReaderOptions parseReaderOptions(const std::vector<std::string>& args) {
    ReaderOptions o;
    ArgReader r(args);
    while (r.next()) {
        const std::string& n = r.name();
        if (n == "--help" || n == "-h") {
            r.noValue();
            o.help = true;
        } else if (n == "--port") {
            o.port = r.value();
        } else if (n == "--baud") {
            o.baud = static_cast<int>(parseNumber(r.value(), 1, 4000000, "--baud"));
        } else if (n == "--terminator") {
            o.terminator = parseTerminatorByte(r.value());
        } else if (n == "--count") {
            o.count = parseNumber(r.value(), 1, 1000000000, "--count");
        } else {
            throw std::invalid_argument("unknown option '" + n + "'");
        }
    }
    if (!o.help && o.port.empty()) {
        throw std::invalid_argument("--port is required");
    }
    return o;
}

}  // namespace tools
