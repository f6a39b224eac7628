#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <iterator>
#include <string>
#include <vector>

#include "quorvel/config/ConfigHelper.h"

namespace quorvel::config {
namespace {

using H = ConfigHelper;
using KT = H::KeyboardType;
using MT = H::KeyMapType;

const KT kLayouts[] = {KT::QUERTY, KT::US_INTERNATIONAL, KT::AZERTY, KT::GERMAN};

std::vector<int> keys(const char* spaced) {
    std::vector<int> out;
    for (const QString& word : QString::fromLatin1(spaced).split(' ', Qt::SkipEmptyParts))
        out.push_back(word.toInt());
    return out;
}

// Looks up a character; an absent one gives an empty sequence, which no present one has.
std::vector<int> lookup(const H::Keymap& map, char16_t c) {
    const auto it = map.find(c);
    return it == map.end() ? std::vector<int>{} : it->second;
}

TEST(Keymap, EntryCountsPerLayoutAndMapType) {
    for (const KT layout : kLayouts) {
        SCOPED_TRACE(Setting<KT>::name(layout).toStdString());
        EXPECT_EQ(H::getKeymap(layout, MT::NUMERIC).size(), 14u);
        EXPECT_EQ(H::getKeymap(layout, MT::ALPHANUMERIC_BASIC).size(), 40u);
        // Every printable ASCII character, space to tilde, and nothing else.
        const auto complete = H::getKeymap(layout, MT::ALPHANUMERIC_COMPLETE);
        EXPECT_EQ(complete.size(), 95u);
        for (char16_t c = 0x20; c <= 0x7E; ++c) EXPECT_TRUE(complete.count(c)) << int(c);
    }
}

TEST(Keymap, NumericStageOnEveryLayout) {
    for (const KT layout : {KT::QUERTY, KT::US_INTERNATIONAL, KT::GERMAN}) {
        SCOPED_TRACE(Setting<KT>::name(layout).toStdString());
        const auto map = H::getKeymap(layout, MT::NUMERIC);
        for (int d = 0; d <= 9; ++d)
            EXPECT_EQ(lookup(map, char16_t(u'0' + d)), std::vector<int>{48 + d}) << d;
        EXPECT_EQ(lookup(map, u'-'), keys("45"));
        EXPECT_EQ(lookup(map, u'+'), keys("107"));
        EXPECT_EQ(lookup(map, u','), keys("44"));
        EXPECT_EQ(lookup(map, u'.'), keys("46"));
        EXPECT_FALSE(map.count(u'A'));
        EXPECT_FALSE(map.count(u' '));
    }
    // AZERTY types digits with Shift, and the point is Shift + semicolon key.
    for (const MT type : {MT::NUMERIC, MT::ALPHANUMERIC_COMPLETE}) {
        const auto azerty = H::getKeymap(KT::AZERTY, type);
        for (int d = 0; d <= 9; ++d)
            EXPECT_EQ(lookup(azerty, char16_t(u'0' + d)), (std::vector<int>{16, 48 + d})) << d;
        EXPECT_EQ(lookup(azerty, u'-'), keys("54"));
        EXPECT_EQ(lookup(azerty, u'+'), keys("107"));
        EXPECT_EQ(lookup(azerty, u','), keys("44"));
        EXPECT_EQ(lookup(azerty, u'.'), keys("16 59"));
    }
}

TEST(Keymap, LetterStages) {
    const auto basic = H::getKeymap(KT::GERMAN, MT::ALPHANUMERIC_BASIC);
    EXPECT_EQ(lookup(basic, u'A'), keys("16 65"));
    EXPECT_EQ(lookup(basic, u'Z'), keys("16 90"));
    EXPECT_FALSE(basic.count(u'z'));
    EXPECT_FALSE(basic.count(u'!'));
    EXPECT_FALSE(basic.count(u' '));

    for (const KT layout : kLayouts) {
        SCOPED_TRACE(Setting<KT>::name(layout).toStdString());
        const auto map = H::getKeymap(layout, MT::ALPHANUMERIC_COMPLETE);
        for (int i = 0; i < 26; ++i) {
            EXPECT_EQ(lookup(map, char16_t(u'A' + i)), (std::vector<int>{16, 65 + i}));
            EXPECT_EQ(lookup(map, char16_t(u'a' + i)), std::vector<int>{65 + i});
        }
        EXPECT_EQ(lookup(map, u'*'), keys("106"));
        EXPECT_EQ(lookup(map, u'/'), keys("111"));
        EXPECT_EQ(lookup(map, u' '), keys("32"));
        EXPECT_FALSE(map.count(u'\u00e9'));
        EXPECT_FALSE(map.count(u'\t'));
        EXPECT_FALSE(map.count(u'\r'));
    }
}

// The punctuation of each layout: character, then the keys on QUERTY, US international,
// GERMAN and AZERTY.
struct PunctuationRow {
    char16_t c;
    const char* querty;
    const char* usInternational;
    const char* german;
    const char* azerty;
};
const PunctuationRow kRows[] = {
    {u'!', "16 49", "16 49", "16 49", "517"},
    {u'"', "16 222", "16 129 32", "16 50", "51"},
    {u':', "16 59", "16 59", "16 46", "513"},
    {u'#', "16 51", "16 51", "520", "17 18 51"},
    {u'$', "16 52", "16 52", "16 52", "515"},
    {u'%', "16 53", "16 53", "16 53", "18 99 103"},
    {u'&', "16 55", "16 55", "16 54", "49"},
    {u'\'', "222", "129 32", "16 520", "52"},
    {u'(', "16 57", "16 57", "16 56", "53"},
    {u')', "16 48", "16 48", "16 57", "522"},
    {u';', "59", "59", "16 44", "59"},
    {u'<', "16 44", "16 44", "153", "153"},
    {u'=', "61", "61", "16 48", "61"},
    {u'>', "16 46", "16 46", "16 153", "16 153"},
    {u'?', "16 47", "16 47", "18 102 99", "16 44"},
    {u'@', "16 50", "16 50", "17 18 81", "17 18 48"},
    {u'[', "91", "91", "17 18 56", "17 18 53"},
    {u'\\', "92", "92", "18 105 98", "17 18 56"},
    {u']', "93", "93", "17 18 57", "17 18 522"},
    {u'^', "16 54", "16 54 32", "130 32", "130 32"},
    {u'_', "16 45", "16 45", "16 45", "56"},
    {u'`', "192", "128 32", "16 129 32", "17 18 55 32"},
    {u'{', "16 91", "16 91", "17 18 55", "17 18 52"},
    {u'|', "16 92", "16 92", "17 18 153", "17 18 54"},
    {u'}', "16 93", "16 93", "17 18 48", "17 18 61"},
    {u'~', "16 192", "16 128 32", "17 18 521", "17 18 50 32"},
};

TEST(Keymap, EveryPunctuationCellOfEveryLayout) {
    ASSERT_EQ(std::size(kRows), 26u);
    const auto querty = H::getKeymap(KT::QUERTY, MT::ALPHANUMERIC_COMPLETE);
    const auto usInternational = H::getKeymap(KT::US_INTERNATIONAL, MT::ALPHANUMERIC_COMPLETE);
    const auto german = H::getKeymap(KT::GERMAN, MT::ALPHANUMERIC_COMPLETE);
    const auto azerty = H::getKeymap(KT::AZERTY, MT::ALPHANUMERIC_COMPLETE);
    for (const auto& row : kRows) {
        SCOPED_TRACE(std::string(1, static_cast<char>(row.c)));
        EXPECT_EQ(lookup(querty, row.c), keys(row.querty)) << "QUERTY";
        EXPECT_EQ(lookup(usInternational, row.c), keys(row.usInternational)) << "US_INTERNATIONAL";
        EXPECT_EQ(lookup(german, row.c), keys(row.german)) << "GERMAN";
        EXPECT_EQ(lookup(azerty, row.c), keys(row.azerty)) << "AZERTY";
    }
}

TEST(Keymap, CellsAMistakeIsLikelyIn) {
    const auto azerty = H::getKeymap(KT::AZERTY, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(lookup(azerty, u'1'), keys("16 49"));
    EXPECT_EQ(lookup(azerty, u'%'), keys("18 99 103"));  // Alt + keypad 3 7
    EXPECT_EQ(lookup(azerty, u'~'), keys("17 18 50 32"));

    const auto usInternational = H::getKeymap(KT::US_INTERNATIONAL, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(lookup(usInternational, u'\''), keys("129 32"));
    EXPECT_EQ(lookup(usInternational, u'"'), keys("16 129 32"));

    const auto german = H::getKeymap(KT::GERMAN, MT::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(lookup(german, u'?'), keys("18 102 99"));   // Alt + keypad 6 3
    EXPECT_EQ(lookup(german, u'\\'), keys("18 105 98"));  // Alt + keypad 9 2
}

TEST(Keymap, UnknownLayoutUsesTheQuertyTable) {
    const auto unknown = static_cast<KT>(9);
    for (const MT type : {MT::NUMERIC, MT::ALPHANUMERIC_BASIC, MT::ALPHANUMERIC_COMPLETE})
        EXPECT_EQ(H::getKeymap(unknown, type), H::getKeymap(KT::QUERTY, type));
}

}  // namespace
}  // namespace quorvel::config
