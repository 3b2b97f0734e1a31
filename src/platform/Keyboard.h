// The key-injection facility: presses and releases keys, by Windows
// virtual-key code, in whatever window has the keyboard focus.
#pragma once

#include <cstdint>

#include "Error.h"

namespace platform {

// What the program should tell the operator about typing, once: why keys
// reach fewer programs than they should, or why nothing can be typed.
enum class KeyboardNotice {
    None,
    // A Wayland session typed through X11 (Xwayland): the keys reach the X11
    // programs only. Plain, or because /dev/uinput is missing or refused.
    X11Only,
    X11OnlyNoUinput,
    X11OnlyNoAccess,
    // Nothing typed: no display at all; /dev/uinput missing or refused with
    // no X11 to fall back on; the desktop's keymap not to be had; a keymap
    // in which some character of a reading has no key (in every layout).
    NoDisplay,
    NoUinput,
    NoAccess,
    NoKeymap,
    LayoutLacksKeys,
};

class Keyboard {
  public:
    virtual ~Keyboard() = default;
    // Gets ready to type; NotSupported when there is nothing to type into
    // (no display, no injection facility, no keymap): notice() says why.
    virtual Error begin() = 0;
    // Whether the key of a virtual-key code gives its character (letters as
    // capitals: the sequence holds Shift for them); asked of every key before
    // the first is pressed, so that nothing is typed rather than a wrong
    // character. When false, notice() says why.
    virtual bool canType(std::uint8_t /*virtualKey*/) { return true; }
    virtual Error key(std::uint8_t virtualKey, bool up) = 0;
    // Releases every key still pressed and undoes any change made to type.
    virtual void end() = 0;
    // As of the last begin() or canType().
    virtual KeyboardNotice notice() const { return KeyboardNotice::None; }
    // Sets up ahead of the first reading what takes the desktop a while to
    // take in (a virtual keyboard); typing works without it, only later.
    virtual void prepare() {}
};

Keyboard& TheKeyboard();
void UseKeyboard(Keyboard* keyboard);  // nullptr: back to the operating system's
Keyboard& SystemKeyboard();

// Which way keys are typed on Linux, from what the session offers.
enum class KeyRoute { X11, Uinput, Nothing };
struct KeySession {
    bool waylandDisplay = false;  // WAYLAND_DISPLAY names a compositor
    bool waylandSession = false;  // XDG_SESSION_TYPE is "wayland"
    bool xDisplay = false;        // DISPLAY names an X server
    Error uinput = Error::None;   // what opening /dev/uinput gave
};
struct KeyChoice {
    KeyRoute route;
    KeyboardNotice notice;
};
KeyChoice ChooseKeyRoute(const KeySession& session);

}  // namespace platform
