#include "quorvel/FrameServices.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSystemTrayIcon>

#include "quorvel/QtMessagePresenter.h"
#include "quorvel/platform/FluidSynthOutput.h"
#include "quorvel/platform/KeyboardOutput.h"
#include "quorvel/util/UpdateWorker.h"

namespace quorvel {

FrameServices FrameServices::desktop() {
    FrameServices services;
    services.messages = std::make_shared<QtMessagePresenter>();
    services.keyOutput = [](const QString& restoreToken,
                            const std::function<void()>& beforeAsking) {
        const platform::KeyboardOutput::Opened opened =
            platform::KeyboardOutput::open(restoreToken, beforeAsking);
        return KeyOutput{opened.injector, platform::KeyboardOutput::name(opened.kind),
                         opened.restoreToken};
    };
    services.soundOutput = []() -> std::unique_ptr<worker::SoundOutput> {
        return platform::FluidSynthOutput::audio();
    };
    services.exitProgram = [](int code) {
        // exit() only ends a loop that runs; the window's start-up may come before the loop,
        // so the same request also waits in the queue for the loop to begin.
        QCoreApplication::exit(code);
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
        }
    };
    services.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    services.updateCheckDue = [] { return util::UpdateWorker::isCheckDue(); };
    return services;
}

}  // namespace quorvel
