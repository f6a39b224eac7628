#include "quorvel/platform/X11KeyInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
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
    // The server's keyboard description, read again after every change of the map.
    XkbDescPtr xkb = nullptr;
    bool xkbStale = true;
    // Spare key codes bound to a character for the text being typed.
    struct Spare {
        KeyCode key;
        KeySym keysym;
        std::chrono::steady_clock::time_point lastTyped;
    };
    std::vector<Spare> spares;
};

struct X11KeyInjector::Plan {
    KeyCode key = 0;
    std::vector<KeyCode> modifiers;  // pressed in this order before the key
};

namespace {

// Xlib's default on a broken connection is to print two lines and exit() from whichever thread
// noticed, racing the rest of the program's own ending. The connections of the injectors are
// let go quietly instead; any other connection (the toolkit's own) keeps the handler it had.
std::mutex quietDisplaysMutex;
std::vector<::Display*> quietDisplays;
XIOErrorHandler otherDisplaysHandler = nullptr;
XErrorHandler otherDisplaysErrorHandler = nullptr;

// A refused request (a key map change the server rejects) must not end the process as Xlib's
// default does; its effect is checked on the map instead.
int onXError(::Display* display, XErrorEvent* error) {
    XErrorHandler other = nullptr;
    {
        std::lock_guard lock(quietDisplaysMutex);
        if (std::find(quietDisplays.begin(), quietDisplays.end(), display) != quietDisplays.end())
            return 0;
        other = otherDisplaysErrorHandler;
    }
    return other != nullptr ? other(display, error) : 0;
}

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
    const XErrorHandler previousError = XSetErrorHandler(onXError);
    if (previousError != onXError)
        otherDisplaysErrorHandler = previousError;
}

void forget(::Display* display) {
    std::lock_guard lock(quietDisplaysMutex);
    quietDisplays.erase(std::remove(quietDisplays.begin(), quietDisplays.end(), display),
                        quietDisplays.end());
}

// How long a window gets to read the keys typed with a spare key code before the key code is
// given back. A window looks the key up when it reads the event, on the map then in force.
constexpr auto SPARE_KEY_GRACE = std::chrono::milliseconds(100);

// The keysym that stands for a character: Latin-1 keysyms are the code points themselves, the
// rest of Unicode has keysyms of its own.
KeySym keysymForCharacter(char32_t c) {
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF))
        return c;
    if (c < 0x100 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return NoSymbol;
    return 0x01000000ul | c;
}

// The group a key uses while the keyboard is in `group`, -1 for a key without symbols.
int groupOfKey(XkbDescPtr xkb, KeyCode key, int group) {
    const int groups = XkbKeyNumGroups(xkb, key);
    if (groups == 0)
        return -1;
    if (group < groups)
        return group;
    const unsigned char info = XkbKeyGroupInfo(xkb, key);
    switch (XkbOutOfRangeGroupAction(info)) {
        case XkbRedirectIntoRange: {
            const int target = XkbOutOfRangeGroupNumber(info);
            return target < groups ? target : 0;
        }
        case XkbClampIntoRange:
            return groups - 1;
        default:
            return group % groups;
    }
}

struct Level {
    int level = 0;
    unsigned int consumed = 0;  // modifiers the key type uses up at this level
};

// The shift level a key type gives for the modifier state `mods`, as the server works it out.
Level levelOf(const XkbKeyTypeRec& type, unsigned int mods) {
    const unsigned int relevant = mods & type.mods.mask;
    for (int i = 0; i < type.map_count; ++i) {
        const XkbKTMapEntryRec& entry = type.map[i];
        if (entry.active && entry.mods.mask == relevant) {
            const unsigned int preserved = type.preserve ? type.preserve[i].mask : 0;
            return {entry.level, type.mods.mask & ~preserved};
        }
    }
    return {0, type.mods.mask};
}

// A key whose press sets modifiers the typing may use to reach a shift level.
struct ModifierKey {
    unsigned int mask;
    KeyCode key;
};

std::vector<ModifierKey> modifierKeys(XkbDescPtr xkb, int group) {
    std::vector<ModifierKey> keys;
    for (int key = xkb->min_key_code; key <= xkb->max_key_code; ++key) {
        const int g = groupOfKey(xkb, key, group);
        const unsigned int mask = xkb->map->modmap ? xkb->map->modmap[key] : 0;
        if (g < 0 || mask == 0)
            continue;
        const KeySym sym = XkbKeySymEntry(xkb, key, 0, g);
        if (sym != XK_Shift_L && sym != XK_Shift_R && sym != XK_ISO_Level3_Shift &&
            sym != XK_ISO_Level5_Shift)
            continue;
        if (std::none_of(keys.begin(), keys.end(), [&](const auto& k) { return k.mask == mask; }))
            keys.push_back({mask, static_cast<KeyCode>(key)});
    }
    return keys;
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
    try {
        restoreSpares();
    } catch (const std::exception&) {
        // The connection is gone, and the server's map with it.
    }
    std::lock_guard lock(mutex_);
    if (x_->xkb != nullptr)
        XkbFreeKeyboard(x_->xkb, 0, True);
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
            x_->xkbStale = true;
        } else if (x_->xkbEventBase >= 0 && event.type == x_->xkbEventBase) {
            // A new keyboard (setxkbmap, or another device typing) is reloaded here, where a
            // lost connection is noticed, rather than inside the key look-up, which would
            // go on without any map when the reload fails.
            auto* xkb = reinterpret_cast<XkbEvent*>(&event);
            if (xkb->any.xkb_type == XkbMapNotify || xkb->any.xkb_type == XkbNewKeyboardNotify) {
                XkbRefreshKeyboardMapping(&xkb->map);
                x_->xkbStale = true;
            }
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

void X11KeyInjector::fakeKey(unsigned int keycode, bool press) {
    std::lock_guard lock(mutex_);
    throwIfLost();
    XTestFakeKeyEvent(x_->display, keycode, press ? True : False, CurrentTime);
    XFlush(x_->display);
    throwIfLost();
}

bool X11KeyInjector::typesCharacters() const {
    return x_->xkbEventBase >= 0;
}

bool X11KeyInjector::typeCharacter(char32_t character, int keyDelayMs) {
    const KeySym keysym = keysymForCharacter(character);
    if (keysym == NoSymbol)
        return false;
    Plan plan;
    {
        std::lock_guard lock(mutex_);
        throwIfLost();
        takeMapChanges();
        if (!this->plan(keysym, plan) && !(bindSpare(keysym) && this->plan(keysym, plan)))
            return false;
    }
    for (const KeyCode modifier : plan.modifiers) {
        fakeKey(modifier, true);
        delay(keyDelayMs);
    }
    fakeKey(plan.key, true);
    delay(keyDelayMs);
    fakeKey(plan.key, false);
    {
        std::lock_guard lock(mutex_);
        for (auto& spare : x_->spares)
            if (spare.key == plan.key)
                spare.lastTyped = std::chrono::steady_clock::now();
    }
    delay(keyDelayMs);
    for (auto m = plan.modifiers.rbegin(); m != plan.modifiers.rend(); ++m) {
        fakeKey(*m, false);
        delay(keyDelayMs);
    }
    return true;
}

void X11KeyInjector::loadMap() {
    if (!x_->xkbStale && x_->xkb != nullptr)
        return;
    if (x_->xkb != nullptr)
        XkbFreeKeyboard(x_->xkb, 0, True);
    x_->xkb = x_->xkbEventBase < 0
                  ? nullptr
                  : XkbGetMap(x_->display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask,
                              XkbUseCoreKbd);
    throwIfLost();
    if (x_->xkb == nullptr)
        throw std::runtime_error("The keyboard map of the X display \"" + x_->name +
                                 "\" cannot be read (no XKB extension).");
    x_->xkbStale = false;
}

bool X11KeyInjector::plan(unsigned long keysym, Plan& out) {
    ::Display* display = x_->display;
    loadMap();
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success)
        throwIfLost();
    throwIfLost();
    XkbDescPtr xkb = x_->xkb;
    const int group = state.group;
    // Locked modifiers stay as they are; the keys pressed are chosen so that together with
    // them they select the level wanted. That keeps Caps Lock and Num Lock out of the way.
    const unsigned int locked = state.locked_mods | state.latched_mods;

    const std::vector<ModifierKey> modifiers = modifierKeys(xkb, group);
    std::vector<unsigned int> subsets;  // bit i: modifiers[i] is pressed; fewest keys first
    for (unsigned int s = 0; s < (1u << modifiers.size()); ++s) subsets.push_back(s);
    std::stable_sort(subsets.begin(), subsets.end(), [](unsigned int a, unsigned int b) {
        return __builtin_popcount(a) < __builtin_popcount(b);
    });
    KeySym lower = 0, upper = 0;
    XConvertCase(keysym, &lower, &upper);

    int bestCount = -1;
    for (int key = xkb->min_key_code; key <= xkb->max_key_code; ++key) {
        const int g = groupOfKey(xkb, key, group);
        if (g < 0)
            continue;
        const XkbKeyTypeRec& type = *XkbKeyKeyType(xkb, key, g);
        for (int level = 0; level < type.num_levels; ++level) {
            if (XkbKeySymEntry(xkb, key, level, g) != keysym)
                continue;
            for (const unsigned int subset : subsets) {
                const int count = __builtin_popcount(subset);
                if (bestCount >= 0 && count >= bestCount)
                    break;
                unsigned int mods = locked;
                for (std::size_t i = 0; i < modifiers.size(); ++i)
                    if (subset & (1u << i))
                        mods |= modifiers[i].mask;
                const Level reached = levelOf(type, mods);
                if (reached.level != level)
                    continue;
                // Caps Lock left unused by the key type turns a letter into its capital.
                if ((mods & LockMask) && !(reached.consumed & LockMask) && upper != keysym)
                    continue;
                bestCount = count;
                out.key = static_cast<KeyCode>(key);
                out.modifiers.clear();
                for (std::size_t i = 0; i < modifiers.size(); ++i)
                    if (subset & (1u << i))
                        out.modifiers.push_back(modifiers[i].key);
                break;
            }
        }
    }
    return bestCount >= 0;
}

bool X11KeyInjector::bindSpare(unsigned long keysym) {
    ::Display* display = x_->display;
    XkbDescPtr xkb = x_->xkb;
    int spare = 0;
    for (int key = xkb->max_key_code; key >= xkb->min_key_code && spare == 0; --key) {
        const bool unused = XkbKeyNumGroups(xkb, key) == 0 &&
                            (xkb->map->modmap == nullptr || xkb->map->modmap[key] == 0);
        if (unused)
            spare = key;
    }
    if (spare == 0) {
        // Every spare key code is in use: the one typed longest ago is taken again, once the
        // window has had the time to read that key.
        if (x_->spares.empty())
            return false;
        const auto oldest = std::min_element(
            x_->spares.begin(), x_->spares.end(),
            [](const auto& a, const auto& b) { return a.lastTyped < b.lastTyped; });
        spare = oldest->key;
        const auto readBy = oldest->lastTyped + SPARE_KEY_GRACE;
        x_->spares.erase(oldest);
        XSync(display, False);
        std::this_thread::sleep_until(readBy);
    }
    // A letter gets both cases on its key, so Shift and Caps Lock act on it as on any letter.
    KeySym lower = 0, upper = 0;
    XConvertCase(keysym, &lower, &upper);
    KeySym symbols[2] = {keysym, NoSymbol};
    if (lower != upper) {
        symbols[0] = lower;
        symbols[1] = upper;
    }
    XChangeKeyboardMapping(display, spare, 2, symbols, 1);
    XSync(display, False);
    throwIfLost();
    x_->spares.push_back({static_cast<KeyCode>(spare), keysym, std::chrono::steady_clock::now()});
    x_->xkbStale = true;
    takeMapChanges();
    return true;
}

void X11KeyInjector::textTyped() {
    restoreSpares();
}

void X11KeyInjector::restoreSpares() {
    std::chrono::steady_clock::time_point readBy;
    {
        std::lock_guard lock(mutex_);
        if (x_->spares.empty() || x_->lost)
            return;
        XSync(x_->display, False);
        for (const auto& spare : x_->spares) readBy = std::max(readBy, spare.lastTyped);
    }
    std::this_thread::sleep_until(readBy + SPARE_KEY_GRACE);

    std::lock_guard lock(mutex_);
    std::vector<Display_::Spare> spares;
    spares.swap(x_->spares);
    throwIfLost();
    takeMapChanges();
    // Read the map as it is now: a layout loaded meanwhile has already replaced the bindings.
    x_->xkbStale = true;
    loadMap();
    XkbDescPtr xkb = x_->xkb;
    for (const auto& spare : spares) {
        if (XkbKeyNumGroups(xkb, spare.key) == 0)
            continue;
        const KeySym now = XkbKeySymEntry(xkb, spare.key, 0, 0);
        KeySym lower = 0, upper = 0;
        XConvertCase(spare.keysym, &lower, &upper);
        if (now != spare.keysym && now != lower)
            continue;
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(x_->display, spare.key, 1, &none, 1);
    }
    XSync(x_->display, False);
    x_->xkbStale = true;
    takeMapChanges();
}

}  // namespace quorvel::platform
