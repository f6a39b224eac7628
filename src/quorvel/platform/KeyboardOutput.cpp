#include "quorvel/platform/KeyboardOutput.h"

#include <stdexcept>
#include <string>

#include "quorvel/platform/X11KeyInjector.h"
#include "serialkit/SystemProperties.h"

#if __has_include("quorvel/platform/PortalKeyInjector.h")
#include "quorvel/platform/PortalKeyInjector.h"
#define QUORVEL_HAS_PORTAL 1
#endif
#if __has_include("quorvel/platform/VirtualKeyboardInjector.h")
#include "quorvel/platform/VirtualKeyboardInjector.h"
#define QUORVEL_HAS_VIRTUAL_KEYBOARD 1
#endif

namespace quorvel::platform {

namespace {

const char* const kAdvice =
    "Tolvane cannot type into the windows of this Wayland desktop. Allow remote interaction "
    "when the desktop asks, install the desktop's portal (xdg-desktop-portal-gnome on GNOME, "
    "xdg-desktop-portal-kde on KDE Plasma), use a "
    "compositor with the virtual keyboard protocol (sway, Hyprland, labwc, river, Wayfire), or "
    "log in to a session on Xorg.";

}  // namespace

std::vector<KeyboardOutput::Kind> KeyboardOutput::choose() {
    if (const auto forced = serialkit::SystemProperties::get("KEYBOARD_OUTPUT")) {
        if (*forced == "x11") {
            return {Kind::X11};
        }
        if (*forced == "portal") {
            return {Kind::PORTAL};
        }
        if (*forced == "virtual-keyboard") {
            return {Kind::VIRTUAL_KEYBOARD};
        }
        throw std::invalid_argument("KEYBOARD_OUTPUT is \"" + *forced +
                                    "\"; it must be x11, portal or virtual-keyboard");
    }
    const auto wayland = serialkit::SystemProperties::get("WAYLAND_DISPLAY");
    if (wayland && !wayland->empty()) {
        return {Kind::VIRTUAL_KEYBOARD, Kind::PORTAL};
    }
    return {Kind::X11};
}

std::shared_ptr<worker::KeyInjector> KeyboardOutput::create(Kind kind,
                                                            const QString& restoreToken) {
    switch (kind) {
        case Kind::X11:
            return std::make_shared<X11KeyInjector>();
        case Kind::PORTAL:
#ifdef QUORVEL_HAS_PORTAL
            return std::make_shared<PortalKeyInjector>(restoreToken);
#else
            (void)restoreToken;
            throw std::runtime_error("This build has no RemoteDesktop portal output");
#endif
        case Kind::VIRTUAL_KEYBOARD:
#ifdef QUORVEL_HAS_VIRTUAL_KEYBOARD
            // The display the choice was made for, also when only the property names it.
            return std::make_shared<VirtualKeyboardInjector>(
                serialkit::SystemProperties::get("WAYLAND_DISPLAY", ""));
#else
            throw std::runtime_error("This build has no Wayland virtual keyboard output");
#endif
    }
    throw std::invalid_argument("Unknown keyboard output");
}

KeyboardOutput::Opened KeyboardOutput::open(const QString& restoreToken,
                                            const std::function<void()>& beforePortal) {
    std::vector<Kind> kinds;
    try {
        kinds = choose();
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error(e.what());
    }
    std::string failures;
    for (const Kind kind : kinds) {
        try {
            if (kind == Kind::PORTAL && beforePortal) {
                beforePortal();
            }
            Opened opened{kind, create(kind, restoreToken), QString()};
#ifdef QUORVEL_HAS_PORTAL
            if (const auto* portal = dynamic_cast<PortalKeyInjector*>(opened.injector.get())) {
                opened.restoreToken = portal->restoreToken();
            }
#endif
            return opened;
        } catch (const std::runtime_error& e) {
            // A forced output says only its own reason; the session's choice says what to do.
            if (kinds.size() == 1) {
                throw;
            }
            failures += name(kind).toStdString() + ": " + e.what() + "\n";
        }
    }
    throw std::runtime_error(failures + "\n" + kAdvice);
}

QString KeyboardOutput::name(Kind kind) {
    switch (kind) {
        case Kind::X11:
            return QStringLiteral("X11 (XTEST)");
        case Kind::PORTAL:
            return QStringLiteral("RemoteDesktop portal");
        case Kind::VIRTUAL_KEYBOARD:
            return QStringLiteral("Wayland virtual keyboard");
    }
    return QString();
}

}  // namespace quorvel::platform
