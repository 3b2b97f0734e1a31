// A keyboard layout as a Wayland compositor hands it out (an XKB keymap), and
// the keys in it that type the characters of a reading: a key types a
// character only under a keymap, and layouts put them in different places
// (French needs Shift for digits; German swaps Y and Z).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "KeyPlan.h"

namespace platform {

class KeyLayout {
  public:
    // From the text of a keymap; null when it does not compile. `inUse`:
    // only the first so many of its layouts can be active (GNOME adds one
    // it never makes active); all when not given.
    static std::unique_ptr<KeyLayout> FromText(const std::string& keymap,
                                               std::optional<unsigned> inUse = std::nullopt);
    // From layout and variant names ("fr", "de", "us" "dvorak"), as the
    // system's XKB rules make them.
    static std::unique_ptr<KeyLayout> FromNames(const char* layout, const char* variant = "",
                                                std::optional<unsigned> inUse = std::nullopt);
    // The layouts of the keymap, and of those the ones that count.
    unsigned layouts() const { return layouts_; }
    unsigned layoutsInUse() const { return inUse_; }
    ~KeyLayout();

    // The key (KEY_* of linux/input-event-codes.h) for a Windows virtual-key
    // code of the keystroke sequence: 0-9, A-Z (the capital when `capital`,
    // else the small letter), Space, Enter and the keypad minus (the plain
    // minus where a layout has no keypad).
    // With several layouts in use, the key must give the character in each:
    // which one is active, a program that is no window is not told.
    // Nothing when no key that Shift and AltGr reach gives it.
    std::optional<KeyStroke> stroke(std::uint8_t virtualKey, bool capital) const;
    // The keys that hold Shift and AltGr; 0 when the layout has none.
    std::uint16_t shiftKey() const { return shiftKey_; }
    std::uint16_t level3Key() const { return level3Key_; }

  private:
    struct Keymap;
    explicit KeyLayout(Keymap& keymap);
    static std::unique_ptr<KeyLayout> Make(Keymap& keymap, std::optional<unsigned> inUse);
    unsigned layouts_ = 0;
    unsigned inUse_ = 0;
    std::uint16_t shiftKey_ = 0;
    std::uint16_t level3Key_ = 0;
    std::unique_ptr<StrokeTable> strokes_;
};

}  // namespace platform
