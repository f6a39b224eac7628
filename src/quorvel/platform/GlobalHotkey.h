#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <utility>

namespace quorvel::platform {

// A key chord ("F9", "Ctrl+Shift+R") that works while another application has the focus; the
// key itself never reaches that application. Made and destroyed on the user-interface thread;
// `activated` is called there, once per press (holding the key down does not repeat it).
class GlobalHotkey {
public:
    using Activated = std::function<void()>;

    virtual ~GlobalHotkey() = default;

    // Whether the chord is bound now.
    virtual bool available() const = 0;
    // Why it is not, in plain words for the window; empty while it is.
    virtual QString reason() const = 0;

    // The one this session offers: a grab on the X server when the desktop is X11, the
    // GlobalShortcuts portal on a Wayland desktop that has it; otherwise one that is not
    // available and says so. Never throws.
    static std::unique_ptr<GlobalHotkey> create(const QString& chord, Activated activated);
};

// What a desktop without any way of binding the chord gets.
class UnavailableGlobalHotkey : public GlobalHotkey {
public:
    explicit UnavailableGlobalHotkey(QString reason) : reason_(std::move(reason)) {}
    bool available() const override { return false; }
    QString reason() const override { return reason_; }

private:
    QString reason_;
};

}  // namespace quorvel::platform
