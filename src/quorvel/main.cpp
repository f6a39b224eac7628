#include <QApplication>
#include <QStringList>

#include "quorvel/ZoviziDeZiz.h"

int main(int argc, char** argv) {
    // --help and --version answer without a display; anything else needs one.
    QStringList arguments;
    int exitCode = 0;
    if (!quorvel::ZoviziDeZiz::parseArguments(argc, argv, arguments, exitCode)) {
        return exitCode;
    }
    if (!quorvel::ZoviziDeZiz::desktopSessionAvailable(argc, argv)) {
        return 1;
    }
    QApplication app(argc, argv);
    return quorvel::ZoviziDeZiz::main(argc, argv);
}
