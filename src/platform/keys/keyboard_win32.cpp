// Key injection on Windows: each event goes into the system's input stream
// with its virtual-key code, hardware scan code 1, no flags for a press or
// KEYEVENTF_KEYUP for a release, and no extra information.
//
// A virtual key gives its character only under a keyboard layout: on French
// ones the digit keys give "&", "é" ... without Shift. So each character is
// typed with the key and the Shift or AltGr (Ctrl+Alt) that give it in the
// layout of the thread the keys go to, the one that owns the foreground
// window; under a US layout these are the sequence's own keys.
//
// The layouts' keys give those characters with Caps Lock off: on French
// layouts Caps Lock also shifts the digit row. So a Caps Lock that the
// foreground thread has on (its key state: our thread's input attached to
// its own for the moment) is turned off with its key for the reading and
// on again after it. A reading waits for the operator's Shift, Ctrl, Alt
// (AltGr is Ctrl and Alt) or Windows key to be let go (the keys' state
// as the system has it now).
//
// Keys sent to a window of a program of higher integrity than ours (run as
// administrator, ours not) are dropped by the system without an error; so
// before the first key, the rights of the foreground window's program are
// compared with ours, and nothing is typed where its window would drop it.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "KeyPlan.h"
#include "Keyboard.h"
#include "errors_win32.h"

namespace platform {

namespace {

constexpr WORD ScanCode = 1;

struct Event {
    BYTE key;
    bool down;
};

// The stroke of every key of the sequence under a layout.
StrokeTable StrokesOf(HKL layout) {
    auto scan = [layout](wchar_t c) {
        return StrokeFromKeyScan(std::uint16_t(VkKeyScanExW(c, layout)));
    };
    // The keypad minus where it gives "-", as on every layout we know of; it
    // is not among the keys VkKeyScanEx searches.
    const std::optional<KeyStroke> minus =
        MapVirtualKeyExW(VK_SUBTRACT, MAPVK_VK_TO_CHAR, layout) == L'-'
            ? std::optional<KeyStroke>(KeyStroke{VK_SUBTRACT})
            : scan(L'-');
    // Tab is the Tab key on every layout.
    return StrokeTable([&](const SequenceKey& key, bool capital) {
        return key.virtualKey == VK_SUBTRACT ? minus
               : key.virtualKey == VK_TAB    ? std::optional<KeyStroke>(KeyStroke{VK_TAB})
                                             : scan(wchar_t(capital ? key.capital : key.small));
    });
}

// A process's rights as its token tells them; unknown when the token may not
// be read (another user's process, unless ours is an administrator's).
ProcessRights RightsOf(HANDLE process) {
    ProcessRights rights;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return rights;
    rights.known = true;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
        rights.elevated = elevation.TokenIsElevated != 0;
    // The integrity level is the last part of the token's mandatory label.
    GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
    std::vector<unsigned char> label(size);
    if (size >= sizeof(TOKEN_MANDATORY_LABEL) &&
        GetTokenInformation(token, TokenIntegrityLevel, label.data(), size, &size)) {
        const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
        if (IsValidSid(sid) && *GetSidSubAuthorityCount(sid) > 0)
            rights.integrity = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
    }
    CloseHandle(token);
    return rights;
}

class SystemRights final : public WindowRights {
  public:
    ProcessRights own() override { return RightsOf(GetCurrentProcess()); }
    ProcessRights of(std::uint32_t processId) override {
        // The limited right is granted on most processes of the session,
        // elevated ones too.
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        if (!process)
            return {};
        const ProcessRights rights = RightsOf(process);
        CloseHandle(process);
        return rights;
    }
};

class Win32Keyboard final : public Keyboard {
  public:
    ~Win32Keyboard() override { end(); }

    // The input stream is always there. The keys go to the foreground
    // window: its layout gives them, its program's rights say whether they
    // arrive. A layout is looked up once, when first met.
    Error begin() override {
        end();
        notice_ = KeyboardNotice::None;
        target_ = GetForegroundWindow();
        const DWORD thread = target_ ? GetWindowThreadProcessId(target_, nullptr) : 0;
        const HKL layout = GetKeyboardLayout(thread);
        if (!strokes_ || layout != layout_) {
            layout_ = layout;
            strokes_ = StrokesOf(layout);
        }
        return Error::None;
    }

    // Without a foreground window (the activation passing between windows)
    // the keys go where the system sends them, as ever.
    bool targetTakesKeys() override {
        DWORD process = 0;
        if (!target_ || !GetWindowThreadProcessId(target_, &process))
            return true;
        WindowRights& rights = TheWindowRights();
        notice_ = KeysBarred(rights.own(), rights.of(process));
        return notice_ == KeyboardNotice::None;
    }

    bool canType(std::uint8_t virtualKey) override {
        if (stroke(virtualKey, virtualKey >= 'A' && virtualKey <= 'Z'))
            return true;
        notice_ = KeyboardNotice::LayoutLacksKeys;
        return false;
    }

    bool modifierHeld() override {
        for (BYTE k : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN})
            if ((GetAsyncKeyState(k) & 0x8000) != 0 && !pressed_.has(k))
                return true;
        return false;
    }

    bool releaseLocks() override {
        const std::optional<bool> on = capsLockOn();
        if (!on) {
            notice_ = KeyboardNotice::LockUnknown;
            return false;
        }
        if (!*on)
            return true;
        if (send({{VK_CAPITAL, true}, {VK_CAPITAL, false}}) != Error::None)
            return false;
        relock_ = true;
        return true;
    }

    // The changes of one event go in together: nothing comes between a key
    // and the modifiers around it.
    Error key(std::uint8_t virtualKey, bool up) override {
        const auto planned = planner_.event(
            virtualKey, up, [this](std::uint8_t vk, bool capital) { return stroke(vk, capital); });
        if (!planned)
            return Error::Invalid;
        std::vector<Event> events;
        for (const KeyChange& c : *planned) {
            switch (c.what) {
                case KeyChange::What::Shift:
                    events.push_back({VK_SHIFT, c.down});
                    break;
                case KeyChange::What::Level3:
                    events.push_back({c.down ? BYTE(VK_CONTROL) : BYTE(VK_MENU), c.down});
                    events.push_back({c.down ? BYTE(VK_MENU) : BYTE(VK_CONTROL), c.down});
                    break;
                case KeyChange::What::Key:
                    events.push_back({BYTE(c.code), c.down});
                    break;
            }
        }
        return send(events);
    }

    void end() override {
        const std::vector<std::uint16_t> pressed = pressed_.keys();
        for (std::uint16_t k : pressed)
            send({{BYTE(k), false}});
        pressed_.clear();
        planner_.reset();
        if (relock_)
            send({{VK_CAPITAL, true}, {VK_CAPITAL, false}});
        relock_ = false;
    }

    KeyboardNotice notice() const override { return notice_; }

  private:
    // Whether Caps Lock is on for the thread of the window in front, which
    // keeps its own key state; nothing when it cannot be read.
    std::optional<bool> capsLockOn() const {
        const DWORD ours = GetCurrentThreadId();
        const DWORD theirs = target_ ? GetWindowThreadProcessId(target_, nullptr) : 0;
        if (theirs == 0 || theirs == ours)
            return (GetKeyState(VK_CAPITAL) & 1) != 0;
        if (!AttachThreadInput(ours, theirs, TRUE))
            return std::nullopt;
        const bool on = (GetKeyState(VK_CAPITAL) & 1) != 0;
        AttachThreadInput(ours, theirs, FALSE);
        return on;
    }

    std::optional<KeyStroke> stroke(std::uint8_t virtualKey, bool capital) const {
        if (!strokes_)
            return std::nullopt;
        return strokes_->at(virtualKey, capital);
    }

    // SendInput with the fields of keybd_event; unlike keybd_event it says
    // when the system refused the event (input blocked, another desktop).
    // The keys it took count as pressed or released, also when it stopped
    // part-way.
    Error send(const std::vector<Event>& events) {
        if (events.empty())
            return Error::None;
        std::vector<INPUT> inputs(events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            INPUT& input = inputs[i];
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = events[i].key;
            input.ki.wScan = ScanCode;
            input.ki.dwFlags = events[i].down ? 0 : KEYEVENTF_KEYUP;
            input.ki.time = 0;
            input.ki.dwExtraInfo = 0;
        }
        const UINT taken = SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
        for (UINT i = 0; i < taken; ++i)
            pressed_.note(events[i].key, events[i].down);
        if (taken != inputs.size())
            return LastWin32Error();
        return Error::None;
    }

    HWND target_ = nullptr;
    HKL layout_ = nullptr;
    std::optional<StrokeTable> strokes_;
    KeyPlanner planner_;
    KeyboardNotice notice_ = KeyboardNotice::None;
    HeldKeys pressed_;
    bool relock_ = false;  // Caps Lock turned off for the reading
};

}  // namespace

Keyboard& SystemKeyboard() {
    static Win32Keyboard keyboard;
    return keyboard;
}

WindowRights& SystemWindowRights() {
    static SystemRights rights;
    return rights;
}

}  // namespace platform
