#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <span>
#include <vector>

#include "quorvel/util/RoundingMode.h"

namespace quorvel::config {

// The setting types: each choice type is an ordered, fixed set of constants with a name (its
// stored form), a position and a display label; Setting<E> below answers the common questions
// for all of them from one table per type. Text-valued settings are small structs with a
// default and a validity test.
class ConfigHelper {
public:
    // Serial line (stored as their position, which is also the serial configuration's index).
    enum class BitRates {
        BR_110, BR_150, BR_300, BR_600, BR_1200, BR_2400, BR_4800, BR_9600,
        BR_19200, BR_38400, BR_57600, BR_115200, BR_230400, BR_460800, BR_921600
    };
    enum class DataBits { LN_5BITS, LN_6BITS, LN_7BITS, LN_8BITS };
    enum class StopBits { ST_1BITS, ST_2BITS };
    enum class Parity { NONE, ODD, EVEN, MARK, SPACE };
    enum class Connect { MANUAL, AUTO };

    // Framing and output.
    enum class InputTerminator { EOT, LF, CR };
    enum class StartWith {
        NONE, ENTER, TAB, RIGHT, DOWN, DELETE, MULTIPLY,
        F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12
    };
    enum class OutputTerminator { NONE, ENTER, TAB, RIGHT, DOWN };
    enum class Sound { NONE, RIDE_BELL, COWBELL, HIGH_AGOGO, LOW_AGOGO, CLAVES, OPEN_TRIANGLE };

    // Numbers.
    enum class MathOperation { NONE, MULTIPLY, DIVIDE };
    enum class RoundingMethod { CEILING, DOWN, FLOOR, HALF_DOWN, HALF_EVEN, HALF_UP, UP };
    enum class DecimalSeparator { DOT, COMMA };

    // Editing.
    enum class EditOperation { REMOVE, KEEP };
    enum class EditPosition { FIRST, LAST };

    // Keyboard.
    enum class KeyboardType { QUERTY, US_INTERNATIONAL, AZERTY, GERMAN };
    enum class KeyMapType { NUMERIC, ALPHANUMERIC_BASIC, ALPHANUMERIC_COMPLETE };

    // Instruments (their per-preset answers are in Instrument.h).
    enum class InstrumentType { NUMBER, TEXT };
    enum class Instrument {
        GENERIC, BARCODE, BARCODE_ALPHA, BARCODE_ALPHA_COMPLETE,
        AND, AND_SIMPLE, AND_EM,
        ADAM_AZEXTRA_WEIGHT, ADAM_CBK, ADAM_CPWPLUS, ADAM_GC_WEIGHT, ADAM_GC_PCS, ADAM_HCB,
        ADAM_LABEL,
        KERN_572, KERND_DE, KERN_DS, KERN_FKB, KERN_KB_N, KERN_KFB, KERN_MPS,
        KEYENCE_IL, METTLER_DIALOG, METTLER_PRINT, MITUTOYO, MITUTOYO_LSM_6200, MYWEIGH_HD,
        OHAUS, OHAUSSPU, PRECISA, SARTORIUS, SCHLAGE_HANDPUNCH, TANITA_TL280, WEDDERBURN,
        // Added later: stored names and positions of the ones above stay as they were.
        TOLEDO_CONTINUOUS, RADWAG, SHIMADZU, ST_GS_INDICATOR, RINSTRUM, NCI, FAIRBANKS, KERN_EW
    };

    // --- text-valued settings: a default and a validity test each ---
    struct MathOperand {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    struct DecimalPlaces {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    struct CustomRegEx {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    struct Delay {
        static QString getDefault();  // "20"
        static bool isValid(const QString& text);
    };
    struct EditNumCharacters {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    struct RemoveCharacters {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    struct IgnoreTimeLimit {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    struct IgnoreDifference {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    // Milliseconds between two requests for a reading: "0" (off) or 100 up to one day.
    struct RequestInterval {
        static QString getDefault();  // "0"
        static bool isValid(const QString& text);
    };
    // The bytes that ask the instrument for a reading, written with \r, \n, \t, \\ and \xHH;
    // empty: the preset's own data command.
    struct RequestCommand {
        static QString getDefault();
        static bool isValid(const QString& text);
        // The bytes, or none when an escape is broken.
        static std::optional<QByteArray> decode(const QString& text);
    };
    // A key with optional modifiers, such as "F9" or "Ctrl+Shift+R"; empty: none.
    struct RequestHotkey {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    // The file every reading is recorded to; empty: none. Only an absolute path.
    struct ValueLog {
        static QString getDefault();
        static bool isValid(const QString& text);
    };
    // The input terminator is any byte value; the constants above are only its presets.
    struct InputTerminatorValue {
        static int getDefault();  // 13
        static bool isValid(int value);  // 0..255
    };

    // A base-10 integer: optional sign, ASCII digits only, within 32 bits; none otherwise.
    static std::optional<int> parseInt(const QString& text);

    // --- payloads of the choice constants ---
    static int getKeyCode(StartWith key);         // virtual key code, 0 for NONE
    static int getKeyCode(OutputTerminator key);  // virtual key code, 0 for NONE
    static int getPercussionNumber(Sound sound);  // General MIDI percussion key, 0 for NONE
    static int getByteValue(InputTerminator terminator);
    static std::optional<InputTerminator> inputTerminatorForValue(int byteValue);
    static util::RoundingMode getRoundingMode(RoundingMethod method);

    // Character -> keys to press in order (released in reverse) for typing it on `keyboard`,
    // limited to the character set of `mapType`. A character that is absent cannot be typed.
    using Keymap = std::map<char16_t, std::vector<int>>;
    static Keymap getKeymap(KeyboardType keyboard, KeyMapType mapType);
};

// One row of a choice type's table.
template <typename E>
struct ChoiceEntry {
    E value;
    const char* name;   // the constant's name, also its stored form
    const char* label;  // literal text, or a key of the bundle "quorvel.config.ConfigBundle"
    bool labelIsKey;
    int payload;        // key code, percussion number, byte value, rounding mode; 0 if none
};

// Specialised once per choice type, with the table defined in the implementation.
template <typename E>
struct ChoiceTable;

#define TOLVANE_CHOICE_TABLE(Type, Default)                                   \
    template <>                                                               \
    struct ChoiceTable<ConfigHelper::Type> {                                  \
        static std::span<const ChoiceEntry<ConfigHelper::Type>> entries();    \
        static constexpr ConfigHelper::Type defaultValue = ConfigHelper::Type::Default; \
    }

TOLVANE_CHOICE_TABLE(BitRates, BR_9600);
TOLVANE_CHOICE_TABLE(DataBits, LN_8BITS);
TOLVANE_CHOICE_TABLE(StopBits, ST_1BITS);
TOLVANE_CHOICE_TABLE(Parity, NONE);
TOLVANE_CHOICE_TABLE(Connect, MANUAL);
TOLVANE_CHOICE_TABLE(InputTerminator, CR);
TOLVANE_CHOICE_TABLE(StartWith, NONE);
TOLVANE_CHOICE_TABLE(OutputTerminator, NONE);
TOLVANE_CHOICE_TABLE(Sound, NONE);
TOLVANE_CHOICE_TABLE(MathOperation, NONE);
TOLVANE_CHOICE_TABLE(RoundingMethod, HALF_UP);
TOLVANE_CHOICE_TABLE(DecimalSeparator, DOT);
TOLVANE_CHOICE_TABLE(EditOperation, REMOVE);
TOLVANE_CHOICE_TABLE(EditPosition, FIRST);
TOLVANE_CHOICE_TABLE(KeyboardType, QUERTY);
TOLVANE_CHOICE_TABLE(KeyMapType, NUMERIC);
TOLVANE_CHOICE_TABLE(InstrumentType, NUMBER);
TOLVANE_CHOICE_TABLE(Instrument, GENERIC);

#undef TOLVANE_CHOICE_TABLE

// Resolves a label that is a bundle key (defined with the tables).
QString configBundleText(const char* key);

// The common operations of every choice type: Setting<ConfigHelper::Sound>::fromName("COWBELL").
template <typename E>
class Setting {
public:
    using Table = ChoiceTable<E>;

    static E getDefault() { return Table::defaultValue; }
    // The default's position: the stored code of the integer-coded serial types.
    static int getDefaultCode() { return position(getDefault()); }

    static const std::vector<E>& values() {
        static const std::vector<E> all = [] {
            std::vector<E> v;
            for (const auto& e : Table::entries()) v.push_back(e.value);
            return v;
        }();
        return all;
    }
    static int size() { return static_cast<int>(Table::entries().size()); }

    // Exact, case-sensitive constant name.
    static bool isValid(const QString& name) { return find(name).has_value(); }
    // A position (code) of a constant.
    static bool isValid(int code) { return code >= 0 && code < size(); }

    static std::optional<E> find(const QString& name) {
        for (const auto& e : Table::entries())
            if (name == QLatin1String(e.name)) return e.value;
        return std::nullopt;
    }
    // Throws std::invalid_argument for a name that is not one of the constants.
    static E fromName(const QString& name);
    // Throws std::invalid_argument for a code outside 0..size()-1.
    static E fromCode(int code);

    static QString name(E value) { return QLatin1String(entry(value).name); }
    static int position(E value) { return static_cast<int>(value); }
    // The text form shown in combo boxes.
    static QString label(E value) {
        const auto& e = entry(value);
        return e.labelIsKey ? configBundleText(e.label) : QString::fromUtf8(e.label);
    }
    // The label of the constant at `code`, or an empty text outside the range.
    static QString labelOfCode(int code) { return isValid(code) ? label(fromCode(code)) : QString(""); }
    static int payload(E value) { return entry(value).payload; }

private:
    static const ChoiceEntry<E>& entry(E value) {
        return Table::entries()[static_cast<std::size_t>(value)];
    }
};

// Out of line so the header needs no <stdexcept> users to agree on messages.
[[noreturn]] void throwUnknownConstant(const char* what, const QString& text);

template <typename E>
E Setting<E>::fromName(const QString& name) {
    if (auto v = find(name)) return *v;
    throwUnknownConstant("No constant named ", name);
}

template <typename E>
E Setting<E>::fromCode(int code) {
    if (!isValid(code)) throwUnknownConstant("No constant at position ", QString::number(code));
    return Table::entries()[static_cast<std::size_t>(code)].value;
}

}  // namespace quorvel::config
