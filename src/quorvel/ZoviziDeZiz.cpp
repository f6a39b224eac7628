#include "quorvel/ZoviziDeZiz.h"

#include <QApplication>
#include <QLocale>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "quorvel/FrameServices.h"
#include "quorvel/ZoviziDeZizFrame2.h"
#include "quorvel/config/ConfigStore.h"
#include "quorvel/platform/X11KeyInjector.h"
#include "serialkit/Platform.h"
#include "serialkit/SystemProperties.h"

namespace quorvel {

namespace {

ZoviziDeZiz* theInstance = nullptr;

const char* const usageText =
    "Usage: tolvane [-Dname=value ...] [PORT]\n"
    "\n"
    "Reads a serial instrument (a scale, a gauge, a barcode reader) and types its values\n"
    "into the window that has the keyboard focus.\n"
    "\n"
    "  PORT           the only serial port to offer, e.g. /dev/ttyUSB0, or a device\n"
    "                 server on the network: tcp://HOST:PORT (raw TCP) or\n"
    "                 rfc2217://HOST:PORT (RFC 2217), e.g. rfc2217://192.168.1.20:2217\n"
    "                 (without it every port found on this machine is listed)\n"
    "  -Dname=value   set a property before start-up; they come before PORT, e.g.\n"
    "                   -DSERIAL_PORT_LIST=/dev/ttyS0:/dev/ttyUSB0   the ports to list\n"
    "                   -DSOUNDFONT=/path/to/font.sf2               the sound font\n"
    "  --help         show this help and exit\n"
    "  --version      show the version and exit\n";

// A value given with -D or in the environment names another platform on purpose (that is how
// an unsupported one is tried out), so it is kept; otherwise the serial library gets the
// names it expects for this machine ("Linux" and "amd64", "i386", "aarch64", ...).
void setUnlessGiven(const char* name, const std::string& value) {
    const auto given = serialkit::SystemProperties::get(name);
    if (!given || given->empty()) {
        serialkit::SystemProperties::set(name, value);
    }
}

// A termination request (the session ending, kill, Ctrl-C in a terminal) only writes a byte
// here; the event loop reads it and closes the window, which stops reading and saves the
// settings as closing it by hand does.
int terminationPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
    const int saved = errno;
    if (::write(terminationPipe[1], "t", 1) < 0) {
        // The pipe is full: a request is already waiting.
    }
    errno = saved;
}

// False when the requests cannot be caught; they then end the program as before.
bool catchTerminationRequests() {
    if (::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    return true;
}

// --- the display going away ---

extern "C" void onBrokenPipe(int) {}

// A write to a connection whose other end has gone (the X server's) must fail with an error that
// the library reports, not kill the process. A handler rather than SIG_IGN, so that programs
// started from here (the browser) get the default back.
void catchBrokenPipes() {
    struct sigaction action {};
    action.sa_handler = onBrokenPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &action, nullptr);
}

// The window whose settings are kept on the way out; touched on the user-interface thread only.
QPointer<ZoviziDeZizFrame2> liveWindow;
// Whether a window exists, for the other threads.
std::atomic<bool> windowOpen{false};

bool onUserInterfaceThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

// Ends the process at once: the window system is gone, so there is nothing left to close, and
// exit() would run the toolkit's and the libraries' clean-up while other threads still use it.
[[noreturn]] void leaveForLostDisplay(bool settingsKept) {
    // A second thread that gets here waits until the first has ended the process.
    static std::mutex leaving;
    leaving.lock();
    std::cout.flush();
    std::fflush(stdout);
    std::fputs(settingsKept ? "The connection to the display was lost, so Tolvane ends.\n"
                            : "The connection to the display was lost, so Tolvane ends; the "
                              "changed settings could not be saved.\n",
               stderr);
    std::fflush(stderr);
    ::_exit(1);
}

QtMessageHandler toolkitMessageHandler = nullptr;

// The toolkit's platforms say this just before they end the process on their own.
void onToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("The X11 connection broke")) ||
        text.startsWith(QLatin1String("The Wayland connection"))) {
        ZoviziDeZiz::displayLost();
    }
    if (toolkitMessageHandler != nullptr) {
        toolkitMessageHandler(type, context, text);
    }
}

bool isSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

}  // namespace

void ZoviziDeZiz::prepare() {
    QLocale::setDefault(QLocale(QLocale::English));

    serialkit::SystemProperties::set("VERSION", VERSION);
    serialkit::SystemProperties::set("RELEASEDATE", RELEASEDATE);
    setUnlessGiven("SK_OSNAME", serialkit::systemOsName());
    setUnlessGiven("SK_OSARCH", serialkit::systemOsArch());

    // The native look: QApplication has already chosen the desktop's style (Fusion where the
    // desktop names none, or what -style / QT_STYLE_OVERRIDE ask for). There is nothing to
    // load here that could fail.
}

bool ZoviziDeZiz::parseArguments(int argc, char** argv, QStringList& windowArguments,
                                 int& exitCode) {
    windowArguments.clear();
    const int first = serialkit::SystemProperties::applyDefines(argc, argv, 1);
    if (first < argc && argv[first] != nullptr) {
        if (std::strcmp(argv[first], "--help") == 0) {
            std::cout << usageText << std::flush;
            exitCode = 0;
            return false;
        }
        if (std::strcmp(argv[first], "--version") == 0) {
            std::cout << "Tolvane " << VERSION << " (" << RELEASEDATE << ")" << std::endl;
            exitCode = 0;
            return false;
        }
    }
    for (int i = first; i < argc; ++i) {
        windowArguments << QString::fromLocal8Bit(argv[i] != nullptr ? argv[i] : "");
    }
    return true;
}

bool ZoviziDeZiz::desktopSessionAvailable(int argc, char** argv) {
    // The toolkit's own options: -platform wins over QT_QPA_PLATFORM, -display names an X one.
    QString platforms = qEnvironmentVariable("QT_QPA_PLATFORM");
    std::optional<std::string> xDisplay;
    if (isSet("DISPLAY")) {
        xDisplay = std::string();
    }
    for (int i = 1; i + 1 < argc; ++i) {
        const char* word = argv[i] != nullptr ? argv[i] : "";
        if (std::strcmp(word, "-platform") == 0 || std::strcmp(word, "--platform") == 0) {
            platforms = QString::fromLocal8Bit(argv[i + 1]);
        } else if (std::strcmp(word, "-display") == 0 || std::strcmp(word, "--display") == 0) {
            xDisplay = std::string(argv[i + 1] != nullptr ? argv[i + 1] : "");
        }
    }
    // A list of fallbacks, each name perhaps followed by ":options".
    for (const QString& entry : platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
        if (!name.isEmpty() && name != QLatin1String("xcb") &&
            !name.startsWith(QLatin1String("wayland"))) {
            return true;
        }
    }
    if (isSet("WAYLAND_DISPLAY")) {
        return true;
    }
    if (xDisplay) {
        // A DISPLAY left over from a session that has ended (an old terminal, ssh without X
        // forwarding) would otherwise end in the toolkit's abort.
        std::string shown;
        if (platform::X11KeyInjector::displayAnswers(*xDisplay, shown)) {
            return true;
        }
        std::cerr << "Tolvane cannot reach the X display \"" << shown
                  << "\" that DISPLAY names: is that desktop session still running?" << std::endl;
        return false;
    }
    std::cerr << "Tolvane needs a graphical desktop session, but neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set."
              << std::endl;
    return false;
}

void ZoviziDeZiz::displayLost() {
    if (onUserInterfaceThread()) {
        // Saving might be told of the loss once more; the settings are written only once.
        static bool saving = false;
        if (saving) {
            leaveForLostDisplay(false);
        }
        saving = true;
        leaveForLostDisplay(liveWindow == nullptr || liveWindow->keepSettings());
    }
    // The settings belong to the user-interface thread: it is asked to end the program, and
    // when it does not come in time the program ends without them.
    static std::atomic_flag asked = ATOMIC_FLAG_INIT;
    if (QCoreApplication* app = QCoreApplication::instance();
        app != nullptr && !asked.test_and_set()) {
        QMetaObject::invokeMethod(
            app, [] { displayLost(); }, Qt::QueuedConnection);
    }
    std::this_thread::sleep_for(std::chrono::seconds(5));
    leaveForLostDisplay(!windowOpen);
}

int ZoviziDeZiz::main(int argc, char** argv) {
    QStringList arguments;
    int exitCode = 0;
    if (!parseArguments(argc, argv, arguments, exitCode)) {
        return exitCode;
    }
    prepare();
    config::ConfigStore::usePreferencesFileLocation();

    static ZoviziDeZiz entry;
    theInstance = &entry;
    toolkitMessageHandler = qInstallMessageHandler(onToolkitMessage);
    catchBrokenPipes();

    // The window lives until the event loop has ended; it is made from the loop itself.
    std::unique_ptr<ZoviziDeZizFrame2> frame;
    QTimer::singleShot(0, qApp, [&frame, arguments] {
        try {
            frame = instance()->createFrame(arguments);
            liveWindow = frame.get();
            windowOpen = true;
            // An auto start may have iconified the window already; it is iconified again once
            // shown, so that the tray support (when installed) sees it happen and hides it.
            const bool iconified = frame->isMinimized();
            if (iconified) {
                frame->setWindowState(frame->windowState() & ~Qt::WindowMinimized);
            }
            frame->show();
            if (iconified) {
                frame->setWindowState(frame->windowState() | Qt::WindowMinimized);
            }
        } catch (const std::exception& e) {
            std::cerr << "Tolvane could not open its window: " << e.what() << std::endl;
            QCoreApplication::exit(1);
        }
    });
    std::unique_ptr<QSocketNotifier> termination;
    if (catchTerminationRequests()) {
        termination = std::make_unique<QSocketNotifier>(terminationPipe[0], QSocketNotifier::Read);
        QObject::connect(termination.get(), &QSocketNotifier::activated, qApp, [&frame] {
            char drained[16];
            while (::read(terminationPipe[0], drained, sizeof drained) > 0) {
            }
            if (frame) {
                frame->close();
            }
            QCoreApplication::quit();
        });
    }
    const int code = QCoreApplication::exec();
    termination.reset();
    windowOpen = false;
    frame.reset();
    qInstallMessageHandler(toolkitMessageHandler);
    return code;
}

ZoviziDeZiz* ZoviziDeZiz::instance() { return theInstance; }

std::unique_ptr<ZoviziDeZizFrame2> ZoviziDeZiz::createFrame(const QStringList& arguments) {
    return std::make_unique<ZoviziDeZizFrame2>(arguments, FrameServices::desktop());
}

}  // namespace quorvel
