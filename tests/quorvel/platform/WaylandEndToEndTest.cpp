// The whole program inside real headless Wayland desktops: an instrument on a pseudo-terminal
// sends two readings, and the program types them into the desktop's focused native window.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <string>

#include <QProcessEnvironment>

#include "quorvel/config/Config.h"
#include "quorvel/config/ConfigHelper.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/config/Instrument.h"
#include "quorvel/platform/DesktopScripts.h"
#include "quorvel/platform/ProgramSettings.h"
#include "quorvel/support/TempPrefs.h"

namespace quorvel::platform::test {
namespace {

using H = config::ConfigHelper;

// Runs inside the desktop as uid 65534. The instrument holds the pty's master side; the
// program's window taking the focus ("out") says it is up. Writes OUT/state.txt: whether the
// program held the port open after typing, was still running, and ended on SIGTERM.
constexpr const char* CLIENT_SCRIPT = R"SH(
python3 - "$OUT" <<'PY' &
import os, sys, time
out = sys.argv[1]
master, slave = os.openpty()
open(out + "/pty", "w").write(os.ttyname(slave))
while not os.path.exists(out + "/send"):
    time.sleep(0.05)
for value in (b"12.50\r", b"-0.35\r"):
    os.write(master, value)
    time.sleep(0.3)
time.sleep(30)
PY
instrument=$!
for i in $(seq 100); do [ -s "$OUT/pty" ] && break; sleep 0.05; done
pty=$(cat "$OUT/pty")
env $PROGRAM_ENV "$PROGRAM" "-D$PREFS_PROPERTY=$OUT/settings.txt" "$pty" \
    > "$OUT/program.log" 2>&1 &
program=$!
for i in $(seq 200); do grep -q '^out' "$TARGET_STATE" 2>/dev/null && break; sleep 0.05; done
# The start has opened the port once the output is set up (after any consent dialog).
holds() { for fd in /proc/$program/fd/*; do [ "$(readlink "$fd")" = "$pty" ] && return 0; done; return 1; }
for i in $(seq "$OPEN_WAIT_TICKS"); do holds && break; sleep 0.1; done
sleep 0.5
"$FOCUS_TARGET"
# On GNOME the focus can leave the remapped target once more just after it got it.
sleep 1
touch "$OUT/send"
sleep 3
if holds; then echo open > "$OUT/state.txt"; else echo closed > "$OUT/state.txt"; fi
kill -0 $program 2>/dev/null && echo running >> "$OUT/state.txt"
kill -TERM $program
for i in $(seq 100); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
kill -0 $program 2>/dev/null || echo ended >> "$OUT/state.txt"
kill $instrument
)SH";

struct Desktop {
    const char* name;
    const char* script;
    const char* variables;  // for the script, "NAME=value" separated by spaces
    const char* programEnv;
    const char* typed;
    const char* state;    // OUT/state.txt at the end
    const char* consent;  // the simulated user's answer to the portal's dialog, as logged
};

void PrintTo(const Desktop& desktop, std::ostream* out) {
    *out << desktop.name;
}

// The program's settings, copied where the desktop's user can read them.
void writeSettings(const std::filesystem::path& file) {
    support::TempPrefs prefs;
    saveProgramSettings(QStringLiteral("5"));
    std::filesystem::copy_file(prefs.file().toStdString(), file);
    std::filesystem::permissions(file, std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
}

class WaylandEndToEndTest : public ::testing::TestWithParam<Desktop> {};

TEST_P(WaylandEndToEndTest, ReadingsArriveInTheFocusedNativeWindow) {
    const Desktop& desktop = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "the desktop scripts run as root (they drop to uid 65534 themselves)";
    const std::string script = desktopsFolder() + "/" + desktop.script;
    if (!std::filesystem::exists(script))
        GTEST_SKIP() << script << " is missing (set DESKTOPS_DIR)";

    char pattern[] = "/tmp/wayland-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path out = pattern;
    writeSettings(out / "settings.txt");
    {
        std::ofstream client(out / "client.sh");
        client << CLIENT_SCRIPT;
    }
    const bool refused = std::string(desktop.typed).empty();
    QProcessEnvironment env;
    const auto quoted = [](const std::string& s) { return "'" + s + "'"; };
    env.insert("CLIENT",
               QString::fromStdString("env PROGRAM=" + quoted(TOLVANE_BINARY) + " PROGRAM_ENV=" +
                                      quoted(desktop.programEnv) + " PREFS_PROPERTY=" +
                                      quoted(prefs::FilePreferencesFactory::SYSTEM_PROPERTY_FILE) +
                                      " OPEN_WAIT_TICKS=" + (refused ? "80" : "250") + " bash " +
                                      (out / "client.sh").string()));
    env.insert("TIMEOUT", "50");
    for (const QString& v : QString(desktop.variables).split(' ', Qt::SkipEmptyParts))
        env.insert(v.section('=', 0, 0), v.section('=', 1));
    const DesktopResult result = runDesktop(script, out, env);
    const std::string program = readFile(out / "program.log");
    const std::string typed = readFile(out / "typed.txt");
    const std::string state = readFile(out / "state.txt");
    const std::string clientLog = readFile(out / "client.log");
    const std::string consent = readFile(out / "consent.log");
    if (result.exitCode == 3) {
        std::filesystem::remove_all(out);
        GTEST_SKIP() << desktop.script << " cannot run here: " << result.said;
    }
    ASSERT_EQ(result.exitCode, 0) << result.said << "see " << out;

    EXPECT_EQ(typed, desktop.typed) << result.said << program << clientLog;
    EXPECT_EQ(state, desktop.state) << program << clientLog;
    if (*desktop.consent != '\0') {
        EXPECT_NE(consent.find(desktop.consent), std::string::npos) << consent;
    }
    if (!HasFailure())
        std::filesystem::remove_all(out);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, WaylandEndToEndTest,
    ::testing::Values(
        Desktop{"Sway", "sway.sh", "", "", "12.50\n-0.35\n", "open\nrunning\nended\n", ""},
        // An X11 client: its keys must still reach the native window.
        Desktop{"SwayXWayland", "sway.sh", "XWAYLAND=1", "QT_QPA_PLATFORM=xcb", "12.50\n-0.35\n",
                "open\nrunning\nended\n", ""},
        Desktop{"GnomeAllowed", "gnome.sh", "CONSENT=auto", "", "12.50\n-0.35\n",
                "open\nrunning\nended\n", "push button '_Share"},
        // Refused: the port stays closed, nothing is typed, the program stays up.
        Desktop{"GnomeRefused", "gnome.sh", "CONSENT=deny", "", "", "closed\nrunning\nended\n",
                "push button '_Cancel"},
        Desktop{"Kde", "kde.sh", "", "", "12.50\n-0.35\n", "open\nrunning\nended\n", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel::platform::test
