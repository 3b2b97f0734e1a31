// Key injection through the real input stream: a low-level keyboard hook in
// this process sees every event as the system received it.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "Drv232.h"
#include "Global.h"
#include "Keyboard.h"
#include "fakes/FakeClock.h"

namespace {

struct Seen {
    DWORD key;
    DWORD scan;
    bool up;
    bool injected;
    ULONG_PTR extra;
};

std::vector<Seen>* seen = nullptr;

LRESULT CALLBACK Record(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION && seen) {
        const auto* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        seen->push_back({k->vkCode, k->scanCode, (k->flags & LLKHF_UP) != 0,
                         (k->flags & LLKHF_INJECTED) != 0, k->dwExtraInfo});
    }
    return CallNextHookEx(nullptr, code, message, data);
}

class Win32Keyboard : public ::testing::Test {
  protected:
    void SetUp() override {
        seen = &events;
        hook = SetWindowsHookExA(WH_KEYBOARD_LL, Record, GetModuleHandleA(nullptr), 0);
        ASSERT_NE(hook, nullptr) << "error " << GetLastError();
    }
    void TearDown() override {
        platform::SystemKeyboard().end();
        if (hook)
            UnhookWindowsHookEx(hook);
        seen = nullptr;
    }
    // Hands queued hook calls to the hook.
    static void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    static bool Down(BYTE key) { return (GetAsyncKeyState(key) & 0x8000) != 0; }

    std::vector<Seen> events;
    HHOOK hook = nullptr;
};

TEST_F(Win32Keyboard, AReadingReachesTheSystemAsItsVirtualKeysWithScanCode1) {
    // Under a US layout, where each key of the sequence gives its own
    // character, the keys are the sequence's, one for one.
    const HKL layout = GetKeyboardLayout(0);
    ASSERT_EQ(VkKeyScanExW(L'1', layout), 0x0031) << "not a US layout";
    ASSERT_EQ(VkKeyScanExW(L'Z', layout), 0x015A) << "not a US layout";
    fakes::FakeClock clock;  // the pauses are the core's business, not waited out here
    fakes::ClockInUse use(clock);
    const Reading reading{.order = 7, .time = "09:41:07", .code = "00000A1B2C3D"};
    ASSERT_EQ(TypeReading(reading, true, true), TypingResult::Typed);
    Pump();

    const auto expected = KeySequence(true, true, 7, "09:41:07", "00000A1B2C3D");
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].key, expected[i].key);
        EXPECT_EQ(events[i].up, expected[i].up);
        EXPECT_EQ(events[i].scan, 1u);
        EXPECT_TRUE(events[i].injected);
        EXPECT_EQ(events[i].extra, 0u);
    }
    for (BYTE key : {BYTE(VK_SHIFT), BYTE('A'), BYTE('0'), BYTE(VK_RETURN), BYTE(VK_SUBTRACT)})
        EXPECT_FALSE(Down(key)) << int(key);
}

TEST_F(Win32Keyboard, EndReleasesEveryKeyStillPressed) {
    platform::Keyboard& keyboard = platform::SystemKeyboard();
    ASSERT_EQ(keyboard.begin(), platform::Error::None);
    ASSERT_EQ(keyboard.key(VK_SHIFT, false), platform::Error::None);
    ASSERT_EQ(keyboard.key('K', false), platform::Error::None);
    ASSERT_EQ(keyboard.key('J', false), platform::Error::None);
    ASSERT_EQ(keyboard.key('J', true), platform::Error::None);
    Pump();
    EXPECT_TRUE(Down(VK_SHIFT));
    EXPECT_TRUE(Down('K'));
    EXPECT_FALSE(Down('J'));

    keyboard.end();
    Pump();
    EXPECT_FALSE(Down(VK_SHIFT));
    EXPECT_FALSE(Down('K'));
    // Only the two keys still down were released, each once.
    ASSERT_EQ(events.size(), 6u);
    EXPECT_TRUE(events[4].up && events[5].up);
    EXPECT_EQ(events[4].key + events[5].key, DWORD(VK_SHIFT) + DWORD('K'));
    EXPECT_NE(events[4].key, events[5].key);
}

}  // namespace
