// Keys for characters, found in an XKB keymap with xkbcommon.
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>

#include "KeyLayout.h"

namespace platform {

namespace {

// XKB numbers keys as the Linux input layer does, plus 8.
constexpr xkb_keycode_t EvdevOffset = 8;
// The keys a virtual keyboard declares: the keyboard keys, not the buttons.
constexpr xkb_keycode_t LastKey = 247;

struct ContextDeleter {
    void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
using ContextPtr = std::unique_ptr<xkb_context, ContextDeleter>;
using KeymapPtr = std::unique_ptr<xkb_keymap, KeymapDeleter>;

ContextPtr NewContext() {
    return ContextPtr(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
}

}  // namespace

struct KeyLayout::Keymap {
    KeymapPtr map;
    xkb_mod_mask_t shift = 0;
    xkb_mod_mask_t level3 = 0;

    // The key that gives `sym` with the fewest of Shift and AltGr, by level:
    // none first, then Shift, AltGr, both; the lowest key among equals.
    std::optional<KeyStroke> find(xkb_keysym_t sym, unsigned group) const {
        std::optional<KeyStroke> best;
        int bestCost = 0;
        xkb_keymap* k = map.get();
        const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(k), LastKey + EvdevOffset);
        for (xkb_keycode_t code = std::max(xkb_keymap_min_keycode(k), EvdevOffset + 1);
             code <= last; ++code) {
            const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(k, code);
            if (layouts == 0)
                continue;
            const xkb_layout_index_t layout = group % layouts;
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(k, code, layout);
            for (xkb_level_index_t level = 0; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                if (xkb_keymap_key_get_syms_by_level(k, code, layout, level, &syms) != 1 ||
                    syms[0] != sym)
                    continue;
                xkb_mod_mask_t masks[8];
                const std::size_t n =
                    xkb_keymap_key_get_mods_for_level(k, code, layout, level, masks, 8);
                for (std::size_t i = 0; i < n; ++i) {
                    if (masks[i] & ~(shift | level3))
                        continue;  // Caps Lock, Control, NumLock and the like: not ours to hold
                    const bool needShift = masks[i] & shift;
                    const bool needLevel3 = masks[i] & level3;
                    const int cost = int(needShift) + 2 * int(needLevel3);
                    if (!best || cost < bestCost) {
                        bestCost = cost;
                        best = KeyStroke{std::uint16_t(code - EvdevOffset), needShift, needLevel3};
                    }
                }
            }
        }
        return best;
    }
};

KeyLayout::KeyLayout(Keymap* keymap) : keymap_(keymap) {
    xkb_keymap* k = keymap_->map.get();
    auto maskOf = [k](const char* name) -> xkb_mod_mask_t {
        const xkb_mod_index_t i = xkb_keymap_mod_get_index(k, name);
        return i == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t(1) << i;
    };
    keymap_->shift = maskOf(XKB_MOD_NAME_SHIFT);
    // AltGr is the virtual LevelThree, which keymaps put on Mod5.
    keymap_->level3 = maskOf("Mod5") | maskOf("LevelThree");
    // The modifier keys: the usual ones where they carry the modifier, else
    // any plain key of the first layout that does (keymaps also put it on
    // keys no keyboard has).
    auto plainKey = [this, k](xkb_keysym_t sym, std::uint16_t usual) -> std::uint16_t {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(k, usual + EvdevOffset, 0, 0, &syms) == 1 &&
            syms[0] == sym)
            return usual;
        const auto s = keymap_->find(sym, 0);
        return s && !s->shift && !s->level3 ? s->code : 0;
    };
    shiftKey_ = plainKey(XKB_KEY_Shift_L, KEY_LEFTSHIFT);
    level3Key_ = plainKey(XKB_KEY_ISO_Level3_Shift, KEY_RIGHTALT);
}

KeyLayout::~KeyLayout() = default;

std::unique_ptr<KeyLayout> KeyLayout::FromText(const std::string& keymap) {
    ContextPtr context = NewContext();
    if (!context)
        return nullptr;
    KeymapPtr map(xkb_keymap_new_from_string(
        context.get(), keymap.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!map)
        return nullptr;
    return std::unique_ptr<KeyLayout>(new KeyLayout(new Keymap{std::move(map)}));
}

std::unique_ptr<KeyLayout> KeyLayout::FromNames(const char* layout, const char* variant) {
    ContextPtr context = NewContext();
    if (!context)
        return nullptr;
    xkb_rule_names names{};
    names.layout = layout;
    names.variant = variant;
    KeymapPtr map(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!map)
        return nullptr;
    return std::unique_ptr<KeyLayout>(new KeyLayout(new Keymap{std::move(map)}));
}

std::optional<KeyStroke> KeyLayout::stroke(std::uint8_t vk, bool capital, unsigned group) const {
    std::optional<KeyStroke> s;
    if (vk >= '0' && vk <= '9')
        s = keymap_->find(XKB_KEY_0 + (vk - '0'), group);
    else if (vk >= 'A' && vk <= 'Z')
        s = keymap_->find((capital ? XKB_KEY_A : XKB_KEY_a) + (vk - 'A'), group);
    else if (vk == 0x20)
        s = keymap_->find(XKB_KEY_space, group);
    else if (vk == 0x0D)
        s = keymap_->find(XKB_KEY_Return, group);
    else if (vk == 0x6D) {
        s = keymap_->find(XKB_KEY_KP_Subtract, group);
        if (!s)
            s = keymap_->find(XKB_KEY_minus, group);
    }
    if (s && ((s->shift && !shiftKey_) || (s->level3 && !level3Key_)))
        return std::nullopt;
    return s;
}

bool KeyLayout::complete(unsigned group) const {
    auto has = [&](std::uint8_t first, std::uint8_t last, bool capital) {
        for (unsigned vk = first; vk <= last; ++vk)
            if (!stroke(std::uint8_t(vk), capital, group))
                return false;
        return true;
    };
    return has('0', '9', false) && has('A', 'Z', true) && has(0x20, 0x20, false) &&
           has(0x0D, 0x0D, false) && has(0x6D, 0x6D, false);
}

}  // namespace platform
