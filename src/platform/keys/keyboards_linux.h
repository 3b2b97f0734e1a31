// The two ways of typing on Linux, chosen between by keyboard_linux.cpp.
#pragma once

#include <cstdint>
#include <span>

#include "Error.h"
#include "Keyboard.h"

namespace platform {

// XTest on the X server of DISPLAY.
Keyboard& XTestKeyboard();

// A virtual keyboard made through /dev/uinput, typing by the keymap of the
// Wayland compositor of WAYLAND_DISPLAY.
class UinputKeyboard : public Keyboard {
  public:
    // Makes the virtual keyboard, once; what opening /dev/uinput gave.
    virtual Error open() = 0;
};
UinputKeyboard& TheUinputKeyboard();

// Whether a keyboard's key state (EVIOCGKEY: bit n of the bytes for the
// key code n) has a modifier down that would turn our keys into other
// characters or shortcuts: Shift, Ctrl, Alt, AltGr (right Alt), the Windows
// key. The locks' keys do not count.
bool ModifierKeyDown(std::span<const std::uint8_t> keyBits);

}  // namespace platform
