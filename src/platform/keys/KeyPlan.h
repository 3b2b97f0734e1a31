// From the keystroke sequence to the keys of a layout: which key types each
// character, and the Shift and AltGr to hold around it. Shared by the
// keyboards that press keys of their own choosing (the uinput keyboard on
// Linux, SendInput on Windows); standard C++ only.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

// A key (a Linux KEY_* code, or a Windows virtual-key code) and the
// modifiers to hold for it to give its character.
struct KeyStroke {
    std::uint16_t code = 0;
    bool shift = false;
    bool level3 = false;  // AltGr
    bool operator==(const KeyStroke&) const = default;
};

// One change to make to the keyboard: Shift, AltGr or a key pressed or released.
struct KeyChange {
    enum class What : std::uint8_t { Shift, Level3, Key };
    What what;
    std::uint16_t code;  // the key's; 0 for Shift and AltGr
    bool down;
    bool operator==(const KeyChange&) const = default;
};

// A key of the keystroke sequence and the characters it types: the small
// letter, and the capital when Shift is held in the sequence; Enter types
// "\r", Tab "\t", the keypad minus "-" and a mark key its mark.
struct SequenceKey {
    std::uint8_t virtualKey;
    char small;
    char capital;
};

// The sequence's keys: 0-9, A-Z, Space, Enter, Tab, the keypad minus and
// the mark keys of ASCII's punctuation.
const std::vector<SequenceKey>& SequenceKeys();

// The X keysym of a key of the sequence (X11 and xkbcommon share them):
// Latin-1's are the characters' own codes; Enter, Tab and the keypad minus
// have their own.
std::uint32_t KeySymOf(const SequenceKey& key, bool capital);

// The stroke of each key of the sequence under one layout, small letters and
// capitals apart; looked up once, when the layout is met.
class StrokeTable {
  public:
    template <typename Lookup>  // std::optional<KeyStroke>(const SequenceKey&, bool capital)
    explicit StrokeTable(Lookup lookup) {
        for (bool capital : {false, true})
            for (const SequenceKey& key : SequenceKeys())
                strokes_[index(key.virtualKey, capital)] = lookup(key, capital);
    }
    std::optional<KeyStroke> at(std::uint8_t virtualKey, bool capital) const {
        return strokes_[index(virtualKey, capital)];
    }

  private:
    static std::size_t index(std::uint8_t virtualKey, bool capital) {
        return std::size_t(capital) * 256 + virtualKey;
    }
    std::array<std::optional<KeyStroke>, 2 * 256> strokes_{};
};

// The keys a keyboard pressed and has not released yet, in the order pressed:
// what it releases when a reading ends.
class HeldKeys {
  public:
    void note(std::uint16_t code, bool down) {
        const auto at = std::find(keys_.begin(), keys_.end(), code);
        if (!down && at != keys_.end())
            keys_.erase(at);
        else if (down && at == keys_.end())
            keys_.push_back(code);
    }
    bool has(std::uint16_t code) const {
        return std::find(keys_.begin(), keys_.end(), code) != keys_.end();
    }
    const std::vector<std::uint16_t>& keys() const { return keys_; }
    void clear() { keys_.clear(); }

  private:
    std::vector<std::uint16_t> keys_;
};

// The stroke of a key for a virtual-key code of the sequence: 0-9, A-Z (the
// capital when `capital`, else the small letter), or another key of SequenceKeys().
using StrokeLookup = std::function<std::optional<KeyStroke>(std::uint8_t, bool capital)>;

// Plans the events of one reading's keystroke sequence. Shift follows the
// sequence, every one of its Shift events passed on as it is; a key whose
// character needs Shift other than held, or AltGr, gets that modifier around
// itself only. So under a layout where every key gives its character as the
// sequence assumes (US), the changes are the sequence's own events.
class KeyPlanner {
  public:
    // The changes for one event: a virtual-key code pressed or released.
    // Nothing when a pressed key has no stroke (nothing was changed then).
    std::optional<std::vector<KeyChange>> event(std::uint8_t virtualKey, bool up,
                                                const StrokeLookup& stroke);
    // Forgets every key and modifier: the keyboard released them.
    void reset();

  private:
    bool shiftHeld_ = false;
    std::vector<std::pair<std::uint8_t, KeyStroke>> held_;
};

// The stroke in a result of Windows' VkKeyScanEx: the virtual-key code in the
// low byte, the modifiers in the high one (1 Shift, 2 Ctrl, 4 Alt; Ctrl+Alt is
// AltGr). Nothing for "no key" (all bits set) and for what we do not hold:
// Ctrl or Alt alone, and the layout's own modifiers above those.
std::optional<KeyStroke> StrokeFromKeyScan(std::uint16_t scan);

}  // namespace platform
