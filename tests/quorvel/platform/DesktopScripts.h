#pragma once

// Runs the headless desktop scripts beside the project (../shared/desktops): each starts a real
// Wayland desktop as root, drops to uid 65534 and runs a client command inside it.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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
    for (const char* candidate :
         {TOLVANE_SOURCE_DIR "/../shared/desktops", "/work/shared/desktops"})
        if (std::filesystem::exists(std::filesystem::path(candidate) / "sway.sh"))
            return candidate;
    return TOLVANE_SOURCE_DIR "/../shared/desktops";
}

struct DesktopResult {
    int exitCode = -1;  // 3: the desktop's packages are missing
    std::string said;   // the script's output
};

// One desktop at a time on this machine, across test processes: two compositors starting side by
// side on a small machine have overrun the run's time limit. Without the lock file (another
// user's) the runs are simply not kept apart.
class OneDesktopAtATime {
  public:
    OneDesktopAtATime()
        : fd_(::open("/tmp/tolvane-desktop-tests.lock", O_RDONLY | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~OneDesktopAtATime() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OneDesktopAtATime(const OneDesktopAtATime&) = delete;
    OneDesktopAtATime& operator=(const OneDesktopAtATime&) = delete;

  private:
    int fd_;
};

// Runs `script` with OUT=`out` and `variables` (CLIENT, TIMEOUT, ...) added to this process's
// environment; waits for it to end.
// The build tree this process runs from (bin/'s parent).
inline std::filesystem::path buildTree() {
    std::error_code error;
    const auto self = std::filesystem::canonical("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path().parent_path();
}

// The first folder on the way to `path` that uid 65534 cannot pass, or none.
inline std::optional<std::filesystem::path> closedFolderAbove(const std::filesystem::path& path) {
    for (auto folder = path; folder.has_relative_path(); folder = folder.parent_path()) {
        std::error_code error;
        const auto perms = std::filesystem::status(folder, error).permissions();
        if (!error && (perms & std::filesystem::perms::others_exec) == std::filesystem::perms::none)
            return folder;
    }
    return std::nullopt;
}

// Exit code 3 (cannot run here, said why) also when the client, run as uid 65534, could not
// reach the build tree.
inline DesktopResult runDesktop(const std::string& script, const std::filesystem::path& out,
                                const QProcessEnvironment& variables, int waitMs = 100000) {
#ifdef TOLVANE_SANITIZED
    // The desktop hands its client none of the sanitizer's settings, so the clients' own leak
    // reports (the toolkit's, at exit) would decide these runs; the plain build runs them.
    return {3, "not in a sanitizer build"};
#endif
    const std::filesystem::path tree = buildTree();
    if (const auto closed = closedFolderAbove(tree))
        return {3, "the desktop's user (uid 65534) cannot reach the build tree: " +
                       closed->string() + " lacks the search bit for others (chmod o+x)"};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(variables);
    env.insert("OUT", QString::fromStdString(out.string()));
    // The desktop has a /tmp of its own: a build tree below /tmp must be shared into it.
    const std::string treeText = tree.string();
    if (treeText.rfind("/tmp/", 0) == 0) {
        const QString shared = env.value("SHARE");
        env.insert("SHARE", (shared.isEmpty() ? QString() : shared + ' ') +
                                QString::fromStdString(treeText));
    }
    const OneDesktopAtATime turn;
    // A headless GNOME Shell now and then never finishes starting on a small machine; such a
    // run is tried once more. Whatever a desktop that did run says is the result.
    for (int attempt = 1;; ++attempt) {
        QProcess desktop;
        desktop.setProcessEnvironment(env);
        desktop.start(QString::fromStdString(script), {});
        if (desktop.waitForFinished(waitMs)) {
            const QByteArray said =
                desktop.readAllStandardOutput() + desktop.readAllStandardError();
            return {desktop.exitStatus() == QProcess::NormalExit ? desktop.exitCode() : -1,
                    said.toStdString()};
        }
        desktop.kill();
        desktop.waitForFinished();
        if (attempt == 2)
            return {-1, script + " did not end, twice"};
        std::fprintf(stderr, "%s did not end within %d ms; trying once more\n", script.c_str(),
                     waitMs);
    }
}

}  // namespace quorvel::platform::test
