// How keys are typed on Linux: the way chosen from what the session offers,
// and the keys found for each character in real XKB layouts (the system's
// xkeyboard-config), as the virtual keyboard uses them on Wayland.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wayland-server.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KeyLayout.h"
#include "Keyboard.h"
#include "gnome_input_linux.h"
#include "keyboards_linux.h"
#include "keymap_wayland.h"

namespace {

using platform::Error;
using platform::KeyboardNotice;
using platform::KeyRoute;
using platform::KeyStroke;

TEST(KeyRoute, WaylandGetsTheVirtualKeyboardAndSaysWhyWhenItCannot) {
    struct Case {
        bool waylandDisplay, waylandSession, xDisplay;
        Error uinput;
        KeyRoute route;
        KeyboardNotice notice;
    };
    const Error ok = Error::None, missing = Error::NotFound, refused = Error::AccessDenied;
    for (const Case& c : {
             // X11: XTest, uinput never asked.
             Case{false, false, true, Error::NotSupported, KeyRoute::X11, KeyboardNotice::None},
             // Wayland with Xwayland.
             Case{true, true, true, ok, KeyRoute::Uinput, KeyboardNotice::None},
             Case{true, true, true, missing, KeyRoute::X11, KeyboardNotice::X11OnlyNoUinput},
             Case{true, true, true, refused, KeyRoute::X11, KeyboardNotice::X11OnlyNoAccess},
             Case{true, true, true, Error::Busy, KeyRoute::X11, KeyboardNotice::X11Only},
             // A Wayland session whose compositor is not named: no keymap to ask.
             Case{false, true, true, Error::NotSupported, KeyRoute::X11, KeyboardNotice::X11Only},
             // Wayland without X11.
             Case{true, false, false, ok, KeyRoute::Uinput, KeyboardNotice::None},
             Case{true, false, false, missing, KeyRoute::Nothing, KeyboardNotice::NoUinput},
             Case{true, false, false, refused, KeyRoute::Nothing, KeyboardNotice::NoAccess},
             // Neither.
             Case{false, false, false, Error::NotSupported, KeyRoute::Nothing,
                  KeyboardNotice::NoDisplay},
         }) {
        const platform::KeyChoice choice =
            platform::ChooseKeyRoute({c.waylandDisplay, c.waylandSession, c.xDisplay, c.uinput});
        EXPECT_EQ(choice.route, c.route)
            << c.waylandDisplay << c.waylandSession << c.xDisplay << platform::ErrorText(c.uinput);
        EXPECT_EQ(choice.notice, c.notice)
            << c.waylandDisplay << c.waylandSession << c.xDisplay << platform::ErrorText(c.uinput);
    }
}

TEST(KeyLayout, EachCharacterIsTypedByTheKeyThatCarriesItInTheLayout) {
    struct Case {
        const char* layout;
        const char* variant;
        char key;
        bool capital;
        KeyStroke stroke;
    };
    const bool S = true;  // with Shift
    for (const Case& c : {
             Case{"us", "", '7', false, {KEY_7}},
             Case{"us", "", 'A', true, {KEY_A, S}},
             Case{"us", "", 'A', false, {KEY_A}},
             Case{"us", "", ' ', false, {KEY_SPACE}},
             Case{"us", "", '\r', false, {KEY_ENTER}},
             Case{"us", "", 'm', false, {KEY_KPMINUS}},  // 0x6D, the keypad minus
             // French: digits on the Shift level, A and Q, Z and W swapped, M beside L.
             Case{"fr", "", '7', false, {KEY_7, S}},
             Case{"fr", "", '0', false, {KEY_0, S}},
             Case{"fr", "", 'A', true, {KEY_Q, S}},
             Case{"fr", "", 'Q', true, {KEY_A, S}},
             Case{"fr", "", 'Z', true, {KEY_W, S}},
             Case{"fr", "", 'W', true, {KEY_Z, S}},
             Case{"fr", "", 'M', true, {KEY_SEMICOLON, S}},
             // German: Y and Z swapped, digits plain.
             Case{"de", "", 'Z', true, {KEY_Y, S}},
             Case{"de", "", 'Y', true, {KEY_Z, S}},
             Case{"de", "", '7', false, {KEY_7}},
             // Dvorak: letters elsewhere altogether.
             Case{"us", "dvorak", 'Z', true, {KEY_SLASH, S}},
             Case{"us", "dvorak", 'O', true, {KEY_S, S}},
         }) {
        auto layout = platform::KeyLayout::FromNames(c.layout, c.variant);
        ASSERT_TRUE(layout) << c.layout;
        const std::uint8_t vk = c.key == 'm' ? 0x6D : std::uint8_t(c.key);
        const auto stroke = layout->stroke(vk, c.capital);
        ASSERT_TRUE(stroke) << c.layout << " " << c.key;
        EXPECT_EQ(*stroke, c.stroke) << c.layout << c.variant << " " << c.key << ": key "
                                     << stroke->code << " shift " << stroke->shift;
        EXPECT_EQ(layout->shiftKey(), KEY_LEFTSHIFT);
    }
}

// Which of several layouts is active, a program that is no window is not
// told: a character is typed only by a key that gives it in each that may be.
TEST(KeyLayout, WithSeveralLayoutsOnlyKeysThatAgreeInAllInUseAreUsed) {
    struct Case {
        const char* layouts;
        std::optional<unsigned> inUse;
        char key;
        std::optional<KeyStroke> stroke;
    };
    const bool S = true;
    const std::optional<unsigned> all;
    for (const Case& c : {
             Case{"ru", all, 'A', std::nullopt},  // no Latin letters at all
             Case{"ru", all, '7', KeyStroke{KEY_7}}, Case{"us,ru", all, '7', KeyStroke{KEY_7}},
             Case{"us,ru", all, 'A', std::nullopt}, Case{"us,de", all, 'A', KeyStroke{KEY_A, S}},
             Case{"us,de", all, 'Z', std::nullopt},  // Z here, Y there
             Case{"us,fr", all, '7', std::nullopt},  // Shift there only
             Case{"us,fr", all, 'B', KeyStroke{KEY_B, S}},
             Case{"us,fr", all, '\r', KeyStroke{KEY_ENTER}},
             // GNOME's French keyboard in an English session: the "us" after
             // it is never active.
             Case{"fr,us", 1, '7', KeyStroke{KEY_7, S}}, Case{"fr,us", 1, 'A', KeyStroke{KEY_Q, S}},
             Case{"us,de,us", 2, 'A', KeyStroke{KEY_A, S}}, Case{"us,de,us", 2, 'Z', std::nullopt},
             Case{"fr,us", 0, '7', std::nullopt},  // none in use: all are
             Case{"fr,us", 3, '7', std::nullopt},  // more than there are: all
         }) {
        auto layout = platform::KeyLayout::FromNames(c.layouts, "", c.inUse);
        ASSERT_TRUE(layout) << c.layouts;
        EXPECT_EQ(layout->stroke(std::uint8_t(c.key), true), c.stroke)
            << c.layouts << " " << c.inUse.value_or(99) << " " << c.key;
        EXPECT_EQ(layout->shiftKey(), KEY_LEFTSHIFT) << c.layouts;
    }
    // AltGr is found where the layouts have it.
    EXPECT_EQ(platform::KeyLayout::FromNames("de")->level3Key(), KEY_RIGHTALT);
    EXPECT_EQ(platform::KeyLayout::FromText("not a keymap"), nullptr);
}

// GNOME's shell adds the session language's layout after the user's input
// sources (three at most in a keymap); settings that do not fit the keymap,
// or keys that switch layouts, leave every layout in use.
TEST(GnomeLayoutsInUse, TheAddedLayoutIsLeftOutOnlyWhenTheSettingsFitTheKeymap) {
    struct Case {
        std::size_t sources;
        std::vector<std::string> options;
        unsigned keymapLayouts;
        std::optional<unsigned> inUse;
    };
    const std::optional<unsigned> all;
    for (const Case& c : {
             Case{1, {}, 2, 1u},
             Case{2, {}, 3, 2u},
             Case{3, {"lv3:ralt_switch"}, 4, 3u},
             Case{1, {}, 1, all},  // mutter alone: no layout added
             Case{2, {}, 2, all},  // not the shell's keymap
             Case{0, {}, 2, all},
             Case{1, {"grp:alt_shift_toggle"}, 2, all},
             // Five sources: the keymap holds the three or the two around
             // the active one.
             Case{5, {}, 4, 3u},
             Case{5, {}, 3, 2u},
             Case{5, {}, 2, all},
         }) {
        EXPECT_EQ(platform::GnomeLayoutsInUse({c.sources, c.options}, c.keymapLayouts), c.inUse)
            << c.sources << " sources, " << c.keymapLayouts << " layouts";
    }
}

// Which keys an operator holds keep a reading back on Wayland: the modifiers,
// not the locks' keys nor a letter.
TEST(ModifierKeyDown, OnlyModifiersCount) {
    const auto heldAmong = [](std::initializer_list<int> keys) {
        std::vector<std::uint8_t> bits(KEY_MAX / 8 + 1);
        for (int k : keys)
            bits[std::size_t(k / 8)] |= std::uint8_t(1 << (k % 8));
        return platform::ModifierKeyDown(bits);
    };
    for (int key : {KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTALT,
                    KEY_RIGHTALT, KEY_LEFTMETA, KEY_RIGHTMETA})
        EXPECT_TRUE(heldAmong({KEY_A, key})) << key;
    EXPECT_FALSE(heldAmong({KEY_A, KEY_Z, KEY_CAPSLOCK, KEY_NUMLOCK, KEY_ENTER, KEY_SPACE}));
}

// The keymap arrives as a file the compositor maps for its clients; the size
// it announces is not to be trusted.
TEST(WaylandKeymap, AKeymapFileThatDoesNotHoldTheSizeAnnouncedIsNoKeymap) {
    auto file = [](const std::string& bytes) {
        const int fd = memfd_create("keymap", MFD_CLOEXEC);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        return fd;
    };
    const std::uint32_t xkb = WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1;
    const std::string text = "xkb_keymap { };";
    platform::WaylandKeymap keymap;
    keymap.OnKeymap(xkb, file(text + '\0'), std::uint32_t(text.size() + 1));
    EXPECT_EQ(keymap.text(), text);

    // A page of text with three announced: reading past the file's end.
    keymap.OnKeymap(xkb, file(std::string(4096, 'k')), 3 * 4096);
    EXPECT_EQ(keymap.text(), "");
    keymap.OnKeymap(xkb, file(text), std::uint32_t(text.size()));
    EXPECT_EQ(keymap.text(), text);
    // More than a keymap can be, even where the file holds it all.
    const std::string huge(platform::WaylandKeymap::MaxKeymapBytes + 1, 'k');
    keymap.OnKeymap(xkb, file(huge), std::uint32_t(huge.size()));
    EXPECT_EQ(keymap.text(), "");
    keymap.OnKeymap(WL_KEYBOARD_KEYMAP_FORMAT_NO_KEYMAP, file(text), std::uint32_t(text.size()));
    EXPECT_EQ(keymap.text(), "");
    EXPECT_EQ(keymap.generation(), 2u);
}

// A compositor of the test's own whose seat has a keyboard, but whose first
// client's keyboard never gets a keymap, as GNOME's shell can leave a keyboard
// made while its devices change; later clients get one at once.
class InertFirstKeyboard {
  public:
    InertFirstKeyboard() {
        for (const char* name : {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY"})
            if (const char* value = std::getenv(name))
                saved_.emplace_back(name, value);
        std::filesystem::create_directories(runtime_);
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        display_ = wl_display_create();
        const char* socket = wl_display_add_socket_auto(display_);
        ::setenv("WAYLAND_DISPLAY", socket ? socket : "", 1);
        wl_global_create(display_, &wl_seat_interface, 5, this, Bind);
        thread_ = std::thread([this] {
            wl_event_loop* loop = wl_display_get_event_loop(display_);
            while (!stop_) {
                if (busy_) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                wl_event_loop_dispatch(loop, 20);
                wl_display_flush_clients(display_);
            }
        });
    }
    ~InertFirstKeyboard() {
        stop_ = true;
        thread_.join();
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("XDG_RUNTIME_DIR");
        for (const auto& [name, value] : saved_)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::filesystem::remove_all(runtime_);
    }
    static constexpr const char* Keymap = "xkb_keymap { };";
    // A busy compositor: it answers nothing meanwhile.
    void busy(bool busy) { busy_ = busy; }

  private:
    static void Bind(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
        wl_resource* seat = wl_resource_create(client, &wl_seat_interface, int(version), id);
        static const struct wl_seat_interface seatCalls = {
            [](wl_client*, wl_resource*, std::uint32_t) {},  // get_pointer
            GetKeyboard,
            [](wl_client*, wl_resource*, std::uint32_t) {},  // get_touch
            [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
        };
        wl_resource_set_implementation(seat, &seatCalls, data, nullptr);
        wl_seat_send_capabilities(seat, WL_SEAT_CAPABILITY_KEYBOARD);
    }
    static void GetKeyboard(wl_client* client, wl_resource* seat, std::uint32_t id) {
        auto* self = static_cast<InertFirstKeyboard*>(wl_resource_get_user_data(seat));
        wl_resource* keyboard =
            wl_resource_create(client, &wl_keyboard_interface, wl_resource_get_version(seat), id);
        static const struct wl_keyboard_interface keyboardCalls = {
            [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
        };
        wl_resource_set_implementation(keyboard, &keyboardCalls, nullptr, nullptr);
        if (self->keyboards_++ == 0)
            return;
        const int fd = memfd_create("keymap", MFD_CLOEXEC);
        const std::string text = std::string(Keymap) + '\0';
        if (write(fd, text.data(), text.size()) == ssize_t(text.size()))
            wl_keyboard_send_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                    std::uint32_t(text.size()));
        close(fd);
    }

    std::filesystem::path runtime_ =
        std::filesystem::temp_directory_path() / ("keymap-test-" + std::to_string(getpid()));
    std::vector<std::pair<std::string, std::string>> saved_;
    wl_display* display_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<bool> busy_{false};
    int keyboards_ = 0;  // the compositor's thread's alone
    std::thread thread_;
};

TEST(WaylandKeymap, AConnectionThatAnswersWithoutAKeymapIsReplaced) {
    InertFirstKeyboard compositor;
    platform::WaylandKeymap keymap;
    EXPECT_FALSE(keymap.refresh(1000));  // the first client's keyboard: no keymap
    EXPECT_FALSE(keymap.late());
    // Busy: the connection is kept, and the keymap's absence told as lateness.
    compositor.busy(true);
    EXPECT_FALSE(keymap.refresh(300));
    EXPECT_TRUE(keymap.late());
    compositor.busy(false);
    EXPECT_TRUE(keymap.refresh(1000));
    EXPECT_FALSE(keymap.late());
    EXPECT_EQ(keymap.text(), InertFirstKeyboard::Keymap);
}

}  // namespace
