#include "quorvel/platform/XKeyRecorder.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <poll.h>

#include <clocale>
#include <stdexcept>
#include <thread>

namespace quorvel::platform::test {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for an event of `type` on `window`; false when the time is up.
bool waitForEvent(Display* display, Window window, int type, XEvent& event,
                  std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (XCheckTypedWindowEvent(display, window, type, &event))
            return true;
        if (Clock::now() >= deadline)
            return false;
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        poll(&p, 1, 10);
    }
}

}  // namespace

XKeyRecorder::XKeyRecorder(const std::string& displayName) {
    // The local input method composes dead keys with the Compose table of the UTF-8 locale.
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr || !XSupportsLocale())
        throw std::runtime_error("The C.UTF-8 locale is not usable for X input");
    XSetLocaleModifiers("@im=none");

    display_ = XOpenDisplay(displayName.c_str());
    if (display_ == nullptr)
        throw std::runtime_error("XKeyRecorder cannot open display " + displayName);
    // A test may end the server under the recorder: then the connection is given up, not the
    // test process (Xlib's default handlers both exit).
    XSetIOErrorHandler([](Display*) { return 0; });
    XSetIOErrorExitHandler(
        display_, [](Display*, void* lost) { *static_cast<bool*>(lost) = true; }, &lost_);

    const int screen = DefaultScreen(display_);
    const Window window =
        XCreateSimpleWindow(display_, RootWindow(display_, screen), 10, 10, 300, 100, 1,
                            BlackPixel(display_, screen), WhitePixel(display_, screen));
    window_ = window;

    im_ = XOpenIM(display_, nullptr, nullptr, nullptr);
    if (im_ == nullptr) {
        XCloseDisplay(display_);
        throw std::runtime_error("XKeyRecorder: XOpenIM failed");
    }
    ic_ = XCreateIC(im_, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, window,
                    XNFocusWindow, window, nullptr);
    if (ic_ == nullptr) {
        XCloseIM(im_);
        XCloseDisplay(display_);
        throw std::runtime_error("XKeyRecorder: XCreateIC failed");
    }
    long imEvents = 0;
    XGetICValues(ic_, XNFilterEvents, &imEvents, nullptr);

    XSelectInput(display_, window,
                 StructureNotifyMask | KeyPressMask | KeyReleaseMask | FocusChangeMask | imEvents);
    XMapWindow(display_, window);
    XEvent event;
    if (!waitForEvent(display_, window, MapNotify, event, std::chrono::seconds(10))) {
        XDestroyIC(ic_);
        XCloseIM(im_);
        XCloseDisplay(display_);
        throw std::runtime_error("XKeyRecorder: the window was not mapped");
    }
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSetICFocus(ic_);
    // Once the server has the focus change, keys from any client come here.
    XSync(display_, False);
}

XKeyRecorder::~XKeyRecorder() {
    XDestroyIC(ic_);
    XCloseIM(im_);
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
}

void XKeyRecorder::pump() {
    if (lost_)
        return;
    XSync(display_, False);
    handleAll();
}

void XKeyRecorder::takeArrived() {
    handleAll();
}

int XKeyRecorder::connectionFd() const {
    return ConnectionNumber(display_);
}

void XKeyRecorder::handleAll() {
    while (!lost_ && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        const bool isKey = event.type == KeyPress || event.type == KeyRelease;
        // The input method puts a composed character back as a key press with keycode 0;
        // it is text, not a key event.
        if (isKey && event.xkey.keycode != 0) {
            events_.push_back({event.type == KeyPress, event.xkey.keycode,
                               keysymName(XLookupKeysym(&event.xkey, 0)),
                               (event.xkey.state & ShiftMask) != 0, Clock::now()});
        }
        if (XFilterEvent(&event, None))
            continue;
        if (event.type == FocusOut && event.xfocus.window == window_ &&
            event.xfocus.mode == NotifyNormal && event.xfocus.detail != NotifyInferior) {
            // There is no window manager: a window that appears may take the focus, and the
            // keys must keep coming here.
            ++focusLosses_;
            XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
            XSetICFocus(ic_);
            XFlush(display_);
            continue;
        }
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            continue;
        }
        if (event.type != KeyPress)
            continue;
        char buffer[64];
        KeySym keysym = 0;
        Status status = 0;
        const int n = Xutf8LookupString(ic_, &event.xkey, buffer, sizeof buffer, &keysym, &status);
        if ((status == XLookupChars || status == XLookupBoth) && n > 0)
            text_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool XKeyRecorder::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        pump();
        if (done())
            return true;
        if (Clock::now() >= deadline)
            return false;
        pollfd p{ConnectionNumber(display_), POLLIN, 0};
        poll(&p, 1, 10);
    }
}

std::string XKeyRecorder::waitForText(const std::string& expected,
                                      std::chrono::milliseconds timeout) {
    waitUntil([&] { return text_ == expected; }, timeout);
    return text_;
}

std::vector<std::string> XKeyRecorder::pressed() const {
    std::vector<std::string> out;
    for (const auto& e : events_)
        if (e.press)
            out.push_back(e.keysym);
    return out;
}

void XKeyRecorder::toggleCapsLock() {
    const KeyCode code = XKeysymToKeycode(display_, XK_Caps_Lock);
    if (code == 0)
        throw std::runtime_error("XKeyRecorder: no Caps_Lock key on the keyboard map");
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
}

std::string XKeyRecorder::keysymName(unsigned long keysym) {
    const char* name = keysym == NoSymbol ? nullptr : XKeysymToString(keysym);
    return name ? name : "";
}

void XKeyRecorder::clear() {
    pump();
    text_.clear();
    events_.clear();
}

}  // namespace quorvel::platform::test
