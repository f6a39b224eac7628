#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "quorvel/worker/KeyInjector.h"

namespace quorvel::platform {

// Keystrokes through the Wayland virtual-keyboard protocol (zwp_virtual_keyboard_manager_v1, as
// wlroots compositors such as sway offer it), into whatever window has the keyboard focus.
// The keyboard carries a keymap of its own with one key per character it types, so the user's
// layout cannot change what arrives. One keyboard serves the whole connection: a keyboard that
// appears just before its keys makes the compositor lose the first ones. When the compositor
// goes away every later key is refused with a std::runtime_error.
class VirtualKeyboardInjector : public worker::KeyInjector {
  public:
    // Connects to the Wayland display `displayName`, or to $WAYLAND_DISPLAY when it is empty.
    // Throws std::runtime_error with a readable message when there is no display, or when the
    // compositor offers no seat or no virtual keyboard.
    explicit VirtualKeyboardInjector(const std::string& displayName = std::string());
    ~VirtualKeyboardInjector() override;

    VirtualKeyboardInjector(const VirtualKeyboardInjector&) = delete;
    VirtualKeyboardInjector& operator=(const VirtualKeyboardInjector&) = delete;

    // Virtual key codes are typed with the key of this keyboard that holds their X keysym;
    // a code without one throws std::invalid_argument.
    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    // This keyboard never locks capitals.
    bool isCapsLockOn() override { return false; }

    bool typesCharacters() const override { return true; }
    // Printable ASCII, Latin-1 and the euro sign; false for any other character.
    bool typeCharacter(char32_t character, int keyDelayMs) override;

    // The XKB keymap the keyboard carries.
    static const std::string& keymap();

  private:
    // Sends one key of the keymap (an evdev key code) and, for a modifier, the new modifier state.
    void send(std::uint32_t key, bool press);
    void sync();
    void throwIfLost() const;

    struct Connection;
    std::unique_ptr<Connection> wl_;
    std::mutex mutex_;
};

}  // namespace quorvel::platform
