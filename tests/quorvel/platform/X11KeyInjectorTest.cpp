// Real keystrokes through XTEST into a window of the test's own on a private Xvfb server.

#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "quorvel/platform/X11KeyInjector.h"
#include "quorvel/platform/XKeyRecorder.h"
#include "quorvel/platform/XvfbServer.h"
#include "quorvel/util/Bundle.h"
#include "quorvel/worker/Keybot.h"
#include "quorvel/worker/RecordingView.h"

// Last: Xlib's macros would clash with the names above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quorvel::platform {
namespace {

using test::XKeyRecorder;
using test::XvfbServer;
using worker::Keybot;
using worker::RecordingView;
using H = config::ConfigHelper;

constexpr int KEY_DELAY = 2;  // ms; the order of events is what counts here, not the pace

#define SKIP_WITHOUT_XVFB()       \
    if (!XvfbServer::available()) \
    GTEST_SKIP() << "Xvfb is not installed (package xvfb); the real X11 keystroke tests need it"

std::string keysymName(int virtualKeyCode) {
    return XKeyRecorder::keysymName(X11KeyInjector::keysymFor(virtualKeyCode));
}

// Expects `call` to throw E with a message containing every one of `parts`.
template <typename E, typename F>
void expectFailure(F call, std::initializer_list<std::string> parts) {
    try {
        call();
        ADD_FAILURE() << "no exception";
    } catch (const E& e) {
        const std::string message = e.what();
        for (const auto& part : parts) EXPECT_NE(message.find(part), std::string::npos) << message;
    }
}

TEST(X11KeyInjectorMapping, VirtualKeyCodesGiveTheirKeysyms) {
    EXPECT_EQ(keysymName(48), "0");
    EXPECT_EQ(keysymName(57), "9");
    EXPECT_EQ(keysymName(65), "a");  // lower case: Shift comes as its own key code
    EXPECT_EQ(keysymName(90), "z");
    EXPECT_EQ(keysymName(16), "Shift_L");
    EXPECT_EQ(keysymName(17), "Control_L");
    EXPECT_EQ(keysymName(18), "Alt_L");
    EXPECT_EQ(keysymName(10), "Return");
    EXPECT_EQ(keysymName(9), "Tab");
    EXPECT_EQ(keysymName(39), "Right");
    EXPECT_EQ(keysymName(40), "Down");
    EXPECT_EQ(keysymName(127), "Delete");
    EXPECT_EQ(keysymName(32), "space");
    EXPECT_EQ(keysymName(46), "period");
    EXPECT_EQ(keysymName(92), "backslash");
    EXPECT_EQ(keysymName(96), "KP_0");
    EXPECT_EQ(keysymName(105), "KP_9");
    EXPECT_EQ(keysymName(106), "KP_Multiply");
    EXPECT_EQ(keysymName(107), "KP_Add");
    EXPECT_EQ(keysymName(111), "KP_Divide");
    EXPECT_EQ(keysymName(112), "F1");
    EXPECT_EQ(keysymName(123), "F12");
    EXPECT_EQ(keysymName(128), "dead_grave");
    EXPECT_EQ(keysymName(129), "dead_acute");
    EXPECT_EQ(keysymName(130), "dead_circumflex");
    EXPECT_EQ(keysymName(153), "less");
    EXPECT_EQ(keysymName(192), "grave");
    EXPECT_EQ(keysymName(222), "apostrophe");
    EXPECT_EQ(keysymName(513), "colon");
    EXPECT_EQ(keysymName(515), "dollar");
    EXPECT_EQ(keysymName(517), "exclam");
    EXPECT_EQ(keysymName(520), "numbersign");
    EXPECT_EQ(keysymName(521), "plus");
    EXPECT_EQ(keysymName(522), "parenright");
}

TEST(X11KeyInjectorMapping, CodesOutsideTheTableHaveNoKeysym) {
    for (int code :
         {-1, 0, 8, 11, 13, 33, 58, 64, 94, 108, 110, 124, 131, 152, 223, 512, 523, 1000})
        EXPECT_EQ(X11KeyInjector::keysymFor(code), 0ul) << code;
}

TEST(X11KeyInjectorConnect, NoDisplayIsAClearFailure) {
    expectFailure<std::runtime_error>([] { X11KeyInjector injector(":64999"); },
                                      {"Cannot open X display \":64999\"", "X11", "XWayland"});

    const char* saved = std::getenv("DISPLAY");
    const std::optional<std::string> display =
        saved ? std::optional(std::string(saved)) : std::nullopt;
    unsetenv("DISPLAY");
    expectFailure<std::runtime_error>([] { X11KeyInjector injector; },
                                      {"Cannot open X display \"\"", "DISPLAY"});
    if (display)
        setenv("DISPLAY", display->c_str(), 1);
}

TEST(X11KeyInjectorConnect, ServerWithoutXtestIsAClearFailure) {
    SKIP_WITHOUT_XVFB();
    XvfbServer server({"-extension", "XTEST"});
    expectFailure<std::runtime_error>([&] { X11KeyInjector injector(server.displayName()); },
                                      {server.displayName(), "XTEST"});
}

TEST(X11KeyInjectorConnect, ALostServerIsRefusedKeyByKeyAndTheProcessLivesOn) {
    SKIP_WITHOUT_XVFB();
    XvfbServer server;
    X11KeyInjector injector(server.displayName());
    std::string shown;
    EXPECT_TRUE(X11KeyInjector::displayAnswers(server.displayName(), shown));
    injector.keyPress(65);
    injector.keyRelease(65);
    server.crash();
    // Xlib's own handling would end the process here; the injector only gives up.
    for (int i = 0; i < 3; ++i) {
        expectFailure<std::runtime_error>([&] { injector.keyPress(65); },
                                          {server.displayName(), "was lost"});
        expectFailure<std::runtime_error>([&] { injector.typeCharacter(U'a', 0); }, {"was lost"});
    }
    EXPECT_FALSE(injector.isCapsLockOn());
    EXPECT_FALSE(X11KeyInjector::displayAnswers(server.displayName(), shown));
    EXPECT_EQ(shown, server.displayName());
}

class X11KeyInjectorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_XVFB();
        server_ = std::make_unique<XvfbServer>();
        recorder_ = std::make_unique<XKeyRecorder>(server_->displayName());
        injector_ = std::make_shared<X11KeyInjector>(server_->displayName());
        Keybot::clearQueue();
    }
    void TearDown() override { Keybot::clearQueue(); }

    std::unique_ptr<Keybot> keybot(H::KeyboardType keyboard, H::KeyMapType keys,
                                   H::OutputTerminator end = H::OutputTerminator::NONE,
                                   H::StartWith start = H::StartWith::NONE) {
        return std::make_unique<Keybot>(&view_, keys, keyboard, end, start, KEY_DELAY, injector_);
    }

    // Types `text` and returns what the window received once it is complete (or the time is up).
    std::string typed(Keybot& bot, const std::string& text) {
        bot.typeString(QString::fromStdString(text));
        return recorder_->waitForText(text);
    }

    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<XKeyRecorder> recorder_;
    std::shared_ptr<X11KeyInjector> injector_;
    RecordingView view_;
};

TEST_F(X11KeyInjectorTest, PressAndReleaseReachTheFocusedWindowInOrder) {
    injector_->keyPress(16);
    injector_->keyPress(65);
    injector_->keyRelease(65);
    injector_->keyRelease(16);
    injector_->keyPress(49);
    injector_->keyRelease(49);
    EXPECT_EQ(recorder_->waitForText("A1"), "A1");
    ASSERT_TRUE(recorder_->waitUntil([&] { return recorder_->events().size() == 6; }));
    const auto& e = recorder_->events();
    EXPECT_TRUE(e[0].press && e[0].keysym == "Shift_L");
    EXPECT_TRUE(e[1].press && e[1].keysym == "a");
    EXPECT_TRUE(e[1].shifted);
    EXPECT_TRUE(!e[2].press && e[2].keysym == "a");
    EXPECT_TRUE(!e[3].press && e[3].keysym == "Shift_L");
    EXPECT_TRUE(e[4].press && e[4].keysym == "1");
    EXPECT_FALSE(e[4].shifted);
    EXPECT_TRUE(!e[5].press && e[5].keysym == "1");
}

TEST_F(X11KeyInjectorTest, UnknownCodesAndMissingKeysymsAreRefusedAndNothingIsSent) {
    expectFailure<std::invalid_argument>([&] { injector_->keyPress(13); }, {"13"});
    expectFailure<std::invalid_argument>([&] { injector_->keyRelease(1000); }, {"1000"});
    // Plain "us" has no dead keys.
    expectFailure<std::invalid_argument>([&] { injector_->keyPress(129); }, {"129", "dead_acute"});
    expectFailure<std::invalid_argument>([&] { injector_->keyRelease(128); },
                                         {"128", "dead_grave"});

    // A key after them is the first and only thing the window gets.
    injector_->keyPress(90);
    injector_->keyRelease(90);
    EXPECT_EQ(recorder_->waitForText("z"), "z");
    ASSERT_TRUE(recorder_->waitUntil([&] { return recorder_->events().size() == 2; }));
    EXPECT_EQ(recorder_->pressed(), std::vector<std::string>{"z"});
}

TEST_F(X11KeyInjectorTest, LayoutChangeIsSeenWithoutReconnecting) {
    ASSERT_THROW(injector_->keyPress(129), std::invalid_argument);
    server_->useUsInternational();
    injector_->keyPress(129);
    injector_->keyRelease(129);
    injector_->keyPress(32);
    injector_->keyRelease(32);
    // The window's own input method composes dead acute and space to the apostrophe.
    EXPECT_EQ(recorder_->waitForText("'"), "'");
    EXPECT_EQ(recorder_->pressed(), (std::vector<std::string>{"dead_acute", "space"}));

    server_->useUs();
    EXPECT_THROW(injector_->keyPress(129), std::invalid_argument);
}

TEST_F(X11KeyInjectorTest, CapsLockFollowsTheIndicator) {
    EXPECT_FALSE(injector_->isCapsLockOn());
    recorder_->toggleCapsLock();
    EXPECT_TRUE(injector_->isCapsLockOn());
    recorder_->toggleCapsLock();
    EXPECT_FALSE(injector_->isCapsLockOn());
}

TEST_F(X11KeyInjectorTest, KeybotTypesANumberAndEnterOnItsThread) {
    auto bot = keybot(H::KeyboardType::QUERTY, H::KeyMapType::NUMERIC, H::OutputTerminator::ENTER);
    Keybot::enqueue("12.5");
    bot->start();
    // Return reaches a window as a carriage return.
    EXPECT_EQ(recorder_->waitForText("12.5\r"), "12.5\r");
    bot->interrupt();
    bot->join();

    ASSERT_TRUE(recorder_->waitUntil([&] { return recorder_->events().size() == 10; }));
    EXPECT_EQ(recorder_->pressed(), (std::vector<std::string>{"1", "2", "period", "5", "Return"}));
    const auto& last = recorder_->events().back();
    EXPECT_FALSE(last.press);
    EXPECT_EQ(last.keysym, "Return");
    EXPECT_TRUE(view_.calls().empty());
}

// The server's core key map: one row of keysyms per key code.
std::vector<KeySym> coreKeyMap(const std::string& displayName) {
    ::Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr)
        return {};
    int min = 0, max = 0, perKey = 0;
    XDisplayKeycodes(display, &min, &max);
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &perKey);
    std::vector<KeySym> map(syms, syms + (max - min + 1) * perKey);
    XFree(syms);
    XCloseDisplay(display);
    return map;
}

// Turns a lock key on and switches to `group` as a user would, on a connection of its own.
void lockAndSwitch(const std::string& displayName, KeySym lock, unsigned int group) {
    ::Display* display = XOpenDisplay(displayName.c_str());
    ASSERT_NE(display, nullptr);
    if (lock != NoSymbol) {
        const KeyCode key = XKeysymToKeycode(display, lock);
        ASSERT_NE(key, 0);
        XTestFakeKeyEvent(display, key, True, CurrentTime);
        XTestFakeKeyEvent(display, key, False, CurrentTime);
    }
    XkbLockGroup(display, XkbUseCoreKbd, group);
    XSync(display, False);
    XCloseDisplay(display);
}

struct Layout {
    const char* layout;
    const char* variant;
    H::KeyboardType chosen;  // the layout table the window has; it only gates
    KeySym lockOn = NoSymbol;
    unsigned int group = 0;  // the group the user has switched to
};

void PrintTo(const Layout& p, std::ostream* out) {
    *out << p.layout << "(" << p.variant << ") with "
         << config::Setting<H::KeyboardType>::name(p.chosen).toStdString();
}

class X11KeyInjectorLayoutTest : public X11KeyInjectorTest,
                                 public ::testing::WithParamInterface<Layout> {};

TEST_P(X11KeyInjectorLayoutTest, EveryPrintableCharacterArrivesAsSentAndTheMapIsKept) {
    const Layout& p = GetParam();
    server_->setKeyboardLayout(p.layout, p.variant);
    lockAndSwitch(server_->displayName(), p.lockOn, p.group);
    const std::vector<KeySym> before = coreKeyMap(server_->displayName());

    std::string all;
    for (char c = 0x20; c <= 0x7E; ++c) all += c;
    // Typed on the typing thread while this one reads, as a window reads them.
    auto bot = keybot(p.chosen, H::KeyMapType::ALPHANUMERIC_COMPLETE, H::OutputTerminator::TAB,
                      H::StartWith::MULTIPLY);
    Keybot::enqueue(QString::fromStdString(all));
    bot->start();
    const std::string expected = "*" + all + "\t";
    EXPECT_EQ(recorder_->waitForText(expected), expected);
    bot->interrupt();
    bot->join();
    EXPECT_TRUE(view_.calls().empty())
        << view_.texts(RecordingView::Kind::IMPORTANT).join('\n').toStdString();
    EXPECT_EQ(injector_->isCapsLockOn(), p.lockOn == XK_Caps_Lock);
    EXPECT_EQ(coreKeyMap(server_->displayName()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, X11KeyInjectorLayoutTest,
    ::testing::Values(Layout{"us", "", H::KeyboardType::QUERTY},
                      Layout{"de", "", H::KeyboardType::GERMAN},
                      Layout{"fr", "", H::KeyboardType::AZERTY},
                      Layout{"ch", "", H::KeyboardType::GERMAN},
                      Layout{"gb", "", H::KeyboardType::QUERTY},
                      Layout{"es", "", H::KeyboardType::QUERTY},
                      Layout{"us", "intl", H::KeyboardType::US_INTERNATIONAL},
                      Layout{"us", "dvorak", H::KeyboardType::QUERTY},
                      // The wrong table for the desktop's layout garbles nothing.
                      Layout{"de", "", H::KeyboardType::QUERTY},
                      Layout{"us", "", H::KeyboardType::QUERTY, XK_Caps_Lock},
                      Layout{"de", "", H::KeyboardType::GERMAN, XK_Caps_Lock},
                      Layout{"fr", "", H::KeyboardType::AZERTY, XK_Num_Lock},
                      Layout{"us,de", "", H::KeyboardType::GERMAN, NoSymbol, 1},
                      // No Latin letters at all: they come through spare key codes.
                      Layout{"ru", "", H::KeyboardType::QUERTY}),
    [](const auto& info) {
        const Layout& p = info.param;
        std::string layout = p.layout;
        std::replace(layout.begin(), layout.end(), ',', '_');
        return layout + p.variant + "_" + std::to_string(p.group) + "_" +
               config::Setting<H::KeyboardType>::name(p.chosen).toStdString() +
               (p.lockOn != NoSymbol ? "_" + XKeyRecorder::keysymName(p.lockOn) : "");
    });

TEST_F(X11KeyInjectorTest, KeybotLogsAControlCharacterAndTypesTheRest) {
    auto bot = keybot(H::KeyboardType::QUERTY, H::KeyMapType::NUMERIC, H::OutputTerminator::TAB);
    Keybot::enqueue(QString("1") + QChar(2) + "2");
    bot->start();
    EXPECT_EQ(recorder_->waitForText("12\t"), "12\t");
    bot->interrupt();
    bot->join();
    EXPECT_EQ(view_.texts(RecordingView::Kind::IMPORTANT),
              QStringList{util::Bundle::worker().getString("cannot_type") + "<2>"});
}

}  // namespace
}  // namespace quorvel::platform
