// The typing stage over the recording keystroke injector: the order of presses, releases and
// delays, the start and end keys, the process-wide queue and the failure reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QString>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "quorvel/platform/RecordingKeyInjector.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/worker/Keybot.h"
#include "RecordingView.h"

namespace quorvel::worker {
namespace {

using H = config::ConfigHelper;
using platform::RecordingKeyInjector;
using Call = RecordingKeyInjector::Call;
using Kind = RecordingKeyInjector::Kind;
using Calls = std::vector<Call>;

Call P(int key) { return Call{Kind::PRESS, key, {}}; }
Call R(int key) { return Call{Kind::RELEASE, key, {}}; }
Call D(int ms) { return Call{Kind::DELAY, ms, {}}; }

// The calls for a character typed with a single key.
Calls single(int key, int delay) { return {P(key), D(delay), R(key), D(delay)}; }

Calls concat(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<QString> importantTexts(const RecordingView& view) {
    std::vector<QString> texts;
    for (const auto& call : view.calls()) {
        if (call.kind == RecordingView::Kind::IMPORTANT) {
            texts.push_back(call.text);
        }
    }
    return texts;
}

// Waits until `injector` has recorded at least `count` calls.
bool waitForCalls(const RecordingKeyInjector& injector, std::size_t count,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (injector.calls().size() < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class KeybotTest : public ::testing::Test {
protected:
    void SetUp() override { Keybot::clearQueue(); }
    void TearDown() override { Keybot::clearQueue(); }

    std::unique_ptr<Keybot> makeKeybot(H::KeyMapType mapType, H::KeyboardType keyboard,
                                       H::OutputTerminator end = H::OutputTerminator::NONE,
                                       H::StartWith start = H::StartWith::NONE, int delay = 20,
                                       bool withView = true) {
        if (withView) {
            return std::make_unique<Keybot>(&view, mapType, keyboard, end, start, delay, injector);
        }
        return std::make_unique<Keybot>(mapType, keyboard, end, start, delay, injector);
    }

    RecordingView view;
    std::shared_ptr<RecordingKeyInjector> injector = std::make_shared<RecordingKeyInjector>();
};

TEST_F(KeybotTest, TypesEachCharacterWithADelayAfterEveryPressAndRelease) {
    auto keybot = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY,
                             H::OutputTerminator::ENTER);
    keybot->typeStart();
    keybot->typeString("12.5");
    keybot->typeEnd();

    // No pause after the last release of a character before the end key, none after its release.
    const Calls expected = concat({single(49, 20), single(50, 20), single(46, 20), single(53, 20),
                                   {P(10), D(20), R(10)}});
    EXPECT_EQ(injector->calls(), expected);
    EXPECT_TRUE(view.calls().empty());
}

TEST_F(KeybotTest, ModifiersArePressedFirstAndReleasedInReverse) {
    auto keybot = makeKeybot(H::KeyMapType::ALPHANUMERIC_BASIC, H::KeyboardType::QUERTY,
                             H::OutputTerminator::NONE, H::StartWith::NONE, 5);
    keybot->typeString("A");
    EXPECT_EQ(injector->calls(), (Calls{P(16), D(5), P(65), D(5), R(65), D(5), R(16), D(5)}));

    // AZERTY digits need Shift too.
    injector->clear();
    auto azerty = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::AZERTY,
                             H::OutputTerminator::NONE, H::StartWith::NONE, 5);
    azerty->typeString("7");
    EXPECT_EQ(injector->calls(), (Calls{P(16), D(5), P(55), D(5), R(55), D(5), R(16), D(5)}));
}

TEST_F(KeybotTest, ADeadKeyIsCompletedBySpaceAfterItsRelease) {
    auto keybot = makeKeybot(H::KeyMapType::ALPHANUMERIC_COMPLETE,
                             H::KeyboardType::US_INTERNATIONAL, H::OutputTerminator::NONE,
                             H::StartWith::NONE, 3);
    // "'" is the dead acute and space.
    keybot->typeString("'");
    EXPECT_EQ(injector->calls(), (Calls{P(129), D(3), R(129), D(3), P(32), D(3), R(32), D(3)}));

    // '"' is Shift with the dead acute, then space once both are up.
    injector->clear();
    keybot->typeString("\"");
    EXPECT_EQ(injector->calls(), (Calls{P(16), D(3), P(129), D(3), R(129), D(3), R(16), D(3),
                                        P(32), D(3), R(32), D(3)}));

    // The mark belongs to one character: the space character itself is an ordinary key.
    injector->clear();
    keybot->typeString(" a");
    EXPECT_EQ(injector->calls(), concat({single(32, 3), single(65, 3)}));
}

TEST_F(KeybotTest, AnAltGrDeadKeyPressesTheModifiersThenReleasesInReverse) {
    // AZERTY "`" is Control+Alt (AltGr) with the 7 key, a dead key.
    auto keybot = makeKeybot(H::KeyMapType::ALPHANUMERIC_COMPLETE, H::KeyboardType::AZERTY,
                             H::OutputTerminator::NONE, H::StartWith::NONE, 1);
    keybot->typeString("`");
    EXPECT_EQ(injector->calls(),
              (Calls{P(17), D(1), P(18), D(1), P(55), D(1), R(55), D(1), R(18), D(1), R(17), D(1),
                     P(32), D(1), R(32), D(1)}));
}

TEST_F(KeybotTest, ACharacterMissingFromTheLayoutIsReportedAndSkipped) {
    auto keybot = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY,
                             H::OutputTerminator::NONE, H::StartWith::NONE, 1);
    const QString cannotType = util::Bundle::worker().getString("cannot_type");
    ASSERT_NE(cannotType, "cannot_type");

    // A control character, a printable letter the numeric set lacks, a character outside the
    // basic plane (one code point, reported once) and an accented letter.
    keybot->typeString(QString("1") + QChar(0x02) + "a2" + QString::fromUtf8("\xF0\x9F\x98\x80") +
                       QChar(0xE9) + "3");

    EXPECT_EQ(injector->calls(), concat({single(49, 1), single(50, 1), single(51, 1)}));
    EXPECT_EQ(importantTexts(view),
              (std::vector<QString>{cannotType + "<2>", cannotType + "a", cannotType + "<128512>",
                                    cannotType + "<233>"}));
}

TEST_F(KeybotTest, WithoutAViewAMissingCharacterIsSkippedSilently) {
    ::testing::internal::CaptureStdout();
    auto keybot = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY,
                             H::OutputTerminator::NONE, H::StartWith::NONE, 1, false);
    keybot->typeString(QString("1") + QChar(0x02));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Keybot constructor - for testing purposes only\n");
    EXPECT_EQ(injector->calls(), single(49, 1));
}

TEST_F(KeybotTest, ARefusedKeyIsLoggedAndTheSequenceGoesOn) {
    injector->refuse(50);
    auto keybot = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::GERMAN,
                             H::OutputTerminator::NONE, H::StartWith::NONE, 4);
    keybot->typeString("123");

    // The delays of the refused key still follow.
    EXPECT_EQ(injector->calls(), concat({single(49, 4), {D(4), D(4)}, single(51, 4)}));
    EXPECT_EQ(importantTexts(view),
              (std::vector<QString>{"Error pressing key 50 on GERMAN keyboard: Invalid key code 50",
                                    "Error releasing key 50 on GERMAN keyboard: Invalid key code 50"}));
}

TEST_F(KeybotTest, ARefusedKeyWithoutAViewIsPrinted) {
    injector->refuse(10);
    ::testing::internal::CaptureStdout();
    auto keybot = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY,
                             H::OutputTerminator::ENTER, H::StartWith::NONE, 1, false);
    keybot->typeEnd();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, ::testing::HasSubstr("Error on pressing: 10\nInvalid key code 10"));
    EXPECT_THAT(out, ::testing::HasSubstr("Error on releasing: 10\nInvalid key code 10"));
    EXPECT_EQ(injector->calls(), (Calls{D(1)}));
}

TEST_F(KeybotTest, AFailingDeadKeySpaceIsReportedAndTypingContinues) {
    injector->refuse(32);
    auto keybot = makeKeybot(H::KeyMapType::ALPHANUMERIC_COMPLETE,
                             H::KeyboardType::US_INTERNATIONAL, H::OutputTerminator::NONE,
                             H::StartWith::NONE, 2);
    keybot->typeString("'1");
    EXPECT_EQ(injector->calls(), concat({{P(129), D(2), R(129), D(2)}, single(49, 2)}));
    EXPECT_EQ(importantTexts(view), (std::vector<QString>{"Deadkey error: Invalid key code 32"}));

    // Without a view it goes to the standard output.
    injector->clear();
    ::testing::internal::CaptureStdout();
    auto quiet = makeKeybot(H::KeyMapType::ALPHANUMERIC_COMPLETE,
                            H::KeyboardType::US_INTERNATIONAL, H::OutputTerminator::NONE,
                            H::StartWith::NONE, 2, false);
    quiet->typeString("'");
    EXPECT_THAT(::testing::internal::GetCapturedStdout(),
                ::testing::HasSubstr("Deadkey error\nInvalid key code 32"));
}

TEST_F(KeybotTest, AnInjectorThatTypesCharactersGetsThemWhereTheTableAllowsThem) {
    injector->typeCharacters(true);
    injector->lackCharacter(U'@');
    injector->failCharacter(U'#');
    const QString cannotType = util::Bundle::worker().getString("cannot_type");
    auto keybot = makeKeybot(H::KeyMapType::ALPHANUMERIC_COMPLETE, H::KeyboardType::GERMAN,
                             H::OutputTerminator::ENTER, H::StartWith::NONE, 3);
    // Not in the table, not on the keyboard, failing, then plain characters.
    keybot->typeString(QChar(0xE9) + QString("@#a?"));
    keybot->typeEnd();

    EXPECT_EQ(injector->calls(),
              (Calls{Call{Kind::CHARACTER, 'a', {}}, D(3), Call{Kind::CHARACTER, '?', {}}, D(3),
                     Call{Kind::TEXT_TYPED, 0, {}}, P(10), D(3), R(10)}));
    EXPECT_EQ(importantTexts(view),
              (std::vector<QString>{cannotType + "<233>", cannotType + "@",
                                    "Error typing # on GERMAN keyboard: Cannot type 35"}));
}

TEST_F(KeybotTest, TheLoopTypesStartKeyTextAndEndKeyForEachQueuedText) {
    auto keybot = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY,
                             H::OutputTerminator::TAB, H::StartWith::F2, 1);
    Keybot::enqueue("");  // never queued: no start or end key for it
    EXPECT_EQ(Keybot::queuedCount(), 0u);
    Keybot::enqueue("7");
    Keybot::enqueue("");
    Keybot::enqueue("8");
    EXPECT_EQ(Keybot::queuedCount(), 2u);

    keybot->start();
    const Calls one = concat({{P(113), D(1), R(113)}, single(55, 1), {P(9), D(1), R(9)}});
    const Calls two = concat({{P(113), D(1), R(113)}, single(56, 1), {P(9), D(1), R(9)}});
    const Calls expected = concat({one, two});
    ASSERT_TRUE(waitForCalls(*injector, expected.size()));
    keybot->interrupt();
    keybot->join();
    EXPECT_EQ(injector->calls(), expected);
    EXPECT_EQ(Keybot::queuedCount(), 0u);
}

TEST_F(KeybotTest, TextsStillQueuedAtAStopAreTypedByTheNextTypingThread) {
    // A real 10 ms delay, so the stop comes while the first text is being typed.
    auto slow = std::make_shared<RecordingKeyInjector>(true);
    auto first = std::make_unique<Keybot>(&view, H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY,
                                          H::OutputTerminator::ENTER, H::StartWith::NONE, 10, slow);
    Keybot::enqueue("123");
    Keybot::enqueue("45");
    Keybot::enqueue("6");
    first->start();
    ASSERT_TRUE(waitForCalls(*slow, 1));
    first->interrupt();
    first->join();

    // The text in hand was finished, end key included; the rest waits.
    EXPECT_EQ(slow->calls(),
              concat({single(49, 10), single(50, 10), single(51, 10), {P(10), D(10), R(10)}}));
    EXPECT_EQ(Keybot::queuedCount(), 2u);
    first.reset();

    auto second = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY,
                             H::OutputTerminator::ENTER, H::StartWith::NONE, 1);
    second->start();
    const Calls expected = concat({single(52, 1), single(53, 1), {P(10), D(1), R(10)},
                                   single(54, 1), {P(10), D(1), R(10)}});
    ASSERT_TRUE(waitForCalls(*injector, expected.size()));
    second.reset();  // interrupts and joins
    EXPECT_EQ(injector->calls(), expected);
}

TEST_F(KeybotTest, TextsEnqueuedWhileTypingKeepTheirOrder) {
    auto keybot = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY,
                             H::OutputTerminator::NONE, H::StartWith::NONE, 0);
    keybot->start();
    Calls expected;
    for (int i = 0; i < 200; ++i) {
        const int digit = i % 10;
        Keybot::enqueue(QString::number(digit));
        const Calls one = single(48 + digit, 0);
        expected.insert(expected.end(), one.begin(), one.end());
        if (i % 7 == 0) {
            std::this_thread::yield();
        }
    }
    ASSERT_TRUE(waitForCalls(*injector, expected.size()));
    keybot.reset();
    EXPECT_EQ(injector->calls(), expected);
}

TEST_F(KeybotTest, AKeybotWithoutARunningThreadStopsAtOnce) {
    auto keybot = makeKeybot(H::KeyMapType::NUMERIC, H::KeyboardType::QUERTY);
    keybot->start();
    keybot->start();  // a second start is ignored
    keybot->interrupt();
    keybot->join();
    Keybot::enqueue("1");
    keybot.reset();
    EXPECT_TRUE(injector->calls().empty());
    EXPECT_EQ(Keybot::queuedCount(), 1u);
}

}  // namespace
}  // namespace quorvel::worker
