#include "quorvel/config/Instrument.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <atomic>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/util/Bundle.h"

namespace quorvel::config {
namespace {

using I = ConfigHelper::Instrument;
using Type = ConfigHelper::InstrumentType;
using Keys = ConfigHelper::KeyMapType;
using P = InstrumentPresets;

const QString NUMBER_REGEX = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+))";
// Patterns rewritten to the makers' line formats; what they read is checked line by line in
// the worker's instrument line tables, so the text is not restated here.
const QString FOLLOWS_FORMAT;

// Everything a preset answers for itself, written out once per preset.
struct Expected {
    I instrument;
    const char* name;
    int bitRate, dataBits, parity, stopBits, inputTerminator;
    Type type;
    Keys keyMap;
    QString regEx;
    const char* noteKey;  // nullptr = no note
};

// Codes: 9600 = 7, 4800 = 6, 2400 = 5, 1200 = 4; 7 bits = 2, 8 bits = 3;
// NONE 0, ODD 1, EVEN 2, SPACE 4; one stop bit = 0.
const std::vector<Expected>& expectedPresets() {
    static const std::vector<Expected> all = {
        {I::GENERIC, "GENERIC", 7, 3, 0, 0, 13, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "generic.defaultMessage"},
        {I::BARCODE, "BARCODE", 7, 3, 0, 0, 13, Type::TEXT, Keys::NUMERIC, NUMBER_REGEX,
         "barcode_numeric.defaultMessage"},
        {I::BARCODE_ALPHA, "BARCODE_ALPHA", 7, 3, 0, 0, 13, Type::TEXT, Keys::ALPHANUMERIC_BASIC,
         R"(([\dA-Z]+))", "barcode_alphanumeric.defaultMessage"},
        {I::BARCODE_ALPHA_COMPLETE, "BARCODE_ALPHA_COMPLETE", 7, 3, 0, 0, 13, Type::TEXT,
         Keys::ALPHANUMERIC_COMPLETE, R"re(([] !-/\d:-@A-Z[\\^_`a-z{|}~]+))re",
         "barcode_alphanumeric_complete.defaultMessage"},
        {I::AND, "AND", 5, 2, 2, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::AND_SIMPLE, "AND_SIMPLE", 5, 2, 2, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::AND_EM, "AND_EM", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "aandd.em.defaultmessage"},
        {I::ADAM_AZEXTRA_WEIGHT, "ADAM_AZEXTRA_WEIGHT", 6, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC,
         R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)kg)", "adam_azextra.defaultMessage"},
        {I::ADAM_CBK, "ADAM_CBK", 6, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "adam_cbk.defaultMessage"},
        {I::ADAM_CPWPLUS, "ADAM_CPWPLUS", 7, 3, 0, 0, 13, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "adam_cpwplus.defaultMessage"},
        {I::ADAM_GC_WEIGHT, "ADAM_GC_WEIGHT", 6, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::ADAM_GC_PCS, "ADAM_GC_PCS", 6, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC,
         R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(pcs))", nullptr},
        {I::ADAM_HCB, "ADAM_HCB", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "adam_hcb.defaultMessage"},
        {I::ADAM_LABEL, "ADAM_LABEL", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC,
         R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?)"
         R"((kg|g|lb|oz|pcs|ct|d|GN|ozt|dwt|MM|TlH|TlC|Tlt|t|N|g2|TlJ))",
         nullptr},
        {I::KERN_572, "KERN_572", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::KERND_DE, "KERND_DE", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::KERN_DS, "KERN_DS", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::KERN_FKB, "KERN_FKB", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::KERN_KB_N, "KERN_KB_N", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::KERN_KFB, "KERN_KFB", 7, 3, 0, 0, 13, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::KERN_MPS, "KERN_MPS", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC,
         R"(^N.*?(-?\s*[0-9]*[\.,]?[0-9]+)\s*kg)", nullptr},
        {I::KEYENCE_IL, "KEYENCE_IL", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::METTLER_DIALOG, "METTLER_DIALOG", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::METTLER_PRINT, "METTLER_PRINT", 5, 2, 2, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::MITUTOYO, "MITUTOYO", 5, 3, 0, 0, 13, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::MITUTOYO_LSM_6200, "MITUTOYO_LSM_6200", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC,
         R"(([-+]?\s*[0-9]*\.+[0-9]+))", nullptr},
        {I::MYWEIGH_HD, "MYWEIGH_HD", 7, 3, 4, 0, 13, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "myweigh_hd.defaultMessage"},
        {I::OHAUS, "OHAUS", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::OHAUSSPU, "OHAUSSPU", 5, 2, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::PRECISA, "PRECISA", 7, 2, 2, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::SARTORIUS, "SARTORIUS", 4, 2, 1, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "sartorius.defaultMessage"},
        {I::SCHLAGE_HANDPUNCH, "SCHLAGE_HANDPUNCH", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::TANITA_TL280, "TANITA_TL280", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         nullptr},
        {I::WEDDERBURN, "WEDDERBURN", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC,
         R"(^0(-?\s+[0-9]*\.?[0-9]+))", nullptr},
        {I::TOLEDO_CONTINUOUS, "TOLEDO_CONTINUOUS", 7, 3, 0, 0, 13, Type::NUMBER, Keys::NUMERIC,
         FOLLOWS_FORMAT, "toledo_continuous.defaultMessage"},
        {I::RADWAG, "RADWAG", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "radwag.defaultMessage"},
        {I::SHIMADZU, "SHIMADZU", 4, 3, 0, 0, 13, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "shimadzu.defaultMessage"},
        {I::ST_GS_INDICATOR, "ST_GS_INDICATOR", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC,
         FOLLOWS_FORMAT, "st_gs_indicator.defaultMessage"},
        {I::RINSTRUM, "RINSTRUM", 7, 3, 0, 0, 3, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "rinstrum.defaultMessage"},
        {I::NCI, "NCI", 7, 2, 2, 0, 13, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "nci.defaultMessage"},
        {I::FAIRBANKS, "FAIRBANKS", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "fairbanks.defaultMessage"},
        {I::KERN_EW, "KERN_EW", 7, 3, 0, 0, 10, Type::NUMBER, Keys::NUMERIC, FOLLOWS_FORMAT,
         "kern_ew.defaultMessage"},
    };
    return all;
}

TEST(InstrumentTest, TheTableCoversEveryPresetInOrder) {
    const auto& values = Setting<I>::values();
    // The first 34 keep their names and positions; later presets are appended.
    ASSERT_EQ(values.size(), 42u);
    ASSERT_EQ(expectedPresets().size(), 42u);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i], expectedPresets()[i].instrument) << i;
        EXPECT_EQ(Setting<I>::name(values[i]), QString(expectedPresets()[i].name)) << i;
    }
}

TEST(InstrumentTest, DefaultConfigIsAPlainConfigWithThePresetsSerialLine) {
    for (const Expected& e : expectedPresets()) {
        SCOPED_TRACE(e.name);
        const Config actual = P::getDefaultConfig(e.instrument);
        EXPECT_EQ(actual.getBitRate(), e.bitRate);
        EXPECT_EQ(actual.getDataBits(), e.dataBits);
        EXPECT_EQ(actual.getParity(), e.parity);
        EXPECT_EQ(actual.getStopBits(), e.stopBits);
        EXPECT_EQ(actual.getInputTerminator(), e.inputTerminator);

        // Every other field stays as a freshly made Config has it.
        Config plain;
        plain.setBitRate(e.bitRate);
        plain.setDataBits(e.dataBits);
        plain.setParity(e.parity);
        plain.setStopBits(e.stopBits);
        plain.setInputTerminator(e.inputTerminator);
        EXPECT_FALSE(plain.hasChanged(actual));
        EXPECT_EQ(actual.getInstrument(), plain.getInstrument());
        EXPECT_EQ(actual.getPort().isNull(), plain.getPort().isNull());
    }
}

TEST(InstrumentTest, DefaultConfigIsANewConfigEachCall) {
    Config first = P::getDefaultConfig(I::SARTORIUS);
    first.setBitRate(11);
    first.setParity(3);
    first.setDelay("500");
    const Config second = P::getDefaultConfig(I::SARTORIUS);
    EXPECT_EQ(second.getBitRate(), 4);
    EXPECT_EQ(second.getParity(), 1);
    EXPECT_EQ(second.getDelay(), QString("20"));
}

TEST(InstrumentTest, PatternsTypesKeyMapsAndGroupAreThePresets) {
    for (const Expected& e : expectedPresets()) {
        SCOPED_TRACE(e.name);
        if (!e.regEx.isNull()) {
            EXPECT_EQ(P::getRegEx(e.instrument), e.regEx);
        }
        EXPECT_EQ(P::getInstrumentType(e.instrument), e.type);
        EXPECT_EQ(P::getKeyMapType(e.instrument), e.keyMap);
        EXPECT_EQ(P::getCaptureGroup(e.instrument), 1);
        // A pattern that does not compile would silently type nothing.
        EXPECT_TRUE(QRegularExpression(P::getRegEx(e.instrument)).isValid());
    }
}

TEST(InstrumentTest, OnlyMitutoyoAndNciAskForData) {
    for (const Expected& e : expectedPresets()) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(P::getDataCommand(e.instrument),
                  e.instrument == I::MITUTOYO ? QString("1\r")
                  : e.instrument == I::NCI    ? QString("W\r")
                                              : QString(""));
    }
}

TEST(InstrumentTest, NotesComeFromTheConfigBundle) {
    const util::Bundle& bundle = util::Bundle::config();
    for (const Expected& e : expectedPresets()) {
        SCOPED_TRACE(e.name);
        const auto key = P::getDefaultMessageKey(e.instrument);
        const auto note = P::getDefaultMessage(e.instrument);
        if (e.noteKey == nullptr) {
            EXPECT_FALSE(key.has_value());
            EXPECT_FALSE(note.has_value());
            continue;
        }
        ASSERT_TRUE(key.has_value());
        EXPECT_EQ(*key, QString(e.noteKey));
        ASSERT_TRUE(note.has_value());
        EXPECT_TRUE(bundle.contains(*key));
        EXPECT_EQ(*note, bundle.getString(*key));
        EXPECT_FALSE(note->isEmpty());
    }
}

TEST(InstrumentTest, PresetsThatBehaveAsAnotherAnswerLikeIt) {
    auto sameSerial = [](I a, I b) {
        const Config x = P::getDefaultConfig(a);
        const Config y = P::getDefaultConfig(b);
        return !x.hasChanged(y);
    };
    EXPECT_TRUE(sameSerial(I::AND_SIMPLE, I::AND));
    EXPECT_EQ(P::getRegEx(I::AND_SIMPLE), P::getRegEx(I::AND));
    EXPECT_EQ(P::getTestStrings(I::AND_SIMPLE), P::getTestStrings(I::AND));

    // A&D EM shares the pattern and samples, not the serial line.
    EXPECT_FALSE(sameSerial(I::AND_EM, I::AND));
    EXPECT_EQ(P::getRegEx(I::AND_EM), P::getRegEx(I::AND));
    EXPECT_EQ(P::getTestStrings(I::AND_EM), P::getTestStrings(I::AND));

    for (I kern : {I::KERND_DE, I::KERN_DS, I::KERN_FKB, I::KERN_KB_N}) {
        EXPECT_TRUE(sameSerial(kern, I::KERN_572)) << Setting<I>::name(kern).toStdString();
    }
    // Only the serial line is shared by the Kern models.
    EXPECT_FALSE(sameSerial(I::KERN_KFB, I::KERN_572));
}

TEST(InstrumentTest, OnlyThePresetNamesAreValid) {
    for (const Expected& e : expectedPresets()) {
        EXPECT_TRUE(Setting<I>::isValid(QString(e.name))) << e.name;
        EXPECT_EQ(Setting<I>::fromName(QString(e.name)), e.instrument);
    }
    for (const char* bad : {"", "generic", "Generic", "GENERIC ", " GENERIC", "KERN", "AND_",
                            "ADAM_CBK\n", "TANITA_TL290", "A&D", "4"}) {
        EXPECT_FALSE(Setting<I>::isValid(QString(bad))) << bad;
    }
    EXPECT_EQ(Setting<I>::getDefault(), I::GENERIC);
}

// The sample lines of the instruments, typed here from the device documentation rather than
// read back from the presets; nullopt = the line yields no value.
struct Case {
    I instrument;
    QString line;
    std::optional<QString> value;
};

const std::vector<Case>& sampleCases() {
    static const QString TANITA_HEAD = QString("{0,16,~0,1,MO,") + "\"TL-280\"";
    static const std::vector<Case> all = {
        {I::AND, "ST, +00012.34 kg", "+00012.34"},
        {I::AND, "US, -00012,45 g", "-00012,45"},
        {I::AND, "ST, +00000101 PC", "+00000101"},
        {I::AND, "ST, 12345,67 kg", std::nullopt},
        {I::AND_SIMPLE, "ST, +00012.34 kg", "+00012.34"},
        {I::AND_SIMPLE, "ST, 12345,67 kg", std::nullopt},
        {I::AND_EM, "US, -00012,45 g", "-00012,45"},
        {I::AND_EM, "ST, 12345,67 kg", std::nullopt},
        {I::ADAM_AZEXTRA_WEIGHT,
         "10/06/2016   03:52:47\r\n   UNIT PRICE        NET      TOTAL\r\n"
         "-------------------------------------\r\n?      4.45/100g    0.058kg ?    2.58\r\n"
         "\r\n\r\n\r\n",
         "    0.058"},
        {I::ADAM_AZEXTRA_WEIGHT,
         "\r\n\r\nDATE   10/06/2016\r\nTIME   04:18:39\r\n\r\nUNIT\r\nPRICE ?   33.43/100g\r\n"
         "\r\nNET.      1.234kg\r\n\r\nTOTAL ?  412.53\r\n\r\n\r\n\r\n",
         "      1.234"},
        {I::ADAM_AZEXTRA_WEIGHT, "   1.234kg\r\n", "   1.234"},
        {I::ADAM_CBK, "  1.9999 kg\n", "  1.9999"},
        {I::ADAM_CBK, "  -1.8999 kg\n", "-1.8999"},
        {I::ADAM_CPWPLUS, "add:   A\n", std::nullopt},
        {I::ADAM_CPWPLUS, "G/W:+ 60.24   kg\n\n\n\n", "+ 60.24"},
        {I::ADAM_GC_WEIGHT, "Date   07/09/2010\r", std::nullopt},
        {I::ADAM_GC_WEIGHT, "Time   16:20:15\r", std::nullopt},
        {I::ADAM_GC_WEIGHT, "Scale ID         \r", std::nullopt},
        {I::ADAM_GC_WEIGHT, "User ID          \r", std::nullopt},
        {I::ADAM_GC_WEIGHT, "Gross Wt   0.0020 kg\r", "  0.0020"},
        {I::ADAM_GC_WEIGHT, "Net Wt     0.0845 kg\r", "    0.0845"},
        {I::KERN_MPS, "NET  WEIGHT  3.3kg\n", "  3.3"},
        {I::KERN_MPS, "N  60.24 kg\n", "  60.24"},
        {I::KEYENCE_IL, "DR,08,-99.998\r", "-99.998"},
        {I::KEYENCE_IL, "DR,02,+123.567\r", "+123.567"},
        {I::KEYENCE_IL, "DR,02,123.567\r", std::nullopt},
        {I::MITUTOYO, "01A+001.1920\r", "+001.1920"},
        {I::MITUTOYO, "01A-001.1805", "-001.1805"},
        {I::MITUTOYO, "+123.45", std::nullopt},
        {I::MITUTOYO_LSM_6200, "P00, 12.3456\r\n", " 12.3456"},
        {I::MITUTOYO_LSM_6200, "12.3456", "12.3456"},
        {I::MITUTOYO_LSM_6200, "P00, +012.3456", "+012.3456"},
        {I::SCHLAGE_HANDPUNCH, "021   001   15:27:00  06/29/16  IDENTITY VERIFIED FOR ID ( 999)",
         "999"},
        {I::TANITA_TL280, TANITA_HEAD + ",Wg,123,Pt,0", "123"},
        {I::TANITA_TL280, TANITA_HEAD + ",Wg,-12.3,Pt,0", "-12.3"},
        {I::WEDDERBURN, "\nA    2.10", std::nullopt},
        {I::WEDDERBURN, "0    2.45", "    2.45"},
        {I::WEDDERBURN, "4-    0.35", std::nullopt},
        {I::WEDDERBURN, "14/06/2016 13:26:35", std::nullopt},
        {I::WEDDERBURN, "1", std::nullopt},
        {I::WEDDERBURN, "B@G", std::nullopt},
    };
    return all;
}

TEST(InstrumentTest, SampleLinesExtractExactlyBlanksIncluded) {
    for (const Case& c : sampleCases()) {
        SCOPED_TRACE(Setting<I>::name(c.instrument).toStdString() + ": " + c.line.toStdString());
        EXPECT_EQ(P::extract(c.instrument, c.line), c.value);
    }
}

TEST(InstrumentTest, EachPresetCarriesItsSampleLinesAndTheyHold) {
    std::map<I, std::vector<P::TestString>> listed;
    for (const Case& c : sampleCases()) {
        // The A&D variants list the samples of A&D itself, checked through the delegation below.
        if (c.instrument == I::AND_SIMPLE || c.instrument == I::AND_EM)
            continue;
        listed[c.instrument].emplace_back(c.line, c.value.value_or(""));
    }
    listed[I::AND_SIMPLE] = listed[I::AND];
    listed[I::AND_EM] = listed[I::AND];

    for (const Expected& e : expectedPresets()) {
        SCOPED_TRACE(e.name);
        const auto samples = P::getTestStrings(e.instrument);
        const auto it = listed.find(e.instrument);
        if (e.instrument > I::WEDDERBURN) {
            // Appended presets bring samples of their own, each holding below.
            EXPECT_GE(samples.size(), 3u);
        } else if (it == listed.end()) {
            ASSERT_EQ(samples.size(), 1u);
            EXPECT_EQ(samples[0].first, QString(""));
            EXPECT_EQ(samples[0].second, QString(""));
        } else {
            EXPECT_EQ(samples, it->second);
        }
        for (const auto& [line, value] : samples) {
            EXPECT_EQ(P::extract(e.instrument, line).value_or(""), value) << line.toStdString();
        }
    }
}

TEST(InstrumentTest, CompleteBarcodePatternTakesExactlyPrintableAscii) {
    for (int b = 0; b < 256; ++b) {
        const QString one = P::textFromBytes(QByteArray(1, static_cast<char>(b)));
        const auto got = P::extract(I::BARCODE_ALPHA_COMPLETE, one);
        if (b >= 0x20 && b <= 0x7E) {
            EXPECT_EQ(got, one) << "byte " << b;
        } else {
            EXPECT_EQ(got, std::nullopt) << "byte " << b;
        }
    }
    // A run stops at the first control byte, and leading ones are skipped.
    EXPECT_EQ(P::extract(I::BARCODE_ALPHA_COMPLETE,
                         P::textFromBytes(QByteArray("\x02 A]b\\[~\r\nrest", 14))),
              QString(" A]b\\[~"));
}

TEST(InstrumentTest, PlainBarcodeAlphaTakesDigitsAndCapitalsOnly) {
    EXPECT_EQ(P::extract(I::BARCODE_ALPHA, "ab-X9Y7z\r"), QString("X9Y7"));
    EXPECT_EQ(P::extract(I::BARCODE_ALPHA, "only lower\r"), std::nullopt);
    EXPECT_EQ(P::extract(I::BARCODE, "code 0042\r"), QString(" 0042"));
}

TEST(InstrumentTest, BytesBecomeCharactersOfTheSameCode) {
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(static_cast<char>(b));
    const QString text = P::textFromBytes(all);
    ASSERT_EQ(text.size(), 256);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(text.at(b).unicode(), b);
    EXPECT_EQ(P::textFromBytes(QByteArray()), QString(""));

    // High bytes around a value do not disturb the extraction.
    EXPECT_EQ(P::extract(I::AND, P::textFromBytes("\xB1ST,+00012.34\xB0kg\xFF")),
              QString("+00012.34"));
}

TEST(InstrumentTest, ExtractTakesTheFirstMatchAndTheAskedGroup) {
    EXPECT_EQ(P::extract("([0-9]+)", 1, "a 12 b 34"), QString("12"));
    EXPECT_EQ(P::extract("([0-9]+) ([a-z]+)", 2, "x 12 ab 34 cd"), QString("ab"));
    EXPECT_EQ(P::extract("([0-9]+)", 1, "none here"), std::nullopt);

    // A group that did not take part is an empty value, not a missing match.
    const auto empty = P::extract("(a)|(b)", 1, "b");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->isEmpty());
    EXPECT_EQ(P::extract(I::SCHLAGE_HANDPUNCH, "IDENTITY VERIFIED FOR ID ( )"), std::nullopt);

    // A user's broken pattern gives no value instead of failing; so does a missing group.
    EXPECT_EQ(P::extract("([0-9]+", 1, "12"), std::nullopt);
    EXPECT_EQ(P::extract("[", 1, "["), std::nullopt);
    EXPECT_EQ(P::extract("([0-9]+)", 3, "12"), QString(""));
    // No options: case matters and '^' is only the start of the whole line.
    EXPECT_EQ(P::extract("(kg)", 1, "KG"), std::nullopt);
    EXPECT_EQ(P::extract(I::WEDDERBURN, "A\n0    2.45"), std::nullopt);
}

TEST(InstrumentTest, ExtractionIsSafeFromManyThreads) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 300; ++i) {
                const QString number = QString::number(t * 1000 + i);
                // Shared preset patterns and a stream of distinct ones that churn the cache.
                if (P::extract(I::TANITA_TL280, "Wg," + number + ",Pt") != number)
                    ++wrong;
                const QString own = "x" + QString::number(t) + "_" + QString::number(i) + "=(\\d+)";
                const QString line =
                    "x" + QString::number(t) + "_" + QString::number(i) + "=" + number;
                if (P::extract(own, 1, line) != number)
                    ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace quorvel::config
