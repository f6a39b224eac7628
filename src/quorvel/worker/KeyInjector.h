#pragma once

namespace quorvel::worker {

// The platform's keystroke injection, as the typing stage uses it. Key codes are virtual key
// codes (space is 32, Shift 16, Control 17, Alt 18, Enter 10). Press, release and delay are
// called from the typing thread only; the caps-lock query may come from any thread.
class KeyInjector {
public:
    virtual ~KeyInjector() = default;

    // Throw std::invalid_argument for a key code the platform does not accept.
    virtual void keyPress(int keyCode) = 0;
    virtual void keyRelease(int keyCode) = 0;
    // Sleeps the calling thread.
    virtual void delay(int milliseconds) = 0;

    virtual bool isCapsLockOn() = 0;

    // Whether characters are typed by `typeCharacter`, worked out on the desktop's own keyboard
    // map, instead of the layout table's key codes.
    virtual bool typesCharacters() const { return false; }
    // Types one character with whatever keys and modifiers produce it now, waiting
    // `keyDelayMs` after every press and release sent. False when the character cannot be
    // produced (nothing is then sent); throws std::runtime_error when the platform fails.
    virtual bool typeCharacter(char32_t character, int keyDelayMs) {
        (void)character;
        (void)keyDelayMs;
        return false;
    }
    // Called when the characters of one text have been typed: a temporary change made to type
    // them is undone here.
    virtual void textTyped() {}
};

}  // namespace quorvel::worker
