#include "quorvel/platform/VirtualKeyboardInjector.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "quorvel/platform/X11KeyInjector.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace quorvel::platform {

namespace {

// The keysyms of the keys that change the modifier state, with their real modifier's bit in
// the keymap (Shift, Lock, Control, Mod1, ... in that order).
constexpr struct {
    std::uint32_t keysym;
    std::uint32_t mask;
} MODIFIERS[] = {{0xffe1 /* Shift_L */, 1u << 0},
                 {0xffe3 /* Control_L */, 1u << 2},
                 {0xffe9 /* Alt_L */, 1u << 3}};

constexpr std::uint32_t LEFT = 0xff51;
constexpr std::uint32_t UP = 0xff52;
constexpr std::uint32_t EURO = 0x20ac;
// X keycodes are evdev codes plus 8; 8 itself would be evdev's reserved code 0. Keycodes above
// 255 do not reach X11 clients under XWayland.
constexpr std::uint32_t FIRST_KEYCODE = 9;
constexpr std::uint32_t LAST_KEYCODE = 255;

std::uint32_t keysymForCharacter(char32_t c) {
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF))
        return c;
    if (c < 0x100 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return 0x01000000u | c;
}

// The keysyms of the keyboard, one key each: the characters it types, then every keysym a
// virtual key code stands for.
std::vector<std::uint32_t> keyboardKeysyms() {
    std::vector<std::uint32_t> keysyms;
    const auto add = [&keysyms](std::uint32_t keysym) {
        if (keysym != 0 && std::find(keysyms.begin(), keysyms.end(), keysym) == keysyms.end())
            keysyms.push_back(keysym);
    };
    for (char32_t c = 0x20; c <= 0x7E; ++c) add(keysymForCharacter(c));
    for (char32_t c = 0xA0; c <= 0xFF; ++c) add(keysymForCharacter(c));
    add(keysymForCharacter(EURO));
    for (int code = 0; code < 1024; ++code)
        add(static_cast<std::uint32_t>(X11KeyInjector::keysymFor(code)));
    add(LEFT);
    add(UP);
    return keysyms;
}

struct Keymap {
    std::string text;
    std::unordered_map<std::uint32_t, std::uint32_t> keyOfKeysym;  // evdev key codes
    std::unordered_map<std::uint32_t, std::uint32_t> modifierOfKey;
};

// One key per keysym, of one level: no modifier is ever needed to type a character. Keysyms are
// written as numbers, which every XKB compiler reads, so no table of names is needed.
Keymap makeKeymap() {
    const std::vector<std::uint32_t> keysyms = keyboardKeysyms();
    if (keysyms.size() > LAST_KEYCODE - FIRST_KEYCODE + 1)
        throw std::logic_error("the virtual keyboard has more keys than key codes");
    Keymap map;
    std::string keycodes;
    std::string symbols;
    std::string modifierMap;
    char line[96];
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        const auto keycode = static_cast<std::uint32_t>(FIRST_KEYCODE + i);
        std::snprintf(line, sizeof line, "    <K%u> = %u;\n", keycode, keycode);
        keycodes += line;
        std::snprintf(line, sizeof line, "    key <K%u> { [ 0x%x ] };\n", keycode, keysyms[i]);
        symbols += line;
        map.keyOfKeysym[keysyms[i]] = keycode - 8;
        for (const auto& modifier : MODIFIERS) {
            if (modifier.keysym != keysyms[i])
                continue;
            map.modifierOfKey[keycode - 8] = modifier.mask;
            static constexpr const char* NAMES[] = {"Shift", "Lock", "Control", "Mod1"};
            const int bit = std::countr_zero(modifier.mask);
            std::snprintf(line, sizeof line, "    modifier_map %s { <K%u> };\n", NAMES[bit],
                          keycode);
            modifierMap += line;
        }
    }
    map.text =
        "xkb_keymap {\n"
        "xkb_keycodes \"tolvane\" {\n"
        "    minimum = 8;\n"
        "    maximum = 255;\n" +
        keycodes +
        "};\n"
        "xkb_types \"tolvane\" { include \"complete\" };\n"
        "xkb_compat \"tolvane\" { include \"complete\" };\n"
        "xkb_symbols \"tolvane\" {\n" +
        symbols + modifierMap +
        "};\n"
        "};\n";
    return map;
}

const Keymap& theKeymap() {
    static const Keymap map = makeKeymap();
    return map;
}

std::uint32_t nowMs() {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace

struct VirtualKeyboardInjector::Connection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    std::string name;
    std::uint32_t modifiers = 0;
    bool lost = false;

    ~Connection() {
        if (keyboard != nullptr)
            zwp_virtual_keyboard_v1_destroy(keyboard);
        if (manager != nullptr)
            zwp_virtual_keyboard_manager_v1_destroy(manager);
        if (seat != nullptr)
            wl_seat_destroy(seat);
        if (registry != nullptr)
            wl_registry_destroy(registry);
        if (display != nullptr) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }

    static void global(void* data, wl_registry* registry, std::uint32_t id, const char* interface,
                       std::uint32_t) {
        auto* self = static_cast<Connection*>(data);
        if (self->seat == nullptr && std::strcmp(interface, wl_seat_interface.name) == 0) {
            self->seat =
                static_cast<wl_seat*>(wl_registry_bind(registry, id, &wl_seat_interface, 1));
        } else if (self->manager == nullptr &&
                   std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            self->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, id, &zwp_virtual_keyboard_manager_v1_interface, 1));
        }
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}

    // Why the connection failed, from the display's own error.
    std::string failure() const {
        const int error = wl_display_get_error(display);
        if (error == EPROTO) {
            const wl_interface* interface = nullptr;
            std::uint32_t id = 0;
            const std::uint32_t code = wl_display_get_protocol_error(display, &interface, &id);
            return "the compositor refused a request of " +
                   std::string(interface != nullptr ? interface->name : "the connection") +
                   " (error " + std::to_string(code) + ")";
        }
        return std::strerror(error != 0 ? error : EPIPE);
    }
};

VirtualKeyboardInjector::VirtualKeyboardInjector(const std::string& displayName)
    : wl_(std::make_unique<Connection>()) {
    const char* fromEnvironment = std::getenv("WAYLAND_DISPLAY");
    wl_->name = !displayName.empty()                             ? displayName
                : fromEnvironment != nullptr && *fromEnvironment ? fromEnvironment
                                                                 : "wayland-0";
    wl_->display = wl_display_connect(displayName.empty() ? nullptr : displayName.c_str());
    if (wl_->display == nullptr)
        throw std::runtime_error("Cannot connect to the Wayland display \"" + wl_->name +
                                 "\": " + std::strerror(errno));
    wl_->registry = wl_display_get_registry(wl_->display);
    static const wl_registry_listener listener = {&Connection::global, &Connection::globalRemove};
    wl_registry_add_listener(wl_->registry, &listener, wl_.get());
    if (wl_display_roundtrip(wl_->display) < 0)
        throw std::runtime_error("The Wayland display \"" + wl_->name +
                                 "\" did not answer: " + wl_->failure());
    if (wl_->manager == nullptr)
        throw std::runtime_error(
            "This compositor offers no virtual keyboard (the Wayland protocol "
            "zwp_virtual_keyboard_manager_v1), so Tolvane cannot type into its windows "
            "through it");
    if (wl_->seat == nullptr)
        throw std::runtime_error("The Wayland compositor offers no seat to type on");

    wl_->keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(wl_->manager, wl_->seat);
    const std::string& text = theKeymap().text;
    const int fd = memfd_create("tolvane-keymap", MFD_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(std::string("Cannot hold the virtual keyboard's keymap: ") +
                                 std::strerror(errno));
    // The compositor maps the whole size, terminating zero included.
    const std::size_t size = text.size() + 1;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, text.c_str() + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            throw std::runtime_error(std::string("Cannot write the virtual keyboard's keymap: ") +
                                     std::strerror(error));
        }
        written += static_cast<std::size_t>(n);
    }
    // The request takes a copy of the descriptor.
    zwp_virtual_keyboard_v1_keymap(wl_->keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(size));
    ::close(fd);
    if (wl_display_roundtrip(wl_->display) < 0)
        throw std::runtime_error("The compositor gave no virtual keyboard: " + wl_->failure());
}

VirtualKeyboardInjector::~VirtualKeyboardInjector() = default;

const std::string& VirtualKeyboardInjector::keymap() {
    return theKeymap().text;
}

void VirtualKeyboardInjector::throwIfLost() const {
    if (wl_->lost)
        throw std::runtime_error("The connection to the Wayland display \"" + wl_->name +
                                 "\" was lost");
}

void VirtualKeyboardInjector::send(std::uint32_t key, bool press) {
    throwIfLost();
    zwp_virtual_keyboard_v1_key(
        wl_->keyboard, nowMs(), key,
        press ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    // The compositor does not work out the modifiers from this keyboard's keys itself.
    const auto& modifiers = theKeymap().modifierOfKey;
    if (const auto found = modifiers.find(key); found != modifiers.end()) {
        if (press)
            wl_->modifiers |= found->second;
        else
            wl_->modifiers &= ~found->second;
        zwp_virtual_keyboard_v1_modifiers(wl_->keyboard, wl_->modifiers, 0, 0, 0);
    }
    if (press) {
        // Sent now, checked with the release: a round trip per key is enough to know every key
        // arrived and keeps the compositor's few events read.
        if (wl_display_flush(wl_->display) < 0 && errno != EAGAIN) {
            wl_->lost = true;
            throw std::runtime_error("The connection to the Wayland display \"" + wl_->name +
                                     "\" was lost: " + wl_->failure());
        }
    } else {
        sync();
    }
}

void VirtualKeyboardInjector::sync() {
    if (wl_display_roundtrip(wl_->display) < 0) {
        wl_->lost = true;
        throw std::runtime_error("The connection to the Wayland display \"" + wl_->name +
                                 "\" was lost: " + wl_->failure());
    }
}

void VirtualKeyboardInjector::keyPress(int keyCode) {
    const auto& keys = theKeymap().keyOfKeysym;
    const auto found = keys.find(static_cast<std::uint32_t>(X11KeyInjector::keysymFor(keyCode)));
    if (found == keys.end())
        throw std::invalid_argument("No key for the key code " + std::to_string(keyCode));
    std::lock_guard lock(mutex_);
    send(found->second, true);
}

void VirtualKeyboardInjector::keyRelease(int keyCode) {
    const auto& keys = theKeymap().keyOfKeysym;
    const auto found = keys.find(static_cast<std::uint32_t>(X11KeyInjector::keysymFor(keyCode)));
    if (found == keys.end())
        throw std::invalid_argument("No key for the key code " + std::to_string(keyCode));
    std::lock_guard lock(mutex_);
    send(found->second, false);
}

void VirtualKeyboardInjector::delay(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool VirtualKeyboardInjector::typeCharacter(char32_t character, int keyDelayMs) {
    const auto& keys = theKeymap().keyOfKeysym;
    const auto found = keys.find(keysymForCharacter(character));
    if (found == keys.end())
        return false;
    {
        std::lock_guard lock(mutex_);
        send(found->second, true);
    }
    delay(keyDelayMs);
    {
        std::lock_guard lock(mutex_);
        send(found->second, false);
    }
    delay(keyDelayMs);
    return true;
}

}  // namespace quorvel::platform
