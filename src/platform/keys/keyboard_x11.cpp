// Key injection on X11 through the XTest extension. Windows virtual-key codes
// become keysyms; each keysym is typed with the key that carries it in the
// current group of the keyboard map, with Shift around it when it is the
// key's shifted level (French digits), the modifier rule shared with the other
// keyboards (KeyPlanner). Only a keysym that no key carries is typed with a
// spare keycode bound to it for the moment.
//
// The levels are those of the keys with no lock on: a Caps Lock or Shift
// Lock that the operator left on (the server's locked modifiers, XkbGetState)
// is taken off for the reading and put back after it (XkbLockModifiers), and
// a reading waits for the operator's Shift, Ctrl, Alt, AltGr or Windows key
// to be let go (the server's base and latched modifiers).
//
// The X server keeps a key that XTest pressed down after its client is gone:
// a program ended mid-reading would leave Shift held for everything typed
// afterwards. So a signal that ends the program (SIGTERM, SIGINT, SIGHUP)
// while keys may be down ends it only once they are released
// (ending_signals.h).

#include <algorithm>
#include <optional>
#include <vector>

#include "Clock.h"
#include "KeyPlan.h"
#include "Keyboard.h"
#include "ending_signals.h"
#include "keyboards_linux.h"

// X11 last: its macro None would clash with Error::None above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef None

namespace platform {

namespace {

constexpr int OpenAttempts = 5;
constexpr unsigned OpenRetryMs = 20;

// The modifiers that change what our keys give or do, when the operator holds
// them: Shift, Control, Alt (Mod1), Mod3, the Windows key (Mod4), AltGr (Mod5).
// Lock and NumLock (Mod2) are locks, the key held or not.
constexpr unsigned HeldModifiers =
    ShiftMask | ControlMask | Mod1Mask | Mod3Mask | Mod4Mask | Mod5Mask;
// The locks that move keys to other levels: Caps Lock, and Shift Lock (Shift locked).
constexpr unsigned LevelLocks = LockMask | ShiftMask;

// The keysym of a key of the sequence; a letter as the capital when
// `capital` (typed with Shift), else as the small letter.
KeySym ToKeySym(std::uint8_t vk, bool capital) {
    const std::vector<SequenceKey>& keys = SequenceKeys();
    const auto key = std::find_if(keys.begin(), keys.end(),
                                  [vk](const SequenceKey& k) { return k.virtualKey == vk; });
    return key == keys.end() ? NoSymbol : KeySym(KeySymOf(*key, capital));
}

class X11Keyboard final : public Keyboard {
  public:
    ~X11Keyboard() override { end(); }

    Error begin() override {
        end();
        // A server that many clients connect to at once refuses one now and
        // then for a moment: tried again before the reading is given up.
        for (int attempt = 0; !display_ && attempt < OpenAttempts; ++attempt) {
            if (attempt > 0)
                TheClock().sleepMs(OpenRetryMs);
            display_ = XOpenDisplay(nullptr);
        }
        if (!display_)
            return Error::NotSupported;
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
            XCloseDisplay(display_);
            display_ = nullptr;
            return Error::NotSupported;
        }
        XkbStateRec state{};
        group_ = XkbGetState(display_, XkbUseCoreKbd, &state) == Success ? state.group : 0;
        // The map as it is now: the layout may have changed since the last reading.
        map_ = XkbGetMap(display_, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask,
                         XkbUseCoreKbd);
        KeysMayGoDown();
        return Error::None;
    }

    bool modifierHeld() override {
        XkbStateRec state{};
        if (!display_ || XkbGetState(display_, XkbUseCoreKbd, &state) != Success)
            return false;
        return ((state.base_mods | state.latched_mods) & HeldModifiers & ~ourModifiers()) != 0;
    }

    bool releaseLocks() override {
        XkbStateRec state{};
        if (!display_ || XkbGetState(display_, XkbUseCoreKbd, &state) != Success)
            return false;
        const unsigned locked = state.locked_mods & LevelLocks;
        if (locked == 0)
            return true;
        relock_ = locked;
        XkbLockModifiers(display_, XkbUseCoreKbd, locked, 0);
        return XkbGetState(display_, XkbUseCoreKbd, &state) == Success &&
               (state.locked_mods & LevelLocks) == 0;
    }

    Error key(std::uint8_t virtualKey, bool up) override {
        if (!display_)
            return Error::Invalid;
        const auto planned = planner_.event(virtualKey, up, [this](std::uint8_t vk, bool capital) {
            return StrokeFor(vk, capital);
        });
        if (!planned)
            return Error::NotSupported;
        for (const KeyChange& change : *planned) {
            KeyCode code = KeyCode(change.code);
            if (change.what == KeyChange::What::Shift)
                code = ShiftCode();
            if (change.what == KeyChange::What::Level3 || code == 0)
                return Error::NotSupported;
            pressed_.note(code, change.down);
            XTestFakeKeyEvent(display_, code, change.down ? True : False, CurrentTime);
        }
        XFlush(display_);
        return Error::None;
    }

    void end() override {
        planner_.reset();
        if (!display_)
            return;
        for (std::uint16_t code : pressed_.keys())
            XTestFakeKeyEvent(display_, KeyCode(code), False, CurrentTime);
        pressed_.clear();
        // The locks back on once our keys are up, before an ending signal
        // may end the program.
        if (relock_ != 0)
            XkbLockModifiers(display_, XkbUseCoreKbd, relock_, relock_);
        relock_ = 0;
        // Let the keys land, and give the receiving application a moment to
        // read them, before their keycodes lose the borrowed symbols.
        XSync(display_, False);
        if (!borrowed_.empty())
            TheClock().sleepMs(100);
        for (const Borrowed& b : borrowed_) {
            std::vector<KeySym> none(std::size_t(b.width), NoSymbol);
            XChangeKeyboardMapping(display_, b.code, b.width, none.data(), 1);
        }
        borrowed_.clear();
        if (map_)
            XkbFreeKeyboard(map_, 0, True);
        map_ = nullptr;
        XSync(display_, False);
        XCloseDisplay(display_);
        display_ = nullptr;
        KeysAreUp();
    }

  private:
    // The modifiers of the keys we hold down ourselves.
    unsigned ourModifiers() const {
        unsigned mods = 0;
        for (std::uint16_t code : pressed_.keys())
            mods |= map_ && code >= map_->min_key_code && code <= map_->max_key_code
                        ? map_->map->modmap[code]
                        : 0;
        return mods;
    }

    struct Borrowed {
        KeyCode code;
        KeySym lower, upper;  // its two levels
        int width;
    };

    KeyCode ShiftCode() {
        const std::optional<KeyStroke> s = Carrying(XK_Shift_L);
        return s && !s->shift ? KeyCode(s->code) : 0;
    }

    std::optional<KeyStroke> StrokeFor(std::uint8_t vk, bool capital) {
        const KeySym sym = ToKeySym(vk, capital);
        if (sym == NoSymbol)
            return std::nullopt;
        for (const Borrowed& b : borrowed_)
            if (b.lower == sym || b.upper == sym)
                return KeyStroke{b.code, sym != b.lower};
        if (const std::optional<KeyStroke> s = Carrying(sym))
            return s;
        if (Borrow(sym))
            return StrokeFor(vk, capital);
        return std::nullopt;
    }

    // The key that gives sym in the current group: on its first level, or
    // on its second with Shift; the key XKeysymToKeycode names first.
    std::optional<KeyStroke> Carrying(KeySym sym) {
        const auto strokeOf = [&](KeyCode code) -> std::optional<KeyStroke> {
            if (Symbol(code, 0) == sym)
                return KeyStroke{code, false};
            if (Symbol(code, 1) == sym && ShiftGivesSecondLevel(code))
                return KeyStroke{code, true};
            return std::nullopt;
        };
        if (const KeyCode code = XKeysymToKeycode(display_, sym))
            if (std::optional<KeyStroke> s = strokeOf(code))
                return s;
        int low = 0, high = 0;
        XDisplayKeycodes(display_, &low, &high);
        for (int code = low; code <= high; ++code)
            if (std::optional<KeyStroke> s = strokeOf(KeyCode(code)))
                return s;
        return std::nullopt;
    }

    KeySym Symbol(KeyCode code, int level) const {
        return XkbKeycodeToKeysym(display_, code, int(EffectiveGroup(code)), level);
    }

    unsigned EffectiveGroup(KeyCode code) const {
        const unsigned groups = map_ ? XkbKeyNumGroups(map_, code) : 1;
        return groups > 0 && unsigned(group_) < groups ? unsigned(group_) : 0;
    }

    // Whether Shift alone moves the key to its second level (the key's type
    // says so: it does for letters, digits and symbols, not for all keys).
    bool ShiftGivesSecondLevel(KeyCode code) const {
        if (!map_ || code < map_->min_key_code || code > map_->max_key_code)
            return false;
        const XkbKeyTypePtr type = XkbKeyKeyType(map_, code, EffectiveGroup(code));
        for (int i = 0; type && i < type->map_count; ++i) {
            const XkbKTMapEntryRec& entry = type->map[i];
            if (entry.active && entry.level == 1 && entry.mods.mask == ShiftMask)
                return true;
        }
        return false;
    }

    // Binds sym to a keycode that carries no symbols, until end(). A letter
    // goes on both levels in the case the keyboard expects, so Shift gives
    // the capital.
    KeyCode Borrow(KeySym sym) {
        int low = 0, high = 0;
        XDisplayKeycodes(display_, &low, &high);
        int width = 0;
        KeySym* map = XGetKeyboardMapping(display_, KeyCode(low), high - low + 1, &width);
        if (!map)
            return 0;
        KeyCode spare = 0;
        for (int code = high; code >= low && spare == 0; --code) {
            const KeySym* syms = map + (code - low) * width;
            if (std::all_of(syms, syms + width, [](KeySym s) { return s == NoSymbol; }))
                spare = KeyCode(code);
        }
        XFree(map);
        if (spare == 0 || width < 2)
            return 0;
        std::vector<KeySym> syms(std::size_t(width), NoSymbol);
        KeySym lower = sym, upper = sym;
        XConvertCase(sym, &lower, &upper);
        syms[0] = lower;
        syms[1] = upper;
        XChangeKeyboardMapping(display_, spare, width, syms.data(), 1);
        XSync(display_, False);
        borrowed_.push_back({spare, lower, upper, width});
        return spare;
    }

    Display* display_ = nullptr;
    int group_ = 0;
    XkbDescPtr map_ = nullptr;
    KeyPlanner planner_;
    HeldKeys pressed_;
    std::vector<Borrowed> borrowed_;
    unsigned relock_ = 0;  // the locks taken off for the reading
};

}  // namespace

Keyboard& XTestKeyboard() {
    static X11Keyboard keyboard;
    return keyboard;
}

}  // namespace platform
