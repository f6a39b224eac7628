#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Xlib's own types, kept out of the tests that only read what was recorded.
typedef struct _XDisplay Display;
typedef struct _XIM* XIM;
typedef struct _XIC* XIC;

namespace quorvel::platform::test {

// A window of the test's own on its own connection to the display: it holds the input focus
// and records every key event it gets and the text those events compose to (dead keys
// included, through an input method).
class XKeyRecorder {
  public:
    struct KeyEvent {
        bool press;
        unsigned int keycode;
        std::string keysym;  // the key's unshifted keysym name, e.g. "a", "Return", "dead_acute"
        bool shifted;        // Shift was down
        // When this process took the event off the connection.
        std::chrono::steady_clock::time_point arrived{};
    };

    // Throws std::runtime_error when the display, window or input method cannot be set up.
    explicit XKeyRecorder(const std::string& displayName);
    ~XKeyRecorder();

    XKeyRecorder(const XKeyRecorder&) = delete;
    XKeyRecorder& operator=(const XKeyRecorder&) = delete;

    // Handles the events that have arrived so far; nothing once the server has gone away.
    void pump();
    // Handles the events already on the connection, without a round trip to the server, so an
    // event's arrival time is not delayed by one. For latency measurements: poll connectionFd()
    // for input, then call this.
    void takeArrived();
    int connectionFd() const;
    // Pumps until the text received equals `expected` or the time is up; returns the text.
    std::string waitForText(const std::string& expected,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Pumps until `done` holds or the time is up; returns `done()`.
    bool waitUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

    const std::string& text() const { return text_; }
    const std::vector<KeyEvent>& events() const { return events_; }
    // The keysym names of the presses, in order.
    std::vector<std::string> pressed() const;
    void clear();

    // Presses and releases Caps Lock through XTEST on this connection (the key has no virtual
    // key code to send it with the injector) and waits until the server has done it.
    void toggleCapsLock();

    // How often another window took the focus (it is taken back each time).
    int focusLosses() const { return focusLosses_; }

    // The name of an X keysym, "" for none.
    static std::string keysymName(unsigned long keysym);

  private:
    void handleAll();

    Display* display_ = nullptr;
    unsigned long window_ = 0;
    XIM im_ = nullptr;
    XIC ic_ = nullptr;
    std::string text_;
    std::vector<KeyEvent> events_;
    int focusLosses_ = 0;
    bool lost_ = false;
};

}  // namespace quorvel::platform::test
