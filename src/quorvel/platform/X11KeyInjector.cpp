#include "quorvel/platform/X11KeyInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quorvel::platform {

struct X11KeyInjector::Display_ {
    ::Display* display = nullptr;
    std::string name;
    int xkbEventBase = -1;  // -1 without the keyboard extension
    // Set by Xlib's I/O error path, on the thread whose call found the connection broken.
    std::atomic<bool> lost{false};
};

namespace {

// Xlib's default on a broken connection is to print two lines and exit() from whichever thread
// noticed, racing the rest of the program's own ending. The connections of the injectors are
// let go quietly instead; any other connection (the toolkit's own) keeps the handler it had.
std::mutex quietDisplaysMutex;
std::vector<::Display*> quietDisplays;
XIOErrorHandler otherDisplaysHandler = nullptr;

int onIOError(::Display* display) {
    XIOErrorHandler other = nullptr;
    {
        std::lock_guard lock(quietDisplaysMutex);
        if (std::find(quietDisplays.begin(), quietDisplays.end(), display) != quietDisplays.end())
            return 0;
        other = otherDisplaysHandler;
    }
    return other != nullptr ? other(display) : 0;
}

void onConnectionLost(::Display*, void* data) {
    // Returning instead of exiting makes Xlib refuse every later request on this display.
    static_cast<std::atomic<bool>*>(data)->store(true);
}

void handleLossQuietly(::Display* display, std::atomic<bool>& lost) {
    XSetIOErrorExitHandler(display, onConnectionLost, &lost);
    std::lock_guard lock(quietDisplaysMutex);
    quietDisplays.push_back(display);
    // Put in place again when the toolkit has since installed a handler of its own.
    const XIOErrorHandler previous = XSetIOErrorHandler(onIOError);
    if (previous != onIOError)
        otherDisplaysHandler = previous;
}

void forget(::Display* display) {
    std::lock_guard lock(quietDisplaysMutex);
    quietDisplays.erase(std::remove(quietDisplays.begin(), quietDisplays.end(), display),
                        quietDisplays.end());
}

std::string keysymName(unsigned long keysym) {
    const char* name = XKeysymToString(keysym);
    return name ? name : "0x" + std::to_string(keysym);
}

}  // namespace

X11KeyInjector::X11KeyInjector(const std::string& displayName) : x_(std::make_unique<Display_>()) {
    const char* requested = displayName.empty() ? nullptr : displayName.c_str();
    // XDisplayName gives what Xlib will try: the argument, else $DISPLAY, else "".
    const std::string shown = XDisplayName(requested);
    ::Display* display = XOpenDisplay(requested);
    if (display == nullptr) {
        const std::string why = shown.empty()
                                    ? "no display is named and DISPLAY is not set"
                                    : "the X server is not running or refused the connection";
        throw std::runtime_error("Cannot open X display \"" + shown + "\": " + why +
                                 ". Typing keystrokes needs an X11 session (or XWayland) with "
                                 "DISPLAY set.");
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        throw std::runtime_error("The X server on display \"" + shown +
                                 "\" lacks the XTEST extension, which is needed to type "
                                 "keystrokes.");
    }
    x_->display = display;
    x_->name = shown;
    handleLossQuietly(display, x_->lost);

    // An XKB-aware client gets no core MappingNotify when the layout is replaced (setxkbmap),
    // only the XKB notifications it asked for; with them Xlib keeps its key map current.
    int opcode = 0, xkbEventBase = 0, xkbErrorBase = 0;
    int xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(display, &opcode, &xkbEventBase, &xkbErrorBase, &xkbMajor, &xkbMinor)) {
        const unsigned int mapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(display, XkbUseCoreKbd, mapChanges, mapChanges);
        x_->xkbEventBase = xkbEventBase;
    }
}

bool X11KeyInjector::displayAnswers(const std::string& displayName, std::string& shown) {
    const char* requested = displayName.empty() ? nullptr : displayName.c_str();
    shown = XDisplayName(requested);
    ::Display* display = XOpenDisplay(requested);
    if (display == nullptr)
        return false;
    XCloseDisplay(display);
    return true;
}

X11KeyInjector::~X11KeyInjector() {
    std::lock_guard lock(mutex_);
    if (x_->display != nullptr) {
        XCloseDisplay(x_->display);
        forget(x_->display);
    }
}

unsigned long X11KeyInjector::keysymFor(int keyCode) {
    if (keyCode >= 48 && keyCode <= 57)
        return XK_0 + static_cast<unsigned long>(keyCode - 48);
    // Lower-case keysyms: the Shift key code in the sequence gives the capital.
    if (keyCode >= 65 && keyCode <= 90)
        return XK_a + static_cast<unsigned long>(keyCode - 65);
    if (keyCode >= 96 && keyCode <= 105)
        return XK_KP_0 + static_cast<unsigned long>(keyCode - 96);
    if (keyCode >= 112 && keyCode <= 123)
        return XK_F1 + static_cast<unsigned long>(keyCode - 112);
    // The single keys of the layout tables and the start and end keys.
    static constexpr struct {
        int code;
        unsigned long keysym;
    } SINGLE[] = {
        {9, XK_Tab},          {10, XK_Return},       {16, XK_Shift_L},
        {17, XK_Control_L},   {18, XK_Alt_L},        {32, XK_space},
        {39, XK_Right},       {40, XK_Down},         {44, XK_comma},
        {45, XK_minus},       {46, XK_period},       {47, XK_slash},
        {59, XK_semicolon},   {61, XK_equal},        {91, XK_bracketleft},
        {92, XK_backslash},   {93, XK_bracketright}, {106, XK_KP_Multiply},
        {107, XK_KP_Add},     {111, XK_KP_Divide},   {127, XK_Delete},
        {128, XK_dead_grave}, {129, XK_dead_acute},  {130, XK_dead_circumflex},
        {153, XK_less},       {192, XK_grave},       {222, XK_apostrophe},
        {513, XK_colon},      {515, XK_dollar},      {517, XK_exclam},
        {520, XK_numbersign}, {521, XK_plus},        {522, XK_parenright},
    };
    for (const auto& entry : SINGLE)
        if (entry.code == keyCode)
            return entry.keysym;
    return 0;
}

void X11KeyInjector::keyPress(int keyCode) {
    send(keyCode, true);
}

void X11KeyInjector::keyRelease(int keyCode) {
    send(keyCode, false);
}

void X11KeyInjector::delay(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool X11KeyInjector::isCapsLockOn() {
    std::lock_guard lock(mutex_);
    ::Display* display = x_->display;
    if (x_->lost)
        return false;
    const Atom capsLock = XInternAtom(display, "Caps Lock", False);
    int index = 0;
    Bool on = False;
    Bool real = False;
    XkbIndicatorMapRec map{};
    if (!x_->lost && capsLock != None &&
        XkbGetNamedIndicator(display, capsLock, &index, &on, &map, &real) && !x_->lost)
        return on != False;
    if (x_->lost)
        return false;
    // Servers without named indicators keep Caps Lock in the first indicator bit.
    unsigned int state = 0;
    if (XkbGetIndicatorState(display, XkbUseCoreKbd, &state) == Success && !x_->lost)
        return (state & 1u) != 0;
    return false;
}

void X11KeyInjector::throwIfLost() const {
    if (x_->lost)
        throw std::runtime_error("The connection to the X display \"" + x_->name +
                                 "\" was lost; no more keystrokes can be typed.");
}

void X11KeyInjector::takeMapChanges() {
    ::Display* display = x_->display;
    // The round trip makes sure a map change made before this key has reached our queue, so
    // the key is looked up on the map now in force.
    XSync(display, False);
    // On a lost connection Xlib still counts events it will never deliver, and a key map it
    // failed to reload is gone: from then on the display is not touched again.
    while (!x_->lost && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (x_->lost)
            break;
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
        } else if (x_->xkbEventBase >= 0 && event.type == x_->xkbEventBase) {
            // A new keyboard (setxkbmap, or another device typing) is reloaded here, where a
            // lost connection is noticed, rather than inside the key look-up, which would
            // go on without any map when the reload fails.
            auto* xkb = reinterpret_cast<XkbEvent*>(&event);
            if (xkb->any.xkb_type == XkbMapNotify || xkb->any.xkb_type == XkbNewKeyboardNotify)
                XkbRefreshKeyboardMapping(&xkb->map);
        }
    }
    throwIfLost();
}

void X11KeyInjector::send(int keyCode, bool press) {
    const unsigned long keysym = keysymFor(keyCode);
    if (keysym == 0)
        throw std::invalid_argument("No X keysym for virtual key code " + std::to_string(keyCode));

    std::lock_guard lock(mutex_);
    throwIfLost();
    takeMapChanges();
    ::Display* display = x_->display;
    const KeyCode code = XKeysymToKeycode(display, keysym);
    if (code == 0)
        throw std::invalid_argument("Virtual key code " + std::to_string(keyCode) + " (keysym " +
                                    keysymName(keysym) +
                                    ") is not on the X display's current keyboard map");
    XTestFakeKeyEvent(display, code, press ? True : False, CurrentTime);
    XFlush(display);
    throwIfLost();
}

}  // namespace quorvel::platform
