// The keys and modifiers for the keystroke sequence under a layout.
#include <algorithm>

#include "KeyPlan.h"
#include "Keyboard.h"

namespace platform {

namespace {
constexpr std::uint8_t VkShift = 0x10;
}

std::optional<std::vector<KeyChange>> KeyPlanner::event(std::uint8_t virtualKey, bool up,
                                                        const StrokeLookup& stroke) {
    using What = KeyChange::What;
    if (virtualKey == VkShift) {
        shiftHeld_ = !up;
        return std::vector<KeyChange>{{What::Shift, 0, shiftHeld_}};
    }
    if (up) {
        auto it = std::find_if(held_.begin(), held_.end(),
                               [&](const auto& h) { return h.first == virtualKey; });
        if (it == held_.end()) {
            // Not pressed by us: its release goes out on its own.
            const std::optional<KeyStroke> s = stroke(virtualKey, shiftHeld_);
            return s ? std::vector<KeyChange>{{What::Key, s->code, false}}
                     : std::vector<KeyChange>{};
        }
        const KeyStroke s = it->second;
        held_.erase(it);
        std::vector<KeyChange> changes{{What::Key, s.code, false}};
        if (s.level3)
            changes.push_back({What::Level3, 0, false});
        if (s.shift != shiftHeld_)
            changes.push_back({What::Shift, 0, shiftHeld_});
        return changes;
    }
    const std::optional<KeyStroke> s = stroke(virtualKey, shiftHeld_);
    if (!s)
        return std::nullopt;
    std::vector<KeyChange> changes;
    if (s->shift != shiftHeld_)
        changes.push_back({What::Shift, 0, s->shift});
    if (s->level3)
        changes.push_back({What::Level3, 0, true});
    changes.push_back({What::Key, s->code, true});
    held_.emplace_back(virtualKey, *s);
    return changes;
}

void KeyPlanner::reset() {
    shiftHeld_ = false;
    held_.clear();
}

const std::vector<SequenceKey>& SequenceKeys() {
    static const std::vector<SequenceKey> keys = [] {
        std::vector<SequenceKey> all;
        for (char d = '0'; d <= '9'; ++d)
            all.push_back({std::uint8_t(d), d, d});
        for (char l = 'A'; l <= 'Z'; ++l)
            all.push_back({std::uint8_t(l), char(l - 'A' + 'a'), l});
        all.push_back({0x20, ' ', ' '});
        all.push_back({0x0D, '\r', '\r'});
        all.push_back({0x09, '\t', '\t'});
        all.push_back({0x6D, '-', '-'});
        for (char c = '!'; c <= '~'; ++c)
            if (IsMark(c))
                all.push_back({MarkKey(c), c, c});
        return all;
    }();
    return keys;
}

std::uint32_t KeySymOf(const SequenceKey& key, bool capital) {
    switch (key.virtualKey) {
        case 0x0D:
            return 0xFF0D;  // Return
        case 0x09:
            return 0xFF09;  // Tab
        case 0x6D:
            return 0xFFAD;  // KP_Subtract
        default:
            return static_cast<unsigned char>(capital ? key.capital : key.small);
    }
}

std::optional<KeyStroke> StrokeFromKeyScan(std::uint16_t scan) {
    constexpr std::uint16_t Shift = 0x100, Ctrl = 0x200, Alt = 0x400;
    const std::uint16_t modifiers = scan & 0xFF00;
    const std::uint16_t key = scan & 0xFF;
    if (scan == 0xFFFF || key == 0 || (modifiers & ~(Shift | Ctrl | Alt)) != 0)
        return std::nullopt;
    const bool ctrl = (modifiers & Ctrl) != 0, alt = (modifiers & Alt) != 0;
    if (ctrl != alt)
        return std::nullopt;
    return KeyStroke{key, (modifiers & Shift) != 0, ctrl && alt};
}

}  // namespace platform
