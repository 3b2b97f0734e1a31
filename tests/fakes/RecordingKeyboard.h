// A keyboard that writes down the keys instead of pressing them; with
// `available` clear it is one that cannot type at all, with `takes` set it
// takes that many key events and refuses the rest, with `barred` set the
// window in front takes none, with `held` set the operator holds a modifier
// (with `heldFor`, for that many questions), with `lockKnown` clear its locks
// cannot be read; `said` is what it tells of itself.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Keyboard.h"

namespace fakes {

class RecordingKeyboard final : public platform::Keyboard {
  public:
    bool available = true;
    int takes = -1;
    platform::KeyboardNotice said = platform::KeyboardNotice::None;
    int begins = 0;
    int prepares = 0;
    std::uint8_t cannotType = 0;  // a key it has not
    bool barred = false;          // the window in front would drop its keys
    bool held = false;            // a modifier is held down
    int heldFor = 0;              // how many more times it says one is held
    bool lockKnown = true;        // Caps Lock's state can be known
    int ends = 0;
    std::vector<std::pair<std::uint8_t, bool>> keys;  // key, released
    // The number of keys already typed when each was asked.
    std::vector<std::size_t> heldAsked, locksAsked;

    platform::Error begin() override {
        ++begins;
        return available ? platform::Error::None : platform::Error::NotSupported;
    }
    platform::Error key(std::uint8_t virtualKey, bool up) override {
        if (takes >= 0 && int(keys.size()) >= takes)
            return platform::Error::Other;
        keys.emplace_back(virtualKey, up);
        return platform::Error::None;
    }
    void end() override { ++ends; }
    platform::KeyboardNotice notice() const override { return said; }
    bool canType(std::uint8_t virtualKey) override { return virtualKey != cannotType; }
    bool targetTakesKeys() override { return !barred; }
    bool modifierHeld() override {
        heldAsked.push_back(keys.size());
        return held || heldFor-- > 0;
    }
    bool releaseLocks() override {
        locksAsked.push_back(keys.size());
        return lockKnown;
    }
    void prepare() override { ++prepares; }

    // What the keys pressed would put into a text field under a US layout:
    // letters as capitals with Shift held and small without, digits, space,
    // Tab, a mark key's mark, the keypad minus as "-", Enter as a line break;
    // any other key shows as "?".
    std::string typedText() const {
        std::string text;
        bool shift = false;
        for (const auto& [k, up] : keys) {
            if (k == 0x10)
                shift = !up;
            if (up || k == 0x10)
                continue;
            if (k >= 'A' && k <= 'Z')
                text += shift ? char(k) : char(k - 'A' + 'a');
            else if ((k >= '0' && k <= '9') || k == 0x20 || k == 0x09)
                text += char(k);
            else if (k > 0xA0 && k < 0xFF && platform::IsMark(char(k - 0x80)))
                text += char(k - 0x80);
            else if (k == 0x6D)
                text += '-';
            else if (k == 0x0D)
                text += '\n';
            else
                text += '?';
        }
        return text;
    }
    // The keys pressed and not released again.
    std::vector<std::uint8_t> keysStillDown() const {
        std::vector<std::uint8_t> down;
        for (const auto& [k, up] : keys) {
            std::erase(down, k);
            if (!up)
                down.push_back(k);
        }
        return down;
    }
};

}  // namespace fakes
