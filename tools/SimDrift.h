#pragma once

// A scale settling, for tolvane-sim --drift: readings that creep towards a weight, hold it for a
// while, then the next weight. Header-only and free of Qt; the instrument's line format comes
// from the caller.

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// How an instrument writes its number: "+00012,45" is a sign, five zero-padded integer digits,
// a comma and two decimals; "    0.058" is right-aligned in nine places.
struct NumberShape {
    int width = 0;  // characters of the sample value
    bool leadingBlanks = false;
    bool sign = false;  // written for every value, '+' when positive
    int blanksAfterSign = 0;
    int intDigits = 1;
    bool zeroPad = false;
    int decimals = 0;
    char separator = '.';

    // The shape of a number as a sample writes it; none when the text is no plain number.
    static std::optional<NumberShape> of(std::string_view text) {
        NumberShape s;
        s.width = static_cast<int>(text.size());
        size_t i = 0;
        auto blank = [&](size_t at) {
            return at < text.size() && (text[at] == ' ' || text[at] == '\t');
        };
        auto digit = [&](size_t at) {
            return at < text.size() && text[at] >= '0' && text[at] <= '9';
        };
        while (blank(i)) {
            ++i;
        }
        s.leadingBlanks = i > 0;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            s.sign = true;
            ++i;
            while (blank(i)) {
                ++i;
                ++s.blanksAfterSign;
            }
        }
        const size_t intStart = i;
        while (digit(i)) {
            ++i;
        }
        s.intDigits = static_cast<int>(i - intStart);
        if (s.intDigits == 0) {
            return std::nullopt;
        }
        s.zeroPad = s.intDigits > 1 && text[intStart] == '0';
        if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
            s.separator = text[i++];
            const size_t fracStart = i;
            while (digit(i)) {
                ++i;
            }
            s.decimals = static_cast<int>(i - fracStart);
            if (s.decimals == 0) {
                return std::nullopt;
            }
        }
        if (i != text.size() || s.decimals > 6) {
            return std::nullopt;
        }
        return s;
    }

    long long unitsPerOne() const {
        long long u = 1;
        for (int i = 0; i < decimals; ++i) {
            u *= 10;
        }
        return u;
    }

    // `units` counts steps of the last decimal: 1234 with two decimals is 12.34.
    std::string render(long long units) const {
        const bool negative = units < 0;
        const unsigned long long magnitude = negative
                                                 ? 0ULL - static_cast<unsigned long long>(units)
                                                 : static_cast<unsigned long long>(units);
        const auto one = static_cast<unsigned long long>(unitsPerOne());
        std::string digits = std::to_string(magnitude / one);
        if (zeroPad && static_cast<int>(digits.size()) < intDigits) {
            digits.insert(0, static_cast<size_t>(intDigits) - digits.size(), '0');
        }
        if (decimals > 0) {
            std::string frac = std::to_string(magnitude % one);
            frac.insert(0, static_cast<size_t>(decimals) - frac.size(), '0');
            digits += separator;
            digits += frac;
        }
        std::string out;
        if (sign || negative) {
            out += negative ? '-' : '+';
            out.append(static_cast<size_t>(blanksAfterSign), ' ');
        }
        out += digits;
        if (leadingBlanks) {
            // Right-aligned as in the sample, but never glued to what comes before.
            const size_t pad =
                static_cast<int>(out.size()) < width ? static_cast<size_t>(width) - out.size() : 1;
            out.insert(0, pad, ' ');
        }
        return out;
    }
};

// A line of the instrument's own format with another weight in it.
struct DriftFormat {
    std::string before;
    NumberShape shape;
    std::string after;

    // Scales that mark their readings "ST" (stable) or "US" (unstable) at the start get the
    // mark that fits the reading.
    std::string line(long long units, bool stable) const {
        std::string head = before;
        if (head.rfind("ST", 0) == 0 || head.rfind("US", 0) == 0) {
            head.replace(0, 2, stable ? "ST" : "US");
        }
        return head + shape.render(units) + after;
    }
};

// One weighing after another, fully determined by the seed. std::mt19937's sequence is fixed
// by the standard; the distributions are not, so they are not used.
class DriftScale {
  public:
    struct Reading {
        long long units;
        bool stable;
    };

    DriftScale(std::uint32_t seed, int decimals) : rng_(seed) {
        one_ = 1;
        for (int i = 0; i < decimals; ++i) {
            one_ *= 10;
        }
    }

    // Between 1 and 150 in whole units of the instrument.
    static constexpr long long MIN_WEIGHT = 1;
    static constexpr long long MAX_WEIGHT = 150;

    // The readings of the next weighing: a few that creep by one to four steps of the last
    // digit, then the weight itself several times.
    std::vector<Reading> weighing() {
        long long target = MIN_WEIGHT * one_ +
                           static_cast<long long>(
                               pick(static_cast<std::uint32_t>((MAX_WEIGHT - MIN_WEIGHT) * one_)));
        if (target == last_) {
            target += target < MAX_WEIGHT * one_ ? 1 : -1;
        }
        last_ = target;
        const std::uint32_t creeping = 3 + pick(3);
        std::vector<long long> steps;
        long long total = 0;
        for (std::uint32_t i = 0; i < creeping; ++i) {
            steps.push_back(1 + pick(4));
            total += steps.back();
        }
        // Settle from below, or from above when below would go under the smallest weight.
        const long long direction = (target - total >= MIN_WEIGHT * one_) ? 1 : -1;
        std::vector<Reading> out;
        long long value = target - direction * total;
        for (long long step : steps) {
            out.push_back({value, false});
            value += direction * step;
        }
        const std::uint32_t holding = 4 + pick(3);
        for (std::uint32_t i = 0; i < holding; ++i) {
            out.push_back({target, true});
        }
        return out;
    }

  private:
    // 0 .. n-1 (n > 0); the bias of the modulo is of no concern here.
    std::uint32_t pick(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }

    std::mt19937 rng_;
    long long one_ = 1;
    long long last_ = -1;
};

}  // namespace tools
