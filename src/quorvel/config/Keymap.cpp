#include <array>
#include <cstddef>

#include "quorvel/config/ConfigHelper.h"

namespace quorvel::config {

namespace {

// Virtual key codes used below.
constexpr int SHIFT = 16;
constexpr int SPACE = 32;
constexpr int COMMA = 44;
constexpr int MINUS = 45;
constexpr int PERIOD = 46;
constexpr int DIGIT_0 = 48;
constexpr int SEMICOLON = 59;
constexpr int LETTER_A = 65;
constexpr int KEYPAD_MULTIPLY = 106;
constexpr int KEYPAD_ADD = 107;
constexpr int KEYPAD_DIVIDE = 111;

// At most four keys per character; unused slots are 0, which is no key.
using Keys = std::array<int, 4>;

struct Punctuation {
    char16_t character;
    Keys querty;
    Keys usInternational;
    Keys german;
    Keys azerty;
};

// AltGr is Control + Alt; "Alt, keypad digits" types a character by its decimal code; a
// trailing Space completes a dead key.
constexpr Punctuation kPunctuation[] = {
    {u'!', {16, 49}, {16, 49}, {16, 49}, {517}},
    {u'"', {16, 222}, {16, 129, 32}, {16, 50}, {51}},
    {u':', {16, 59}, {16, 59}, {16, 46}, {513}},
    {u'#', {16, 51}, {16, 51}, {520}, {17, 18, 51}},
    {u'$', {16, 52}, {16, 52}, {16, 52}, {515}},
    {u'%', {16, 53}, {16, 53}, {16, 53}, {18, 99, 103}},
    {u'&', {16, 55}, {16, 55}, {16, 54}, {49}},
    {u'\'', {222}, {129, 32}, {16, 520}, {52}},
    {u'(', {16, 57}, {16, 57}, {16, 56}, {53}},
    {u')', {16, 48}, {16, 48}, {16, 57}, {522}},
    {u';', {59}, {59}, {16, 44}, {59}},
    {u'<', {16, 44}, {16, 44}, {153}, {153}},
    {u'=', {61}, {61}, {16, 48}, {61}},
    {u'>', {16, 46}, {16, 46}, {16, 153}, {16, 153}},
    {u'?', {16, 47}, {16, 47}, {18, 102, 99}, {16, 44}},
    {u'@', {16, 50}, {16, 50}, {17, 18, 81}, {17, 18, 48}},
    {u'[', {91}, {91}, {17, 18, 56}, {17, 18, 53}},
    {u'\\', {92}, {92}, {18, 105, 98}, {17, 18, 56}},
    {u']', {93}, {93}, {17, 18, 57}, {17, 18, 522}},
    {u'^', {16, 54}, {16, 54, 32}, {130, 32}, {130, 32}},
    {u'_', {16, 45}, {16, 45}, {16, 45}, {56}},
    {u'`', {192}, {128, 32}, {16, 129, 32}, {17, 18, 55, 32}},
    {u'{', {16, 91}, {16, 91}, {17, 18, 55}, {17, 18, 52}},
    {u'|', {16, 92}, {16, 92}, {17, 18, 153}, {17, 18, 54}},
    {u'}', {16, 93}, {16, 93}, {17, 18, 48}, {17, 18, 61}},
    {u'~', {16, 192}, {16, 128, 32}, {17, 18, 521}, {17, 18, 50, 32}},
};

const Keys& keysFor(const Punctuation& row, ConfigHelper::KeyboardType keyboard) {
    switch (keyboard) {
        case ConfigHelper::KeyboardType::US_INTERNATIONAL:
            return row.usInternational;
        case ConfigHelper::KeyboardType::GERMAN:
            return row.german;
        case ConfigHelper::KeyboardType::AZERTY:
            return row.azerty;
        case ConfigHelper::KeyboardType::QUERTY:
            break;
    }
    return row.querty;
}

std::vector<int> toSequence(const Keys& keys) {
    std::vector<int> sequence;
    for (const int key : keys)
        if (key != 0)
            sequence.push_back(key);
    return sequence;
}

}  // namespace

ConfigHelper::Keymap ConfigHelper::getKeymap(KeyboardType keyboard, KeyMapType mapType) {
    Keymap map;

    // Digits and what a number may carry; on AZERTY the digits are shifted.
    const bool azerty = keyboard == KeyboardType::AZERTY;
    for (int d = 0; d <= 9; ++d) {
        const auto c = static_cast<char16_t>(u'0' + d);
        map[c] = azerty ? std::vector<int>{SHIFT, DIGIT_0 + d} : std::vector<int>{DIGIT_0 + d};
    }
    map[u'-'] = {azerty ? 54 : MINUS};
    map[u'+'] = {KEYPAD_ADD};
    map[u','] = {COMMA};
    map[u'.'] = azerty ? std::vector<int>{SHIFT, SEMICOLON} : std::vector<int>{PERIOD};

    if (mapType == KeyMapType::NUMERIC)
        return map;

    for (int i = 0; i < 26; ++i) map[static_cast<char16_t>(u'A' + i)] = {SHIFT, LETTER_A + i};

    if (mapType != KeyMapType::ALPHANUMERIC_COMPLETE)
        return map;

    for (int i = 0; i < 26; ++i) map[static_cast<char16_t>(u'a' + i)] = {LETTER_A + i};
    map[u'*'] = {KEYPAD_MULTIPLY};
    map[u'/'] = {KEYPAD_DIVIDE};
    map[u' '] = {SPACE};
    for (const auto& row : kPunctuation) map[row.character] = toSequence(keysFor(row, keyboard));

    return map;
}

}  // namespace quorvel::config
