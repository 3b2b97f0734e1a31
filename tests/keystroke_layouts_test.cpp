// Real keystrokes under the keyboard layouts operators have: readings typed
// through XTest into a window of a private Xvnc (a server that takes keymap
// changes and locks), read back as the text that window receives. Each test
// first checks that its layout took, on the keys themselves, and a lock that
// it turned on, on the server's indicators (xset q). The operator's own keys
// (Caps Lock, a held Ctrl) are pressed through XTest on a connection of
// their own, as another program would.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "Drv232.h"
#include "Global.h"
#include "Keyboard.h"
#include "fakes/FakeClock.h"
#include "fakes/ProgramProcess.h"
#include "fakes/TempDir.h"
#ifdef CHIPREADER_EXE
#include "ReaderSimulator.h"
#include "fakes/SimulatedReader.h"
#endif
#include "fakes/Xvnc.h"

// X11 last: its macro None would clash with names above.
#include "fakes/KeyWindow.h"

#include <X11/extensions/XTest.h>

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
    static void SetLayout(const char* layout, KeySym one, KeySym rightOfT,
                          const char* option = "") {
        ASSERT_TRUE(server->setLayout(layout, option)) << layout;
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
            const Reading reading{.order = 1234, .time = "23:59:59", .code = code};
            EXPECT_EQ(TypeReading(reading, withOrderAndTime, withOrderAndTime),
                      TypingResult::Typed);
            const std::string text = window.received();
            EXPECT_EQ(text, (withOrderAndTime ? "1234     23-59-59     " : "") + std::string(code) +
                                "\n");
            EXPECT_FALSE(window.anyKeyDown());
            withOrderAndTime = false;
        }
    }
};

// What the server's indicators say of a lock ("Caps Lock", "Shift Lock"):
// "on", "off", or "" when xset does not tell.
std::string Indicator(const char* lock) {
    std::string out;
    if (FILE* p = popen("xset q", "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p))
            out += buffer;
        pclose(p);
    }
    std::smatch m;
    const std::regex re(std::string(lock) + ":\\s+(on|off)");
    return std::regex_search(out, m, re) ? m[1].str() : "";
}

// The operator's keys, pressed and released through a connection of their own.
class OperatorKeys {
  public:
    OperatorKeys() : display_(XOpenDisplay(nullptr)) {}
    ~OperatorKeys() {
        if (display_)
            XCloseDisplay(display_);
    }
    OperatorKeys(const OperatorKeys&) = delete;
    OperatorKeys& operator=(const OperatorKeys&) = delete;
    void press(KeySym sym, bool down) {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, sym), down ? True : False,
                          CurrentTime);
        XSync(display_, False);
    }
    void tap(KeySym sym) {
        press(sym, true);
        press(sym, false);
    }

  private:
    Display* display_;
};

// A layout, and the locks the operator left on: Caps Lock, or Caps Lock
// made a Shift Lock by the layout's option.
struct LockCase {
    const char* layout;
    KeySym one, rightOfT;
    const char* lock;    // the indicator that shows it
    const char* option;  // of the layout
    KeySym key;          // what the Caps Lock key gives
};

class TypedUnderALock : public TypedUnderLayout, public ::testing::WithParamInterface<LockCase> {};

TEST_P(TypedUnderALock, EveryCharacterArrivesAsTheReaderSentItAndTheLockStaysOn) {
    const LockCase c = GetParam();
    ASSERT_NO_FATAL_FAILURE(SetLayout(c.layout, c.one, c.rightOfT, c.option));
    OperatorKeys operatorKeys;
    ASSERT_EQ(Indicator(c.lock), "off");
    operatorKeys.tap(c.key);
    ASSERT_EQ(Indicator(c.lock), "on") << "the lock did not take";
    TypesEveryCharacter();
    EXPECT_EQ(Indicator(c.lock), "on") << "the lock was not given back";
    operatorKeys.tap(c.key);
    EXPECT_EQ(Indicator(c.lock), "off");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TypedUnderALock,
    ::testing::Values(LockCase{"us", XK_1, XK_y, "Caps Lock", "", XK_Caps_Lock},
                      LockCase{"fr", XK_ampersand, XK_y, "Caps Lock", "", XK_Caps_Lock},
                      LockCase{"de", XK_1, XK_z, "Caps Lock", "", XK_Caps_Lock},
                      LockCase{"fr", XK_ampersand, XK_y, "Shift Lock", "caps:shiftlock",
                               XK_Shift_Lock}));

// A Ctrl the operator holds as a reading comes: the reading waits for its
// release (here after half a second of the reading's pauses), then is typed;
// held throughout, nothing of it is typed, and the Ctrl stays the operator's.
TEST_F(TypedUnderLayout, AReadingWaitsForAHeldCtrlAndIsNotTypedUnderIt) {
    ASSERT_NO_FATAL_FAILURE(SetLayout("us", XK_1, XK_y));
    OperatorKeys operatorKeys;
    fakes::FakeClock clock;
    fakes::ClockInUse use(clock);
    const Reading reading{.order = 1, .code = "0123456789ABCDEF"};
    {
        fakes::KeyWindow window;
        operatorKeys.press(XK_Control_L, true);
        const std::uint64_t letGo = clock.monotonic + 500;
        bool held = true;
        clock.afterSleep = [&] {
            if (held && clock.monotonic >= letGo)
                operatorKeys.press(XK_Control_L, held = false);
        };
        EXPECT_EQ(TypeReading(reading, false, false), TypingResult::Typed);
        EXPECT_EQ(window.received(), "0123456789ABCDEF\n");
        EXPECT_FALSE(window.anyKeyDown());
    }
    clock.afterSleep = nullptr;
    fakes::KeyWindow window;
    operatorKeys.press(XK_Control_L, true);
    EXPECT_EQ(TypeReading(reading, false, false), TypingResult::KeyHeld);
    operatorKeys.press(XK_Control_L, false);
    operatorKeys.tap(XK_Return);
    EXPECT_EQ(window.received(), "\n") << "only the test's own Enter";
    EXPECT_FALSE(window.anyKeyDown());
}

#ifdef CHIPREADER_EXE
// The site's typing end to end: the program itself, with the template site
// file in its folder and a reader behind COM3, types two readings into a
// window of another program (this test's) under the French layout, where
// the digits take Shift and ":" is a key of its own.
TEST_F(TypedUnderLayout, TheSitesTypingByTheProgramIntoAnotherProgram) {
    SetLayout("fr", XK_ampersand, XK_y);
    fakes::TempWorkDir folder;
    const auto reader = fakes::StartReader(folder.path(), 3, fakes::Pace::Paced);
    ASSERT_FALSE(HasFailure());
    // Port 3; the order and the chip code to the keyboard, the LED turned off.
    fakes::WriteFile(folder.path() / "ZV4815.INI",
                     std::string("\x03\x01\0\x01\x01\0\0\0\0\0\0\0\0\0\0\0", 16));
    std::filesystem::copy_file(TYPING_TEMPLATE, folder.path() / "site.ini");
    fakes::KeyWindow window;
    ASSERT_NE(window.display(), nullptr);
    const pid_t program = fakes::StartProgram(CHIPREADER_EXE, folder.path());
    ASSERT_GT(program, 0);
    std::string text;
    // What has arrived once `tabs` Tabs came (up to 15 s).
    const auto typed = [&](long tabs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::count(text.begin(), text.end(), '\t') < tabs &&
               std::chrono::steady_clock::now() < until) {
            window.take(text);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return text;
    };
    EXPECT_TRUE(reader->waitForRequests(1, 20000)) << "the program never asked the reader";
    reader->presentChip("00000A1B2C3D");
    EXPECT_EQ(typed(2), "Id: 1\t000000169552957\t");
    EXPECT_TRUE(reader->waitForRequests(2, 5000)) << "the LED-off after the reading";
    reader->presentChip("FFFFFFFFFFFF");
    EXPECT_EQ(typed(4), "Id: 1\t000000169552957\tId: 2\t281474976710655\t");
    EXPECT_TRUE(fakes::EndProgram(program));
    EXPECT_FALSE(window.anyKeyDown());
}
#endif

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
