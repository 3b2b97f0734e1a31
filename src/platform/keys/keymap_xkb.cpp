// Keys for characters, found in an XKB keymap with xkbcommon.
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <vector>

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
struct StateDeleter {
    void operator()(xkb_state* s) const { xkb_state_unref(s); }
};
using ContextPtr = std::unique_ptr<xkb_context, ContextDeleter>;
using KeymapPtr = std::unique_ptr<xkb_keymap, KeymapDeleter>;
using StatePtr = std::unique_ptr<xkb_state, StateDeleter>;

ContextPtr NewContext() {
    return ContextPtr(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
}

}  // namespace

struct KeyLayout::Keymap {
    KeymapPtr map;
    xkb_layout_index_t inUse = 0;  // the first so many layouts may be active
    xkb_mod_mask_t shift = 0;
    xkb_mod_mask_t level3 = 0;

    // The keys that give `sym` in `layout` of the keymap, with the Shift and
    // AltGr to hold for each. A key's own layouts follow the keymap's as its
    // wrapping rule says, which a state with the layout locked applies.
    std::vector<KeyStroke> candidates(xkb_keysym_t sym, xkb_layout_index_t layout) const {
        std::vector<KeyStroke> found;
        xkb_keymap* k = map.get();
        StatePtr state(xkb_state_new(k));
        if (!state)
            return found;
        xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, layout);
        const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(k), LastKey + EvdevOffset);
        for (xkb_keycode_t code = std::max(xkb_keymap_min_keycode(k), EvdevOffset + 1);
             code <= last; ++code) {
            const xkb_layout_index_t keyLayout = xkb_state_key_get_layout(state.get(), code);
            if (keyLayout == XKB_LAYOUT_INVALID)
                continue;
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(k, code, keyLayout);
            for (xkb_level_index_t level = 0; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                if (xkb_keymap_key_get_syms_by_level(k, code, keyLayout, level, &syms) != 1 ||
                    syms[0] != sym)
                    continue;
                xkb_mod_mask_t masks[8];
                const std::size_t n =
                    xkb_keymap_key_get_mods_for_level(k, code, keyLayout, level, masks, 8);
                for (std::size_t i = 0; i < n; ++i) {
                    if (masks[i] & ~(shift | level3))
                        continue;  // Caps Lock, Control, NumLock and the like: not ours to hold
                    const KeyStroke s{std::uint16_t(code - EvdevOffset), (masks[i] & shift) != 0,
                                      (masks[i] & level3) != 0};
                    if (std::find(found.begin(), found.end(), s) == found.end())
                        found.push_back(s);
                }
            }
        }
        return found;
    }

    // The keys that give `sym` whichever layout in use is active: a program
    // that is no window learns nothing of switches between them.
    std::vector<KeyStroke> common(xkb_keysym_t sym) const {
        std::vector<KeyStroke> found = candidates(sym, 0);
        for (xkb_layout_index_t layout = 1; layout < inUse && !found.empty(); ++layout) {
            const std::vector<KeyStroke> there = candidates(sym, layout);
            std::erase_if(found, [&](const KeyStroke& s) {
                return std::find(there.begin(), there.end(), s) == there.end();
            });
        }
        return found;
    }

    // Of those, the one with the fewest of Shift and AltGr (none, Shift,
    // AltGr, both), then the lowest key.
    std::optional<KeyStroke> find(xkb_keysym_t sym) const {
        const std::vector<KeyStroke> found = common(sym);
        auto cost = [](const KeyStroke& s) { return int(s.shift) + 2 * int(s.level3); };
        const auto best =
            std::min_element(found.begin(), found.end(), [&](const auto& a, const auto& b) {
                return cost(a) != cost(b) ? cost(a) < cost(b) : a.code < b.code;
            });
        if (best == found.end())
            return std::nullopt;
        return *best;
    }
};

// Every key is looked up once, when the keymap comes: a reading then only
// reads the table.
KeyLayout::KeyLayout(Keymap& keymap) {
    xkb_keymap* k = keymap.map.get();
    layouts_ = xkb_keymap_num_layouts(k);
    inUse_ = keymap.inUse;
    auto maskOf = [k](const char* name) -> xkb_mod_mask_t {
        const xkb_mod_index_t i = xkb_keymap_mod_get_index(k, name);
        return i == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t(1) << i;
    };
    keymap.shift = maskOf(XKB_MOD_NAME_SHIFT);
    // AltGr is the virtual LevelThree, which keymaps put on Mod5.
    keymap.level3 = maskOf("Mod5") | maskOf("LevelThree");
    // The modifier keys: the usual ones where they carry the modifier in
    // every layout, else any plain key that does (keymaps also put them on
    // keys no keyboard has).
    auto plainKey = [&keymap](xkb_keysym_t sym, std::uint16_t usual) -> std::uint16_t {
        const std::vector<KeyStroke> all = keymap.common(sym);
        if (std::find(all.begin(), all.end(), KeyStroke{usual}) != all.end())
            return usual;
        const auto s = keymap.find(sym);
        return s && !s->shift && !s->level3 ? s->code : 0;
    };
    shiftKey_ = plainKey(XKB_KEY_Shift_L, KEY_LEFTSHIFT);
    level3Key_ = plainKey(XKB_KEY_ISO_Level3_Shift, KEY_RIGHTALT);

    // The keypad minus: the plain one where a layout has no keypad.
    strokes_ = std::make_unique<StrokeTable>([&](const SequenceKey& key, bool capital) {
        const xkb_keysym_t sym = KeySymOf(key, capital);
        std::optional<KeyStroke> s = keymap.find(sym);
        if (!s && sym == XKB_KEY_KP_Subtract)
            s = keymap.find(XKB_KEY_minus);
        if (s && ((s->shift && !shiftKey_) || (s->level3 && !level3Key_)))
            s.reset();
        return s;
    });
}

KeyLayout::~KeyLayout() = default;

std::unique_ptr<KeyLayout> KeyLayout::Make(Keymap& keymap, std::optional<unsigned> inUse) {
    // Asked for none or for more than there are: every layout counts.
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap.map.get());
    keymap.inUse = inUse && *inUse >= 1 && *inUse <= layouts ? *inUse : layouts;
    return std::unique_ptr<KeyLayout>(new KeyLayout(keymap));
}

std::unique_ptr<KeyLayout> KeyLayout::FromText(const std::string& keymap,
                                               std::optional<unsigned> inUse) {
    ContextPtr context = NewContext();
    if (!context)
        return nullptr;
    KeymapPtr map(xkb_keymap_new_from_string(
        context.get(), keymap.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!map)
        return nullptr;
    Keymap compiled{std::move(map)};
    return Make(compiled, inUse);
}

std::unique_ptr<KeyLayout> KeyLayout::FromNames(const char* layout, const char* variant,
                                                std::optional<unsigned> inUse) {
    ContextPtr context = NewContext();
    if (!context)
        return nullptr;
    xkb_rule_names names{};
    names.layout = layout;
    names.variant = variant;
    KeymapPtr map(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!map)
        return nullptr;
    Keymap compiled{std::move(map)};
    return Make(compiled, inUse);
}

std::optional<KeyStroke> KeyLayout::stroke(std::uint8_t vk, bool capital) const {
    return strokes_->at(vk, capital);
}

}  // namespace platform
