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

    // The whole start-up inside an existing QApplication: prepare, then post the creation of
    // the window; returns the event loop's exit code.
    static int main(int argc, char** argv);

    static ZoviziDeZiz* instance();
    std::unique_ptr<ZoviziDeZizFrame2> createFrame(const QStringList& arguments);
};

}  // namespace quorvel
