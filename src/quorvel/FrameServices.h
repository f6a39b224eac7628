#pragma once

#include <functional>
#include <memory>

#include "quorvel/MessagePresenter.h"
#include "quorvel/worker/KeyInjector.h"
#include "quorvel/worker/SoundOutput.h"

namespace quorvel {

// What the main window gets from the desktop, replaceable in tests.
struct FrameServices {
    std::shared_ptr<MessagePresenter> messages;
    // Throws std::runtime_error with a readable message when keystrokes cannot be injected.
    std::function<std::shared_ptr<worker::KeyInjector>()> keyInjector;
    // The sound stage's sequencer (opened by the sound stage).
    std::function<std::unique_ptr<worker::SoundOutput>()> soundOutput;
    // Ends the program with an exit code (QCoreApplication::exit on the desktop).
    std::function<void(int)> exitProgram;
    // Whether the desktop has a system tray.
    std::function<bool()> trayAvailable;
    // Whether this start asks the update server (when the setting allows it at all).
    std::function<bool()> updateCheckDue;

    // QMessageBox, XTEST on $DISPLAY, FluidSynth's audio device, QCoreApplication::exit,
    // QSystemTrayIcon::isSystemTrayAvailable, one start in four for the update check.
    static FrameServices desktop();
};

}  // namespace quorvel
