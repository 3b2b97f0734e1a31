// A window of the X server of DISPLAY that has the keyboard focus, and the
// text the keys typed into it give, decoded as an application decodes them.
// Include it after the program's headers: X11 defines None.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#undef None

namespace fakes {

// A test suite with an X server of its own (Server: PrivateXServer or
// LayoutXServer), started before its first test and ended after its last.
template <class Server>
class XServerSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        XInitThreads();
        server = new Server;
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    static inline Server* server = nullptr;
};

class KeyWindow {
  public:
    KeyWindow() {
        display_ = XOpenDisplay(nullptr);
        if (!display_)
            return;
        window_ =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(display_, window_, KeyPressMask | StructureNotifyMask);
        XMapWindow(display_, window_);
        for (XEvent e;;) {
            XNextEvent(display_, &e);
            if (e.type == MapNotify)
                break;
        }
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }
    ~KeyWindow() {
        if (display_)
            XCloseDisplay(display_);
    }
    KeyWindow(const KeyWindow&) = delete;
    KeyWindow& operator=(const KeyWindow&) = delete;

    Display* display() const { return display_; }

    // Takes the keys that have arrived into `text`, without waiting; true
    // once Enter came, which ends the text as "\n".
    bool take(std::string& text) {
        while (XPending(display_)) {
            XEvent e;
            XNextEvent(display_, &e);
            if (e.type != KeyPress)
                continue;
            char buffer[8];
            KeySym sym;
            int n = XLookupString(&e.xkey, buffer, sizeof buffer, &sym, nullptr);
            if (sym == XK_Return) {
                text += "\n";
                return true;
            }
            text.append(buffer, std::size_t(n));
        }
        return false;
    }

    // The text received, up to and including the first Enter.
    std::string received() {
        std::string text;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            if (take(text))
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return text + "<no Enter>";
    }

    // A key still down, or a modifier (Shift) still in force in the XKB state
    // other than by a lock (Caps Lock).
    bool anyKeyDown() { return AnyKeyDown(display_); }
    static bool AnyKeyDown(Display* display) {
        char keys[32];
        XQueryKeymap(display, keys);
        for (char k : keys)
            if (k)
                return true;
        XkbStateRec state{};
        return XkbGetState(display, XkbUseCoreKbd, &state) != Success ||
               (state.base_mods | state.latched_mods) != 0;
    }

  private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

}  // namespace fakes
