// The program ended by a signal in the middle of typing a reading: the X
// server keeps a key that XTest pressed after its client is gone, so the
// program must release its keys before it goes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ReaderSimulator.h"
#include "fakes/ProgramProcess.h"
#include "fakes/SimulatedReader.h"
#include "fakes/TempDir.h"

// X11 last: its macro None would clash with names above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef None

namespace {

using Clock = std::chrono::steady_clock;

// The keycodes down in the server, and whether a modifier is in force.
std::vector<KeyCode> KeysDown(Display* display) {
    char keys[32];
    XQueryKeymap(display, keys);
    std::vector<KeyCode> down;
    for (int code = 0; code < 256; ++code)
        if (keys[code / 8] & (1 << (code % 8)))
            down.push_back(KeyCode(code));
    return down;
}

bool ModifiersInForce(Display* display) {
    XkbStateRec state{};
    return XkbGetState(display, XkbUseCoreKbd, &state) != Success || state.mods != 0;
}

TEST(ProgramEndedWhileTyping, ReleasesItsKeysBeforeItGoes) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X server";
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        fakes::TempWorkDir folder;
        const auto reader = fakes::StartReader(folder.path(), 3, fakes::Pace::Paced);
        ASSERT_FALSE(HasFailure());
        // Port 3, "Chip code to keyboard" and CRC on: 14 letters, all typed
        // with Shift held.
        fakes::WriteFile(folder.path() / "ZV4815.INI",
                         std::string("\x03\0\0\x01\0\0\0\0\0\0\0\0\x01\0\0\0", 16));
        const pid_t program = fakes::StartProgram(CHIPREADER_EXE, folder.path());
        ASSERT_GT(program, 0);
        ASSERT_TRUE(reader->waitForRequests(1, 20000)) << "the program never asked the reader";
        reader->presentChip("ABCDEFABCDEFAB");

        // Ended as soon as Shift is down.
        bool shiftSeen = false;
        for (const auto until = Clock::now() + std::chrono::seconds(15);
             !shiftSeen && Clock::now() < until;) {
            const std::vector<KeyCode> down = KeysDown(display);
            shiftSeen = std::find(down.begin(), down.end(), shift) != down.end();
            if (!shiftSeen)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(shiftSeen) << "the program never typed";
        ::kill(program, signal);
        int status = 0;
        const bool ended = fakes::AwaitEnd(program, status, std::chrono::seconds(10));
        if (!ended) {
            ::kill(program, SIGKILL);
            ::waitpid(program, &status, 0);
        }
        EXPECT_TRUE(ended) << "the program did not end";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
            << "it ends as the signal ends it";

        XSync(display, False);
        const std::vector<KeyCode> left = KeysDown(display);
        EXPECT_TRUE(left.empty()) << left.size() << " keys left down, the first "
                                  << (left.empty() ? 0 : int(left.front()));
        EXPECT_FALSE(ModifiersInForce(display));
        // Whatever it left, the next case starts without it.
        for (KeyCode code : left)
            XTestFakeKeyEvent(display, code, False, CurrentTime);
        XSync(display, False);
    }
    XCloseDisplay(display);
}

}  // namespace
