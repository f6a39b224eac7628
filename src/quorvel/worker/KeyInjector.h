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
};

}  // namespace quorvel::worker
