#include "quorvel/platform/GlobalHotkey.h"

#include <QtGlobal>

#include <exception>
#include <utility>

#include "quorvel/platform/PortalGlobalHotkey.h"
#include "quorvel/platform/X11GlobalHotkey.h"
#include "quorvel/util/Bundle.h"

namespace quorvel::platform {

std::unique_ptr<GlobalHotkey> GlobalHotkey::create(const QString& chord, Activated activated) {
    const QString notAvailable = util::Bundle::tolvane().getString("request.hotkey.not.available");
    // A grab on XWayland would see only the keys typed into X11 windows.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        if (PortalGlobalHotkey::offered())
            return std::make_unique<PortalGlobalHotkey>(chord, std::move(activated));
        return std::make_unique<UnavailableGlobalHotkey>(notAvailable);
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return std::make_unique<UnavailableGlobalHotkey>(notAvailable);
    try {
        return std::make_unique<X11GlobalHotkey>(chord, std::move(activated));
    } catch (const std::exception& e) {
        return std::make_unique<UnavailableGlobalHotkey>(util::Bundle::tolvane().format(
            "request.hotkey.failed", {chord, QString::fromUtf8(e.what())}));
    }
}

}  // namespace quorvel::platform
