// Which way keys are typed on Linux: XTest on X11; on a Wayland desktop a
// virtual keyboard, which reaches every program, with XTest through Xwayland
// as the fallback, which reaches the X11 programs only.
#include <cstdlib>
#include <cstring>

#include "Keyboard.h"
#include "keyboards_linux.h"

namespace platform {

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

class LinuxKeyboard final : public Keyboard {
  public:
    Error begin() override {
        end();
        KeySession session;
        session.waylandDisplay = Set("WAYLAND_DISPLAY");
        const char* type = std::getenv("XDG_SESSION_TYPE");
        session.waylandSession = type && std::strcmp(type, "wayland") == 0;
        session.xDisplay = Set("DISPLAY");
        // Only a Wayland desktop gets a virtual keyboard.
        session.uinput = session.waylandDisplay ? TheUinputKeyboard().open() : Error::NotSupported;
        const KeyChoice choice = ChooseKeyRoute(session);
        notice_ = choice.notice;
        switch (choice.route) {
            case KeyRoute::X11:
                active_ = &XTestKeyboard();
                break;
            case KeyRoute::Uinput:
                active_ = &TheUinputKeyboard();
                break;
            case KeyRoute::Nothing:
                return Error::NotSupported;
        }
        const Error e = active_->begin();
        if (choice.route == KeyRoute::Uinput)
            notice_ = active_->notice();
        else if (e != Error::None)
            notice_ = KeyboardNotice::NoDisplay;
        if (e != Error::None)
            active_ = nullptr;
        return e;
    }

    bool canType(std::uint8_t virtualKey) override {
        if (!active_)
            return false;
        const bool can = active_->canType(virtualKey);
        if (!can)
            notice_ = active_->notice();
        return can;
    }

    bool modifierHeld() override { return active_ && active_->modifierHeld(); }

    bool releaseLocks() override {
        if (!active_ || active_->releaseLocks())
            return true;
        notice_ = KeyboardNotice::LockUnknown;
        return false;
    }

    Error key(std::uint8_t virtualKey, bool up) override {
        return active_ ? active_->key(virtualKey, up) : Error::Invalid;
    }

    void end() override {
        if (active_)
            active_->end();
        active_ = nullptr;
    }

    KeyboardNotice notice() const override { return notice_; }

    void prepare() override {
        if (Set("WAYLAND_DISPLAY"))
            TheUinputKeyboard().prepare();
    }

  private:
    Keyboard* active_ = nullptr;
    KeyboardNotice notice_ = KeyboardNotice::None;
};

}  // namespace

Keyboard& SystemKeyboard() {
    static LinuxKeyboard keyboard;
    return keyboard;
}

// X11 and Wayland hold no keys back for a program's rights: every process
// reads as the same.
WindowRights& SystemWindowRights() {
    class Same final : public WindowRights {
        ProcessRights own() override { return {}; }
        ProcessRights of(std::uint32_t) override { return {}; }
    };
    static Same rights;
    return rights;
}

}  // namespace platform
