// Real keystrokes under the keyboard layouts operators have: readings typed
// through XTest into a window of a private Xvnc (a server that takes keymap
// changes), read back as the text that window receives. Each test first
// checks that its layout took, on the keys themselves.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Drv232.h"
#include "Global.h"
#include "Keyboard.h"
#include "fakes/Xvnc.h"

// X11 last: its macro None would clash with names above.
#include "fakes/KeyWindow.h"

namespace {

// X keycodes (evdev) of two keys that tell the layouts apart: "1" (AE01) and
// the key right of T (AD06).
constexpr KeyCode KeyOne = 10, KeyRightOfT = 29;

class TypedUnderLayout : public fakes::XServerSuite<fakes::LayoutXServer> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server->running()) << "Xvnc did not start (tigervnc-standalone-server)";
    }

    // Sets the layout and checks it took: the first keysyms of the "1" key
    // and of the key right of T, as a newly connected client sees them.
    static void SetLayout(const char* layout, KeySym one, KeySym rightOfT) {
        ASSERT_TRUE(server->setLayout(layout)) << layout;
        Display* d = XOpenDisplay(nullptr);
        ASSERT_NE(d, nullptr);
        const KeySym gotOne = XkbKeycodeToKeysym(d, KeyOne, 0, 0);
        const KeySym gotT = XkbKeycodeToKeysym(d, KeyRightOfT, 0, 0);
        XCloseDisplay(d);
        ASSERT_EQ(gotOne, one) << layout << ": the 1 key gives " << XKeysymToString(gotOne);
        ASSERT_EQ(gotT, rightOfT) << layout << ": the key right of T gives "
                                  << XKeysymToString(gotT);
    }

    // Types readings that hold every digit and capital, the first with the
    // order (a separator of spaces) and the time (keypad minus), each into a
    // new window. The window reads the keys only once all are typed, as a
    // busy application does: every character must come from a key of the
    // layout itself (a French digit is its key with Shift), none from a
    // keycode lent for the moment and taken back before it was read.
    static void TypesEveryCharacter() {
        bool withOrderAndTime = true;
        for (const char* code : {"0123456789ABCDYZ", "EFGHIJKLMNOPQRST", "UVWXYZ9876543210"}) {
            SCOPED_TRACE(code);
            fakes::KeyWindow window;
            ASSERT_NE(window.display(), nullptr);
            RunningOrder = 1234;
            TimeText = "23:59:59";
            ChipCode = code;
            EXPECT_EQ(TypeReading(withOrderAndTime, withOrderAndTime), TypingResult::Typed);
            const std::string text = window.received();
            EXPECT_EQ(text, (withOrderAndTime ? "1234     23-59-59     " : "") + std::string(code) +
                                "\n");
            EXPECT_FALSE(window.anyKeyDown());
            withOrderAndTime = false;
        }
    }
};

TEST_F(TypedUnderLayout, French) {
    SetLayout("fr", XK_ampersand, XK_y);
    TypesEveryCharacter();
}

TEST_F(TypedUnderLayout, German) {
    SetLayout("de", XK_1, XK_z);
    TypesEveryCharacter();
}

TEST_F(TypedUnderLayout, Us) {
    SetLayout("us", XK_1, XK_y);
    TypesEveryCharacter();
}

}  // namespace
