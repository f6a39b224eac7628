#pragma once

#include <QStringList>

#include <memory>

namespace quorvel {

class ZoviziDeZizFrame2;

// The program's entry: process-wide preparation, then the main window from the event loop.
class ZoviziDeZiz {
public:
    static constexpr const char* VERSION = "2017.1.0.2";
    static constexpr const char* RELEASEDATE = "20170125";

    // Locale "en", the properties VERSION, RELEASEDATE, SK_OSNAME and SK_OSARCH (the platform
    // this build runs on), the native style. Does not create the window.
    static void prepare();

    // Handles leading -Dname=value words (process properties, not passed on), --help and
    // --version (printed; returns their exit code 0 through `exitCode`); the rest are the
    // window's arguments. Returns false when the program should end at once.
    static bool parseArguments(int argc, char** argv, QStringList& windowArguments, int& exitCode);

    // Whether the toolkit can open a window at all. Without DISPLAY and WAYLAND_DISPLAY the
    // desktop platforms cannot, and the toolkit would abort; this prints one line saying so to
    // the error stream and returns false. A platform named with -platform or QT_QPA_PLATFORM
    // that needs no desktop session (offscreen, vnc, ...) is left to the toolkit.
    static bool desktopSessionAvailable(int argc, char** argv);

    // The whole start-up inside an existing QApplication: prepare, then post the creation of
    // the window; returns the event loop's exit code. Losing the connection to the display
    // while it runs ends the program through displayLost.
    static int main(int argc, char** argv);

    // The end of the program once the display has gone away, from any thread and as often as
    // it is noticed: the window's settings are saved on the user-interface thread where that
    // is still possible, one line goes to the error stream and the process ends with exit
    // code 1, without running exit handlers that could race other threads.
    [[noreturn]] static void displayLost();

    static ZoviziDeZiz* instance();
    std::unique_ptr<ZoviziDeZizFrame2> createFrame(const QStringList& arguments);
};

}  // namespace quorvel
