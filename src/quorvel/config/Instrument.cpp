#include "quorvel/config/Instrument.h"

#include <QByteArray>
#include <QHash>
#include <QRegularExpression>

#include <array>
#include <cstddef>
#include <mutex>
#include <span>

#include "quorvel/config/Config.h"
#include "quorvel/config/LineFormat.h"
#include "quorvel/util/Bundle.h"

namespace quorvel::config {

namespace {

using I = ConfigHelper::Instrument;
using Type = ConfigHelper::InstrumentType;
using Keys = ConfigHelper::KeyMapType;

// Serial codes are positions of the serial setting types.
constexpr int BR_1200 = 4;
constexpr int BR_2400 = 5;
constexpr int BR_4800 = 6;
constexpr int BR_9600 = 7;
constexpr int BITS_7 = 2;
constexpr int BITS_8 = 3;
constexpr int NONE = 0;
constexpr int ODD = 1;
constexpr int EVEN = 2;
constexpr int SPACE = 4;
constexpr int STOP_1 = 0;
constexpr int LF = 10;
constexpr int CR = 13;
constexpr int ETX = 3;

struct Serial {
    int bitRate;
    int dataBits;
    int parity;
    int stopBits;
    int inputTerminator;
};

// Placeholder for rows that take their serial defaults from another row.
constexpr Serial AS_OTHER{-1, -1, -1, -1, -1};

struct Sample {
    const char* line;
    const char* value;  // "" = the line yields no value
};

// Which answers a row leaves to the row named in `as`.
enum Delegate : unsigned {
    OWN = 0,
    SERIAL = 1u << 0,
    PATTERN = 1u << 1,
    SAMPLES = 1u << 2,
};

struct Preset {
    I value;
    Serial serial;
    Type type;
    Keys keyMap;
    const char* regEx;
    const char* dataCommand;
    const char* noteKey;  // nullptr = no note
    std::span<const Sample> samples;
    I as;
    unsigned delegated;
};

// The number most scales send, with optional sign and blanks in front of it. Barcode presets
// keep it as it always was.
constexpr const char* NUMBER_REGEX = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+))";
// The generic reader's number: its digits never start inside a word or right after a point,
// a comma never starts it ("ST,GS,10.00" is 10.00, not ,10), and digits joined by "/", ":",
// "-" or a second point (14.01.2011, 2021-03-15, 09:43) are a date or a time, not a reading.
// A sign may follow a letter (Shimadzu "U-7.31"); bracketed digits belong to the number.
constexpr const char* GENERIC_REGEX =
    R"(((?:(?<![0-9])[-+])?\s*(?<![\w.])(?<![0-9][-:/]))"
    R"((?:[0-9]+(?:[\.,][0-9]+)?(?:\[[0-9]+\])?|\.[0-9]+))(?![0-9]|\.[0-9]|[0-9.,]*[:/]|-[0-9]))";
// A unit token right after a number: what tells a weight from IDs, counters and dates.
#define UNIT_TOKEN R"((?i:kg|mg|g|lbs?|ozt|oz|dwt|ct|gn|gr|tl[a-z]?|mom|t|n|%|pcs|pc)(?![A-Za-z]))"
// A number followed by a unit (Adam print blocks, Highland, CPWplus).
constexpr const char* NUMBER_WITH_UNIT = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s*)" UNIT_TOKEN;

constexpr const char* P1 = R"(([\dA-Z]+))";
// Printable ASCII 0x20..0x7E, spelled out piece by piece; ']' leads so it is taken literally.
constexpr const char* P2 = R"re(([] !-/\d:-@A-Z[\\^_`a-z{|}~]+))re";
// A&D: the signed value at the start of the line or right after a field separator, so that
// ID, date and time fields in front of it are passed over; or the MT-format line (no sign).
constexpr const char* P3 =
    R"((?|(?:^|[,;\t ])\s*([-+][0-9]*[\.,]?[0-9]+)|^(?:S[ D]| D)\s+(-?[0-9]*[\.,]?[0-9]+)\s*[A-Za-z%]))";
constexpr const char* P4 = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)kg)";
// The memory total "Wt." counts as a weight too ("Unit Wt." is turned away by the format).
constexpr const char* P5 = R"(Wt\.?\s?([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* P6 = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(pcs))";
constexpr const char* P7 =
    R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(kg|g|lb|oz|pcs|ct|d|GN|ozt|dwt|MM|TlH|TlC|Tlt|t|N|g2|TlJ))";
constexpr const char* P8 = R"(^N.*?(-?\s*[0-9]*[\.,]?[0-9]+)\s*kg)";
// Keyence: only the data field of a known answer (DR, the P.V. item 037 of SR, M0, MS).
constexpr const char* P9 =
    R"(^(?:DR,[0-9]{2},|SR,[0-9]{2},037,|M0,|MS,[0-9]{2},)([+-]+\d*\.?\d+))";
// Mitutoyo: code, any channel 01-99, item letter, then the value.
constexpr const char* P10 = R"(^[0-9]{2}[A-Z]([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* P11 = R"(([-+]?\s*[0-9]*\.+[0-9]+))";
// Only a verified identity carries an ID.
constexpr const char* P12 = R"(VERIFIED FOR ID\s*\(\s*([0-9]*)\))";
// Tanita: the value after a weight header (kg, lb, g), with or without blanks after commas;
// or the two-letter header format of the WB scales.
constexpr const char* P13 =
    R"((?|(?:^|,)\s*W[kpg]\s*,\s*([-+]?\s*[0-9]*\.?[0-9]+)|^S[ D]\s+([-+]?[0-9]*\.?[0-9]+)\s*(?:kg|lb)))";
constexpr const char* P14 = R"(^0(-?\s+[0-9]*\.?[0-9]+))";

// Kern 572 family: the last number of the line, followed by nothing but an optional unit, so
// that a leading counter or flag is passed over.
constexpr const char* KERN_572_REGEX =
    R"((?<![0-9.,])([-+]?\s*[0-9]*[\.,]?[0-9]+)\s*(?:[A-Za-z%]{1,3}\s*)?$)";
// Kern KFB/KXS: after the status and gross/net/tare headers, or the three check flags.
constexpr const char* KERN_KFB_REGEX =
    R"(^(?:(?:ST|US|GS|NT|TR|GW|TW|G|N|T)\s*[, ]\s*)*(?:[01]{3}\s*(?=[-+]))?([-+]?\s*[0-9]*[\.,]?[0-9]+))";
// MT-SICS: weight answers and tare answers only.
constexpr const char* SICS_REGEX = R"(^(?:S [SD]|T S|TA A)\s+(-?\s*[0-9]*[\.,]?[0-9]+))";
// Mettler print format: identification code, then the net or plain value and its unit;
// gross and tare lines of a print-out are other quantities.
constexpr const char* METTLER_PRINT_REGEX =
    R"(^(?:S[ D]| D)?\s*(?:(?:N|NET|Net)\s*:?\s+)?(-?[0-9]*[\.,]?[0-9]+)\s*[A-Za-z%])";
constexpr const char* MYWEIGH_REGEX = R"(^:W([- ]?[0-9]*[\.,]?[0-9]+))";
// Ohaus: the first field, and it must be followed by a unit.
constexpr const char* OHAUS_REGEX = R"(^\s*(-?\s*[0-9]*[\.,]?[0-9]+)\s+)" UNIT_TOKEN;
// Precisa: a net line or a plain value with its unit, or an MT-SICS answer.
constexpr const char* PRECISA_REGEX =
    R"((?|^\s*(?:N\s*:\s*)?([-+]?\s*[0-9]*[\.,]?[0-9]+)\s*)" UNIT_TOKEN
    R"(|^S [SD]\s+(-?[0-9]*[\.,]?[0-9]+)))";
// A number as a bracketing balance writes it: non-verified digits in brackets, and nothing
// glued to it that would make it a date or a version.
#define BRACKETED_NUMBER \
    R"((?=[0-9.,\[]*[0-9])[0-9]*[\.,]?[0-9]*(?:\[[0-9]+\])?(?![0-9.,\[\]]))"
// Sartorius: an optional ID code of a quantity that is a reading, then the 16-character record.
constexpr const char* SARTORIUS_REGEX =
    R"(^(?:(?:N[12]?|G#?|Qnt|Prc|T[12]?)\s+)?([-+]?\s*)" BRACKETED_NUMBER ")";
// Toledo continuous: the six weight digits after STX and the three status words.
constexpr const char* TOLEDO_REGEX = R"(\x02[\x20-\xff]{3}([0-9]{6}))";
constexpr const char* RADWAG_REGEX =
    R"(^(?:[A-Z]{1,3}\s)?[ ?]\s([-\s]\s*)" BRACKETED_NUMBER ")";
constexpr const char* SHIMADZU_REGEX =
    R"(^[SU]?([- ]\s*)" BRACKETED_NUMBER R"()\s*[A-Za-z%])";
constexpr const char* ST_GS_REGEX =
    R"(^(?:ST|US)\s*,\s*(?:(?:GS|NT|TR|G|N|T)\s*,?\s*)?([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* RINSTRUM_REGEX = R"(\x02([- ]\s*[0-9]*\.?[0-9]+)\s*[GNUOEM])";
constexpr const char* NCI_REGEX = R"(^\s*(-?\s*[0-9]*\.?[0-9]+)\s*(?:lb|kg|oz|g)\b)";
constexpr const char* FAIRBANKS_REGEX =
    R"(^\s*(-?[0-9]*\.?[0-9]+)\s+(?:LB|KG|OZ|GM|TN|lb|kg|oz|gm|tn)\b)";
// Kern EW: sign, value of 7 or 8 characters, unit of 2, check result, stability.
constexpr const char* KERN_EW_REGEX =
    R"(^([-+ ][ 0-9.]{7,8})(?=[ A-Za-z%]{2}[LGH ][SUE ]\s*$))";

// clang-format off
constexpr Sample AND_SAMPLES[] = {
    {"ST, +00012.34 kg", "+00012.34"},
    {"US, -00012,45 g", "-00012,45"},
    {"ST, +00000101 PC", "+00000101"},
    {"ST, 12345,67 kg", ""},
};
constexpr Sample ADAM_AZEXTRA_SAMPLES[] = {
    {"10/06/2016   03:52:47\r\n   UNIT PRICE        NET      TOTAL\r\n"
     "-------------------------------------\r\n?      4.45/100g    0.058kg ?    2.58\r\n"
     "\r\n\r\n\r\n",
     "    0.058"},
    {"\r\n\r\nDATE   10/06/2016\r\nTIME   04:18:39\r\n\r\nUNIT\r\nPRICE ?   33.43/100g\r\n"
     "\r\nNET.      1.234kg\r\n\r\nTOTAL ?  412.53\r\n\r\n\r\n\r\n",
     "      1.234"},
    {"   1.234kg\r\n", "   1.234"},
};
constexpr Sample ADAM_CBK_SAMPLES[] = {
    {"  1.9999 kg\n", "  1.9999"},
    {"  -1.8999 kg\n", "-1.8999"},
};
constexpr Sample ADAM_CPWPLUS_SAMPLES[] = {
    {"add:   A\n", ""},
    {"G/W:+ 60.24   kg\n\n\n\n", "+ 60.24"},
};
constexpr Sample ADAM_GC_WEIGHT_SAMPLES[] = {
    {"Date   07/09/2010\r", ""},
    {"Time   16:20:15\r", ""},
    {"Scale ID         \r", ""},
    {"User ID          \r", ""},
    {"Gross Wt   0.0020 kg\r", "  0.0020"},
    {"Net Wt     0.0845 kg\r", "    0.0845"},
};
constexpr Sample KERN_MPS_SAMPLES[] = {
    {"NET  WEIGHT  3.3kg\n", "  3.3"},
    {"N  60.24 kg\n", "  60.24"},
};
constexpr Sample KEYENCE_IL_SAMPLES[] = {
    {"DR,08,-99.998\r", "-99.998"},
    {"DR,02,+123.567\r", "+123.567"},
    {"DR,02,123.567\r", ""},
};
constexpr Sample MITUTOYO_SAMPLES[] = {
    {"01A+001.1920\r", "+001.1920"},
    {"01A-001.1805", "-001.1805"},
    {"+123.45", ""},
};
constexpr Sample MITUTOYO_LSM_6200_SAMPLES[] = {
    {"P00, 12.3456\r\n", " 12.3456"},
    {"12.3456", "12.3456"},
    {"P00, +012.3456", "+012.3456"},
};
constexpr Sample SCHLAGE_HANDPUNCH_SAMPLES[] = {
    {"021   001   15:27:00  06/29/16  IDENTITY VERIFIED FOR ID ( 999)", "999"},
};
constexpr Sample TANITA_TL280_SAMPLES[] = {
    {"{0,16,~0,1,MO,\"TL-280\",Wg,123,Pt,0", "123"},
    {"{0,16,~0,1,MO,\"TL-280\",Wg,-12.3,Pt,0", "-12.3"},
};
constexpr Sample WEDDERBURN_SAMPLES[] = {
    {"\nA    2.10", ""},
    {"0    2.45", "    2.45"},
    {"4-    0.35", ""},
    {"14/06/2016 13:26:35", ""},
    {"1", ""},
    {"B@G", ""},
};
constexpr Sample TOLEDO_SAMPLES[] = {
    {"\x02,0 001234000000\r", "0012.34"},
    {"\x02+3 000525000100\r", "-00052.5"},
    {"\x02,8 004410000000\r", "0044.10"},
    {"\x02,4 000000000000\r", ""},
};
constexpr Sample RADWAG_SAMPLES[] = {
    {"      25.040 g  \r\n", "    25.040"},
    {"? -    2.237 lb \r\n", "-    2.237"},
    {"v -    0.012 g  \r\n", ""},
    {"SI ?     7.41[5] g  \r\n", "    7.415"},
};
constexpr Sample SHIMADZU_SAMPLES[] = {
    {"S   42.615g \r", "   42.615"},
    {"U-    7.31g \r", "-    7.31"},
    {"     OL    \r", ""},
};
constexpr Sample ST_GS_SAMPLES[] = {
    {"ST,GS,    27.5kg\r\n", "27.5"},
    {"US,NT,-0012.35,kg\r\n", "-0012.35"},
    {"OL,GS,        kg\r\n", ""},
};
constexpr Sample RINSTRUM_SAMPLES[] = {
    {"\x02   12.34G   kg \x03", "   12.34"},
    {"\x02-   0.85NM     \x03", "-   0.85"},
    {"\x02  999.99O      \x03", ""},
};
constexpr Sample NCI_SAMPLES[] = {
    {"\n  12.34lb\r", "12.34"},
    {"\n^^^^^^lb\r", ""},
    {"\n?\r", ""},
};
constexpr Sample FAIRBANKS_SAMPLES[] = {
    {" 1250 LB GR\r\n", "1250"},
    {" 1240 LB gr\r\n", "1240"},
    {" --oL--\r\n", ""},
};
constexpr Sample KERN_EW_SAMPLES[] = {
    {"+ 12.3456 G S\r\n", "+ 12.3456"},
    {"- 0.3120 G U\r\n", "- 0.3120"},
    {"+ 999.99 G E\r\n", ""},
};
// clang-format on

constexpr Serial S_9600_8N1_CR{BR_9600, BITS_8, NONE, STOP_1, CR};
constexpr Serial S_9600_8N1_LF{BR_9600, BITS_8, NONE, STOP_1, LF};
constexpr Serial S_4800_8N1_LF{BR_4800, BITS_8, NONE, STOP_1, LF};
constexpr Serial S_2400_7E1_LF{BR_2400, BITS_7, EVEN, STOP_1, LF};

constexpr Type NUM = Type::NUMBER;
constexpr Type TXT = Type::TEXT;
constexpr Keys NUMERIC = Keys::NUMERIC;
constexpr std::span<const Sample> NO_SAMPLES{};

// clang-format off
constexpr std::array<Preset, 42> PRESETS{{
    {I::GENERIC, S_9600_8N1_CR, NUM, NUMERIC, GENERIC_REGEX, "", "generic.defaultMessage",
     NO_SAMPLES, I::GENERIC, OWN},
    {I::BARCODE, S_9600_8N1_CR, TXT, NUMERIC, NUMBER_REGEX, "", "barcode_numeric.defaultMessage",
     NO_SAMPLES, I::BARCODE, OWN},
    {I::BARCODE_ALPHA, S_9600_8N1_CR, TXT, Keys::ALPHANUMERIC_BASIC, P1, "",
     "barcode_alphanumeric.defaultMessage", NO_SAMPLES, I::BARCODE_ALPHA, OWN},
    {I::BARCODE_ALPHA_COMPLETE, S_9600_8N1_CR, TXT, Keys::ALPHANUMERIC_COMPLETE, P2, "",
     "barcode_alphanumeric_complete.defaultMessage", NO_SAMPLES, I::BARCODE_ALPHA_COMPLETE, OWN},
    {I::AND, S_2400_7E1_LF, NUM, NUMERIC, P3, "", nullptr, AND_SAMPLES, I::AND, OWN},
    {I::AND_SIMPLE, AS_OTHER, NUM, NUMERIC, nullptr, "", nullptr, NO_SAMPLES,
     I::AND, SERIAL | PATTERN | SAMPLES},
    {I::AND_EM, S_9600_8N1_LF, NUM, NUMERIC, nullptr, "", "aandd.em.defaultmessage", NO_SAMPLES,
     I::AND, PATTERN | SAMPLES},
    {I::ADAM_AZEXTRA_WEIGHT, S_4800_8N1_LF, NUM, NUMERIC, P4, "", "adam_azextra.defaultMessage",
     ADAM_AZEXTRA_SAMPLES, I::ADAM_AZEXTRA_WEIGHT, OWN},
    {I::ADAM_CBK, S_4800_8N1_LF, NUM, NUMERIC, NUMBER_WITH_UNIT, "", "adam_cbk.defaultMessage",
     ADAM_CBK_SAMPLES, I::ADAM_CBK, OWN},
    {I::ADAM_CPWPLUS, S_9600_8N1_CR, NUM, NUMERIC, NUMBER_WITH_UNIT, "", "adam_cpwplus.defaultMessage",
     ADAM_CPWPLUS_SAMPLES, I::ADAM_CPWPLUS, OWN},
    {I::ADAM_GC_WEIGHT, S_4800_8N1_LF, NUM, NUMERIC, P5, "", nullptr, ADAM_GC_WEIGHT_SAMPLES,
     I::ADAM_GC_WEIGHT, OWN},
    {I::ADAM_GC_PCS, S_4800_8N1_LF, NUM, NUMERIC, P6, "", nullptr, NO_SAMPLES, I::ADAM_GC_PCS, OWN},
    {I::ADAM_HCB, S_9600_8N1_LF, NUM, NUMERIC, NUMBER_WITH_UNIT, "", "adam_hcb.defaultMessage",
     NO_SAMPLES, I::ADAM_HCB, OWN},
    {I::ADAM_LABEL, S_9600_8N1_LF, NUM, NUMERIC, P7, "", nullptr, NO_SAMPLES, I::ADAM_LABEL, OWN},
    {I::KERN_572, S_9600_8N1_LF, NUM, NUMERIC, KERN_572_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, OWN},
    {I::KERND_DE, AS_OTHER, NUM, NUMERIC, KERN_572_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, SERIAL},
    {I::KERN_DS, AS_OTHER, NUM, NUMERIC, KERN_572_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, SERIAL},
    {I::KERN_FKB, AS_OTHER, NUM, NUMERIC, KERN_572_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, SERIAL},
    {I::KERN_KB_N, AS_OTHER, NUM, NUMERIC, KERN_572_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, SERIAL},
    {I::KERN_KFB, S_9600_8N1_CR, NUM, NUMERIC, KERN_KFB_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_KFB, OWN},
    {I::KERN_MPS, S_9600_8N1_LF, NUM, NUMERIC, P8, "", nullptr, KERN_MPS_SAMPLES, I::KERN_MPS, OWN},
    {I::KEYENCE_IL, S_9600_8N1_LF, NUM, NUMERIC, P9, "", nullptr, KEYENCE_IL_SAMPLES,
     I::KEYENCE_IL, OWN},
    {I::METTLER_DIALOG, S_9600_8N1_LF, NUM, NUMERIC, SICS_REGEX, "", nullptr, NO_SAMPLES,
     I::METTLER_DIALOG, OWN},
    {I::METTLER_PRINT, S_2400_7E1_LF, NUM, NUMERIC, METTLER_PRINT_REGEX, "", nullptr, NO_SAMPLES,
     I::METTLER_PRINT, OWN},
    {I::MITUTOYO, {BR_2400, BITS_8, NONE, STOP_1, CR}, NUM, NUMERIC, P10, "1\r", nullptr,
     MITUTOYO_SAMPLES, I::MITUTOYO, OWN},
    {I::MITUTOYO_LSM_6200, S_9600_8N1_LF, NUM, NUMERIC, P11, "", nullptr,
     MITUTOYO_LSM_6200_SAMPLES, I::MITUTOYO_LSM_6200, OWN},
    {I::MYWEIGH_HD, {BR_9600, BITS_8, SPACE, STOP_1, CR}, NUM, NUMERIC, MYWEIGH_REGEX, "",
     "myweigh_hd.defaultMessage", NO_SAMPLES, I::MYWEIGH_HD, OWN},
    {I::OHAUS, S_9600_8N1_LF, NUM, NUMERIC, OHAUS_REGEX, "", nullptr, NO_SAMPLES, I::OHAUS, OWN},
    {I::OHAUSSPU, {BR_2400, BITS_7, NONE, STOP_1, LF}, NUM, NUMERIC, OHAUS_REGEX, "", nullptr,
     NO_SAMPLES, I::OHAUSSPU, OWN},
    {I::PRECISA, {BR_9600, BITS_7, EVEN, STOP_1, LF}, NUM, NUMERIC, PRECISA_REGEX, "", nullptr,
     NO_SAMPLES, I::PRECISA, OWN},
    {I::SARTORIUS, {BR_1200, BITS_7, ODD, STOP_1, LF}, NUM, NUMERIC, SARTORIUS_REGEX, "",
     "sartorius.defaultMessage", NO_SAMPLES, I::SARTORIUS, OWN},
    {I::SCHLAGE_HANDPUNCH, S_9600_8N1_LF, NUM, NUMERIC, P12, "", nullptr,
     SCHLAGE_HANDPUNCH_SAMPLES, I::SCHLAGE_HANDPUNCH, OWN},
    {I::TANITA_TL280, S_9600_8N1_LF, NUM, NUMERIC, P13, "", nullptr, TANITA_TL280_SAMPLES,
     I::TANITA_TL280, OWN},
    {I::WEDDERBURN, S_9600_8N1_LF, NUM, NUMERIC, P14, "", nullptr, WEDDERBURN_SAMPLES,
     I::WEDDERBURN, OWN},
    {I::TOLEDO_CONTINUOUS, S_9600_8N1_CR, NUM, NUMERIC, TOLEDO_REGEX, "",
     "toledo_continuous.defaultMessage", TOLEDO_SAMPLES, I::TOLEDO_CONTINUOUS, OWN},
    {I::RADWAG, S_9600_8N1_LF, NUM, NUMERIC, RADWAG_REGEX, "", "radwag.defaultMessage",
     RADWAG_SAMPLES, I::RADWAG, OWN},
    {I::SHIMADZU, {BR_1200, BITS_8, NONE, STOP_1, CR}, NUM, NUMERIC, SHIMADZU_REGEX, "",
     "shimadzu.defaultMessage", SHIMADZU_SAMPLES, I::SHIMADZU, OWN},
    {I::ST_GS_INDICATOR, S_9600_8N1_LF, NUM, NUMERIC, ST_GS_REGEX, "",
     "st_gs_indicator.defaultMessage", ST_GS_SAMPLES, I::ST_GS_INDICATOR, OWN},
    {I::RINSTRUM, {BR_9600, BITS_8, NONE, STOP_1, ETX}, NUM, NUMERIC, RINSTRUM_REGEX, "",
     "rinstrum.defaultMessage", RINSTRUM_SAMPLES, I::RINSTRUM, OWN},
    {I::NCI, {BR_9600, BITS_7, EVEN, STOP_1, CR}, NUM, NUMERIC, NCI_REGEX, "W\r",
     "nci.defaultMessage", NCI_SAMPLES, I::NCI, OWN},
    {I::FAIRBANKS, S_9600_8N1_LF, NUM, NUMERIC, FAIRBANKS_REGEX, "", "fairbanks.defaultMessage",
     FAIRBANKS_SAMPLES, I::FAIRBANKS, OWN},
    {I::KERN_EW, S_9600_8N1_LF, NUM, NUMERIC, KERN_EW_REGEX, "", "kern_ew.defaultMessage",
     KERN_EW_SAMPLES, I::KERN_EW, OWN},
}};
// clang-format on

// Rows are looked up by position, and a row may only point at one that answers for itself.
constexpr bool tableIsConsistent() {
    for (std::size_t i = 0; i < PRESETS.size(); ++i) {
        const Preset& p = PRESETS[i];
        if (static_cast<std::size_t>(p.value) != i)
            return false;
        const Preset& target = PRESETS[static_cast<std::size_t>(p.as)];
        if (p.delegated != OWN && target.delegated != OWN)
            return false;
        if (!(p.delegated & SERIAL) && p.serial.bitRate < 0)
            return false;
        if (!(p.delegated & PATTERN) && p.regEx == nullptr)
            return false;
    }
    return true;
}
static_assert(tableIsConsistent(), "instrument table out of order or badly delegated");
static_assert(static_cast<int>(I::KERN_EW) + 1 == static_cast<int>(PRESETS.size()));

const Preset& row(I instrument) {
    return PRESETS[static_cast<std::size_t>(instrument)];
}

// The row that answers `what` for `instrument`.
const Preset& answering(I instrument, Delegate what) {
    const Preset& p = row(instrument);
    return (p.delegated & what) ? row(p.as) : p;
}

// Compiled patterns, shared by every reading thread. A user's own patterns come and go while
// they are typed, so the cache is kept small.
class PatternCache {
  public:
    QRegularExpression get(const QString& pattern) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = cache_.constFind(pattern);
        if (it != cache_.constEnd())
            return *it;
        if (cache_.size() >= MAX_ENTRIES)
            cache_.clear();
        // Compiled now, under the lock, so that copies handed to other threads are ready.
        QRegularExpression re = LineFormat::compile(pattern);
        cache_.insert(pattern, re);
        return re;
    }

  private:
    static constexpr qsizetype MAX_ENTRIES = 64;
    std::mutex mutex_;
    QHash<QString, QRegularExpression> cache_;
};

PatternCache& patternCache() {
    static PatternCache cache;
    return cache;
}

}  // namespace

Config InstrumentPresets::getDefaultConfig(Instrument instrument) {
    const Serial& s = answering(instrument, SERIAL).serial;
    Config config;
    config.setBitRate(s.bitRate);
    config.setDataBits(s.dataBits);
    config.setStopBits(s.stopBits);
    config.setParity(s.parity);
    config.setInputTerminator(s.inputTerminator);
    return config;
}

QString InstrumentPresets::getRegEx(Instrument instrument) {
    return QString::fromLatin1(answering(instrument, PATTERN).regEx);
}

int InstrumentPresets::getCaptureGroup(Instrument) {
    return 1;
}

ConfigHelper::InstrumentType InstrumentPresets::getInstrumentType(Instrument instrument) {
    return row(instrument).type;
}

ConfigHelper::KeyMapType InstrumentPresets::getKeyMapType(Instrument instrument) {
    return row(instrument).keyMap;
}

QString InstrumentPresets::getDataCommand(Instrument instrument) {
    return QString::fromLatin1(row(instrument).dataCommand);
}

std::optional<QString> InstrumentPresets::getDefaultMessageKey(Instrument instrument) {
    const char* key = row(instrument).noteKey;
    if (key == nullptr)
        return std::nullopt;
    return QString::fromLatin1(key);
}

std::optional<QString> InstrumentPresets::getDefaultMessage(Instrument instrument) {
    auto key = getDefaultMessageKey(instrument);
    if (!key)
        return std::nullopt;
    return util::Bundle::config().getString(*key);
}

std::vector<InstrumentPresets::TestString> InstrumentPresets::getTestStrings(
    Instrument instrument) {
    const auto samples = answering(instrument, SAMPLES).samples;
    if (samples.empty())
        return {TestString{QString(""), QString("")}};
    std::vector<TestString> result;
    result.reserve(samples.size());
    for (const Sample& s : samples)
        result.emplace_back(QString::fromLatin1(s.line), QString::fromLatin1(s.value));
    return result;
}

QString InstrumentPresets::textFromBytes(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (char byte : bytes) text.append(QChar(static_cast<unsigned char>(byte)));
    return text;
}

std::optional<QString> InstrumentPresets::extract(const QString& pattern, int group,
                                                  const QString& line) {
    const QRegularExpression re = patternCache().get(pattern);
    if (!re.isValid())
        return std::nullopt;
    // A line end left over from a two-byte terminator is not part of the line.
    qsizetype from = 0;
    while (from < line.size() && (line[from] == u'\r' || line[from] == u'\n'))
        ++from;
    const QRegularExpressionMatch match = re.match(line.mid(from));
    if (!match.hasMatch())
        return std::nullopt;
    // A group that did not take part (or does not exist) reads as empty.
    QString value = match.captured(group);
    if (value.isNull())
        value = QString("");
    return value;
}

std::optional<QString> InstrumentPresets::extract(Instrument instrument, const QString& line) {
    static const auto formats = [] {
        std::vector<LineFormat> all;
        for (Instrument i : Setting<Instrument>::values())
            all.emplace_back(i);
        return all;
    }();
    try {
        Reading reading = formats[static_cast<std::size_t>(instrument)].read(line);
        if (!reading.hasValue())
            return std::nullopt;
        return reading.text;
    } catch (const std::invalid_argument&) {
        return QString("");
    }
}

}  // namespace quorvel::config
