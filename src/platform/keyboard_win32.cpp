// Key injection on Windows: each event goes into the system's input stream
// with its virtual-key code, hardware scan code 1, no flags for a press or
// KEYEVENTF_KEYUP for a release, and no extra information.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "Keyboard.h"
#include "errors_win32.h"

namespace platform {

namespace {

constexpr WORD ScanCode = 1;

class Win32Keyboard final : public Keyboard {
  public:
    ~Win32Keyboard() override { end(); }

    // The input stream is always there; whether a window takes the keys is
    // not ours to know.
    Error begin() override {
        end();
        return Error::None;
    }

    Error key(std::uint8_t virtualKey, bool up) override {
        if (Error e = send(virtualKey, up); e != Error::None)
            return e;
        auto it = std::find(pressed_.begin(), pressed_.end(), virtualKey);
        if (up && it != pressed_.end())
            pressed_.erase(it);
        else if (!up && it == pressed_.end())
            pressed_.push_back(virtualKey);
        return Error::None;
    }

    void end() override {
        for (std::uint8_t k : pressed_)
            send(k, true);
        pressed_.clear();
    }

  private:
    // SendInput with the fields of keybd_event; unlike keybd_event it says
    // when the system refused the event (input blocked, another desktop).
    static Error send(std::uint8_t virtualKey, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
        input.ki.wScan = ScanCode;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        input.ki.time = 0;
        input.ki.dwExtraInfo = 0;
        if (SendInput(1, &input, sizeof input) != 1)
            return LastWin32Error();
        return Error::None;
    }

    std::vector<std::uint8_t> pressed_;
};

}  // namespace

Keyboard& SystemKeyboard() {
    static Win32Keyboard keyboard;
    return keyboard;
}

}  // namespace platform
