// The request shortcut on a real X server: another window has the focus, keys come from XTEST.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quorvel/platform/GlobalHotkey.h"
#include "quorvel/platform/X11GlobalHotkey.h"
#include "quorvel/platform/XKeyRecorder.h"
#include "quorvel/platform/XvfbServer.h"
#include "quorvel/util/Bundle.h"

// Xlib's macros (Bool, Status) after Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quorvel::platform {
namespace {

using test::XKeyRecorder;
using test::XvfbServer;
using namespace std::chrono_literals;

// Activations are delivered through the event loop of this thread.
void ensureApplication() {
    static int argc = 1;
    static char name[] = "quorvel_platform_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(argc, argv);
}

TEST(X11GlobalHotkeyChord, ReadsModifiersAndKeyAndRefusesTheRest) {
    const auto chord = X11GlobalHotkey::parse("Ctrl+Shift+F9");
    ASSERT_TRUE(chord);
    EXPECT_EQ(chord->modifiers, static_cast<unsigned>(ControlMask | ShiftMask));
    EXPECT_EQ(chord->keysym, static_cast<unsigned long>(XK_F9));
    const struct {
        const char* text;
        unsigned long keysym;  // NoSymbol: refused
        unsigned int modifiers;
    } rows[] = {
        {"F9", XK_F9, 0},
        {"alt+r", XK_r, Mod1Mask},
        {"Super+PageDown", XK_Page_Down, Mod4Mask},
        {"Control+Space", XK_space, ControlMask},
        {"7", XK_7, 0},
        {"", NoSymbol, 0},
        {"Ctrl+", NoSymbol, 0},
        {"Hyper+F9", NoSymbol, 0},
        {"F99", NoSymbol, 0},
    };
    for (const auto& row : rows) {
        const auto parsed = X11GlobalHotkey::parse(row.text);
        EXPECT_EQ(parsed.has_value(), row.keysym != NoSymbol) << row.text;
        if (parsed && row.keysym != NoSymbol) {
            EXPECT_EQ(parsed->keysym, row.keysym) << row.text;
            EXPECT_EQ(parsed->modifiers, row.modifiers) << row.text;
        }
    }
}

TEST(GlobalHotkeyChoice, AWaylandDesktopWithoutThePortalSaysSo) {
    const QByteArray saved = qgetenv("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", "tolvane-no-such-display");
    const auto hotkey = GlobalHotkey::create("F9", [] {});
    if (saved.isNull())
        qunsetenv("WAYLAND_DISPLAY");
    else
        qputenv("WAYLAND_DISPLAY", saved);
    EXPECT_FALSE(hotkey->available());
    EXPECT_EQ(hotkey->reason(), util::Bundle::tolvane().getString("request.hotkey.not.available"));
}

class X11GlobalHotkeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!XvfbServer::available())
            GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
        ensureApplication();
        server_ = std::make_unique<XvfbServer>();
        recorder_ = std::make_unique<XKeyRecorder>(server_->displayName());
        keyboard_ = XOpenDisplay(server_->displayName().c_str());
        ASSERT_NE(keyboard_, nullptr);
    }
    void TearDown() override {
        if (keyboard_ != nullptr)
            XCloseDisplay(keyboard_);
    }

    // Presses the modifiers and the key, then lets go of all, as a user would.
    void tap(unsigned long keysym, const std::vector<unsigned long>& modifiers = {}) {
        std::vector<unsigned long> keys = modifiers;
        keys.push_back(keysym);
        for (unsigned long k : keys)
            XTestFakeKeyEvent(keyboard_, XKeysymToKeycode(keyboard_, k), True, CurrentTime);
        for (auto k = keys.rbegin(); k != keys.rend(); ++k)
            XTestFakeKeyEvent(keyboard_, XKeysymToKeycode(keyboard_, *k), False, CurrentTime);
        XSync(keyboard_, False);
    }

    // Runs both event loops until `done` or the time is up.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            QCoreApplication::processEvents();
            recorder_->pump();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(2ms);
        }
    }

    std::unique_ptr<XvfbServer> server_;
    std::unique_ptr<XKeyRecorder> recorder_;
    Display* keyboard_ = nullptr;
};

TEST_F(X11GlobalHotkeyTest, TheChordFiresWhileAnotherWindowHasTheFocusAndNeverReachesIt) {
    const struct {
        const char* chord;
        unsigned long keysym;
        std::vector<unsigned long> modifiers;
        std::string name;  // as the window would record the key
    } rows[] = {
        {"F9", XK_F9, {}, "F9"},
        {"Ctrl+Shift+R", XK_r, {XK_Control_L, XK_Shift_L}, "r"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.chord);
        recorder_->clear();
        int fired = 0;
        X11GlobalHotkey hotkey(row.chord, [&] { ++fired; }, server_->displayName());
        ASSERT_TRUE(hotkey.available()) << hotkey.reason().toStdString();
        EXPECT_TRUE(hotkey.reason().isEmpty());

        tap(row.keysym, row.modifiers);
        EXPECT_TRUE(waitUntil([&] { return fired == 1; }));
        // Also with Caps Lock on.
        recorder_->toggleCapsLock();
        tap(row.keysym, row.modifiers);
        EXPECT_TRUE(waitUntil([&] { return fired == 2; }));
        recorder_->toggleCapsLock();
        // The key alone, without the chord's modifiers, is the window's.
        if (!row.modifiers.empty()) {
            tap(row.keysym);
            EXPECT_TRUE(waitUntil([&] {
                const auto keys = recorder_->pressed();
                return std::count(keys.begin(), keys.end(), row.name) == 1;
            }));
        }
        // A key of its own still reaches the focused window: it was listening all along.
        tap(XK_b);
        EXPECT_TRUE(waitUntil([&] { return recorder_->text().find('b') != std::string::npos; }));
        EXPECT_EQ(fired, 2);
        const auto keys = recorder_->pressed();
        EXPECT_EQ(std::count(keys.begin(), keys.end(), row.name), row.modifiers.empty() ? 0 : 1);
    }
    // The grab ended with the object: the key is the window's again.
    recorder_->clear();
    tap(XK_F9);
    EXPECT_TRUE(waitUntil([&] {
        const auto keys = recorder_->pressed();
        return std::find(keys.begin(), keys.end(), "F9") != keys.end();
    }));
}

TEST_F(X11GlobalHotkeyTest, AChordAnotherProgramHoldsIsReportedAndTheHolderKeepsIt) {
    int first = 0;
    int second = 0;
    X11GlobalHotkey holder("F9", [&] { ++first; }, server_->displayName());
    ASSERT_TRUE(holder.available());
    X11GlobalHotkey late("F9", [&] { ++second; }, server_->displayName());
    EXPECT_FALSE(late.available());
    EXPECT_EQ(late.reason(), util::Bundle::tolvane().format("request.hotkey.taken", {"F9"}));
    tap(XK_F9);
    EXPECT_TRUE(waitUntil([&] { return first == 1; }));
    EXPECT_EQ(second, 0);
}

}  // namespace
}  // namespace quorvel::platform
