// Types its argument through the RemoteDesktop portal from a thread of its own, as the typing
// stage does: characters one by one, "\n" as the Enter key. Exit 1 with the injector's message
// when the portal cannot be used. RESTORE_TOKEN in the environment is handed to the portal;
// ANSWER_TIMEOUT_MS limits the wait for the user's answer.
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <thread>

#include "quorvel/platform/PortalKeyInjector.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TEXT (\\n types Enter)\n", argv[0]);
        return 2;
    }
    std::string text;
    for (const char* c = argv[1]; *c != 0; ++c) {
        const bool enter = c[0] == '\\' && c[1] == 'n';
        text += enter ? '\n' : *c;
        c += enter ? 1 : 0;
    }
    try {
        auto injector = std::make_unique<quorvel::platform::PortalKeyInjector>(
            qEnvironmentVariable("RESTORE_TOKEN"),
            qEnvironmentVariableIntValue("ANSWER_TIMEOUT_MS") > 0
                ? qEnvironmentVariableIntValue("ANSWER_TIMEOUT_MS")
                : 30000);
        std::printf("portal version %u, restore token [%s]\n", injector->portalVersion(),
                    qPrintable(injector->restoreToken()));
        std::exception_ptr failure;
        const auto begin = std::chrono::steady_clock::now();
        std::thread typing([&] {
            try {
                for (const char32_t c : QString::fromStdString(text).toUcs4()) {
                    if (c == U'\n') {
                        injector->keyPress(10);
                        injector->keyRelease(10);
                    } else if (!injector->typeCharacter(c, 0)) {
                        std::fprintf(stderr, "cannot type U+%04X\n", static_cast<unsigned>(c));
                    }
                }
            } catch (...) {
                failure = std::current_exception();
            }
        });
        typing.join();
        if (failure)
            std::rethrow_exception(failure);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                .count();
        const auto keys = QString::fromStdString(text).toUcs4().size();
        std::printf("typed %lld keys, %.2f ms per key\n", static_cast<long long>(keys), ms / keys);
        std::fflush(stdout);
        // Let the desktop deliver the last keys before the session closes.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
