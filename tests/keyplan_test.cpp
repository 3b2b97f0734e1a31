// The keys and modifiers typed for a reading's keystroke sequence under a
// layout, as the uinput and Windows keyboards press them.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Drv232.h"
#include "KeyPlan.h"

namespace platform {
void PrintTo(const KeyStroke& s, std::ostream* out) {
    *out << "key " << s.code << (s.shift ? " Shift" : "") << (s.level3 ? " AltGr" : "");
}
}  // namespace platform

namespace {

using platform::KeyChange;
using platform::KeyStroke;
using What = KeyChange::What;

// Every event of the sequence through the planner, in order, as text: S for
// Shift, G for AltGr, a key by its code; + pressed, - released.
std::string Plan(const std::vector<KeyEvent>& keys, const platform::StrokeLookup& lookup) {
    platform::KeyPlanner planner;
    std::string text;
    for (const KeyEvent& k : keys) {
        if (k.key == KeyPause)
            continue;
        const auto changes = planner.event(k.key, k.up, lookup);
        if (!changes)
            return text + "no stroke for " + std::to_string(k.key);
        for (const KeyChange& c : *changes) {
            text += c.what == What::Shift    ? "S"
                    : c.what == What::Level3 ? "G"
                                             : std::to_string(c.code);
            text += c.down ? "+ " : "- ";
        }
    }
    return text;
}

// A US layout: every key gives its character, letters with Shift as capitals.
std::optional<KeyStroke> Us(std::uint8_t vk, bool capital) {
    return KeyStroke{vk, capital && vk >= 'A' && vk <= 'Z'};
}

TEST(KeyPlanner, UnderAUsLayoutTheChangesAreTheSequencesOwnEvents) {
    const auto keys = KeySequence(true, true, 7, "09:41:07", "00000A1B2C3D");
    std::string expected;
    for (const KeyEvent& k : keys) {
        if (k.key != KeyPause)
            expected += (k.key == KeyShift ? "S" : std::to_string(k.key)) + (k.up ? "- " : "+ ");
    }
    EXPECT_EQ(Plan(keys, Us), expected);
}

TEST(KeyPlanner, AKeyNeedingOtherModifiersGetsThemAroundItselfOnly) {
    // Digits on the Shift level (French); "Z" made an AltGr key (code 44),
    // "Y" a small letter's key (code 21) whatever Shift says.
    auto layout = [&](std::uint8_t vk, bool capital) -> std::optional<KeyStroke> {
        if (vk >= '0' && vk <= '9')
            return KeyStroke{vk, true};
        if (vk == 'Z')
            return KeyStroke{44, capital, true};
        if (vk == 'Y')
            return KeyStroke{21, false};
        return Us(vk, capital);
    };
    EXPECT_EQ(Plan(KeySequence(false, false, 0, "", "1ZY"), layout),
              "S- S+ 49+ 49- S- "  // "1": Shift around it, though the sequence has none
              "S+ G+ 44+ 44- G- "  // "Z": the sequence's Shift, AltGr around the key
              "S+ S- 21+ 21- S+ "  // "Y": Shift let go around it only
              "S- 13+ 13- S- ");   // Enter
    EXPECT_EQ(Plan(KeySequence(false, false, 0, "", "1Q"),
                   [](std::uint8_t vk, bool capital) {
                       return vk == 'Q' ? std::nullopt : Us(vk, capital);
                   }),
              "S- 49+ 49- S+ no stroke for 81");

    // The release of a key not pressed goes out alone; once reset, nothing is held.
    platform::KeyPlanner planner;
    auto none = [](std::uint8_t, bool) { return std::optional<KeyStroke>(); };
    EXPECT_EQ(planner.event('Q', true, none), std::vector<KeyChange>{});
    ASSERT_TRUE(planner.event('1', false, layout));
    planner.reset();
    EXPECT_EQ(planner.event('1', true, layout), (std::vector<KeyChange>{{What::Key, '1', false}}));
}

TEST(KeyPlanner, WindowsKeyScansGiveTheModifiersWeHold) {
    struct Case {
        std::uint16_t scan;
        std::optional<KeyStroke> stroke;
    };
    for (const Case& c : {
             Case{0x0031, KeyStroke{0x31}}, Case{0x0131, KeyStroke{0x31, true}},
             Case{0x0651, KeyStroke{0x51, false, true}},  // Ctrl+Alt: AltGr
             Case{0x0751, KeyStroke{0x51, true, true}},
             Case{0xFFFF, std::nullopt},  // no key gives it
             Case{0x0231, std::nullopt},  // Ctrl alone
             Case{0x0431, std::nullopt},  // Alt alone
             Case{0x0931, std::nullopt},  // the layout's own modifier (Hankaku)
         }) {
        EXPECT_EQ(platform::StrokeFromKeyScan(c.scan), c.stroke) << std::hex << c.scan;
    }
}

}  // namespace
