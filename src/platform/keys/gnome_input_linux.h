// GNOME's shell builds the keymap it hands out from the user's input sources,
// three at most at a time, and adds the layout of the session's language
// after them, which it never makes active: a French keyboard in an English
// session is "fr,us" with "fr" locked. Whichever of the user's layouts is
// active a program that is no window is not told; the added one it can leave
// out.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// What GNOME's input settings (org.gnome.desktop.input-sources) say.
struct GnomeInputSettings {
    std::size_t sources = 0;  // the input sources, of any kind
    std::vector<std::string> xkbOptions;
};

// How many of the keymap's layouts, from the first, may be active under those
// settings: nothing when any may (settings that do not fit the keymap, or an
// option that switches layouts with keys, which can reach the added one).
std::optional<unsigned> GnomeLayoutsInUse(const GnomeInputSettings& settings,
                                          unsigned keymapLayouts);

// The settings, when the session is GNOME's (XDG_CURRENT_DESKTOP) and they
// can be read; one for the thread that types.
class GnomeInput {
  public:
    GnomeInput();
    GnomeInput(const GnomeInput&) = delete;
    GnomeInput& operator=(const GnomeInput&) = delete;
    ~GnomeInput();

    std::optional<GnomeInputSettings> read();

  private:
    struct Gio;
    std::unique_ptr<Gio> gio_;
    bool looked_ = false;
    void* settings_ = nullptr;  // a GSettings
};

}  // namespace platform
