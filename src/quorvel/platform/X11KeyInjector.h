#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "quorvel/worker/KeyInjector.h"

namespace quorvel::platform {

// Keystrokes through the X server's XTEST extension, into whatever window has the focus.
// Characters are typed on the display's own keyboard map; virtual key codes (the start and end
// keys) are mapped to X keysyms and then to the key codes of the display's current keyboard
// map, looked up anew after the map changes. When the X server goes away the
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

    // Characters are typed on the display's live keyboard map (XKB): the key and shift level
    // that give the character's keysym in the current group, with the Shift, AltGr
    // (ISO_Level3_Shift) or ISO_Level5_Shift keys that level needs while Caps Lock and Num Lock
    // stay as they are. A character the map lacks, or has only on a dead key, is bound to a
    // spare key code until the text is typed. Without XKB, the layout table's key codes are
    // typed instead.
    bool typesCharacters() const override;
    bool typeCharacter(char32_t character, int keyDelayMs) override;
    // Gives the spare key codes bound for the text back, after the window had time to read
    // the keys typed with them.
    void textTyped() override;

    // The X keysym for a virtual key code, 0 when there is none.
    static unsigned long keysymFor(int keyCode);
    // Whether an X server answers on `displayName` ($DISPLAY when empty); the name Xlib tried
    // goes to `shown`.
    static bool displayAnswers(const std::string& displayName, std::string& shown);

private:
    struct Plan;
    void send(int keyCode, bool press);
    // What to press for `keysym` on the map in force, binding a spare key code when needed.
    bool plan(unsigned long keysym, Plan& out);
    bool bindSpare(unsigned long keysym);
    // Reads the server's keyboard description again if it changed.
    void loadMap();
    void restoreSpares();
    void fakeKey(unsigned int keycode, bool press);
    // Reads the events waiting on the connection and brings the key map up to date.
    void takeMapChanges();
    void throwIfLost() const;

    struct Display_;
    std::unique_ptr<Display_> x_;
    std::mutex mutex_;  // one connection, used from the typing and user-interface threads
};

}  // namespace quorvel::platform
