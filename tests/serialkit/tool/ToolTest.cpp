#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "serialkit/tool/Compare.h"
#include "serialkit/tool/FormatData.h"
#include "serialkit/tool/SortVector.h"
#include "serialkit/tool/StatusAcceptor.h"
#include "serialkit/tool/StringCompare.h"

namespace serialkit::tool {
namespace {

static_assert(std::is_abstract_v<StatusAcceptor>);
static_assert(std::is_abstract_v<Compare<std::string>>);
static_assert(std::is_base_of_v<Compare<std::string>, StringCompare>);

template <typename Fn>
std::string messageOf(Fn&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

// ---- StringCompare -------------------------------------------------------------------------

TEST(ToolStringCompare, IgnoresCase) {
    StringCompare cmp;
    EXPECT_TRUE(cmp.lessThan("abc", "ABD"));
    EXPECT_FALSE(cmp.lessThan("ABD", "abc"));
    EXPECT_TRUE(cmp.lessThanOrEqual("ABC", "abc"));
    EXPECT_FALSE(cmp.lessThan("ABC", "abc"));
    EXPECT_FALSE(cmp.lessThan("abc", "ABC"));
    EXPECT_TRUE(cmp.lessThanOrEqual("abc", "ABC"));
    EXPECT_FALSE(cmp.lessThanOrEqual("abd", "ABC"));
}

TEST(ToolStringCompare, LowerCasesBeforeComparingCodes) {
    StringCompare cmp;
    // '_' (0x5F) lies between 'Z' and 'a': it sorts before letters only if they are
    // lower-cased first.
    EXPECT_TRUE(cmp.lessThan("_", "A"));
    EXPECT_FALSE(cmp.lessThan("A", "_"));
    EXPECT_TRUE(cmp.lessThan("[", "b"));
    // Digits stay below letters either way.
    EXPECT_TRUE(cmp.lessThan("COM9", "COMa"));
    EXPECT_TRUE(cmp.lessThan("COM10", "COM9"));
}

TEST(ToolStringCompare, PrefixEmptyAndHighBytes) {
    StringCompare cmp;
    EXPECT_TRUE(cmp.lessThan("", "a"));
    EXPECT_FALSE(cmp.lessThan("", ""));
    EXPECT_TRUE(cmp.lessThanOrEqual("", ""));
    EXPECT_TRUE(cmp.lessThan("COM", "com1"));
    EXPECT_FALSE(cmp.lessThan("com1", "COM"));
    // Bytes above 0x7F compare as unsigned codes, after every ASCII letter.
    EXPECT_TRUE(cmp.lessThan("z", "\xC3\xA4"));
    EXPECT_FALSE(cmp.lessThan("\xC3\xA4", "Z"));
}

// ---- SortVector ----------------------------------------------------------------------------

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::vector<std::string> randomWords(std::size_t n, unsigned seed, std::size_t maxLen) {
    std::mt19937 rng(seed);
    // A small alphabet so that duplicates and case-only differences are common.
    const std::string alphabet = "aAbBcC_1";
    std::uniform_int_distribution<std::size_t> len(0, maxLen);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::vector<std::string> words;
    for (std::size_t i = 0; i < n; ++i) {
        std::string w;
        for (std::size_t k = len(rng); k > 0; --k) {
            w += alphabet[pick(rng)];
        }
        words.push_back(w);
    }
    return words;
}

SortVector<std::string> textList(const std::vector<std::string>& words) {
    SortVector<std::string> list(std::make_shared<StringCompare>());
    for (const auto& w : words) {
        list.add(w);
    }
    return list;
}

// The sort is not stable, so compare with std::sort through the keys the ordering sees
// and separately check that no element was lost or altered.
void expectSortedLikeStdSort(const std::vector<std::string>& input) {
    auto list = textList(input);
    list.sort();
    std::vector<std::string> result = list.elements();

    StringCompare cmp;
    std::vector<std::string> expected = input;
    std::sort(expected.begin(), expected.end(),
              [&](const std::string& a, const std::string& b) { return cmp.lessThan(a, b); });

    ASSERT_EQ(result.size(), expected.size());
    EXPECT_TRUE(std::is_permutation(result.begin(), result.end(), input.begin(), input.end()));
    for (std::size_t i = 0; i < result.size(); ++i) {
        ASSERT_EQ(lower(result[i]), lower(expected[i])) << "at " << i;
    }
}

TEST(ToolSortVector, SortsRandomTextsLikeStdSort) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        expectSortedLikeStdSort(randomWords(1 + seed * 37, seed, 4));
    }
}

TEST(ToolSortVector, SortsManyDuplicates) {
    expectSortedLikeStdSort(randomWords(2000, 99, 1));
    expectSortedLikeStdSort(std::vector<std::string>(1000, "same"));
    // Equal under the ordering, different as text.
    std::vector<std::string> mixed;
    for (int i = 0; i < 300; ++i) {
        mixed.push_back(i % 3 == 0 ? "COM" : (i % 3 == 1 ? "com" : "Com"));
        mixed.push_back("b");
    }
    expectSortedLikeStdSort(mixed);
}

TEST(ToolSortVector, SortsSortedAndReversedInput) {
    auto words = randomWords(3000, 7, 6);
    StringCompare cmp;
    std::sort(words.begin(), words.end(),
              [&](const std::string& a, const std::string& b) { return cmp.lessThan(a, b); });
    expectSortedLikeStdSort(words);
    std::reverse(words.begin(), words.end());
    expectSortedLikeStdSort(words);
}

TEST(ToolSortVector, EmptyAndSingleElement) {
    auto empty = textList({});
    EXPECT_NO_THROW(empty.sort());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_NO_THROW(empty.quickSort(0, 0));

    auto one = textList({"only"});
    one.sort();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one.get(0), "only");
    one.quickSort(0, 0);
    EXPECT_EQ(one.get(0), "only");
}

// A type with no ordering of its own: the list can only compare through its Compare.
struct Reading {
    int value;
    int serial;
};

class ReadingCompare : public Compare<Reading> {
  public:
    bool lessThan(const Reading& a, const Reading& b) const override { return a.value < b.value; }
    bool lessThanOrEqual(const Reading& a, const Reading& b) const override {
        return a.value <= b.value;
    }
};

TEST(ToolSortVector, LargeInputsOfAnyElementType) {
    const std::size_t n = 200000;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> dist(0, 9);
    for (int pattern = 0; pattern < 4; ++pattern) {
        SCOPED_TRACE(pattern);
        SortVector<Reading> list(std::make_shared<ReadingCompare>());
        std::vector<int> expected;
        for (std::size_t i = 0; i < n; ++i) {
            int v = 0;
            switch (pattern) {
                case 0:
                    v = dist(rng);
                    break;  // few distinct values
                case 1:
                    v = static_cast<int>(i);
                    break;  // already sorted
                case 2:
                    v = static_cast<int>(n - i);
                    break;  // reversed
                default:
                    v = static_cast<int>(i % 2 ? i : n - i);  // organ pipe
            }
            list.add({v, static_cast<int>(i)});
            expected.push_back(v);
        }
        list.sort();
        std::sort(expected.begin(), expected.end());
        std::vector<bool> seen(n, false);
        for (std::size_t i = 0; i < n; ++i) {
            ASSERT_EQ(list.get(i).value, expected[i]) << "at " << i;
            ASSERT_FALSE(seen[static_cast<std::size_t>(list.get(i).serial)]);
            seen[static_cast<std::size_t>(list.get(i).serial)] = true;
        }
    }
}

TEST(ToolSortVector, QuickSortTouchesOnlyItsRange) {
    auto list = textList({"z", "y", "d", "C", "b", "a", "x"});
    list.quickSort(2, 5);
    EXPECT_EQ(list.elements(), (std::vector<std::string>{"z", "y", "a", "b", "C", "d", "x"}));
    // A reversed or one-element range does nothing.
    list.quickSort(5, 2);
    list.quickSort(6, 6);
    EXPECT_EQ(list.elements(), (std::vector<std::string>{"z", "y", "a", "b", "C", "d", "x"}));
}

TEST(ToolSortVector, QuickSortPastTheEndIsRejected) {
    auto list = textList({"b", "a"});
    EXPECT_THROW(list.quickSort(0, 2), std::out_of_range);
    EXPECT_EQ(list.elements(), (std::vector<std::string>{"b", "a"}));
}

TEST(ToolSortVector, SwapElements) {
    auto list = textList({"a", "b", "c"});
    list.swapElements(0, 2);
    EXPECT_EQ(list.elements(), (std::vector<std::string>{"c", "b", "a"}));
    list.swapElements(1, 1);
    EXPECT_EQ(list.elements(), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_THROW(list.swapElements(0, 3), std::out_of_range);
    EXPECT_THROW(list.swapElements(3, 0), std::out_of_range);
    EXPECT_EQ(list.elements(), (std::vector<std::string>{"c", "b", "a"}));
}

TEST(ToolSortVector, GrowsAndEdits) {
    SortVector<std::string> list(std::make_shared<StringCompare>(), 16);
    EXPECT_TRUE(list.isEmpty());
    list.add("b");
    list.insertAt(0, "a");
    list.insertAt(2, "d");
    list.set(2, "c");
    EXPECT_EQ(list.elements(), (std::vector<std::string>{"a", "b", "c"}));
    list.removeAt(1);
    EXPECT_EQ(list.elements(), (std::vector<std::string>{"a", "c"}));
    EXPECT_THROW(list.get(2), std::out_of_range);
    EXPECT_THROW(list.insertAt(3, "x"), std::out_of_range);
    EXPECT_THROW(list.removeAt(2), std::out_of_range);
    list.clear();
    EXPECT_EQ(list.size(), 0u);
}

TEST(ToolSortVector, NeedsAnOrdering) {
    EXPECT_THROW(SortVector<std::string>(nullptr), std::invalid_argument);
}

// Claims every element is smaller than every other one.
class BrokenCompare : public Compare<int> {
  public:
    bool lessThan(const int&, const int&) const override { return true; }
    bool lessThanOrEqual(const int&, const int&) const override { return true; }
};

TEST(ToolSortVector, InconsistentOrderingFailsWithoutLosingElements) {
    SortVector<int> list(std::make_shared<BrokenCompare>());
    std::vector<int> input{5, 3, 9, 1, 7, 3};
    for (int v : input) {
        list.add(v);
    }
    EXPECT_THROW(list.sort(), std::logic_error);
    EXPECT_TRUE(std::is_permutation(list.begin(), list.end(), input.begin(), input.end()));
}

// ---- FormatData ----------------------------------------------------------------------------

TEST(ToolFormatData, HexValueOfDigits) {
    EXPECT_EQ(FormatData::getHexValue("1A"), 26u);
    EXPECT_EQ(FormatData::getHexValue("ff"), 255u);
    EXPECT_EQ(FormatData::getHexValue(""), 0u);
    EXPECT_EQ(FormatData::getHexValue("0"), 0u);
    EXPECT_EQ(FormatData::getHexValue("09aFbE"), 0x09AFBEu);
    EXPECT_EQ(FormatData::getHexValue("0123456789abcdef"), 0x0123456789ABCDEFu);
    const std::vector<std::uint8_t> bytes{'7', 'f', 'F'};
    EXPECT_EQ(FormatData::getHexValue(std::span<const std::uint8_t>(bytes)), 0x7FFu);
}

TEST(ToolFormatData, HexValueRejectsOtherBytesWithTheirCode) {
    EXPECT_EQ(messageOf([] { FormatData::getHexValue("1G"); }), "Invalid hex value: 71");
    EXPECT_THROW(FormatData::getHexValue("1G"), std::invalid_argument);
    EXPECT_EQ(messageOf([] { FormatData::getHexValue("0x1A"); }), "Invalid hex value: 120");
    EXPECT_EQ(messageOf([] { FormatData::getHexValue(" 1"); }), "Invalid hex value: 32");
    EXPECT_EQ(messageOf([] { FormatData::getHexValue("-1"); }), "Invalid hex value: 45");
    EXPECT_EQ(messageOf([] { FormatData::getHexValue(std::string("1\0", 2)); }),
              "Invalid hex value: 0");
    // Bytes above 0x7F are reported as 0..255, not as negative numbers.
    EXPECT_EQ(messageOf([] { FormatData::getHexValue("\xC3"); }), "Invalid hex value: 195");
    // Characters just outside the digit ranges.
    for (const char* s : {"/", ":", "@", "`", "g"}) {
        EXPECT_THROW(FormatData::getHexValue(s), std::invalid_argument) << s;
    }
}

TEST(ToolFormatData, HexValueOfLeadingCount) {
    EXPECT_EQ(FormatData::getHexValue("1A2", 2), 26u);
    EXPECT_EQ(FormatData::getHexValue("1A2", 3), 0x1A2u);
    EXPECT_EQ(FormatData::getHexValue("1A2", 0), 0u);
    // Only the counted bytes are examined.
    EXPECT_EQ(FormatData::getHexValue("1G", 1), 1u);
    const std::vector<std::uint8_t> bytes{'F', 'F', 'Z'};
    EXPECT_EQ(FormatData::getHexValue(std::span<const std::uint8_t>(bytes), 2), 255u);
}

TEST(ToolFormatData, HexValueCountBeyondLengthIsRejected) {
    EXPECT_THROW(FormatData::getHexValue("1A", 3), std::invalid_argument);
    EXPECT_EQ(messageOf([] { FormatData::getHexValue("1A", 3); }),
              "Hex digit count exceeds data length: 3 > 2");
    EXPECT_EQ(messageOf([] { FormatData::getHexValue("", 1); }),
              "Hex digit count exceeds data length: 1 > 0");
}

TEST(ToolFormatData, HexValueOverflow) {
    EXPECT_EQ(FormatData::getHexValue("FFFFFFFFFFFFFFFF"),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(FormatData::getHexValue("00000000000000000000001"), 1u);
    EXPECT_EQ(FormatData::getHexValue("0000FFFFFFFFFFFFFFFF"),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_THROW(FormatData::getHexValue("10000000000000000"), std::out_of_range);
    EXPECT_EQ(messageOf([] { FormatData::getHexValue("FFFFFFFFFFFFFFFF0"); }),
              "Hex value too large");
}

TEST(ToolFormatData, HexStringOfValue) {
    EXPECT_EQ(FormatData::getHexString(26u, 4), "001A");
    EXPECT_EQ(FormatData::getHexString(0u), "0");
    EXPECT_EQ(FormatData::getHexString(0u, 3), "000");
    EXPECT_EQ(FormatData::getHexString(0x12345u, 2), "12345");
    EXPECT_EQ(FormatData::getHexString(0xABCDEFu), "ABCDEF");
    EXPECT_EQ(FormatData::getHexString(std::numeric_limits<std::uint64_t>::max()),
              "FFFFFFFFFFFFFFFF");
    for (std::uint64_t v : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{0xDEADBEEF},
                            std::uint64_t{0x8000000000000000}}) {
        EXPECT_EQ(FormatData::getHexValue(FormatData::getHexString(v, 8)), v);
    }
}

TEST(ToolFormatData, HexStringOfBytes) {
    EXPECT_EQ(FormatData::getHexString(std::string_view("\x0A\xFF"
                                                        "A")),
              "0A FF 41");
    EXPECT_EQ(FormatData::getHexString(std::string_view("")), "");
    EXPECT_EQ(FormatData::getHexString(std::string_view("\0", 1)), "00");
    const std::vector<std::uint8_t> bytes{0x00, 0x7F, 0x80};
    EXPECT_EQ(FormatData::getHexString(std::span<const std::uint8_t>(bytes)), "00 7F 80");
}

TEST(ToolFormatData, AsciiHexStringShowsUnprintableBytesInHex) {
    EXPECT_EQ(FormatData::getAsciiHexString("ST,GS  12.50kg\r\n"), "ST,GS  12.50kg<0D><0A>");
    EXPECT_EQ(FormatData::getAsciiHexString("<5>"), "<3C>5>");
    EXPECT_EQ(FormatData::getAsciiHexString(std::string_view("\0\x1F\x7F\xC3", 4)),
              "<00><1F><7F><C3>");
    EXPECT_EQ(FormatData::getAsciiHexString(" ~"), " ~");
    EXPECT_EQ(FormatData::getAsciiHexString(""), "");
    const std::vector<std::uint8_t> bytes{'O', 'K', 0x03};
    EXPECT_EQ(FormatData::getAsciiHexString(std::span<const std::uint8_t>(bytes)), "OK<03>");
}

}  // namespace
}  // namespace serialkit::tool
