#pragma once

// Runs the headless desktop scripts beside the project (../shared/desktops): each starts a real
// Wayland desktop as root, drops to uid 65534 and runs a client command inside it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace quorvel::platform::test {

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// DESKTOPS_DIR, else the folder beside the checkout, else the workplace's shared one (a CI
// checkout elsewhere on the machine).
inline std::string desktopsFolder() {
    if (const char* given = std::getenv("DESKTOPS_DIR"))
        return given;
    for (const char* candidate : {TOLVANE_SOURCE_DIR "/../shared/desktops", "/work/shared/desktops"})
        if (std::filesystem::exists(std::filesystem::path(candidate) / "sway.sh"))
            return candidate;
    return TOLVANE_SOURCE_DIR "/../shared/desktops";
}

struct DesktopResult {
    int exitCode = -1;  // 3: the desktop's packages are missing
    std::string said;   // the script's output
};

// Runs `script` with OUT=`out` and `variables` (CLIENT, TIMEOUT, ...) added to this process's
// environment; waits for it to end.
inline DesktopResult runDesktop(const std::string& script, const std::filesystem::path& out,
                                const QProcessEnvironment& variables, int waitMs = 100000) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(variables);
    env.insert("OUT", QString::fromStdString(out.string()));
    QProcess desktop;
    desktop.setProcessEnvironment(env);
    desktop.start(QString::fromStdString(script), {});
    if (!desktop.waitForFinished(waitMs)) {
        desktop.kill();
        desktop.waitForFinished();
        return {-1, script + " did not end"};
    }
    const QByteArray said = desktop.readAllStandardOutput() + desktop.readAllStandardError();
    return {desktop.exitStatus() == QProcess::NormalExit ? desktop.exitCode() : -1,
            said.toStdString()};
}

}  // namespace quorvel::platform::test
