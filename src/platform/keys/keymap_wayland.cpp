// A Wayland client of its own, with no surface: it binds the seat's keyboard
// only to be sent the compositor's keymap. Only the thread that types uses it.
#include "keymap_wayland.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint32_t SeatVersion = 5;

void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t version) {
    static_cast<WaylandKeymap*>(data)->OnGlobal(registry, name, interface, version);
}
void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener RegistryListener{Global, GlobalRemove};

void Capabilities(void* data, wl_seat*, std::uint32_t capabilities) {
    static_cast<WaylandKeymap*>(data)->OnCapabilities(capabilities);
}
void SeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener SeatListener{Capabilities, SeatName};

void Keymap(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
    static_cast<WaylandKeymap*>(data)->OnKeymap(format, fd, size);
}
void Enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void Leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void Key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
// Sent to the focused client only, which this one never is.
void Modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
               std::uint32_t) {}
void RepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener KeyboardListener{Keymap, Enter, Leave, Key, Modifiers, RepeatInfo};

void Done(void* data, wl_callback*, std::uint32_t) {
    *static_cast<bool*>(data) = true;
}
const wl_callback_listener CallbackListener{Done};

void ReleaseKeyboard(wl_keyboard* keyboard) {
    if (keyboard && wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(keyboard);
    else if (keyboard)
        wl_keyboard_destroy(keyboard);
}

}  // namespace

WaylandKeymap::~WaylandKeymap() {
    disconnect();
}

void WaylandKeymap::OnGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                             std::uint32_t version) {
    if (seat_ || std::strcmp(interface, wl_seat_interface.name) != 0)
        return;
    seat_ = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, SeatVersion)));
    wl_seat_add_listener(seat_, &SeatListener, this);
}

void WaylandKeymap::OnCapabilities(std::uint32_t capabilities) {
    const bool has = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    if (has && !keyboard_) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &KeyboardListener, this);
    } else if (!has && keyboard_) {
        ReleaseKeyboard(keyboard_);
        keyboard_ = nullptr;
        text_.clear();
    }
}

void WaylandKeymap::OnKeymap(std::uint32_t format, int fd, std::uint32_t size) {
    // Whatever the compositor sent last is the keymap: one that cannot be
    // read leaves none, rather than the one before it.
    text_.clear();
    // The file must hold the size announced: reading a mapping beyond the
    // end of its file kills the program (SIGBUS).
    struct stat st {};
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && size <= MaxKeymapBytes &&
        fstat(fd, &st) == 0 && st.st_size >= off_t(size)) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char* text = static_cast<const char*>(map);
            text_.assign(text, strnlen(text, size));
            ++generation_;
            munmap(map, size);
        }
    }
    close(fd);
}

WaylandKeymap::Answer WaylandKeymap::roundtrip(int timeoutMs) {
    bool done = false;
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &CallbackListener, &done);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    Answer answer = Answer::Broken;
    while (wl_display_dispatch_pending(display_) >= 0) {
        if (done) {
            answer = Answer::Done;
            break;
        }
        if (wl_display_prepare_read(display_) != 0)
            continue;  // more events queued: dispatch those first
        wl_display_flush(display_);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{wl_display_get_fd(display_), POLLIN, 0};
        const int ready = left.count() > 0 ? poll(&p, 1, int(left.count())) : 0;
        if (ready <= 0) {
            wl_display_cancel_read(display_);
            if (ready < 0 && errno == EINTR)
                continue;
            answer = ready == 0 ? Answer::TimedOut : Answer::Broken;
            break;
        }
        if (wl_display_read_events(display_) < 0)
            break;
    }
    wl_callback_destroy(callback);
    return wl_display_get_error(display_) != 0 ? Answer::Broken : answer;
}

bool WaylandKeymap::connect(int timeoutMs) {
    display_ = wl_display_connect(nullptr);
    if (!display_)
        return false;
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &RegistryListener, this);
    // The globals; then the seat's capabilities; then the keyboard's keymap.
    for (int i = 0; i < 3; ++i) {
        const Answer answer = roundtrip(timeoutMs / 3);
        if (answer == Answer::Broken)
            return false;
        late_ = late_ || answer == Answer::TimedOut;
    }
    return true;
}

void WaylandKeymap::disconnect() {
    ReleaseKeyboard(keyboard_);
    if (seat_ && wl_seat_get_version(seat_) >= WL_SEAT_RELEASE_SINCE_VERSION)
        wl_seat_release(seat_);
    else if (seat_)
        wl_seat_destroy(seat_);
    if (registry_)
        wl_registry_destroy(registry_);
    if (display_)
        wl_display_disconnect(display_);
    keyboard_ = nullptr;
    seat_ = nullptr;
    registry_ = nullptr;
    display_ = nullptr;
    text_.clear();
}

bool WaylandKeymap::refresh(int timeoutMs) {
    // Only a connection that broke, or on which the compositor answers but
    // has given no keymap, is given up: connecting again to a compositor that
    // hangs would pile connections up in its queue. (GNOME's shell can leave
    // a keyboard made while its devices change without a keymap; a new
    // connection gets one at once.)
    late_ = false;
    if (display_) {
        const Answer answer = roundtrip(timeoutMs);
        late_ = answer == Answer::TimedOut;
        if (answer == Answer::Broken || (answer == Answer::Done && text_.empty()))
            disconnect();
    }
    if (!display_ && !connect(timeoutMs))
        disconnect();
    return !text_.empty();
}

void WaylandKeymap::renew(int timeoutMs) {
    disconnect();
    if (!connect(timeoutMs))
        disconnect();
}

}  // namespace platform
