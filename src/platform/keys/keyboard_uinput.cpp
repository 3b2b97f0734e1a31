// Typing through a virtual keyboard of the Linux input layer (/dev/uinput):
// the compositor takes its keys like those of any keyboard, so they reach
// every program, Wayland or X11. A key only means a character under a keymap,
// so the keys are chosen by the compositor's own, read as a Wayland client.
//
// The device is made once and kept while the program runs: the compositor
// needs a moment to take a new keyboard in, and keys sent before are lost.
// It is taken in when its event node is opened (by the compositor or the seat
// manager for it), which inotify tells without access to the node itself.
// If the program dies mid-reading, the kernel releases the device's keys.
//
// The keys are chosen for Caps Lock off. The compositor keeps the lock and
// shows it on the LEDs of every keyboard it drives, ours among them: it
// writes the LED to the device, which we read back from /dev/uinput (an LED
// starts off, and a write that changes nothing is not passed on, so what was
// last read is the state). A Caps Lock that is on is turned off with the
// device's own Caps Lock key for the reading and on again after it; a
// signal that would end the program meanwhile waits until the compositor
// has the lock back on (ending_signals.h).
//
// A reading waits for the operator to let go of Shift, Ctrl, Alt, AltGr or
// the Windows key. A Wayland client is not told the seat's modifiers, so
// they are read where the keys come from: the key state of the system's
// keyboards (the /dev/input event nodes with letter keys, ours left out:
// what our device pressed is on it alone). Only root and the group input
// may read those nodes; where none can be read, the reading is typed
// without waiting, as the held keys cannot be known.
#include <fcntl.h>
#include <linux/uinput.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "KeyLayout.h"
#include "KeyPlan.h"
#include "ending_signals.h"
#include "errno_posix.h"
#include "gnome_input_linux.h"
#include "keyboards_linux.h"
#include "keymap_wayland.h"

namespace platform {

namespace {

constexpr const char* DeviceName = "Chip Reader virtual keyboard";
// From the opening of the device's event node to its first key: the
// compositor sets the new keyboard up.
constexpr int SetUpMs = 250;
// The most a first key waits for the device to be taken in, from its making.
constexpr int TakenInMaxMs = 5000;
// The most a first key waits for the keymap, from the device's making, once
// the compositor has opened the device: it is setting the keyboard up, and a
// busy machine can take GNOME's shell more than TakenInMaxMs for that.
constexpr int KeymapAfterOpenMaxMs = 12000;
// The most a reading waits for the compositor to answer, at one asking.
constexpr int KeymapWaitMs = 1000;
// The most a reading without a keymap yet asks again: a busy compositor
// answers a new connection late (GNOME's shell, loaded, over a second);
// while it is late rather than without a keymap, up to the second figure.
constexpr int KeymapReadingMaxMs = 4000;
constexpr int KeymapBusyMaxMs = 15000;
// The most a reading waits for the compositor to set the Caps Lock LED.
constexpr int LedWaitMs = 1000;

bool Has(std::span<const std::uint8_t> bits, unsigned code) {
    return code / 8 < bits.size() && (bits[code / 8] >> (code % 8) & 1) != 0;
}

class Uinput final : public UinputKeyboard {
  public:
    ~Uinput() override {
        end();
        if (fd_ >= 0) {
            ioctl(fd_, UI_DEV_DESTROY);
            close(fd_);
        }
        StopWatching();
    }

    Error open() override {
        // Tried again each time until it works: access may be granted while
        // the program runs.
        if (fd_ >= 0)
            return Error::None;
        // Read too: the compositor's LED writes come back on it.
        const int fd = ::open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return FromErrno(errno);
        // Watched before the device exists, so no opening of it is missed.
        watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch_ >= 0 && inotify_add_watch(watch_, "/dev/input", IN_OPEN) < 0) {
            close(watch_);
            watch_ = -1;
        }
        bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0;
        for (int code = KEY_ESC; ok && code <= KEY_MICMUTE; ++code)
            ok = ioctl(fd, UI_SET_KEYBIT, code) == 0;
        ok = ok && ioctl(fd, UI_SET_EVBIT, EV_LED) == 0 &&
             ioctl(fd, UI_SET_LEDBIT, LED_CAPSL) == 0 && ioctl(fd, UI_SET_LEDBIT, LED_NUML) == 0;
        uinput_setup setup{};
        setup.id.bustype = BUS_VIRTUAL;
        setup.id.vendor = 0x1209;  // pid.codes' vendor number for open projects
        setup.id.product = 0x4815;
        setup.id.version = 1;
        std::strncpy(setup.name, DeviceName, UINPUT_MAX_NAME_SIZE - 1);
        ok = ok && ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ioctl(fd, UI_DEV_CREATE) == 0;
        if (!ok) {
            const Error e = FromErrno(errno);
            close(fd);
            StopWatching();
            return e == Error::None ? Error::Other : e;
        }
        fd_ = fd;
        capsLock_ = false;
        created_ = std::chrono::steady_clock::now();
        takenIn_ = false;
        opened_.reset();
        node_ = EventNode(fd);
        return Error::None;
    }

    void prepare() override { open(); }

    Error begin() override {
        end();
        notice_ = KeyboardNotice::None;
        if (Error e = open(); e != Error::None) {
            notice_ =
                e == Error::AccessDenied ? KeyboardNotice::NoAccess : KeyboardNotice::NoUinput;
            return Error::NotSupported;
        }
        AwaitTakenIn();
        // A seat whose only keyboard is ours gets its keymap once the
        // compositor has set our keyboard up; a busy compositor sends it
        // late. Asked again meanwhile, on the same connection.
        const auto asked = std::chrono::steady_clock::now();
        const auto keymapUntil = std::max(
            asked + std::chrono::milliseconds(KeymapReadingMaxMs),
            created_ + std::chrono::milliseconds(opened_ ? KeymapAfterOpenMaxMs : TakenInMaxMs));
        const auto busyUntil = asked + std::chrono::milliseconds(KeymapBusyMaxMs);
        bool keymap = keymap_.refresh(KeymapWaitMs);
        while (!keymap && (std::chrono::steady_clock::now() < keymapUntil ||
                           (keymap_.late() && std::chrono::steady_clock::now() < busyUntil))) {
            poll(nullptr, 0, 50);
            keymap = keymap_.refresh(KeymapWaitMs);
        }
        if (!keymap) {
            notice_ = KeyboardNotice::NoKeymap;
            return Error::NotSupported;
        }
        if (keymap_.generation() != generation_) {
            generation_ = keymap_.generation();
            layout_ = KeyLayout::FromText(keymap_.text());
            // A keymap that does not compile is asked for again, once.
            if (!layout_) {
                keymap_.renew(KeymapWaitMs);
                generation_ = keymap_.generation();
                layout_ = KeyLayout::FromText(keymap_.text());
            }
        }
        // GNOME adds a layout to the user's that it never makes active; the
        // settings that say so are read for every reading, as they change
        // without the keymap telling.
        if (layout_ && layout_->layouts() > 1) {
            std::optional<unsigned> inUse;
            if (const auto gnome = gnome_.read())
                inUse = GnomeLayoutsInUse(*gnome, layout_->layouts());
            if (inUse.value_or(layout_->layouts()) != layout_->layoutsInUse())
                layout_ = KeyLayout::FromText(keymap_.text(), inUse);
        }
        if (!layout_) {
            notice_ = KeyboardNotice::NoKeymap;
            return Error::NotSupported;
        }
        typing_ = true;
        KeysMayGoDown();
        return Error::None;
    }

    bool canType(std::uint8_t virtualKey) override {
        const bool letter = virtualKey >= 'A' && virtualKey <= 'Z';
        if (typing_ && layout_->stroke(virtualKey, letter))
            return true;
        notice_ = KeyboardNotice::LayoutLacksKeys;
        return false;
    }

    bool releaseLocks() override {
        ReadLeds();
        if (!typing_ || !capsLock_)
            return typing_;
        if (send({{KEY_CAPSLOCK, true}, {KEY_CAPSLOCK, false}}) != Error::None)
            return false;
        // The LED goes off now, unless it was left on from a state the
        // compositor has since dropped (a keyboard set up again for a new
        // layout starts with its lock off and writes no LED): then our key
        // has just turned the lock on, and goes again to turn it off.
        if (!AwaitCapsLed(false))
            return send({{KEY_CAPSLOCK, true}, {KEY_CAPSLOCK, false}}) == Error::None;
        relock_ = true;
        return true;
    }

    // Shift follows the sequence; a key that needs Shift other than held, or
    // AltGr, gets it around itself only (KeyPlanner).
    Error key(std::uint8_t virtualKey, bool up) override {
        if (!typing_)
            return Error::Invalid;
        const auto planned = planner_.event(virtualKey, up, [this](std::uint8_t vk, bool capital) {
            return layout_->stroke(vk, capital);
        });
        if (!planned)
            return Error::Invalid;
        std::vector<Change> changes;
        for (const KeyChange& c : *planned) {
            const std::uint16_t code = c.what == KeyChange::What::Shift    ? layout_->shiftKey()
                                       : c.what == KeyChange::What::Level3 ? layout_->level3Key()
                                                                           : c.code;
            changes.push_back({code, c.down});
        }
        return send(changes);
    }

    void end() override {
        std::vector<Change> release;
        for (auto it = down_.keys().rbegin(); it != down_.keys().rend(); ++it)
            release.push_back({*it, false});
        send(release);
        down_.clear();
        planner_.reset();
        // The lock is back once the compositor sets the LED: a program
        // ending sooner could take the key, not yet read, with its device.
        if (relock_ && send({{KEY_CAPSLOCK, true}, {KEY_CAPSLOCK, false}}) == Error::None)
            AwaitCapsLed(true);
        relock_ = false;
        if (typing_) {
            typing_ = false;
            KeysAreUp();
        }
    }

    bool modifierHeld() override {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/input", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("event", 0) != 0 || name == node_)
                continue;
            const int fd = ::open(entry.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                continue;
            std::uint8_t keys[KEY_MAX / 8 + 1] = {};
            std::uint8_t down[KEY_MAX / 8 + 1] = {};
            const bool held = ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) >= 0 &&
                              Has(keys, KEY_A) && Has(keys, KEY_Z) &&
                              ioctl(fd, EVIOCGKEY(sizeof down), down) >= 0 && ModifierKeyDown(down);
            close(fd);
            if (held)
                return true;
        }
        return false;
    }

    KeyboardNotice notice() const override { return notice_; }

  private:
    // The name of the device's event node in /dev/input ("event17").
    static std::string EventNode(int fd) {
        char sysname[64] = {};
        if (ioctl(fd, UI_GET_SYSNAME(sizeof sysname - 1), sysname) < 0)
            return {};
        std::error_code ec;
        const std::filesystem::path dir =
            std::filesystem::path("/sys/devices/virtual/input") / sysname;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("event", 0) == 0)
                return name;
        }
        return {};
    }

    void StopWatching() {
        if (watch_ >= 0)
            close(watch_);
        watch_ = -1;
    }

    // Until the compositor has had the device open for SetUpMs, or at most
    // until TakenInMaxMs after its making (without inotify, the whole time).
    void AwaitTakenIn() {
        using Clock = std::chrono::steady_clock;
        using std::chrono::milliseconds;
        while (!takenIn_) {
            Clock::time_point until = created_ + milliseconds(TakenInMaxMs);
            if (opened_)
                until = std::min(until, *opened_ + milliseconds(SetUpMs));
            const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
            if (left.count() <= 0)
                break;
            if (watch_ < 0 || opened_) {
                poll(nullptr, 0, int(left.count()) + 1);
                continue;
            }
            pollfd p{watch_, POLLIN, 0};
            if (poll(&p, 1, int(left.count()) + 1) > 0 && WasOpened())
                opened_ = Clock::now();
        }
        takenIn_ = true;
        StopWatching();
    }

    // Whether the openings inotify reports include the device's node.
    bool WasOpened() {
        alignas(inotify_event) char buffer[4096];
        bool opened = false;
        for (ssize_t n; (n = read(watch_, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                opened = opened || (e->len > 0 && !node_.empty() && node_ == e->name);
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        return opened;
    }

    // Takes in the LED writes that came since the last call.
    void ReadLeds() {
        input_event events[16];
        for (ssize_t n; fd_ >= 0 && (n = read(fd_, events, sizeof events)) > 0;)
            for (std::size_t i = 0; i < std::size_t(n) / sizeof events[0]; ++i)
                if (events[i].type == EV_LED && events[i].code == LED_CAPSL)
                    capsLock_ = events[i].value != 0;
    }

    // Whether the Caps Lock LED is set to `on` within LedWaitMs.
    bool AwaitCapsLed(bool on) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(LedWaitMs);
        for (ReadLeds(); capsLock_ != on && std::chrono::steady_clock::now() < until; ReadLeds()) {
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, 10);
        }
        return capsLock_ == on;
    }

    struct Change {
        std::uint16_t code;
        bool down;
    };

    // Each change as a report of its own; keys already in the state asked
    // for are left alone. A key counts as down once its press was written.
    Error send(const std::vector<Change>& changes) {
        if (fd_ < 0)
            return Error::Invalid;
        for (const Change& c : changes) {
            if (c.code == 0 || c.down == down_.has(c.code))
                continue;
            input_event events[2]{};
            events[0].type = EV_KEY;
            events[0].code = c.code;
            events[0].value = c.down ? 1 : 0;
            events[1].type = EV_SYN;
            events[1].code = SYN_REPORT;
            const ssize_t n = write(fd_, events, sizeof events);
            if (n < 0)
                return FromErrno(errno);
            down_.note(c.code, c.down);
            if (std::size_t(n) != sizeof events)
                return Error::Other;
        }
        return Error::None;
    }

    int fd_ = -1;
    int watch_ = -1;  // inotify on /dev/input until the device is taken in
    std::string node_;
    std::chrono::steady_clock::time_point created_{};
    std::optional<std::chrono::steady_clock::time_point> opened_;
    bool takenIn_ = false;
    WaylandKeymap keymap_;
    GnomeInput gnome_;
    std::uint64_t generation_ = 0;
    std::unique_ptr<KeyLayout> layout_;
    KeyboardNotice notice_ = KeyboardNotice::None;
    bool typing_ = false;
    bool capsLock_ = false;  // as the compositor last set our LED
    bool relock_ = false;    // Caps Lock turned off for the reading
    KeyPlanner planner_;
    HeldKeys down_;
};

}  // namespace

bool ModifierKeyDown(std::span<const std::uint8_t> keyBits) {
    for (unsigned code : {KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTALT,
                          KEY_RIGHTALT, KEY_LEFTMETA, KEY_RIGHTMETA})
        if (Has(keyBits, code))
            return true;
    return false;
}

UinputKeyboard& TheUinputKeyboard() {
    static Uinput keyboard;
    return keyboard;
}

}  // namespace platform
