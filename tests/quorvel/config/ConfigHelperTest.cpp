#include <gtest/gtest.h>

#include <QString>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorvel/config/ConfigHelper.h"
#include "quorvel/util/Bundle.h"

namespace quorvel::config {
namespace {

using H = ConfigHelper;

// The expected constants of every choice type, in order: "NAME:label", where a label starting
// with '@' is a bundle key.
template <typename E>
std::vector<std::string> expectedRows();

template <>
std::vector<std::string> expectedRows<H::BitRates>() {
    return {"BR_110:110",       "BR_150:150",       "BR_300:300",      "BR_600:600",
            "BR_1200:1200",     "BR_2400:2400",     "BR_4800:4800",    "BR_9600:9600",
            "BR_19200:19200",   "BR_38400:38400",   "BR_57600:57600",  "BR_115200:115200",
            "BR_230400:230400", "BR_460800:460800", "BR_921600:921600"};
}
template <>
std::vector<std::string> expectedRows<H::DataBits>() {
    return {"LN_5BITS:5", "LN_6BITS:6", "LN_7BITS:7", "LN_8BITS:8"};
}
template <>
std::vector<std::string> expectedRows<H::StopBits>() {
    return {"ST_1BITS:1", "ST_2BITS:2"};
}
template <>
std::vector<std::string> expectedRows<H::Parity>() {
    return {"NONE:NONE", "ODD:ODD", "EVEN:EVEN", "MARK:MARK", "SPACE:SPACE"};
}
template <>
std::vector<std::string> expectedRows<H::Connect>() {
    return {"MANUAL:@manual", "AUTO:@auto"};
}
template <>
std::vector<std::string> expectedRows<H::InputTerminator>() {
    return {"EOT:4 <EOT>", "LF:10 <LF>", "CR:13 <CR>"};
}
template <>
std::vector<std::string> expectedRows<H::StartWith>() {
    return {"NONE:@key.none", "ENTER:@enter", "TAB:@tab", "RIGHT:@right", "DOWN:@down",
            "DELETE:@delete", "MULTIPLY:*",   "F1:F1",    "F2:F2",        "F3:F3",
            "F4:F4",          "F5:F5",        "F6:F6",    "F7:F7",        "F8:F8",
            "F9:F9",          "F10:F10",      "F11:F11",  "F12:F12"};
}
template <>
std::vector<std::string> expectedRows<H::OutputTerminator>() {
    return {"NONE:@key.none", "ENTER:@enter", "TAB:@tab", "RIGHT:@right", "DOWN:@down"};
}
template <>
std::vector<std::string> expectedRows<H::Sound>() {
    return {"NONE:@sound.none",      "RIDE_BELL:Ride Bell", "COWBELL:Cowbell",
            "HIGH_AGOGO:High Agogo", "LOW_AGOGO:Low Agogo", "CLAVES:Claves",
            "OPEN_TRIANGLE:Triangle"};
}
template <>
std::vector<std::string> expectedRows<H::MathOperation>() {
    return {"NONE:@math.none", "MULTIPLY:@multiply", "DIVIDE:@divide"};
}
template <>
std::vector<std::string> expectedRows<H::RoundingMethod>() {
    return {"CEILING:ceiling",     "DOWN:down",       "FLOOR:floor", "HALF_DOWN:half down",
            "HALF_EVEN:half even", "HALF_UP:half up", "UP:up"};
}
template <>
std::vector<std::string> expectedRows<H::DecimalSeparator>() {
    return {"DOT:@dot", "COMMA:@comma"};
}
template <>
std::vector<std::string> expectedRows<H::EditOperation>() {
    return {"REMOVE:@edit.remove", "KEEP:@edit.keep"};
}
template <>
std::vector<std::string> expectedRows<H::EditPosition>() {
    return {"FIRST:@edit.first", "LAST:@edit.last"};
}
template <>
std::vector<std::string> expectedRows<H::KeyboardType>() {
    return {"QUERTY:@keyboardType.default", "US_INTERNATIONAL:@keyboardType.us_international",
            "AZERTY:@keyboardType.azerty", "GERMAN:@keyboardType.german"};
}
template <>
std::vector<std::string> expectedRows<H::KeyMapType>() {
    return {"NUMERIC:NUMERIC", "ALPHANUMERIC_BASIC:ALPHANUMERIC_BASIC",
            "ALPHANUMERIC_COMPLETE:ALPHANUMERIC_COMPLETE"};
}
template <>
std::vector<std::string> expectedRows<H::InstrumentType>() {
    return {"NUMBER:NUMBER", "TEXT:TEXT"};
}
template <>
std::vector<std::string> expectedRows<H::Instrument>() {
    return {"GENERIC:@generic",
            "BARCODE:@barcode_numeric",
            "BARCODE_ALPHA:@barcode_alphanumeric",
            "BARCODE_ALPHA_COMPLETE:@barcode_alphanumeric_complete",
            "AND:A&D",
            "AND_SIMPLE:A&D (no handshaking)",
            "AND_EM:A&D EM",
            "ADAM_AZEXTRA_WEIGHT:@adam_azextra_weight",
            "ADAM_CBK:Adam CBK/GBK/GFK",
            "ADAM_CPWPLUS:Adam CPWplus",
            "ADAM_GC_WEIGHT:@adam_gbc_gfc_weight",
            "ADAM_GC_PCS:@adam_gbc_gfc_pcs",
            "ADAM_HCB:Adam Highland (HCB)",
            "ADAM_LABEL:Adam label format",
            "KERN_572:Kern 572",
            "KERND_DE:Kern DE",
            "KERN_DS:Kern DS",
            "KERN_FKB:Kern FKB",
            "KERN_KB_N:Kern KB-N",
            "KERN_KFB:Kern KFB",
            "KERN_MPS:Kern MPS / MPT / MXS / MWS / MTS / MCB",
            "KEYENCE_IL:Keyence IL",
            "METTLER_DIALOG:Mettler Toledo Dialog",
            "METTLER_PRINT:Mettler Toledo Print",
            "MITUTOYO:Mitutoyo 264-007",
            "MITUTOYO_LSM_6200:Mitutoyo LSM-6200",
            "MYWEIGH_HD:MyWeigh HD",
            "OHAUS:Ohaus",
            "OHAUSSPU:Ohaus SPU,TA,NV",
            "PRECISA:Precisa",
            "SARTORIUS:Sartorius",
            "SCHLAGE_HANDPUNCH:Schlage HandPunch (employee ID)",
            "TANITA_TL280:Tanita TL-280/TL-290",
            "WEDDERBURN:Wedderburn",
            "TOLEDO_CONTINUOUS:Toledo continuous (Mettler Toledo IND, Rice Lake, Cardinal, Fairbanks)",
            "RADWAG:Radwag",
            "SHIMADZU:Shimadzu",
            "ST_GS_INDICATOR:Indicator ST,GS (CAS, Tiger, Selleton and others)",
            "RINSTRUM:Rinstrum R300 / C500",
            "NCI:NCI protocol (Weigh-Tronix, Avery, Brecknell, Adam MDW)",
            "FAIRBANKS:Fairbanks (demand output)",
            "KERN_EW:Kern EW / EG / EWB"};
}

template <typename E>
class ChoiceTypeTest : public ::testing::Test {};

using ChoiceTypes =
    ::testing::Types<H::BitRates, H::DataBits, H::StopBits, H::Parity, H::Connect,
                     H::InputTerminator, H::StartWith, H::OutputTerminator, H::Sound,
                     H::MathOperation, H::RoundingMethod, H::DecimalSeparator, H::EditOperation,
                     H::EditPosition, H::KeyboardType, H::KeyMapType, H::InstrumentType,
                     H::Instrument>;
TYPED_TEST_SUITE(ChoiceTypeTest, ChoiceTypes);

TYPED_TEST(ChoiceTypeTest, ConstantsNamesAndLabelsAreThoseOfTheTypeInOrder) {
    using S = Setting<TypeParam>;
    const auto expected = expectedRows<TypeParam>();
    const auto entries = ChoiceTable<TypeParam>::entries();
    ASSERT_EQ(entries.size(), expected.size());
    ASSERT_EQ(S::values().size(), expected.size());
    ASSERT_EQ(S::size(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i]);
        const auto colon = expected[i].find(':');
        const std::string name = expected[i].substr(0, colon);
        std::string label = expected[i].substr(colon + 1);
        const bool isKey = label.front() == '@';
        if (isKey)
            label.erase(0, 1);

        EXPECT_EQ(static_cast<std::size_t>(entries[i].value), i);
        EXPECT_EQ(S::position(S::values()[i]), static_cast<int>(i));
        EXPECT_EQ(entries[i].name, name);
        EXPECT_EQ(entries[i].label, label);
        EXPECT_EQ(entries[i].labelIsKey, isKey);
        if (!isKey) {
            EXPECT_EQ(S::label(entries[i].value), QString::fromStdString(label));
        }
    }
}

TYPED_TEST(ChoiceTypeTest, NamesAreUniqueAndFoundOnlyWhenExact) {
    using S = Setting<TypeParam>;
    std::set<QString> seen;
    for (const TypeParam v : S::values()) {
        const QString name = S::name(v);
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(seen.insert(name).second) << "duplicate name";
        EXPECT_TRUE(S::isValid(name));
        EXPECT_EQ(S::fromName(name), v);
        EXPECT_EQ(S::fromCode(S::position(v)), v);
        EXPECT_FALSE(S::isValid(name.toLower()));
        EXPECT_FALSE(S::isValid(name + " "));
        EXPECT_FALSE(S::isValid(" " + name));
    }
    EXPECT_FALSE(S::isValid(QString("")));
    EXPECT_TRUE(S::isValid(S::name(S::getDefault())));
}

TYPED_TEST(ChoiceTypeTest, UnknownNamesAndCodesAreRefused) {
    using S = Setting<TypeParam>;
    try {
        S::fromName("NO_SUCH_CONSTANT");
        FAIL() << "no failure for an unknown name";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("NO_SUCH_CONSTANT"), std::string::npos) << e.what();
    }
    EXPECT_THROW(S::fromName(S::name(S::values().front()).toLower()), std::invalid_argument);
    EXPECT_THROW(S::fromCode(-1), std::invalid_argument);
    EXPECT_THROW(S::fromCode(S::size()), std::invalid_argument);
    EXPECT_TRUE(S::isValid(0));
    EXPECT_TRUE(S::isValid(S::size() - 1));
    EXPECT_FALSE(S::isValid(S::size()));
    EXPECT_FALSE(S::isValid(-1));
}

// Labels shown to the user must resolve; a missing key would show the key itself.
TYPED_TEST(ChoiceTypeTest, EveryLabelKeyIsInTheConfigBundle) {
    const auto& bundle = util::Bundle::config();
    for (const auto& e : ChoiceTable<TypeParam>::entries()) {
        if (!e.labelIsKey)
            continue;
        EXPECT_TRUE(bundle.contains(QString::fromLatin1(e.label))) << e.label;
        EXPECT_FALSE(Setting<TypeParam>::label(e.value).isEmpty()) << e.label;
    }
}

TEST(ChoiceDefaults, AreTheDocumentedConstants) {
    EXPECT_EQ(Setting<H::BitRates>::getDefault(), H::BitRates::BR_9600);
    EXPECT_EQ(Setting<H::BitRates>::getDefaultCode(), 7);
    EXPECT_EQ(Setting<H::DataBits>::getDefaultCode(), 3);
    EXPECT_EQ(Setting<H::StopBits>::getDefaultCode(), 0);
    EXPECT_EQ(Setting<H::Parity>::getDefaultCode(), 0);
    EXPECT_EQ(Setting<H::Connect>::getDefault(), H::Connect::MANUAL);
    EXPECT_EQ(Setting<H::InputTerminator>::getDefault(), H::InputTerminator::CR);
    EXPECT_EQ(Setting<H::StartWith>::getDefault(), H::StartWith::NONE);
    EXPECT_EQ(Setting<H::OutputTerminator>::getDefault(), H::OutputTerminator::NONE);
    EXPECT_EQ(Setting<H::Sound>::getDefault(), H::Sound::NONE);
    EXPECT_EQ(Setting<H::MathOperation>::getDefault(), H::MathOperation::NONE);
    EXPECT_EQ(Setting<H::RoundingMethod>::getDefault(), H::RoundingMethod::HALF_UP);
    EXPECT_EQ(Setting<H::DecimalSeparator>::getDefault(), H::DecimalSeparator::DOT);
    EXPECT_EQ(Setting<H::EditOperation>::getDefault(), H::EditOperation::REMOVE);
    EXPECT_EQ(Setting<H::EditPosition>::getDefault(), H::EditPosition::FIRST);
    EXPECT_EQ(Setting<H::KeyboardType>::getDefault(), H::KeyboardType::QUERTY);
    EXPECT_EQ(Setting<H::Instrument>::getDefault(), H::Instrument::GENERIC);

    EXPECT_EQ(H::MathOperand::getDefault(), "");
    EXPECT_EQ(H::DecimalPlaces::getDefault(), "");
    EXPECT_EQ(H::CustomRegEx::getDefault(), "");
    EXPECT_EQ(H::Delay::getDefault(), "20");
    EXPECT_EQ(H::EditNumCharacters::getDefault(), "");
    EXPECT_EQ(H::RemoveCharacters::getDefault(), "");
    EXPECT_EQ(H::IgnoreTimeLimit::getDefault(), "");
    EXPECT_EQ(H::IgnoreDifference::getDefault(), "");
    EXPECT_EQ(H::InputTerminatorValue::getDefault(), 13);
}

TEST(SerialCodes, RangesAndBitRateLabels) {
    EXPECT_TRUE(Setting<H::BitRates>::isValid(14));
    EXPECT_FALSE(Setting<H::BitRates>::isValid(15));
    EXPECT_FALSE(Setting<H::BitRates>::isValid(-1));
    EXPECT_TRUE(Setting<H::DataBits>::isValid(3));
    EXPECT_FALSE(Setting<H::DataBits>::isValid(4));
    EXPECT_TRUE(Setting<H::StopBits>::isValid(1));
    EXPECT_FALSE(Setting<H::StopBits>::isValid(2));
    EXPECT_TRUE(Setting<H::Parity>::isValid(4));
    EXPECT_FALSE(Setting<H::Parity>::isValid(5));

    EXPECT_EQ(Setting<H::BitRates>::labelOfCode(7), "9600");
    EXPECT_EQ(Setting<H::BitRates>::labelOfCode(0), "110");
    EXPECT_EQ(Setting<H::BitRates>::labelOfCode(14), "921600");
    EXPECT_EQ(Setting<H::BitRates>::labelOfCode(15), "");
    EXPECT_EQ(Setting<H::BitRates>::labelOfCode(20), "");
    EXPECT_EQ(Setting<H::BitRates>::labelOfCode(-1), "");
}

TEST(StoredNames, WrongCaseIsInvalid) {
    EXPECT_FALSE(Setting<H::Connect>::isValid(QString("auto")));
    EXPECT_TRUE(Setting<H::Connect>::isValid(QString("AUTO")));
    EXPECT_FALSE(Setting<H::MathOperation>::isValid(QString("multiply")));
    EXPECT_FALSE(Setting<H::EditPosition>::isValid(QString("last")));
    EXPECT_FALSE(Setting<H::Sound>::isValid(QString("TRIANGLE")));
    EXPECT_TRUE(Setting<H::Sound>::isValid(QString("OPEN_TRIANGLE")));
}

TEST(Payloads, KeyCodes) {
    const std::vector<int> startCodes = {0,   10,  9,   39,  40,  127, 106, 112, 113, 114,
                                         115, 116, 117, 118, 119, 120, 121, 122, 123};
    const auto& starts = Setting<H::StartWith>::values();
    ASSERT_EQ(starts.size(), startCodes.size());
    for (std::size_t i = 0; i < starts.size(); ++i)
        EXPECT_EQ(H::getKeyCode(starts[i]), startCodes[i]) << i;
    EXPECT_EQ(H::getKeyCode(H::StartWith::F12), 123);
    EXPECT_EQ(H::getKeyCode(H::StartWith::MULTIPLY), 106);
    EXPECT_EQ(H::getKeyCode(H::StartWith::NONE), 0);

    EXPECT_EQ(H::getKeyCode(H::OutputTerminator::NONE), 0);
    EXPECT_EQ(H::getKeyCode(H::OutputTerminator::ENTER), 10);
    EXPECT_EQ(H::getKeyCode(H::OutputTerminator::TAB), 9);
    EXPECT_EQ(H::getKeyCode(H::OutputTerminator::RIGHT), 39);
    EXPECT_EQ(H::getKeyCode(H::OutputTerminator::DOWN), 40);
}

TEST(Payloads, PercussionNumbers) {
    EXPECT_EQ(H::getPercussionNumber(H::Sound::NONE), 0);
    EXPECT_EQ(H::getPercussionNumber(H::Sound::RIDE_BELL), 53);
    EXPECT_EQ(H::getPercussionNumber(H::Sound::COWBELL), 56);
    EXPECT_EQ(H::getPercussionNumber(H::Sound::HIGH_AGOGO), 67);
    EXPECT_EQ(H::getPercussionNumber(H::Sound::LOW_AGOGO), 68);
    EXPECT_EQ(H::getPercussionNumber(H::Sound::CLAVES), 75);
    EXPECT_EQ(H::getPercussionNumber(H::Sound::OPEN_TRIANGLE), 81);
}

TEST(Payloads, InputTerminatorBytesAndLookup) {
    EXPECT_EQ(H::getByteValue(H::InputTerminator::EOT), 4);
    EXPECT_EQ(H::getByteValue(H::InputTerminator::LF), 10);
    EXPECT_EQ(H::getByteValue(H::InputTerminator::CR), 13);
    EXPECT_EQ(H::inputTerminatorForValue(4), H::InputTerminator::EOT);
    EXPECT_EQ(H::inputTerminatorForValue(10), H::InputTerminator::LF);
    EXPECT_EQ(H::inputTerminatorForValue(13), H::InputTerminator::CR);
    EXPECT_EQ(H::inputTerminatorForValue(3), std::nullopt);
    EXPECT_EQ(H::inputTerminatorForValue(0), std::nullopt);
    EXPECT_EQ(H::inputTerminatorForValue(-1), std::nullopt);

    EXPECT_TRUE(H::InputTerminatorValue::isValid(0));
    EXPECT_TRUE(H::InputTerminatorValue::isValid(255));
    EXPECT_FALSE(H::InputTerminatorValue::isValid(256));
    EXPECT_FALSE(H::InputTerminatorValue::isValid(-1));
}

TEST(Payloads, RoundingModes) {
    using R = util::RoundingMode;
    EXPECT_EQ(H::getRoundingMode(H::RoundingMethod::CEILING), R::CEILING);
    EXPECT_EQ(H::getRoundingMode(H::RoundingMethod::DOWN), R::DOWN);
    EXPECT_EQ(H::getRoundingMode(H::RoundingMethod::FLOOR), R::FLOOR);
    EXPECT_EQ(H::getRoundingMode(H::RoundingMethod::HALF_DOWN), R::HALF_DOWN);
    EXPECT_EQ(H::getRoundingMode(H::RoundingMethod::HALF_EVEN), R::HALF_EVEN);
    EXPECT_EQ(H::getRoundingMode(H::RoundingMethod::HALF_UP), R::HALF_UP);
    EXPECT_EQ(H::getRoundingMode(H::RoundingMethod::UP), R::UP);
}

// Each text case is {text, valid}.
struct TextCase {
    const char16_t* text;
    bool valid;
};

void expectCases(bool (*isValid)(const QString&), std::initializer_list<TextCase> cases) {
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(isValid(text), c.valid) << '"' << text.toStdString() << '"';
    }
}

TEST(TextSettings, MathOperand) {
    expectCases(&H::MathOperand::isValid, {{u"", true},
                                           {u"0", false},
                                           {u"0.0", true},
                                           {u"-0", true},
                                           {u"2.5", true},
                                           {u"-2.5", true},
                                           {u"2,5", false},
                                           {u"1e3", true},
                                           {u"1E-3", true},
                                           {u"abc", false},
                                           {u" 2", false},
                                           {u"1.2.3", false}});
}

TEST(TextSettings, DecimalPlacesAndIntegerParsing) {
    expectCases(&H::DecimalPlaces::isValid, {{u"", true},
                                             {u"0", true},
                                             {u"7", true},
                                             {u"+7", true},
                                             {u"-0", true},
                                             {u"007", true},
                                             {u"8", false},
                                             {u"-1", false},
                                             {u"2.0", false},
                                             {u" 5", false},
                                             {u"5 ", false},
                                             {u"5x", false},
                                             {u"+", false},
                                             {u"-", false},
                                             {u"4294967299", false}});
}

TEST(TextSettings, Delay) {
    expectCases(&H::Delay::isValid, {{u"", true},
                                     {u"0", true},
                                     {u"20", true},
                                     {u"1000", true},
                                     {u"1001", false},
                                     {u"-1", false},
                                     {u"2.5", false}});
}

TEST(TextSettings, RequestSettings) {
    expectCases(&H::RequestInterval::isValid,
                {{u"0", true}, {u"100", true}, {u"86400000", true}, {u"", false}, {u"99", false},
                 {u"-5", false}, {u"1e3", false}});
    expectCases(&H::RequestCommand::isValid,
                {{u"", true}, {u"SI\\r\\n", true}, {u"\\x1bP\\r\\n", true}, {u"a\\\\b", true},
                 {u"\\x1", false}, {u"\\xZZ", false}, {u"\\q", false}, {u"end\\", false}});
    expectCases(&H::RequestHotkey::isValid,
                {{u"", true}, {u"F9", true}, {u"ctrl+shift+r", true}, {u"Alt+F24", true},
                 {u"F25", false}, {u"Ctrl+", false}, {u"F9 F10", false}, {u"Hyper+A", false}});
    expectCases(&H::ValueLog::isValid,
                {{u"", true}, {u"/home/lab/readings.csv", true}, {u"readings.csv", false},
                 {u"/tmp/a\nb.csv", false}});
    EXPECT_EQ(H::RequestCommand::decode("\\x1bP\\r\\n"), QByteArray("\x1bP\r\n"));
    EXPECT_EQ(H::RequestCommand::decode("Q\\t\\\\"), QByteArray("Q\t\\"));
}

TEST(TextSettings, EditNumCharacters) {
    expectCases(&H::EditNumCharacters::isValid, {{u"", true},
                                                 {u"1", true},
                                                 {u"99", true},
                                                 {u"0", false},
                                                 {u"100", false},
                                                 {u"-3", false},
                                                 {u"5x", false}});
}

TEST(TextSettings, RemoveCharacters) {
    expectCases(&H::RemoveCharacters::isValid, {{u"", true},
                                                {u"#", true},
                                                {u"\u00e9", true},
                                                {u"a\u00ff\t", true},
                                                {u"\u20ac", false},
                                                {u"ab\u0100", false},
                                                {u"\U0001F600", false}});
    QString everyByte;
    for (int c = 1; c <= 255; ++c) everyByte.append(QChar(c));
    everyByte.prepend(QChar(0));
    EXPECT_TRUE(H::RemoveCharacters::isValid(everyByte));
}

TEST(TextSettings, IgnoreTimeLimit) {
    expectCases(&H::IgnoreTimeLimit::isValid, {{u"", true},
                                               {u"1", true},
                                               {u"2147483647", true},
                                               {u"2147483648", false},
                                               {u"0", false},
                                               {u"-5", false},
                                               {u"1.5", false}});
}

TEST(TextSettings, IgnoreDifference) {
    expectCases(&H::IgnoreDifference::isValid, {{u"", true},
                                                {u"0.001", true},
                                                {u"1E-3", true},
                                                {u"5", true},
                                                {u"0", false},
                                                {u"0.000", false},
                                                {u"-1", false},
                                                {u"0,5", false},
                                                {u"abc", false}});
}

TEST(TextSettings, CustomRegEx) {
    expectCases(&H::CustomRegEx::isValid,
                {{u"", true},
                 {u"(\\d+)", true},
                 {u"Wt\\s?([-+]?[0-9]+)", true},
                 {u"\\d+", false},
                 {u"\\(x\\)", false},
                 {u"a)(b", false},
                 {u"(a", false},
                 {u"[", false},
                 // The scan is textual: a closing bracket inside a class still counts.
                 {u"[)](a)", false},
                 // An escaped opening bracket is skipped; the group after it counts.
                 {u"x\\((\\d)", true}});
}

}  // namespace
}  // namespace quorvel::config
