// Key injection on Windows: each event goes into the system's input stream
// with its virtual-key code, hardware scan code 1, no flags for a press or
// KEYEVENTF_KEYUP for a release, and no extra information.
//
// A virtual key gives its character only under a keyboard layout: on French
// ones the digit keys give "&", "é" ... without Shift. So each character is
// typed with the key and the Shift or AltGr (Ctrl+Alt) that give it in the
// layout of the thread the keys go to, the one that owns the foreground
// window; under a US layout these are the sequence's own keys.
#include <windows.h>

#include <algorithm>
#include <array>
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

// The stroke of every virtual-key code of the sequence under a layout; small
// letters first, then capitals.
using Strokes = std::array<std::optional<KeyStroke>, 2 * 256>;

Strokes StrokesOf(HKL layout) {
    Strokes strokes{};
    auto put = [&](std::uint8_t vk, bool capital, std::optional<KeyStroke> s) {
        strokes[std::size_t(capital) * 256 + vk] = s;
    };
    auto scan = [layout](wchar_t c) {
        return StrokeFromKeyScan(std::uint16_t(VkKeyScanExW(c, layout)));
    };
    // The keypad minus where it gives "-", as on every layout we know of; it
    // is not among the keys VkKeyScanEx searches.
    const std::optional<KeyStroke> minus =
        MapVirtualKeyExW(VK_SUBTRACT, MAPVK_VK_TO_CHAR, layout) == L'-'
            ? std::optional<KeyStroke>(KeyStroke{VK_SUBTRACT})
            : scan(L'-');
    for (bool capital : {false, true}) {
        for (wchar_t d = L'0'; d <= L'9'; ++d)
            put(std::uint8_t(d), capital, scan(d));
        for (wchar_t l = 0; l < 26; ++l)
            put(std::uint8_t('A' + l), capital, scan(wchar_t((capital ? L'A' : L'a') + l)));
        put(VK_SPACE, capital, scan(L' '));
        put(VK_RETURN, capital, scan(L'\r'));
        put(VK_SUBTRACT, capital, minus);
    }
    return strokes;
}

// The layout of the thread whose window the keys go to.
HKL ForegroundLayout() {
    const HWND window = GetForegroundWindow();
    return GetKeyboardLayout(window ? GetWindowThreadProcessId(window, nullptr) : 0);
}

class Win32Keyboard final : public Keyboard {
  public:
    ~Win32Keyboard() override { end(); }

    // The input stream is always there; whether a window takes the keys is
    // not ours to know. A layout is looked up once, when first met.
    Error begin() override {
        end();
        notice_ = KeyboardNotice::None;
        const HKL layout = ForegroundLayout();
        if (!strokes_ || layout != layout_) {
            layout_ = layout;
            strokes_ = StrokesOf(layout);
        }
        return Error::None;
    }

    bool canType(std::uint8_t virtualKey) override {
        if (stroke(virtualKey, virtualKey >= 'A' && virtualKey <= 'Z'))
            return true;
        notice_ = KeyboardNotice::LayoutLacksKeys;
        return false;
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
        const std::vector<BYTE> pressed = pressed_;
        for (BYTE k : pressed)
            send({{k, false}});
        pressed_.clear();
        planner_.reset();
    }

    KeyboardNotice notice() const override { return notice_; }

  private:
    std::optional<KeyStroke> stroke(std::uint8_t virtualKey, bool capital) const {
        if (!strokes_)
            return std::nullopt;
        return (*strokes_)[std::size_t(capital) * 256 + virtualKey];
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
        for (UINT i = 0; i < taken; ++i) {
            auto it = std::find(pressed_.begin(), pressed_.end(), events[i].key);
            if (!events[i].down && it != pressed_.end())
                pressed_.erase(it);
            else if (events[i].down && it == pressed_.end())
                pressed_.push_back(events[i].key);
        }
        if (taken != inputs.size())
            return LastWin32Error();
        return Error::None;
    }

    HKL layout_ = nullptr;
    std::optional<Strokes> strokes_;
    KeyPlanner planner_;
    KeyboardNotice notice_ = KeyboardNotice::None;
    std::vector<BYTE> pressed_;
};

}  // namespace

Keyboard& SystemKeyboard() {
    static Win32Keyboard keyboard;
    return keyboard;
}

}  // namespace platform
