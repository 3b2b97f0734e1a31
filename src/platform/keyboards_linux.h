// The two ways of typing on Linux, chosen between by keyboard_linux.cpp.
#pragma once

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

}  // namespace platform
