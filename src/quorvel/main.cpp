#include <QApplication>
#include <QStringList>

#include "quorvel/ZoviziDeZiz.h"

int main(int argc, char** argv) {
    // --help and --version answer without a display.
    QStringList arguments;
    int exitCode = 0;
    if (!quorvel::ZoviziDeZiz::parseArguments(argc, argv, arguments, exitCode)) {
        return exitCode;
    }
    QApplication app(argc, argv);
    return quorvel::ZoviziDeZiz::main(argc, argv);
}
