// The key-injection facility: presses and releases keys, by Windows
// virtual-key code, in whatever window has the keyboard focus.
#pragma once

#include <cstdint>

#include "Error.h"

namespace platform {

class Keyboard {
  public:
    virtual ~Keyboard() = default;
    // Gets ready to type; NotSupported when there is nothing to type into
    // (no display, no injection facility).
    virtual Error begin() = 0;
    virtual Error key(std::uint8_t virtualKey, bool up) = 0;
    // Releases every key still pressed and undoes any change made to type.
    virtual void end() = 0;
    // Whether the keys reach only some of the programs that can have the
    // focus: on Linux, XTest reaches X11 programs but not native Wayland ones.
    virtual bool reachesX11ProgramsOnly() const { return false; }
};

Keyboard& TheKeyboard();
void UseKeyboard(Keyboard* keyboard);  // nullptr: back to the operating system's
Keyboard& SystemKeyboard();

}  // namespace platform
