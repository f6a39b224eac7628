#include "quorvel/ZoviziDeZiz.h"

#include <QApplication>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "quorvel/FrameServices.h"
#include "quorvel/ZoviziDeZizFrame2.h"
#include "quorvel/config/ConfigStore.h"
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
    "  PORT           the only serial port to offer, e.g. /dev/ttyUSB0\n"
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

    // The window lives until the event loop has ended; it is made from the loop itself.
    std::unique_ptr<ZoviziDeZizFrame2> frame;
    QTimer::singleShot(0, qApp, [&frame, arguments] {
        try {
            frame = instance()->createFrame(arguments);
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
    frame.reset();
    return code;
}

ZoviziDeZiz* ZoviziDeZiz::instance() { return theInstance; }

std::unique_ptr<ZoviziDeZizFrame2> ZoviziDeZiz::createFrame(const QStringList& arguments) {
    return std::make_unique<ZoviziDeZizFrame2>(arguments, FrameServices::desktop());
}

}  // namespace quorvel
