// The keymap a Wayland compositor gives its clients' keyboards, kept up to
// date: compositors send it again when the layout changes.
#pragma once

#include <cstdint>
#include <string>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_keyboard;

namespace platform {

class WaylandKeymap {
  public:
    // A keymap is a few tens of kilobytes; anything announced larger is
    // taken for a bad one.
    static constexpr std::uint32_t MaxKeymapBytes = 1024 * 1024;

    WaylandKeymap() = default;
    WaylandKeymap(const WaylandKeymap&) = delete;
    WaylandKeymap& operator=(const WaylandKeymap&) = delete;
    ~WaylandKeymap();

    // Connects to WAYLAND_DISPLAY when not connected (again after the
    // compositor went away) and takes in what it sent since; waits at most
    // about `timeoutMs` in all. A compositor that is slow to answer keeps
    // its connection, and the keymap it sent last stands. False when there
    // is no keymap to be had.
    bool refresh(int timeoutMs);
    // A new connection, whatever the old one had.
    void renew(int timeoutMs);
    // Whether the compositor left some asking of the last refresh unanswered
    // in its time: it is busy, not without a keymap.
    bool late() const { return late_; }
    const std::string& text() const { return text_; }
    // Counts the keymaps received, so a caller sees a change. The text is
    // empty when the last one the compositor sent could not be read.
    std::uint64_t generation() const { return generation_; }

    // For the listeners.
    void OnGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                  std::uint32_t version);
    void OnCapabilities(std::uint32_t capabilities);
    void OnKeymap(std::uint32_t format, int fd, std::uint32_t size);

  private:
    bool connect(int timeoutMs);
    void disconnect();
    enum class Answer { Done, TimedOut, Broken };
    // Until the compositor answered all asked before.
    Answer roundtrip(int timeoutMs);

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    std::string text_;
    std::uint64_t generation_ = 0;
    bool late_ = false;
};

}  // namespace platform
