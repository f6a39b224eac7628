#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "quorvel/worker/KeyInjector.h"

namespace quorvel::platform {

// Keystrokes through the X server's XTEST extension, into whatever window has the focus.
// Virtual key codes are mapped to X keysyms and then to the key codes of the display's current
// keyboard map, looked up anew after the map changes. When the X server goes away the
// connection is given up, not the process: every later key is refused with a
// std::runtime_error, and whoever owns the session decides whether the program ends.
class X11KeyInjector : public worker::KeyInjector {
public:
    // Connects to `displayName`, or to $DISPLAY when it is empty. Throws std::runtime_error
    // with a message that says what is missing (no display, no XTEST).
    explicit X11KeyInjector(const std::string& displayName = std::string());
    ~X11KeyInjector() override;

    X11KeyInjector(const X11KeyInjector&) = delete;
    X11KeyInjector& operator=(const X11KeyInjector&) = delete;

    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    // False once the connection is lost.
    bool isCapsLockOn() override;

    // The X keysym for a virtual key code, 0 when there is none.
    static unsigned long keysymFor(int keyCode);
    // Whether an X server answers on `displayName` ($DISPLAY when empty); the name Xlib tried
    // goes to `shown`.
    static bool displayAnswers(const std::string& displayName, std::string& shown);

private:
    void send(int keyCode, bool press);
    // Reads the events waiting on the connection and brings the key map up to date.
    void takeMapChanges();
    void throwIfLost() const;

    struct Display_;
    std::unique_ptr<Display_> x_;
    std::mutex mutex_;  // one connection, used from the typing and user-interface threads
};

}  // namespace quorvel::platform
