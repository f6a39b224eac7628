#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "quorvel/MessagePresenter.h"
#include "quorvel/worker/KeyInjector.h"
#include "quorvel/worker/SoundOutput.h"

namespace quorvel {

// What the main window gets from the desktop, replaceable in tests.
struct FrameServices {
    std::shared_ptr<MessagePresenter> messages;
    // The keystroke output of this session.
    struct KeyOutput {
        std::shared_ptr<worker::KeyInjector> injector;
        // For the event log.
        QString name;
        // The desktop's permission to reuse at the next start; empty when it gave none.
        QString restoreToken;
    };
    // `restoreToken` is the one kept from an earlier start; `beforeAsking` is called just before
    // the desktop may ask the user. Throws std::runtime_error with a readable message that says
    // what to do when keystrokes cannot be injected.
    std::function<KeyOutput(const QString& restoreToken, const std::function<void()>& beforeAsking)>
        keyOutput;
    // The sound stage's sequencer (opened by the sound stage).
    std::function<std::unique_ptr<worker::SoundOutput>()> soundOutput;
    // Ends the program with an exit code (QCoreApplication::exit on the desktop).
    std::function<void(int)> exitProgram;
    // Whether the desktop has a system tray.
    std::function<bool()> trayAvailable;
    // Whether this start asks the update server (when the setting allows it at all).
    std::function<bool()> updateCheckDue;

    // QMessageBox, the keystroke output the session offers (XTEST, the RemoteDesktop portal or
    // the Wayland virtual keyboard), FluidSynth's audio device, QCoreApplication::exit,
    // QSystemTrayIcon::isSystemTrayAvailable, one start in four for the update check.
    static FrameServices desktop();
};

}  // namespace quorvel
