#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "quorvel/worker/KeyInjector.h"

namespace quorvel::platform {

// Which keystroke output types into the user's windows, chosen by the session. XTEST reaches
// only X11 windows, so a Wayland session (WAYLAND_DISPLAY set, also when this program itself
// runs under XWayland) never gets it unless the process property KEYBOARD_OUTPUT asks for it.
class KeyboardOutput {
  public:
    enum class Kind { X11, PORTAL, VIRTUAL_KEYBOARD };

    // An output that is set up.
    struct Opened {
        Kind kind;
        std::shared_ptr<worker::KeyInjector> injector;
        // The portal's token for the next start without asking; empty for the other outputs.
        QString restoreToken;
    };

    // The outputs to try, best first: the one KEYBOARD_OUTPUT names (x11, portal,
    // virtual-keyboard); else on Wayland the virtual keyboard, then the portal; else XTEST.
    // Throws std::invalid_argument for an unknown KEYBOARD_OUTPUT.
    static std::vector<Kind> choose();

    // Sets up one output; throws std::runtime_error with a readable message when it cannot.
    // `restoreToken` is the portal's token from an earlier start (ignored by the others).
    static std::shared_ptr<worker::KeyInjector> create(Kind kind, const QString& restoreToken);

    // The first of `choose()` that can be set up. `beforePortal` is called before the portal
    // is asked, since the desktop may then show its own dialog. Throws std::runtime_error
    // saying why and what to do when none can be.
    static Opened open(const QString& restoreToken, const std::function<void()>& beforePortal = {});

    // "X11 (XTEST)", "RemoteDesktop portal", "Wayland virtual keyboard".
    static QString name(Kind kind);
};

}  // namespace quorvel::platform
