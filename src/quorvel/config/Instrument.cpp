#include "quorvel/config/Instrument.h"

#include <QByteArray>
#include <QHash>
#include <QRegularExpression>

#include <array>
#include <cstddef>
#include <mutex>
#include <span>

#include "quorvel/config/Config.h"
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

// The number most scales send, with optional sign and blanks in front of it.
constexpr const char* NUMBER_REGEX = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+))";

constexpr const char* P1 = R"(([\dA-Z]+))";
// Printable ASCII 0x20..0x7E, spelled out piece by piece; ']' leads so it is taken literally.
constexpr const char* P2 = R"re(([] !-/\d:-@A-Z[\\^_`a-z{|}~]+))re";
constexpr const char* P3 = R"(([-+]+[0-9]*[\.,]?[0-9]+))";
constexpr const char* P4 = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)kg)";
constexpr const char* P5 = R"(Wt\s?([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* P6 = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(pcs))";
constexpr const char* P7 =
    R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(kg|g|lb|oz|pcs|ct|d|GN|ozt|dwt|MM|TlH|TlC|Tlt|t|N|g2|TlJ))";
constexpr const char* P8 = R"(^N.*?(-?\s*[0-9]*[\.,]?[0-9]+)\s*kg)";
constexpr const char* P9 = R"(([+-]+\d*\.?\d+))";
constexpr const char* P10 = R"(01A([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* P11 = R"(([-+]?\s*[0-9]*\.+[0-9]+))";
constexpr const char* P12 = R"(\(\s*([0-9]*)\))";
constexpr const char* P13 = R"(Wg,([-+]?\s*[0-9]*[\.,]?[0-9]+))";
constexpr const char* P14 = R"(^0(-?\s+[0-9]*\.?[0-9]+))";

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
constexpr std::array<Preset, 34> PRESETS{{
    {I::GENERIC, S_9600_8N1_CR, NUM, NUMERIC, NUMBER_REGEX, "", "generic.defaultMessage",
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
    {I::ADAM_CBK, S_4800_8N1_LF, NUM, NUMERIC, NUMBER_REGEX, "", "adam_cbk.defaultMessage",
     ADAM_CBK_SAMPLES, I::ADAM_CBK, OWN},
    {I::ADAM_CPWPLUS, S_9600_8N1_CR, NUM, NUMERIC, NUMBER_REGEX, "", "adam_cpwplus.defaultMessage",
     ADAM_CPWPLUS_SAMPLES, I::ADAM_CPWPLUS, OWN},
    {I::ADAM_GC_WEIGHT, S_4800_8N1_LF, NUM, NUMERIC, P5, "", nullptr, ADAM_GC_WEIGHT_SAMPLES,
     I::ADAM_GC_WEIGHT, OWN},
    {I::ADAM_GC_PCS, S_4800_8N1_LF, NUM, NUMERIC, P6, "", nullptr, NO_SAMPLES, I::ADAM_GC_PCS, OWN},
    {I::ADAM_HCB, S_9600_8N1_LF, NUM, NUMERIC, NUMBER_REGEX, "", "adam_hcb.defaultMessage",
     NO_SAMPLES, I::ADAM_HCB, OWN},
    {I::ADAM_LABEL, S_9600_8N1_LF, NUM, NUMERIC, P7, "", nullptr, NO_SAMPLES, I::ADAM_LABEL, OWN},
    {I::KERN_572, S_9600_8N1_LF, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, OWN},
    {I::KERND_DE, AS_OTHER, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, SERIAL},
    {I::KERN_DS, AS_OTHER, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, SERIAL},
    {I::KERN_FKB, AS_OTHER, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, SERIAL},
    {I::KERN_KB_N, AS_OTHER, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_572, SERIAL},
    {I::KERN_KFB, S_9600_8N1_CR, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES,
     I::KERN_KFB, OWN},
    {I::KERN_MPS, S_9600_8N1_LF, NUM, NUMERIC, P8, "", nullptr, KERN_MPS_SAMPLES, I::KERN_MPS, OWN},
    {I::KEYENCE_IL, S_9600_8N1_LF, NUM, NUMERIC, P9, "", nullptr, KEYENCE_IL_SAMPLES,
     I::KEYENCE_IL, OWN},
    {I::METTLER_DIALOG, S_9600_8N1_LF, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES,
     I::METTLER_DIALOG, OWN},
    {I::METTLER_PRINT, S_2400_7E1_LF, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES,
     I::METTLER_PRINT, OWN},
    {I::MITUTOYO, {BR_2400, BITS_8, NONE, STOP_1, CR}, NUM, NUMERIC, P10, "1\r", nullptr,
     MITUTOYO_SAMPLES, I::MITUTOYO, OWN},
    {I::MITUTOYO_LSM_6200, S_9600_8N1_LF, NUM, NUMERIC, P11, "", nullptr,
     MITUTOYO_LSM_6200_SAMPLES, I::MITUTOYO_LSM_6200, OWN},
    {I::MYWEIGH_HD, {BR_9600, BITS_8, SPACE, STOP_1, CR}, NUM, NUMERIC, NUMBER_REGEX, "",
     "myweigh_hd.defaultMessage", NO_SAMPLES, I::MYWEIGH_HD, OWN},
    {I::OHAUS, S_9600_8N1_LF, NUM, NUMERIC, NUMBER_REGEX, "", nullptr, NO_SAMPLES, I::OHAUS, OWN},
    {I::OHAUSSPU, {BR_2400, BITS_7, NONE, STOP_1, LF}, NUM, NUMERIC, NUMBER_REGEX, "", nullptr,
     NO_SAMPLES, I::OHAUSSPU, OWN},
    {I::PRECISA, {BR_9600, BITS_7, EVEN, STOP_1, LF}, NUM, NUMERIC, NUMBER_REGEX, "", nullptr,
     NO_SAMPLES, I::PRECISA, OWN},
    {I::SARTORIUS, {BR_1200, BITS_7, ODD, STOP_1, LF}, NUM, NUMERIC, NUMBER_REGEX, "",
     "sartorius.defaultMessage", NO_SAMPLES, I::SARTORIUS, OWN},
    {I::SCHLAGE_HANDPUNCH, S_9600_8N1_LF, NUM, NUMERIC, P12, "", nullptr,
     SCHLAGE_HANDPUNCH_SAMPLES, I::SCHLAGE_HANDPUNCH, OWN},
    {I::TANITA_TL280, S_9600_8N1_LF, NUM, NUMERIC, P13, "", nullptr, TANITA_TL280_SAMPLES,
     I::TANITA_TL280, OWN},
    {I::WEDDERBURN, S_9600_8N1_LF, NUM, NUMERIC, P14, "", nullptr, WEDDERBURN_SAMPLES,
     I::WEDDERBURN, OWN},
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
static_assert(static_cast<int>(I::WEDDERBURN) + 1 == static_cast<int>(PRESETS.size()));

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
        QRegularExpression re(pattern);
        // Compile now, under the lock, so that copies handed to other threads are ready.
        re.optimize();
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
    const QRegularExpressionMatch match = re.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    // A group that did not take part (or does not exist) reads as empty.
    QString value = match.captured(group);
    if (value.isNull())
        value = QString("");
    return value;
}

std::optional<QString> InstrumentPresets::extract(Instrument instrument, const QString& line) {
    return extract(getRegEx(instrument), getCaptureGroup(instrument), line);
}

}  // namespace quorvel::config
