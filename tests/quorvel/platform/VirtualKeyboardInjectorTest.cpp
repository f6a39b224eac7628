// The Wayland virtual keyboard typing into a native window of a real, headless desktop
// (the desktop scripts in ../shared/desktops). The test binary is itself the client inside the
// desktop: with TOLVANE_VK_CLIENT set it types and ends before any test runs.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "quorvel/platform/DesktopScripts.h"
#include "quorvel/platform/VirtualKeyboardInjector.h"

namespace quorvel::platform {
namespace {

using test::desktopsFolder;
using test::readFile;
using test::runDesktop;

const std::u32string LATIN1 = U"äß€";
constexpr int TIMED_KEYS = 200;

std::string expectedText() {
    std::string ascii;
    for (char c = 0x20; c <= 0x7E; ++c) ascii += c;
    return "12.50\n-0.35\n" + ascii + "\näß€\n" + std::string(TIMED_KEYS, '7') + "\n";
}

// Types the expected text and says on stdout what else it found.
int typeIntoDesktop() {
    try {
        VirtualKeyboardInjector keyboard;
        if (std::string(std::getenv("TOLVANE_VK_CLIENT")) == "lost") {
            // The compositor ends under an open keyboard: every later key is refused.
            [[maybe_unused]] const int ended = std::system("swaymsg exit > /dev/null 2>&1");
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (int i = 0; i < 2; ++i) {
                try {
                    const bool typed = keyboard.typeCharacter(U'1', 0);
                    std::cout << "typed " << typed << "\n";
                } catch (const std::runtime_error& e) {
                    std::cout << "refused: " << e.what() << "\n";
                }
            }
            return 0;
        }
        const auto type = [&keyboard](const std::u32string& text, int delay) {
            for (const char32_t c : text) {
                if (c != U'\n') {
                    keyboard.typeCharacter(c, delay);
                    continue;
                }
                keyboard.keyPress(10);
                keyboard.keyRelease(10);
            }
        };
        std::u32string ascii;
        for (char32_t c = 0x20; c <= 0x7E; ++c) ascii += c;
        type(U"12.50\n-0.35\n" + ascii + U"\n" + LATIN1 + U"\n", 1);
        const auto start = std::chrono::steady_clock::now();
        type(std::u32string(TIMED_KEYS, U'7'), 0);
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        type(U"\n", 0);
        std::cout << "per-key-us " << took.count() / TIMED_KEYS << "\n";
        std::cout << "typed-unmapped " << keyboard.typeCharacter(U'中', 0) << "\n";
        try {
            keyboard.keyPress(999);
        } catch (const std::invalid_argument&) {
            std::cout << "refused-unknown-code\n";
        }
        return 0;
    } catch (const std::exception& e) {
        std::cout << "error: " << e.what() << std::endl;
        return 2;
    }
}

[[maybe_unused]] const int clientRan =
    std::getenv("TOLVANE_VK_CLIENT") != nullptr ? (std::exit(typeIntoDesktop()), 0) : 0;

struct Desktop {
    const char* name;
    const char* script;
    bool xwayland;
    const char* client;  // what TOLVANE_VK_CLIENT asks the client to do
    int status;          // of the script: 2 when the compositor ended during the client
    // Empty: the text arrives; else the client's log says this and nothing arrives.
    const char* error;
};

void PrintTo(const Desktop& desktop, std::ostream* out) {
    *out << desktop.name;
}

class VirtualKeyboardDesktop : public ::testing::TestWithParam<Desktop> {};

TEST_P(VirtualKeyboardDesktop, TypesIntoTheFocusedNativeWindow) {
    if (geteuid() != 0)
        GTEST_SKIP() << "the desktop scripts start the compositor as root";
    const std::filesystem::path script = desktopsFolder() + "/" + GetParam().script;
    if (!std::filesystem::exists(script))
        GTEST_SKIP() << script << " is not there";
    char outDir[] = "/tmp/vk-test-XXXXXX";
    ASSERT_NE(mkdtemp(outDir), nullptr);
    const std::filesystem::path out(outDir);
    QProcessEnvironment env;
    env.insert("CLIENT", QString::fromStdString(
                             std::string("env TOLVANE_VK_CLIENT=") + GetParam().client + " " +
                             std::filesystem::read_symlink("/proc/self/exe").string()));
    env.insert("TIMEOUT", "60");
    env.insert("XWAYLAND", GetParam().xwayland ? "1" : "0");
    const test::DesktopResult result = runDesktop(script.string(), out, env);
    const std::string& run = result.said;
    if (result.exitCode == 3)
        GTEST_SKIP() << "the desktop cannot run here: " << run;
    ASSERT_EQ(result.exitCode, GetParam().status) << run;
    const std::string log = readFile(out / "client.log");
    if (*GetParam().error != '\0') {
        EXPECT_NE(log.find(GetParam().error), std::string::npos) << log;
        EXPECT_EQ(log.find("typed "), std::string::npos) << log;
        EXPECT_EQ(readFile(out / "typed.txt"), "");
    } else {
        EXPECT_EQ(readFile(out / "typed.txt"), expectedText()) << run << log;
        EXPECT_NE(log.find("typed-unmapped 0\n"), std::string::npos) << log;
        EXPECT_NE(log.find("refused-unknown-code\n"), std::string::npos) << log;
        std::cout << GetParam().name << ": " << log.substr(0, log.find('\n'))
                  << " at key delay 0\n";
    }
    std::filesystem::remove_all(out);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, VirtualKeyboardDesktop,
    ::testing::Values(
        Desktop{"Sway", "sway.sh", false, "type", 0, ""},
        Desktop{"SwayXWayland", "sway.sh", true, "type", 0, ""},
        // Both keys refused, the first saying why.
        Desktop{"SwayEnds", "sway.sh", false, "lost", 2,
                "refused: The connection to the Wayland display \"wayland-d9-sway\" was lost: "},
        // KWin offers ordinary clients no virtual keyboard.
        Desktop{"Kde", "kde.sh", false, "type", 0,
                "error: This compositor offers no virtual keyboard"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualKeyboardInjector, NoDisplayIsSaidByName) {
    try {
        VirtualKeyboardInjector keyboard("tolvane-no-such-display");
        ADD_FAILURE() << "connected";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("\"tolvane-no-such-display\""), std::string::npos)
            << e.what();
    }
}

}  // namespace
}  // namespace quorvel::platform
