#include "quorvel/config/ConfigHelper.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>

#include "quorvel/util/BigDecimal.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/util/NumberFormatException.h"

namespace quorvel::config {

namespace {

using H = ConfigHelper;

// Rows name their constant once; the stored name is the identifier itself, so the two cannot
// drift apart. LIT rows carry a literal label, KEY rows a key of the configuration bundle.
#define LIT(Type, Const, label, payload)              \
    ChoiceEntry<H::Type> {                            \
        H::Type::Const, #Const, label, false, payload \
    }
#define KEY(Type, Const, key, payload)             \
    ChoiceEntry<H::Type> {                         \
        H::Type::Const, #Const, key, true, payload \
    }
// A constant whose text form is its own name.
#define NAMED(Type, Const) LIT(Type, Const, #Const, 0)

constexpr ChoiceEntry<H::BitRates> kBitRates[] = {
    LIT(BitRates, BR_110, "110", 0),       LIT(BitRates, BR_150, "150", 0),
    LIT(BitRates, BR_300, "300", 0),       LIT(BitRates, BR_600, "600", 0),
    LIT(BitRates, BR_1200, "1200", 0),     LIT(BitRates, BR_2400, "2400", 0),
    LIT(BitRates, BR_4800, "4800", 0),     LIT(BitRates, BR_9600, "9600", 0),
    LIT(BitRates, BR_19200, "19200", 0),   LIT(BitRates, BR_38400, "38400", 0),
    LIT(BitRates, BR_57600, "57600", 0),   LIT(BitRates, BR_115200, "115200", 0),
    LIT(BitRates, BR_230400, "230400", 0), LIT(BitRates, BR_460800, "460800", 0),
    LIT(BitRates, BR_921600, "921600", 0),
};

constexpr ChoiceEntry<H::DataBits> kDataBits[] = {
    LIT(DataBits, LN_5BITS, "5", 0),
    LIT(DataBits, LN_6BITS, "6", 0),
    LIT(DataBits, LN_7BITS, "7", 0),
    LIT(DataBits, LN_8BITS, "8", 0),
};

constexpr ChoiceEntry<H::StopBits> kStopBits[] = {
    LIT(StopBits, ST_1BITS, "1", 0),
    LIT(StopBits, ST_2BITS, "2", 0),
};

constexpr ChoiceEntry<H::Parity> kParity[] = {
    NAMED(Parity, NONE), NAMED(Parity, ODD),   NAMED(Parity, EVEN),
    NAMED(Parity, MARK), NAMED(Parity, SPACE),
};

constexpr ChoiceEntry<H::Connect> kConnect[] = {
    KEY(Connect, MANUAL, "manual", 0),
    KEY(Connect, AUTO, "auto", 0),
};

constexpr ChoiceEntry<H::InputTerminator> kInputTerminator[] = {
    LIT(InputTerminator, EOT, "4 <EOT>", 4),
    LIT(InputTerminator, LF, "10 <LF>", 10),
    LIT(InputTerminator, CR, "13 <CR>", 13),
};

// Payloads are virtual key codes; the function keys follow each other from F1 = 112.
constexpr ChoiceEntry<H::StartWith> kStartWith[] = {
    KEY(StartWith, NONE, "key.none", 0), KEY(StartWith, ENTER, "enter", 10),
    KEY(StartWith, TAB, "tab", 9),       KEY(StartWith, RIGHT, "right", 39),
    KEY(StartWith, DOWN, "down", 40),    KEY(StartWith, DELETE, "delete", 127),
    LIT(StartWith, MULTIPLY, "*", 106),  LIT(StartWith, F1, "F1", 112),
    LIT(StartWith, F2, "F2", 113),       LIT(StartWith, F3, "F3", 114),
    LIT(StartWith, F4, "F4", 115),       LIT(StartWith, F5, "F5", 116),
    LIT(StartWith, F6, "F6", 117),       LIT(StartWith, F7, "F7", 118),
    LIT(StartWith, F8, "F8", 119),       LIT(StartWith, F9, "F9", 120),
    LIT(StartWith, F10, "F10", 121),     LIT(StartWith, F11, "F11", 122),
    LIT(StartWith, F12, "F12", 123),
};

constexpr ChoiceEntry<H::OutputTerminator> kOutputTerminator[] = {
    KEY(OutputTerminator, NONE, "key.none", 0), KEY(OutputTerminator, ENTER, "enter", 10),
    KEY(OutputTerminator, TAB, "tab", 9),       KEY(OutputTerminator, RIGHT, "right", 39),
    KEY(OutputTerminator, DOWN, "down", 40),
};

// Payloads are General MIDI percussion keys.
constexpr ChoiceEntry<H::Sound> kSound[] = {
    KEY(Sound, NONE, "sound.none", 0),         LIT(Sound, RIDE_BELL, "Ride Bell", 53),
    LIT(Sound, COWBELL, "Cowbell", 56),        LIT(Sound, HIGH_AGOGO, "High Agogo", 67),
    LIT(Sound, LOW_AGOGO, "Low Agogo", 68),    LIT(Sound, CLAVES, "Claves", 75),
    LIT(Sound, OPEN_TRIANGLE, "Triangle", 81),
};

constexpr ChoiceEntry<H::MathOperation> kMathOperation[] = {
    KEY(MathOperation, NONE, "math.none", 0),
    KEY(MathOperation, MULTIPLY, "multiply", 0),
    KEY(MathOperation, DIVIDE, "divide", 0),
};

#define ROUNDING(Const, label) \
    LIT(RoundingMethod, Const, label, static_cast<int>(util::RoundingMode::Const))
constexpr ChoiceEntry<H::RoundingMethod> kRoundingMethod[] = {
    ROUNDING(CEILING, "ceiling"),
    ROUNDING(DOWN, "down"),
    ROUNDING(FLOOR, "floor"),
    ROUNDING(HALF_DOWN, "half down"),
    ROUNDING(HALF_EVEN, "half even"),
    ROUNDING(HALF_UP, "half up"),
    ROUNDING(UP, "up"),
};
#undef ROUNDING

constexpr ChoiceEntry<H::DecimalSeparator> kDecimalSeparator[] = {
    KEY(DecimalSeparator, DOT, "dot", 0),
    KEY(DecimalSeparator, COMMA, "comma", 0),
};

constexpr ChoiceEntry<H::EditOperation> kEditOperation[] = {
    KEY(EditOperation, REMOVE, "edit.remove", 0),
    KEY(EditOperation, KEEP, "edit.keep", 0),
};

constexpr ChoiceEntry<H::EditPosition> kEditPosition[] = {
    KEY(EditPosition, FIRST, "edit.first", 0),
    KEY(EditPosition, LAST, "edit.last", 0),
};

constexpr ChoiceEntry<H::KeyboardType> kKeyboardType[] = {
    KEY(KeyboardType, QUERTY, "keyboardType.default", 0),
    KEY(KeyboardType, US_INTERNATIONAL, "keyboardType.us_international", 0),
    KEY(KeyboardType, AZERTY, "keyboardType.azerty", 0),
    KEY(KeyboardType, GERMAN, "keyboardType.german", 0),
};

constexpr ChoiceEntry<H::KeyMapType> kKeyMapType[] = {
    NAMED(KeyMapType, NUMERIC),
    NAMED(KeyMapType, ALPHANUMERIC_BASIC),
    NAMED(KeyMapType, ALPHANUMERIC_COMPLETE),
};

constexpr ChoiceEntry<H::InstrumentType> kInstrumentType[] = {
    NAMED(InstrumentType, NUMBER),
    NAMED(InstrumentType, TEXT),
};

#define INSTR_L(Const, label) LIT(Instrument, Const, label, 0)
#define INSTR_K(Const, key) KEY(Instrument, Const, key, 0)
constexpr ChoiceEntry<H::Instrument> kInstrument[] = {
    INSTR_K(GENERIC, "generic"),
    INSTR_K(BARCODE, "barcode_numeric"),
    INSTR_K(BARCODE_ALPHA, "barcode_alphanumeric"),
    INSTR_K(BARCODE_ALPHA_COMPLETE, "barcode_alphanumeric_complete"),
    INSTR_L(AND, "A&D"),
    INSTR_L(AND_SIMPLE, "A&D (no handshaking)"),
    INSTR_L(AND_EM, "A&D EM"),
    INSTR_K(ADAM_AZEXTRA_WEIGHT, "adam_azextra_weight"),
    INSTR_L(ADAM_CBK, "Adam CBK/GBK/GFK"),
    INSTR_L(ADAM_CPWPLUS, "Adam CPWplus"),
    INSTR_K(ADAM_GC_WEIGHT, "adam_gbc_gfc_weight"),
    INSTR_K(ADAM_GC_PCS, "adam_gbc_gfc_pcs"),
    INSTR_L(ADAM_HCB, "Adam Highland (HCB)"),
    INSTR_L(ADAM_LABEL, "Adam label format"),
    INSTR_L(KERN_572, "Kern 572"),
    INSTR_L(KERND_DE, "Kern DE"),
    INSTR_L(KERN_DS, "Kern DS"),
    INSTR_L(KERN_FKB, "Kern FKB"),
    INSTR_L(KERN_KB_N, "Kern KB-N"),
    INSTR_L(KERN_KFB, "Kern KFB"),
    INSTR_L(KERN_MPS, "Kern MPS / MPT / MXS / MWS / MTS / MCB"),
    INSTR_L(KEYENCE_IL, "Keyence IL"),
    INSTR_L(METTLER_DIALOG, "Mettler Toledo Dialog"),
    INSTR_L(METTLER_PRINT, "Mettler Toledo Print"),
    INSTR_L(MITUTOYO, "Mitutoyo 264-007"),
    INSTR_L(MITUTOYO_LSM_6200, "Mitutoyo LSM-6200"),
    INSTR_L(MYWEIGH_HD, "MyWeigh HD"),
    INSTR_L(OHAUS, "Ohaus"),
    INSTR_L(OHAUSSPU, "Ohaus SPU,TA,NV"),
    INSTR_L(PRECISA, "Precisa"),
    INSTR_L(SARTORIUS, "Sartorius"),
    INSTR_L(SCHLAGE_HANDPUNCH, "Schlage HandPunch (employee ID)"),
    INSTR_L(TANITA_TL280, "Tanita TL-280/TL-290"),
    INSTR_L(WEDDERBURN, "Wedderburn"),
    INSTR_L(TOLEDO_CONTINUOUS, "Toledo continuous (Mettler Toledo IND, Rice Lake, Cardinal, Fairbanks)"),
    INSTR_L(RADWAG, "Radwag"),
    INSTR_L(SHIMADZU, "Shimadzu"),
    INSTR_L(ST_GS_INDICATOR, "Indicator ST,GS (CAS, Tiger, Selleton and others)"),
    INSTR_L(RINSTRUM, "Rinstrum R300 / C500"),
    INSTR_L(NCI, "NCI protocol (Weigh-Tronix, Avery, Brecknell, Adam MDW)"),
    INSTR_L(FAIRBANKS, "Fairbanks (demand output)"),
    INSTR_L(KERN_EW, "Kern EW / EG / EWB"),
};
#undef INSTR_L
#undef INSTR_K

#undef NAMED
#undef KEY
#undef LIT

// Setting<E> finds a constant's row by indexing with the constant, so every row must sit at
// the position of its constant, and the last row must be the last constant.
template <typename E, std::size_t N>
constexpr bool completeInOrder(const ChoiceEntry<E> (&rows)[N], E last) {
    for (std::size_t i = 0; i < N; ++i)
        if (static_cast<std::size_t>(rows[i].value) != i)
            return false;
    return rows[N - 1].value == last;
}

static_assert(completeInOrder(kBitRates, H::BitRates::BR_921600));
static_assert(completeInOrder(kDataBits, H::DataBits::LN_8BITS));
static_assert(completeInOrder(kStopBits, H::StopBits::ST_2BITS));
static_assert(completeInOrder(kParity, H::Parity::SPACE));
static_assert(completeInOrder(kConnect, H::Connect::AUTO));
static_assert(completeInOrder(kInputTerminator, H::InputTerminator::CR));
static_assert(completeInOrder(kStartWith, H::StartWith::F12));
static_assert(completeInOrder(kOutputTerminator, H::OutputTerminator::DOWN));
static_assert(completeInOrder(kSound, H::Sound::OPEN_TRIANGLE));
static_assert(completeInOrder(kMathOperation, H::MathOperation::DIVIDE));
static_assert(completeInOrder(kRoundingMethod, H::RoundingMethod::UP));
static_assert(completeInOrder(kDecimalSeparator, H::DecimalSeparator::COMMA));
static_assert(completeInOrder(kEditOperation, H::EditOperation::KEEP));
static_assert(completeInOrder(kEditPosition, H::EditPosition::LAST));
static_assert(completeInOrder(kKeyboardType, H::KeyboardType::GERMAN));
static_assert(completeInOrder(kKeyMapType, H::KeyMapType::ALPHANUMERIC_COMPLETE));
static_assert(completeInOrder(kInstrumentType, H::InstrumentType::TEXT));
static_assert(completeInOrder(kInstrument, H::Instrument::KERN_EW));
static_assert(std::size(kInstrument) == 42);

}  // namespace

// Blanks, a point or any other character make the text not an integer.
std::optional<int> ConfigHelper::parseInt(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the most negative value fits.
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 - (c - u'0');
        if (value < INT32_MIN)
            return std::nullopt;
    }
    if (!negative) {
        value = -value;
        if (value > INT32_MAX)
            return std::nullopt;
    }
    return static_cast<int>(value);
}

namespace {

bool isEmptyOrIntIn(const QString& text, std::int64_t low, std::int64_t high) {
    if (text.isEmpty())
        return true;
    const auto value = ConfigHelper::parseInt(text);
    return value && *value >= low && *value <= high;
}

std::optional<util::BigDecimal> parseDecimal(const QString& text) {
    try {
        return util::BigDecimal::parse(text);
    } catch (const util::NumberFormatException&) {
        return std::nullopt;
    }
}

// Position of the first `bracket` that is not directly preceded by a backslash, or -1.
qsizetype firstUnescaped(const QString& text, QChar bracket) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == bracket && (i == 0 || text[i - 1] != u'\\'))
            return i;
    return -1;
}

}  // namespace

#define TOLVANE_TABLE_ENTRIES(Type, rows)                                                         \
    std::span<const ChoiceEntry<ConfigHelper::Type>> ChoiceTable<ConfigHelper::Type>::entries() { \
        return rows;                                                                              \
    }

TOLVANE_TABLE_ENTRIES(BitRates, kBitRates)
TOLVANE_TABLE_ENTRIES(DataBits, kDataBits)
TOLVANE_TABLE_ENTRIES(StopBits, kStopBits)
TOLVANE_TABLE_ENTRIES(Parity, kParity)
TOLVANE_TABLE_ENTRIES(Connect, kConnect)
TOLVANE_TABLE_ENTRIES(InputTerminator, kInputTerminator)
TOLVANE_TABLE_ENTRIES(StartWith, kStartWith)
TOLVANE_TABLE_ENTRIES(OutputTerminator, kOutputTerminator)
TOLVANE_TABLE_ENTRIES(Sound, kSound)
TOLVANE_TABLE_ENTRIES(MathOperation, kMathOperation)
TOLVANE_TABLE_ENTRIES(RoundingMethod, kRoundingMethod)
TOLVANE_TABLE_ENTRIES(DecimalSeparator, kDecimalSeparator)
TOLVANE_TABLE_ENTRIES(EditOperation, kEditOperation)
TOLVANE_TABLE_ENTRIES(EditPosition, kEditPosition)
TOLVANE_TABLE_ENTRIES(KeyboardType, kKeyboardType)
TOLVANE_TABLE_ENTRIES(KeyMapType, kKeyMapType)
TOLVANE_TABLE_ENTRIES(InstrumentType, kInstrumentType)
TOLVANE_TABLE_ENTRIES(Instrument, kInstrument)

#undef TOLVANE_TABLE_ENTRIES

QString configBundleText(const char* key) {
    return util::Bundle::config().getString(QString::fromLatin1(key));
}

void throwUnknownConstant(const char* what, const QString& text) {
    throw std::invalid_argument(std::string(what) + text.toStdString());
}

// --- payloads ---

int ConfigHelper::getKeyCode(StartWith key) {
    return Setting<StartWith>::payload(key);
}

int ConfigHelper::getKeyCode(OutputTerminator key) {
    return Setting<OutputTerminator>::payload(key);
}

int ConfigHelper::getPercussionNumber(Sound sound) {
    return Setting<Sound>::payload(sound);
}

int ConfigHelper::getByteValue(InputTerminator terminator) {
    return Setting<InputTerminator>::payload(terminator);
}

std::optional<ConfigHelper::InputTerminator> ConfigHelper::inputTerminatorForValue(int byteValue) {
    for (const auto& e : ChoiceTable<InputTerminator>::entries())
        if (e.payload == byteValue)
            return e.value;
    return std::nullopt;
}

util::RoundingMode ConfigHelper::getRoundingMode(RoundingMethod method) {
    return static_cast<util::RoundingMode>(Setting<RoundingMethod>::payload(method));
}

// --- text-valued settings ---

QString ConfigHelper::MathOperand::getDefault() {
    return QString("");
}

bool ConfigHelper::MathOperand::isValid(const QString& text) {
    if (text.isEmpty())
        return true;
    // A zero multiplier or divisor is refused only in this one spelling; "0.0" is another text.
    if (text == u"0")
        return false;
    return parseDecimal(text).has_value();
}

QString ConfigHelper::DecimalPlaces::getDefault() {
    return QString("");
}

bool ConfigHelper::DecimalPlaces::isValid(const QString& text) {
    return isEmptyOrIntIn(text, 0, 7);
}

QString ConfigHelper::RequestInterval::getDefault() {
    return QString("0");
}

bool ConfigHelper::RequestInterval::isValid(const QString& text) {
    return text == u"0" || (!text.isEmpty() && isEmptyOrIntIn(text, 100, 86400000));
}

QString ConfigHelper::RequestCommand::getDefault() {
    return QString("");
}

std::optional<QByteArray> ConfigHelper::RequestCommand::decode(const QString& text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.unicode() > 0xFF)
            return std::nullopt;  // one byte per character: Latin-1 at most
        if (c != u'\\') {
            out.append(static_cast<char>(c.unicode()));
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i].unicode()) {
            case u'r': out.append('\r'); break;
            case u'n': out.append('\n'); break;
            case u't': out.append('\t'); break;
            case u'\\': out.append('\\'); break;
            case u'x': {
                bool ok = false;
                const uint value = text.mid(i + 1, 2).toUInt(&ok, 16);
                if (!ok || text.mid(i + 1, 2).size() != 2)
                    return std::nullopt;
                out.append(static_cast<char>(value));
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

bool ConfigHelper::RequestCommand::isValid(const QString& text) {
    return decode(text).has_value();
}

QString ConfigHelper::RequestHotkey::getDefault() {
    return QString("");
}

bool ConfigHelper::RequestHotkey::isValid(const QString& text) {
    static const QRegularExpression chord(
        QStringLiteral("^(?:(?:Ctrl|Control|Alt|Shift|Meta|Super)\\+)*"
                       "(?:F(?:[1-9]|1[0-9]|2[0-4])|[A-Z0-9]|Space|Pause|Insert|Home|End|"
                       "PageUp|PageDown|ScrollLock)$"),
        QRegularExpression::CaseInsensitiveOption);
    return text.isEmpty() || chord.match(text).hasMatch();
}

QString ConfigHelper::ValueLog::getDefault() {
    return QString("");
}

bool ConfigHelper::ValueLog::isValid(const QString& text) {
    if (text.isEmpty())
        return true;
    for (const QChar c : text)
        if (c.unicode() < 0x20)
            return false;
    return text.startsWith(u'/');
}

QString ConfigHelper::CustomRegEx::getDefault() {
    return QString("");
}

bool ConfigHelper::CustomRegEx::isValid(const QString& text) {
    if (text.isEmpty())
        return true;
    if (!QRegularExpression(text).isValid())
        return false;
    // The value is taken from a group, so a group has to open before anything closes.
    return firstUnescaped(text, u'(') < firstUnescaped(text, u')');
}

QString ConfigHelper::Delay::getDefault() {
    return QString("20");
}

bool ConfigHelper::Delay::isValid(const QString& text) {
    return isEmptyOrIntIn(text, 0, 1000);
}

QString ConfigHelper::EditNumCharacters::getDefault() {
    return QString("");
}

bool ConfigHelper::EditNumCharacters::isValid(const QString& text) {
    return isEmptyOrIntIn(text, 1, 99);
}

QString ConfigHelper::RemoveCharacters::getDefault() {
    return QString("");
}

bool ConfigHelper::RemoveCharacters::isValid(const QString& text) {
    // Received characters are bytes; a character beyond U+FFFF is two surrogate units, both
    // above 255, so it fails too.
    for (const QChar c : text)
        if (c.unicode() > 255)
            return false;
    return true;
}

QString ConfigHelper::IgnoreTimeLimit::getDefault() {
    return QString("");
}

bool ConfigHelper::IgnoreTimeLimit::isValid(const QString& text) {
    return isEmptyOrIntIn(text, 1, INT32_MAX);
}

QString ConfigHelper::IgnoreDifference::getDefault() {
    return QString("");
}

bool ConfigHelper::IgnoreDifference::isValid(const QString& text) {
    if (text.isEmpty())
        return true;
    const auto value = parseDecimal(text);
    return value && value->signum() > 0;
}

int ConfigHelper::InputTerminatorValue::getDefault() {
    return 13;
}

bool ConfigHelper::InputTerminatorValue::isValid(int value) {
    return value >= 0 && value <= 255;
}

}  // namespace quorvel::config
