// Typing on a Wayland desktop for real, inside the virtual machine of
// tests/vm/wayland-rig: the operating system's keyboard (a virtual keyboard
// through /dev/uinput, keys chosen by the compositor's keymap) typing readings
// into a foot terminal on the rig's desktop (sway, GNOME or KDE Plasma), whose
// `cat` writes each line into OUT/typed.txt.
//
//   wayland_guest OUT
//
// The rig runs it as an unprivileged user in the session, a member of the
// group chipreader, with the terminal focused and no access to /dev/uinput
// yet; it writes the marker "grant" into OUT when it wants access and goes on
// once the rig wrote "granted" (the package's udev rule then gives the device
// to that group). Steps: the
// notice without access; the reading of the 1800 ms case, timed, first on a
// keyboard just made; readings
// under French, German and US layouts switched while it runs; two layouts in
// one keymap; a typist
// killed while it holds Shift and a letter, and nothing left pressed after;
// readings under us and fr with Caps Lock on (pressed on a keyboard of the
// operator's, another uinput device) and the lock on again after them; a
// Ctrl held on the operator's keyboard, let go after half a second and held
// throughout (the rig lets the scenario read the keyboards' state); a typist
// ended by SIGTERM mid-reading with Caps Lock on, and the lock on again.
// Exit status 0 when every step held.
#include <fcntl.h>
#include <linux/uinput.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Clock.h"
#include "Drv232.h"
#include "Global.h"
#include "KeyLayout.h"
#include "Keyboard.h"
#include "keymap_wayland.h"
#include "vm/GuestReport.h"

namespace {

using guest::Check;
using guest::Mark;
using guest::Say;
using Ms = std::chrono::milliseconds;

std::string TypedFile;

std::vector<std::string> TypedLines() {
    std::ifstream in(TypedFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The next line the terminal passes on after `before` lines, or "(nothing)".
std::string NextLine(std::size_t before, int waitMs = 8000) {
    for (int waited = 0; waited < waitMs; waited += 50) {
        const std::vector<std::string> lines = TypedLines();
        if (lines.size() > before)
            return lines[before];
        std::this_thread::sleep_for(Ms(50));
    }
    return "(nothing)";
}

Reading ReadingOf(std::uint32_t order, const char* time, const char* code) {
    return {.order = order, .time = time ? time : "00:00:00", .code = code};
}

// What a reading types, as the terminal shows it: Space as space, the keypad
// minus as "-".
std::string Expected(std::uint32_t order, const char* time, const char* code) {
    std::string line;
    if (order)
        line += std::to_string(order) + "     ";
    if (time) {
        for (const char* c = time; *c; ++c)
            line += *c == ':' ? '-' : *c;
        line += "     ";
    }
    return line + code;
}

bool WaitFor(const std::string& marker, int waitMs) {
    for (int waited = 0; waited < waitMs; waited += 100) {
        if (std::filesystem::exists(std::filesystem::path(guest::OutFolder) / marker))
            return true;
        std::this_thread::sleep_for(Ms(100));
    }
    return false;
}

// A clock that stops at its nth pause, and says so on standard output: for
// good, or until a signal is caught.
class StoppingClock final : public platform::Clock {
  public:
    explicit StoppingClock(int stopAt) : stopAt_(stopAt) {}
    platform::LocalTime localTime() override { return platform::SystemClock().localTime(); }
    std::uint64_t monotonicMs() override { return platform::SystemClock().monotonicMs(); }
    std::uint64_t highResolutionCounter() override {
        return platform::SystemClock().highResolutionCounter();
    }
    void sleepMs(unsigned ms) override {
        if (++pauses_ == stopAt_) {
            sigset_t ending, old;
            sigemptyset(&ending);
            sigaddset(&ending, SIGTERM);
            sigprocmask(SIG_BLOCK, &ending, &old);  // kept, not missed, until sigsuspend
            std::printf("stopped\n");
            std::fflush(stdout);
            sigsuspend(&old);
            sigprocmask(SIG_SETMASK, &old, nullptr);
        }
        platform::SystemClock().sleepMs(ms);
    }

  private:
    int stopAt_;
    int pauses_ = 0;
};

// The typist that gets killed: order 7, no time, code 0A1B. Its pauses: 7
// down and up (2), five spaces (10), 0 down (13), A down (14): it stops with
// Shift and A held, the terminal showing "7     0A".
int KilledTypist() {
    platform::SystemKeyboard().prepare();
    StoppingClock clock(14);
    platform::UseClock(&clock);
    TypeReading(ReadingOf(7, nullptr, "0A1B"), true, false);
    return 1;  // a signal ends it first
}

// Runs the typist, and sends it `signal` once it stopped. Its wait status.
int StopTypist(const char* self, int signal) {
    int out[2];
    if (pipe(out) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl("/proc/self/exe", self, "--killed-typist", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char said[16] = {};
    const bool stopped = read(out[0], said, sizeof said - 1) > 0;
    close(out[0]);
    tgkill(child, child, signal);  // to the thread that waits for it, not GIO's
    int status = 0;
    waitpid(child, &status, 0);
    Check(stopped && std::string(said) == "stopped\n", "the typist stopped holding Shift and A");
    return status;
}

// Asks the desktop (RIG_CTL, the rig's wayland-desktop) for something; the
// layout commands return once the desktop took them.
bool Desktop(const std::string& command) {
    const char* ctl = std::getenv("RIG_CTL");
    return ctl && std::system((std::string(ctl) + " " + command).c_str()) == 0;
}

// Whether the keymap the compositor hands out has the layouts `names` first,
// as the system's XKB rules make them: the keys for the characters of a
// reading are the same.
bool KeymapHas(platform::WaylandKeymap& keymap, const char* names) {
    const auto want = platform::KeyLayout::FromNames(names);
    if (!want || !keymap.refresh(1000))
        return false;
    const auto got = platform::KeyLayout::FromText(keymap.text(), want->layouts());
    if (!got || got->layouts() < want->layouts())
        return false;
    for (int capital = 0; capital < 2; ++capital)
        for (const char* c = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ \rm"; *c; ++c)
            if (got->stroke(std::uint8_t(*c), capital) != want->stroke(std::uint8_t(*c), capital))
                return false;
    return true;
}

// For a failure: what a new connection to the compositor gets as a keymap.
std::string KeymapNow() {
    platform::WaylandKeymap keymap;
    const auto start = std::chrono::steady_clock::now();
    const bool got = keymap.refresh(5000);
    const auto took =
        std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start).count();
    if (!got)
        return "no keymap on a new connection within " + std::to_string(took) + " ms";
    const auto layout = platform::KeyLayout::FromText(keymap.text());
    return "a new connection got a keymap of " + std::to_string(keymap.text().size()) +
           " bytes in " + std::to_string(took) + " ms, " +
           (layout ? std::to_string(layout->layouts()) + " layout(s)" : "which does not compile");
}

// The desktop's layouts set, and taken: its keymap has them.
void Layout(const char* name) {
    static platform::WaylandKeymap keymap;
    bool took = Desktop(std::string("layout ") + name);
    for (int waited = 0; took && !KeymapHas(keymap, name); waited += 100) {
        took = waited < 10000;
        std::this_thread::sleep_for(Ms(100));
    }
    Check(took, std::string("the layout ") + name + " took");
}

// The operator's keyboard: a device of its own on /dev/uinput, whose Caps
// Lock key the test presses, and whose Caps Lock LED, as the compositor
// sets it, tells whether the lock is on.
class OperatorKeyboard {
  public:
    OperatorKeyboard() {
        fd_ = ::open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        bool ok = fd_ >= 0 && ioctl(fd_, UI_SET_EVBIT, EV_KEY) == 0 &&
                  ioctl(fd_, UI_SET_EVBIT, EV_LED) == 0 &&
                  ioctl(fd_, UI_SET_LEDBIT, LED_CAPSL) == 0;
        for (int code = KEY_ESC; ok && code <= KEY_CAPSLOCK; ++code)
            ok = ioctl(fd_, UI_SET_KEYBIT, code) == 0;
        uinput_setup setup{};
        setup.id.bustype = BUS_USB;
        setup.id.vendor = 0x1209;
        setup.id.product = 0x4816;
        std::strncpy(setup.name, "Operator keyboard", UINPUT_MAX_NAME_SIZE - 1);
        ok_ = ok && ioctl(fd_, UI_DEV_SETUP, &setup) == 0 && ioctl(fd_, UI_DEV_CREATE) == 0;
        // The compositor takes a new keyboard in.
        std::this_thread::sleep_for(Ms(2000));
    }
    ~OperatorKeyboard() {
        if (fd_ >= 0) {
            ioctl(fd_, UI_DEV_DESTROY);
            close(fd_);
        }
    }
    bool ok() const { return ok_; }
    void tapCapsLock() { ok_ = key(KEY_CAPSLOCK, true) && key(KEY_CAPSLOCK, false) && ok_; }
    bool key(std::uint16_t code, bool down) {
        input_event events[2]{};
        events[0].type = EV_KEY;
        events[0].code = code;
        events[0].value = down ? 1 : 0;
        events[1].type = EV_SYN;
        events[1].code = SYN_REPORT;
        const bool written = write(fd_, events, sizeof events) == ssize_t(sizeof events);
        std::this_thread::sleep_for(Ms(50));
        return written;
    }
    // Whether the LED comes to `on` and stays so for half a second, within 5 s.
    bool capsLed(bool on) {
        int steady = 0;
        for (int waited = 0; waited < 5000 && steady < 500; waited += 50) {
            input_event e{};
            while (read(fd_, &e, sizeof e) == ssize_t(sizeof e))
                if (e.type == EV_LED && e.code == LED_CAPSL) {
                    led_ = e.value != 0;
                    writes_ += led_ ? '1' : '0';
                }
            steady = led_ == on ? steady + 50 : 0;
            std::this_thread::sleep_for(Ms(50));
        }
        return led_ == on;
    }

  private:
    int fd_ = -1;
    bool ok_ = false;
    bool led_ = false;

  public:
    std::string writes_;  // the LED's values as written, for a failure's message
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--killed-typist")
        return KilledTypist();
    if (argc != 2) {
        std::fprintf(stderr, "usage: wayland_guest OUT\n");
        return 2;
    }
    guest::OutFolder = argv[1];
    TypedFile = guest::OutFolder + "/typed.txt";
    ::unsetenv("DISPLAY");  // no X11 (Xwayland) to fall back on
    platform::Keyboard& keyboard = platform::SystemKeyboard();

    // 1. No access to /dev/uinput, no X11 to fall back on: nothing typed, and why.
    Check(TypeReading(ReadingOf(1, "09:41:07", "0123456789AB"), true, true) ==
                  TypingResult::NoDisplay &&
              keyboard.notice() == platform::KeyboardNotice::NoAccess,
          "without access to /dev/uinput nothing is typed, and the notice says why");
    Mark("grant", "/dev/uinput");
    if (!WaitFor("granted", 20000)) {
        Check(false, "the rig granted access to /dev/uinput");
        return 1;
    }

    // 2. The 1800 ms case: a four-digit order, the time, a 12-character code.
    // The first right after the option made the keyboard (it waits for the
    // compositor to take the keyboard in), the second with it long there.
    for (int round = 1; round <= 2; ++round) {
        const std::size_t before = TypedLines().size();
        const auto start = std::chrono::steady_clock::now();
        if (round == 1)
            keyboard.prepare();
        const TypingResult result =
            TypeReading(ReadingOf(4815, "09:41:07", "00000A1B2C3D"), true, true);
        const auto took =
            std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start).count();
        const std::string line = NextLine(before);
        const std::string which = round == 1 ? "a new keyboard" : "the same keyboard";
        Check(result == TypingResult::Typed && line == Expected(4815, "09:41:07", "00000A1B2C3D"),
              "us, " + which + ": order, time, code and Enter: \"" + line + "\" (result " +
                  std::to_string(int(result)) + ", notice " +
                  std::to_string(int(keyboard.notice())) + ")");
        if (result != TypingResult::Typed)
            Say("after " + std::to_string(took) + " ms: " + KeymapNow());
        Say("timing, " + which + ": " + std::to_string(took) + " ms for 1800 ms of pauses");
        Mark(round == 1 ? "timing-new" : "timing", std::to_string(took));
    }

    // 3. Layouts switched while the program runs: French puts the digits on
    // Shift and swaps A/Q and Z/W, German swaps Y and Z.
    std::uint32_t order = 20;
    // The next reading of every letter that layouts move, and the digits.
    auto typeAll = [&order](const std::string& label) {
        const std::size_t before = TypedLines().size();
        const TypingResult result =
            TypeReading(ReadingOf(++order, "23:59:58", "AQWZYM0123456789"), true, true);
        const std::string line = NextLine(before);
        Check(result == TypingResult::Typed &&
                  line == Expected(order, "23:59:58", "AQWZYM0123456789"),
              label + ": \"" + line + "\"");
    };
    for (const char* layout : {"fr", "de", "us"}) {
        Layout(layout);
        typeAll(layout);
    }

    // 4. Two layouts in the keymap, the second active: which one is, a
    // program that is no window is not told. With US and German, digits and
    // A-F have the same keys in both, so a hexadecimal code is typed; with US
    // and French the digits need Shift in one only, so nothing is typed.
    {
        Layout("us,de");
        Check(Desktop("switch 1"), "German active");
        std::size_t before = TypedLines().size();
        TypingResult result =
            TypeReading(ReadingOf(++order, "12:34:56", "0A1B2C3D4E5F"), true, true);
        const std::string line = NextLine(before);
        Check(result == TypingResult::Typed && line == Expected(order, "12:34:56", "0A1B2C3D4E5F"),
              "us,de with German active: \"" + line + "\"");
        Layout("us,fr");
        Check(Desktop("switch 1"), "French active");
        before = TypedLines().size();
        result = TypeReading(ReadingOf(++order, "12:34:56", "0A1B2C3D4E5F"), true, true);
        Check(result == TypingResult::Untypable &&
                  keyboard.notice() == platform::KeyboardNotice::LayoutLacksKeys &&
                  NextLine(before, 1500) == "(nothing)",
              "us,fr: nothing typed, and the notice says why");
        Layout("us");
    }

    // 5. A typist killed while it holds Shift and A: the kernel lets go of
    // the keys of a device whose program died, so nothing repeats, and the
    // next reading comes out right (a Shift still held would turn 8 into *).
    {
        const std::size_t before = TypedLines().size();
        StopTypist(argv[0], SIGKILL);
        // Longer than any key repeat's delay.
        std::this_thread::sleep_for(Ms(1500));
        const TypingResult result = TypeReading(ReadingOf(8, nullptr, "0A1B"), true, false);
        const std::string line = NextLine(before);
        Check(result == TypingResult::Typed && line == "7     0A" + Expected(8, nullptr, "0A1B"),
              "killed mid-reading, nothing left pressed: \"" + line + "\"");
    }

    // 6. Caps Lock on, as the operator left it: under us and fr (digits on
    // Shift) every character as the reader sent it, and the lock on again
    // after each reading.
    for (const char* layout : {"us", "fr"}) {
        Layout(layout);
        OperatorKeyboard operatorKeys;
        Check(operatorKeys.ok(), "the operator's keyboard made");
        operatorKeys.tapCapsLock();
        Check(operatorKeys.capsLed(true), std::string(layout) + ": Caps Lock on (its LED; writes " +
                                              operatorKeys.writes_ + ")");
        for (int round = 1; round <= 2; ++round) {
            typeAll(std::string(layout) + " with Caps Lock on");
            Check(operatorKeys.capsLed(true), std::string(layout) +
                                                  ": Caps Lock on again after (LED writes " +
                                                  operatorKeys.writes_ + ")");
        }
        operatorKeys.tapCapsLock();
        Check(operatorKeys.capsLed(false), std::string(layout) + ": Caps Lock off");
    }
    Layout("us");

    // 7. A reading waits for the operator's Ctrl to be let go, and is not
    // typed while it stays. With Caps Lock on, a typist ended by SIGTERM
    // mid-reading finishes the reading and puts the lock back before it goes.
    {
        OperatorKeyboard operatorKeys;
        for (const bool letGo : {true, false}) {
            const std::size_t before = TypedLines().size();
            operatorKeys.key(KEY_LEFTCTRL, true);
            std::thread release([&] {
                std::this_thread::sleep_for(Ms(letGo ? 500 : 0));
                operatorKeys.key(KEY_LEFTCTRL, !letGo);
            });
            const TypingResult result =
                TypeReading(ReadingOf(++order, nullptr, "0A1B9EF0"), true, false);
            release.join();
            operatorKeys.key(KEY_LEFTCTRL, false);
            const std::string typed = NextLine(before, letGo ? 8000 : 1500);
            Check(letGo ? result == TypingResult::Typed &&
                              typed == Expected(order, nullptr, "0A1B9EF0")
                        : result == TypingResult::KeyHeld && typed == "(nothing)",
                  std::string(letGo ? "Ctrl let go after 0.5 s: " : "Ctrl held throughout: ") +
                      "\"" + typed + "\" (result " + std::to_string(int(result)) + ")");
        }
        // sway takes the locks off whenever a keyboard goes: there the
        // lock cannot be on once the typist's keyboard went.
        operatorKeys.tapCapsLock();
        Check(operatorKeys.capsLed(true), "Caps Lock on for the ended typist");
        const std::size_t before = TypedLines().size(), seen = operatorKeys.writes_.size();
        const int status = StopTypist(argv[0], SIGTERM);
        const std::string line = NextLine(before);
        const bool on = operatorKeys.capsLed(true);
        const char* desktop = std::getenv("RIG_DESKTOP");
        const bool sway = desktop && std::string(desktop) == "sway";
        Check(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM &&
                  line == Expected(7, nullptr, "0A1B") && (on || sway),
              "ended by SIGTERM: the whole reading \"" + line + "\", then Caps Lock " +
                  (on ? "on" : "off") + " (LED writes " + operatorKeys.writes_.substr(seen) + ")");
        if (on)
            operatorKeys.tapCapsLock();
    }

    Say(guest::Failures.empty() ? "passed"
                                : std::to_string(guest::Failures.size()) + " step(s) failed");
    return guest::Failures.empty() ? 0 : 1;
}
