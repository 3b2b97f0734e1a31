// The key-injection facility: presses and releases keys, by Windows
// virtual-key code, in whatever window has the keyboard focus.
#pragma once

#include <cstdint>

#include "Error.h"

namespace platform {

// A printable ASCII character that is neither a letter, a digit nor the
// space has no virtual-key code of its own (its key moves from layout to
// layout): the keystroke sequence names it by its mark key, 0x80 + its code
// (0xA1 to 0xFE), and each keyboard finds the key that types it.
constexpr std::uint8_t MarkKey(char c) {
    return std::uint8_t(0x80 + static_cast<unsigned char>(c));
}
constexpr bool IsMark(char c) {
    return c > ' ' && c <= '~' && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') &&
           !(c >= 'a' && c <= 'z');
}

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
    // Nothing typed: whether Caps Lock (or Shift Lock) is on could not be
    // known, or the lock could not be taken off for the reading.
    LockUnknown,
    // Nothing typed, at every reading it happens to: the window in front
    // would drop the keys without an error (Windows: a program of higher
    // rights than ours). Its program runs as administrator; or its rights
    // may not be read (another user's program, or maybe an elevated one).
    TargetElevated,
    TargetRightsUnknown,
    // Nothing typed, said at every reading it happens to: the operator held
    // a modifier down for as long as the reading waited (the core's finding,
    // not a keyboard's).
    KeyHeld,
};

class Keyboard {
  public:
    virtual ~Keyboard() = default;
    // Gets ready to type; NotSupported when there is nothing to type into
    // (no display, no injection facility, no keymap): notice() says why.
    virtual Error begin() = 0;
    // Whether the key of a virtual-key code (or mark key) gives its
    // character (letters as capitals: the sequence holds Shift for them); asked of every key before
    // the first is pressed, so that nothing is typed rather than a wrong
    // character. When false, notice() says why.
    virtual bool canType(std::uint8_t /*virtualKey*/) { return true; }
    // Whether the window in front takes our keys; asked after begin(), before
    // the first key. False where the system would drop them without a word:
    // notice() then says why.
    virtual bool targetTakesKeys() { return true; }
    // Whether the operator holds a modifier (Shift, Ctrl, Alt, AltGr, the
    // Windows key) that would change our keys into other characters or
    // shortcuts; a key this keyboard pressed does not count. Asked before
    // the first key of a reading.
    virtual bool modifierHeld() { return false; }
    // Takes off, until end(), the locks that change what a key gives (Caps
    // Lock, Shift Lock), so that each key gives the character it gives with
    // them off; end() puts them back as the operator had them. Asked just
    // before the first key; with no lock on it changes nothing. False where
    // the lock's state cannot be known or the lock not taken off: notice()
    // then says why, and nothing may be typed.
    virtual bool releaseLocks() { return true; }
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

// What a process's token says of its rights over other programs' windows.
// Windows drops, without an error, the keys that a program sends to a window
// of a program of higher integrity (user interface privilege isolation): one
// run as administrator while ours is not.
struct ProcessRights {
    bool known = false;     // the token could be read
    bool elevated = false;  // run as administrator
    // The integrity level: 0x2000 medium (an ordinary program), 0x3000 high
    // (run as administrator), 0x4000 system; 0 where the system has none.
    std::uint32_t integrity = 0;
};
inline constexpr std::uint32_t HighIntegrity = 0x3000;

// Whether keys from a process with the rights `ours` reach a window of one
// with `target`: None, or TargetElevated / TargetRightsUnknown.
KeyboardNotice KeysBarred(const ProcessRights& ours, const ProcessRights& target);

// Tells the rights of this process and of another; the system's, or a test's.
class WindowRights {
  public:
    virtual ~WindowRights() = default;
    virtual ProcessRights own() = 0;
    virtual ProcessRights of(std::uint32_t processId) = 0;
};
WindowRights& TheWindowRights();
void UseWindowRights(WindowRights* rights);  // nullptr: back to the operating system's
WindowRights& SystemWindowRights();

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
