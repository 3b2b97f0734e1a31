// Real keystrokes: a reading typed through XTest into a window of a private X
// server, read back as the text that window receives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "Drv232.h"
#include "Global.h"
#include "Keyboard.h"
#include "fakes/FakeClock.h"
#include "fakes/Xvfb.h"

// X11 last: its macro None would clash with names above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#undef None

#include "fakes/KeyWindow.h"

namespace {

class TypedInto : public fakes::XServerSuite<fakes::PrivateXServer> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server->running()) << "Xvfb did not start";
        target = std::make_unique<fakes::KeyWindow>();
        display = target->display();
        ASSERT_NE(display, nullptr);
        platform::UseClock(&clock);  // the pauses do not change what arrives
    }

    void TearDown() override {
        platform::UseClock(nullptr);
        target.reset();
    }

    // The text the window received, up to and including the first Enter.
    std::string Received() { return target->received(); }
    bool AnyKeyDown() { return target->anyKeyDown(); }

    std::unique_ptr<fakes::KeyWindow> target;
    Display* display = nullptr;
    fakes::FakeClock clock;
};

TEST_F(TypedInto, AWindowReceivesTheOrderTheTimeTheCodeAndEnter) {
    ASSERT_EQ(TypeReading({.order = 7, .time = "09:41:07", .code = "00000A1B2C3D"}, true, true),
              TypingResult::Typed);
    EXPECT_EQ(Received(), "7     09-41-07     00000A1B2C3D\n");
    EXPECT_FALSE(AnyKeyDown());

    ASSERT_EQ(TypeReading({.order = 8, .time = "09:41:09", .code = "FEDCBA987654"}, false, false),
              TypingResult::Typed);
    EXPECT_EQ(Received(), "FEDCBA987654\n");
    EXPECT_FALSE(AnyKeyDown());
}

TEST_F(TypedInto, AKeyMissingFromTheMapIsLentASpareKeycodeAndGivenBack) {
    // Take "f" off the keyboard map.
    const KeyCode f = XKeysymToKeycode(display, XK_f);
    ASSERT_NE(f, 0);
    int width = 0;
    KeySym* old = XGetKeyboardMapping(display, f, 1, &width);
    std::vector<KeySym> saved(old, old + width);
    XFree(old);
    std::vector<KeySym> blank(std::size_t(width), NoSymbol);
    XChangeKeyboardMapping(display, f, width, blank.data(), 1);
    XSync(display, False);
    ASSERT_EQ(XKeysymToKeycode(display, XK_f), 0);

    // Typed while the window reads, as a real application does: the text
    // is decoded with the map in force when each key arrives.
    platform::UseClock(nullptr);
    TypingResult typed = TypingResult::NoDisplay;
    std::thread typist(
        [&typed] { typed = TypeReading({.order = 1, .code = "F00F"}, false, false); });
    EXPECT_EQ(Received(), "F00F\n");
    typist.join();
    EXPECT_EQ(typed, TypingResult::Typed);
    EXPECT_FALSE(AnyKeyDown());
    XSync(display, False);
    EXPECT_EQ(XKeysymToKeycode(display, XK_f), 0) << "the borrowed keycode is given back";

    XChangeKeyboardMapping(display, f, width, saved.data(), 1);
    XSync(display, False);
}

// The real keyboard, breaking off after a number of keys.
class BreakingKeyboard final : public platform::Keyboard {
  public:
    explicit BreakingKeyboard(int keys) : left_(keys) {}
    platform::Error begin() override { return platform::SystemKeyboard().begin(); }
    platform::Error key(std::uint8_t k, bool up) override {
        if (left_-- <= 0)
            return platform::Error::HungUp;
        return platform::SystemKeyboard().key(k, up);
    }
    void end() override { platform::SystemKeyboard().end(); }

  private:
    int left_;
};

TEST_F(TypedInto, TypingThatBreaksOffAnywhereLeavesNoKeyPressed) {
    const Reading reading{.order = 7, .time = "09:41:07", .code = "0A1B"};
    const int keys = int(KeySequence(true, true, 7, "09:41:07", "0A1B").size());
    for (int after = 1; after < keys; after += 3) {
        SCOPED_TRACE(after);
        BreakingKeyboard keyboard(after);
        platform::UseKeyboard(&keyboard);
        EXPECT_EQ(TypeReading(reading, true, true), TypingResult::BrokenOff);
        platform::UseKeyboard(nullptr);
        XSync(display, False);
        EXPECT_FALSE(AnyKeyDown());
    }
    while (XPending(display)) {
        XEvent e;
        XNextEvent(display, &e);
    }
}

// Where the session is Wayland but its compositor is not named (a program
// started outside the desktop's environment), the keys go through Xwayland.
TEST_F(TypedInto, AWaylandSessionWithoutItsCompositorTypesThroughX11AndSaysSo) {
    const char* s = std::getenv("XDG_SESSION_TYPE");
    const std::string saved = s ? s : "";
    for (const char* session : {"wayland", "x11"}) {
        ::setenv("XDG_SESSION_TYPE", session, 1);
        platform::Keyboard& keyboard = platform::SystemKeyboard();
        ASSERT_EQ(keyboard.begin(), platform::Error::None) << session;
        EXPECT_EQ(keyboard.notice(), std::string(session) == "wayland"
                                         ? platform::KeyboardNotice::X11Only
                                         : platform::KeyboardNotice::None);
        keyboard.end();
    }
    if (s)
        ::setenv("XDG_SESSION_TYPE", saved.c_str(), 1);
    else
        ::unsetenv("XDG_SESSION_TYPE");
}

TEST(NoDisplay, TypingReportsThatItCannotType) {
    const char* saved = std::getenv("DISPLAY");
    std::string keep = saved ? saved : "";
    ::setenv("DISPLAY", ":999", 1);  // nobody there
    EXPECT_EQ(platform::SystemKeyboard().begin(), platform::Error::NotSupported);
    EXPECT_EQ(TypeReading({.order = 1, .code = "0123456789AB"}, false, false),
              TypingResult::NoDisplay);
    EXPECT_EQ(platform::SystemKeyboard().notice(), platform::KeyboardNotice::NoDisplay);
    if (saved)
        ::setenv("DISPLAY", keep.c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}

}  // namespace
