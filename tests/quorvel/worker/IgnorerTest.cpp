#include "quorvel/worker/Ignorer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "quorvel/util/NumberFormatException.h"

namespace quorvel::worker {
namespace {

using namespace std::chrono_literals;
using H = config::ConfigHelper;

const DataLine::Instant kStart{1'700'000'000'000ms};

DataLine line(const QString& value, DataLine::Clock::duration after) {
    return DataLine(value + "\r", value, 1, kStart + after, false);
}

config::Config settings(QString timeLimit, QString difference,
                        std::optional<H::Instrument> instrument = H::Instrument::GENERIC) {
    config::Config c;
    c.setIgnoreTimeLimit(timeLimit);
    c.setIgnoreDifference(difference);
    c.setInstrument(instrument);
    return c;
}

// Runs the lines through one filter and returns what is left to type.
std::vector<QString> run(Ignorer& ignorer, std::vector<DataLine> lines) {
    std::vector<QString> typed;
    for (auto& l : lines) {
        ignorer.process(&l);
        typed.push_back(l.getProcessedData());
    }
    return typed;
}

using Texts = std::vector<QString>;

TEST(IgnorerTest, RepeatsAndDriftStaySuppressed) {
    Ignorer exact(settings("1000", ""));
    EXPECT_EQ(run(exact, {line("12.5", 0ms), line("12.5", 500ms), line("12.5", 1000ms)}),
              (Texts{"12.5", "", ""}));
    // Each step is within the limit of the one before, though the run is longer.
    EXPECT_EQ(run(exact, {line("12.5", 1800ms), line("12.5", 2700ms)}), (Texts{"", ""}));
    Ignorer text(settings("", ""));
    EXPECT_EQ(run(text, {line("12.50", 0ms), line("12.5", 1ms)}), (Texts{"12.50", "12.5"}));

    Ignorer tolerant(settings("", "0.1"));
    EXPECT_EQ(run(tolerant, {line("12,50", 0ms), line("12.55", 1ms), line("12.61", 2ms),
                             line("12.72", 3ms), line("12.82", 4ms)}),
              (Texts{"12,50", "", "", "12.72", ""}));
    // A cleared line still becomes the reference, with its value.
    EXPECT_EQ(tolerant.getLastData()->getProcessedData(), "12.82");
}

TEST(IgnorerTest, TimeLimitInWholeMilliseconds) {
    const auto second = [](DataLine::Clock::duration gap) {
        Ignorer ignorer(settings("1000", ""));
        return run(ignorer, {line("7", 0ms), line("7", gap)})[1];
    };
    EXPECT_EQ(second(1000ms), "");
    EXPECT_EQ(second(1000ms + 999us), "");  // truncated to 1000
    EXPECT_EQ(second(1001ms), "7");
    for (const char* none : {"", "0", "abc", "1.5", "99999999999"}) {
        Ignorer ignorer(settings(none, ""));
        EXPECT_EQ(ignorer.getTimeLimit(), 0) << none;
        EXPECT_EQ(run(ignorer, {line("7", 0ms), line("7", 24h)})[1], "") << none;
    }
}

TEST(IgnorerTest, EmptyLineNeitherCountsNorBreaksTheRun) {
    Ignorer ignorer(settings("100", ""));
    EXPECT_EQ(run(ignorer, {line("3", 0ms), line("", 50ms), line("3", 90ms)}),
              (Texts{"3", "", ""}));
    EXPECT_EQ(ignorer.getLastData()->getInstant(), kStart + 90ms);
}

TEST(IgnorerTest, DifferenceSetting) {
    // Barcodes compare exactly whatever the difference says; no instrument counts as GENERIC.
    Ignorer barcode(settings("", "5", H::Instrument::BARCODE));
    EXPECT_EQ(barcode.getDifference().signum(), 0);
    EXPECT_EQ(run(barcode, {line("100", 0ms), line("101", 1ms)}), (Texts{"100", "101"}));
    Ignorer generic(settings("", "5", std::nullopt));
    EXPECT_EQ(run(generic, {line("100", 0ms), line("105", 1ms)}), (Texts{"100", ""}));
    for (const char* zero : {"", "abc", "0,5", "0.00"}) {
        Ignorer ignorer(settings("", zero));
        EXPECT_EQ(ignorer.getDifference().signum(), 0) << zero;
        EXPECT_EQ(run(ignorer, {line("1.0", 0ms), line("1.00", 1ms)})[1], "1.00") << zero;
    }
}

TEST(IgnorerTest, Failures) {
    Ignorer ignorer(settings("", "0.1"));
    EXPECT_EQ(run(ignorer, {line("1.0", 0ms)})[0], "1.0");
    try {
        ignorer.process(nullptr);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(),
                     "Argument for @NotNull parameter 'dataLine' of "
                     "quorvel/worker/Ignorer.process must not be null");
    }
    try {
        ignorer.inTolerance(nullptr);
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(),
                     "Argument for @NotNull parameter 'dataLine' of "
                     "quorvel/worker/Ignorer.inTolerance must not be null");
    }
    // Not a number: passed on, the line kept and not taken as the reference.
    DataLine bad = line("OVER", 1ms);
    EXPECT_THROW(ignorer.process(&bad), util::NumberFormatException);
    EXPECT_EQ(bad.getProcessedData(), "OVER");
    EXPECT_EQ(ignorer.getLastData()->getProcessedData(), "1.0");

    // Without a reference nothing is a duplicate.
    Ignorer fresh(settings("10", "0.1"));
    const DataLine first = line("1", 0ms);
    EXPECT_FALSE(fresh.inTime(first));
    EXPECT_FALSE(fresh.inTolerance(&first));
}

TEST(IgnorerTest, TestConstructorSaysSo) {
    testing::internal::CaptureStdout();
    Ignorer ignorer(250, util::BigDecimal::parse(QString("0.5")));
    EXPECT_NE(testing::internal::GetCapturedStdout().find(
                  "Ignorer constructor for testing purposes only!"),
              std::string::npos);
    EXPECT_EQ(run(ignorer, {line("1", 0ms), line("1.5", 250ms), line("2", 501ms)}),
              (Texts{"1", "", "2"}));
}

}  // namespace
}  // namespace quorvel::worker
