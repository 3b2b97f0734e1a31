// The Win32 keyboard on a real window system: a reading typed into the window
// in front, or nothing where that window's program would drop the keys.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Drv232.h"
#include "Global.h"
#include "Keyboard.h"
#include "fakes/FakeClock.h"
#include "fakes/ProgramState.h"

namespace {

// Ours an ordinary program's rights; the other process's as the test sets.
class GivenRights final : public platform::WindowRights {
  public:
    platform::ProcessRights target;
    platform::ProcessRights own() override { return {true, false, 0x2000}; }
    platform::ProcessRights of(std::uint32_t) override { return target; }
};

std::wstring TextOf(HWND window) {
    std::wstring text(std::size_t(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(std::size_t(GetWindowTextW(window, text.data(), int(text.size()))));
    return text;
}

// Hands the window its queued keys until it shows the text, for at most 5 s.
std::wstring Await(HWND window, const std::wstring& text) {
    const DWORD end = GetTickCount() + 5000;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (TextOf(window) == text)
            break;
        Sleep(10);
    } while (GetTickCount() < end);
    return TextOf(window);
}

TEST(Win32Typing, NothingIsTypedWhereTheWindowInFrontWouldDropTheKeys) {
    fakes::ResetProgramState();
    HWND front = CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300,
                                 80, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(front, nullptr);
    SetForegroundWindow(front);
    SetFocus(front);
    Await(front, L"");
    ASSERT_EQ(GetForegroundWindow(), front);
    fakes::FakeClock clock;  // no pauses between the keys
    fakes::ClockInUse use(clock);
    const Reading reading{.code = "00000A1B2C3D"};
    const std::wstring code = L"00000A1B2C3D";  // Enter adds nothing to a one-line edit

    // The rights as a program run as administrator, or another user's, has
    // them: nothing typed. An ordinary program's: the reading, once.
    GivenRights rights;
    platform::UseWindowRights(&rights);
    using platform::KeyboardNotice;
    struct Case {
        platform::ProcessRights target;
        TypingResult result;
        KeyboardNotice notice;
    };
    for (const Case& c : {
             Case{{true, true, platform::HighIntegrity},
                  TypingResult::Barred,
                  KeyboardNotice::TargetElevated},
             Case{{}, TypingResult::Barred, KeyboardNotice::TargetRightsUnknown},
             Case{{true, false, 0x2000}, TypingResult::Typed, KeyboardNotice::None},
         }) {
        rights.target = c.target;
        EXPECT_EQ(TypeReading(reading, false, false), c.result) << c.target.integrity;
        EXPECT_EQ(platform::TheKeyboard().notice(), c.notice) << c.target.integrity;
    }
    EXPECT_EQ(Await(front, code), code);
    platform::UseWindowRights(nullptr);

    // The system's own reading of the rights: this program's token is read,
    // and its window takes the keys.
    platform::WindowRights& system = platform::SystemWindowRights();
    EXPECT_TRUE(system.own().known);
    EXPECT_EQ(system.of(GetCurrentProcessId()).known, true);
    EXPECT_EQ(system.of(GetCurrentProcessId()).integrity, system.own().integrity);
    SetWindowTextW(front, L"");
    EXPECT_EQ(TypeReading(reading, false, false), TypingResult::Typed);
    EXPECT_EQ(Await(front, code), code);
    DestroyWindow(front);
}

}  // namespace
