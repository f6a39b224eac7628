// The RemoteDesktop portal on real headless desktops: the desktop scripts beside the project
// start GNOME Shell or KWin with their portals (and sway, whose portal cannot type) and a native
// Wayland window that records what arrives; the portal client types into it as an ordinary user.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>

#include <QProcessEnvironment>

#include "quorvel/platform/DesktopScripts.h"

namespace quorvel::platform::test {
namespace {

struct DesktopRun {
    const char* script;
    const char* consent;          // the simulated user's answer to the dialog
    const char* answerTimeoutMs;  // how long the client waits for it
    const char* typed;
    const char* clientSays;
};

void PrintTo(const DesktopRun& run, std::ostream* out) {
    *out << run.script << " CONSENT=" << run.consent;
}

class PortalKeyInjectorTest : public ::testing::TestWithParam<DesktopRun> {};

TEST_P(PortalKeyInjectorTest, TypesIntoNativeWindowOnlyWithConsent) {
    const DesktopRun& run = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "the desktop scripts run as root (they drop to uid 65534 themselves)";
    const std::string script = desktopsFolder() + "/" + run.script;
    if (!std::filesystem::exists(script))
        GTEST_SKIP() << script << " is missing (set DESKTOPS_DIR)";

    char pattern[] = "/tmp/portal-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path out = pattern;
    QProcessEnvironment env;
    env.insert("CLIENT", QString("env ANSWER_TIMEOUT_MS=%1 %2 '12.50\\n-0.35\\n'")
                             .arg(run.answerTimeoutMs, PORTAL_TYPE_CLIENT));
    env.insert("CONSENT", run.consent);
    env.insert("TIMEOUT", "60");
    const DesktopResult result = runDesktop(script, out, env);
    const std::string clientLog = readFile(out / "client.log");
    const std::string typed = readFile(out / "typed.txt");
    std::filesystem::remove_all(out);
    if (result.exitCode == 3)
        GTEST_SKIP() << run.script << " cannot run here: " << result.said;
    ASSERT_EQ(result.exitCode, 0) << result.said;

    EXPECT_EQ(typed, run.typed) << result.said;
    EXPECT_THAT(clientLog, ::testing::HasSubstr(run.clientSays));
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, PortalKeyInjectorTest,
    ::testing::Values(DesktopRun{"gnome.sh", "auto", "30000", "12.50\n-0.35\n", "typed 12 keys"},
                      DesktopRun{"gnome.sh", "deny", "30000", "",
                                 "The desktop refused remote interaction."},
                      DesktopRun{"gnome.sh", "none", "3000", "", "did not answer the request"},
                      DesktopRun{"kde.sh", "auto", "30000", "12.50\n-0.35\n", "typed 12 keys"},
                      // sway's portal has no remote desktop back end.
                      DesktopRun{"sway.sh", "auto", "3000", "", "Keys cannot reach the windows"}),
    [](const auto& info) {
        const std::string script = info.param.script;
        return script.substr(0, script.find('.')) + "_" + info.param.consent;
    });

}  // namespace
}  // namespace quorvel::platform::test
