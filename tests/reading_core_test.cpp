// Time text, the daily log and the keystroke sequence of a reading.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <numeric>
#include <ostream>
#include <sstream>

#include "Drv232.h"
#include "Global.h"
#include "Keyboard.h"
#include "fakes/FailingFiles.h"
#include "fakes/FakeClock.h"
#include "fakes/ProgramState.h"
#include "fakes/RecordingKeyboard.h"
#include "fakes/TempDir.h"

namespace fs = std::filesystem;

// A failed comparison of key sequences shows the keys, not their bytes.
void PrintTo(const KeyEvent& k, std::ostream* os) {
    *os << "0x" << std::hex << int(k.key) << std::dec << (k.up ? " up " : " down ") << k.pauseMs;
}

namespace {

TEST(TimeText, TwoDigitsOfEveryDateAndTimePart) {
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(5), "05");
    EXPECT_EQ(TwoDigits(59), "59");
    EXPECT_EQ(TwoDigits(2019), "19");
    EXPECT_EQ(TwoDigits(123), "3");
    EXPECT_EQ(TwoDigits(65535), "53");
}

TEST(TimeText, FormatsTheLocalTimeAndNamesTheDaysLog) {
    fakes::FakeClock clock;
    fakes::ClockInUse use(clock);
    const std::string sep(1, char(fs::path::preferred_separator));
    clock.now = {2026, 3, 7, 9, 5, 3, 999};
    EXPECT_EQ(FormatTime(), "09:05:03");
    EXPECT_EQ(LogFileName(), sep + "ZV07D03M.txt");
    clock.now = {2026, 12, 31, 23, 59, 59, 999};
    EXPECT_EQ(FormatTime(), "23:59:59");
    EXPECT_EQ(LogFileName(), sep + "ZV31D12M.txt");
    clock.now = {2027, 1, 1, 0, 0, 0, 0};
    EXPECT_EQ(FormatTime(), "00:00:00");
    EXPECT_EQ(LogFileName(), sep + "ZV01D01M.txt");
}

class DailyLog : public ::testing::Test {
  protected:
    DailyLog() : use(clock) {
        fakes::ResetProgramState();
        platform::UseClock(&clock);
    }
    fakes::TempWorkDir dir;
    fakes::FakeClock clock;
    fakes::ClockInUse use;
};

TEST_F(DailyLog, TheFirstReadingCreatesTheFileAndLaterOnesAppend) {
    ASSERT_TRUE(AppendLog(MakeReading(42, clock.now, "00000A1B2C3D", false)));
    ASSERT_TRUE(AppendLog(MakeReading(43, clock.now, "FFFFFFFFFFFF", false)));
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"),
              "42 09:41:07 00000A1B2C3D\r\n43 09:41:07 FFFFFFFFFFFF\r\n");
}

TEST_F(DailyLog, AReadingAfterMidnightGoesToTheNextDaysFile) {
    ASSERT_TRUE(AppendLog(MakeReading(1, {2026, 12, 31, 23, 59, 59, 0}, "0123456789AB", false)));
    ASSERT_TRUE(AppendLog(MakeReading(2, {2027, 1, 1, 0, 0, 1, 0}, "0123456789AB", false)));
    EXPECT_EQ(fakes::ReadFile("ZV31D12M.txt"), "1 23:59:59 0123456789AB\r\n");
    EXPECT_EQ(fakes::ReadFile("ZV01D01M.txt"), "2 00:00:01 0123456789AB\r\n");
}

TEST_F(DailyLog, ControlCharactersInACodeCannotSplitTheLine) {
    const Reading reading = MakeReading(4294967295u, {2026, 3, 7, 12, 0, 0, 0},
                                        "12\r\n34\x7F\x1B"
                                        "5",
                                        false);
    ASSERT_TRUE(AppendLog(reading));
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"), "4294967295 12:00:00 12??34??5\r\n");
}

TEST_F(DailyLog, ALogThatCannotBeWrittenFails) {
    fs::create_directory("ZV07D03M.txt");
    EXPECT_FALSE(AppendLog(MakeReading(5, clock.now, "0123456789AB", false)));
    EXPECT_TRUE(fs::is_directory("ZV07D03M.txt"));
}

// The log is a journal as the outbox is: its line goes to the disk through
// the one append that flushes it and takes back a line cut short.
TEST_F(DailyLog, ItsLineGoesThroughTheFilesAppend) {
    fakes::FailingFiles files;
    files.failStep = "append";
    platform::UseFiles(&files);
    EXPECT_FALSE(AppendLog(MakeReading(6, clock.now, "0123456789AB", false)));
    platform::UseFiles(nullptr);
    EXPECT_FALSE(fs::exists("ZV07D03M.txt"));
}

TEST(PrintableText, ReplacesControlsAndTheBytesWindows1252LeavesUndefined) {
    EXPECT_EQ(PrintableText(std::string("a\0b\tc\x1F\x7F\x80 ~", 10)), "a?b?c??\x80 ~");
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += char(c);
    const std::string shown = PrintableText(all);
    for (int c = 0; c < 256; ++c) {
        const bool unprintable =
            c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
        EXPECT_EQ(shown[std::size_t(c)], unprintable ? '?' : char(c)) << "byte " << c;
    }
}

// Key events written as "<key><+ down, - up><pause ms, none for 0>": "7+30",
// "Shift-"; keys by their character, or Shift, Enter, Tab, Space, Minus
// (keypad) and Pause (no key); a mark key as % and its mark: "%;+30".
std::vector<KeyEvent> Events(const std::string& text) {
    static const std::map<std::string, std::uint8_t> named = {{"Shift", 0x10}, {"Enter", 0x0D},
                                                              {"Tab", 0x09},   {"Space", 0x20},
                                                              {"Minus", 0x6D}, {"Pause", KeyPause}};
    std::vector<KeyEvent> events;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const bool mark = word[0] == '%';
        const std::size_t sign = word.find_first_of("+-", mark ? 2 : 1);
        const std::string key = word.substr(0, sign);
        const std::string pause = word.substr(sign + 1);
        events.push_back({mark              ? platform::MarkKey(key[1])
                          : key.size() == 1 ? std::uint8_t(key[0])
                                            : named.at(key),
                          word[sign] == '-', pause.empty() ? 0u : unsigned(std::stoul(pause))});
    }
    return events;
}

// A reading's code typed alone, and the keys that end every reading.
const std::string Code00000A1B2C3D =
    "Shift- 0+30 0- Shift- 0+30 0- Shift- 0+30 0- Shift- 0+30 0- Shift- 0+30 0- "
    "Shift+ A+30 A- Shift- 1+30 1- Shift+ B+30 B- Shift- 2+30 2- Shift+ C+30 C- "
    "Shift- 3+30 3- Shift+ D+30 D-30 ";
const std::string Ending = "Shift-30 Enter+30 Enter-30 Shift-";

unsigned TotalMs(const std::vector<KeyEvent>& keys) {
    return std::accumulate(keys.begin(), keys.end(), 0u,
                           [](unsigned sum, const KeyEvent& k) { return sum + k.pauseMs; });
}

TEST(KeySequence, OrderTimeAndCode) {
    const std::string orderAndTime =
        "7+30 7-30 "
        "Space+30 Space-30 Space+30 Space-30 Space+30 Space-30 Space+30 Space-30 Space+30 Space-30 "
        "0+30 0-30 9+30 9-30 Minus+30 Minus-30 4+30 4-30 1+30 1-30 Minus+30 Minus-30 0+30 0-30 "
        "7+30 7-30 "
        "Space+30 Space-30 Space+30 Space-30 Space+30 Space-30 Space+30 Space-30 Space+30 "
        "Space-30 ";
    EXPECT_EQ(KeySequence(true, true, 7, "09:41:07", "00000A1B2C3D"),
              Events(orderAndTime + Code00000A1B2C3D + Ending));
}

TEST(KeySequence, CodeAloneTakes480MsAndWithOrderAndTime1800) {
    const auto alone = KeySequence(false, false, 7, "09:41:07", "00000A1B2C3D");
    EXPECT_EQ(alone, Events(Code00000A1B2C3D + Ending));
    EXPECT_EQ(TotalMs(alone), 480u);
    EXPECT_EQ(TotalMs(KeySequence(true, true, 1234, "09:41:07", "00000A1B2C3D")), 1800u);
    // The longest reading: a ten-digit order, the time and 14 characters.
    EXPECT_EQ(TotalMs(KeySequence(true, true, 4294967295u, "23:59:59", "0123456789ABCD")), 2220u);
}

TEST(KeySequence, AnEightCharacterDemoCodeIsEightKeys) {
    const auto keys = KeySequence(false, false, 0, "", "00C0FFEE");
    const auto pressed = std::count_if(keys.begin(), keys.end(), [](const KeyEvent& k) {
        return !k.up && k.key != 0x10 && k.key != 0x0D;
    });
    EXPECT_EQ(pressed, 8);
}

TEST(KeySequence, LettersAreTypedAsCapitalsAndOtherBytesAreNeverPressed) {
    // "[" is the left Windows key, 0x09 Tab, 0x1B Escape, 0x12 Alt, "." Delete;
    // "@", "`" and "{" border the letters; 0xE1 is a letter in a Windows code page.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"00000a1b2c3d", Code00000A1B2C3D},
        {"abcdefghijklm",
         "Shift+ A+30 A- Shift+ B+30 B- Shift+ C+30 C- Shift+ D+30 D- Shift+ E+30 E- "
         "Shift+ F+30 F- Shift+ G+30 G- Shift+ H+30 H- Shift+ I+30 I- Shift+ J+30 J- "
         "Shift+ K+30 K- Shift+ L+30 L- Shift+ M+30 M-30 "},
        {"nopqrstuvwxyz",
         "Shift+ N+30 N- Shift+ O+30 O- Shift+ P+30 P- Shift+ Q+30 Q- Shift+ R+30 R- "
         "Shift+ S+30 S- Shift+ T+30 T- Shift+ U+30 U- Shift+ V+30 V- Shift+ W+30 W- "
         "Shift+ X+30 X- Shift+ Y+30 Y- Shift+ Z+30 Z-30 "},
        {std::string("1[\t\x1B\x12.az B", 11),
         "Shift- 1+30 1- Shift+ A+30 A- Shift+ Z+30 Z- Shift+ B+30 B-30 "},
        {"@`{a\xE1\xC1Z9", "Shift+ A+30 A- Shift+ Z+30 Z- Shift- 9+30 9-30 "},
    };
    for (const auto& [code, typed] : cases) {
        SCOPED_TRACE(code);
        EXPECT_EQ(KeySequence(false, false, 0, "", code), Events(typed + Ending));
    }
}

TEST(KeySequence, TheEndingKeepsItsFirstPauseWhenNoKeyCameBefore) {
    const std::vector<KeyEvent> ending = {{KeyPause, false, 30},
                                          {0x10, true, 30},
                                          {0x0D, false, 30},
                                          {0x0D, true, 30},
                                          {0x10, true, 0}};
    EXPECT_EQ(KeySequence(false, false, 0, "", ""), ending);
    EXPECT_EQ(KeySequence(false, false, 0, "", "\t.\x1B"), ending);
}

TEST(KeySequence, TheSitesTypingRules) {
    using T = TypingRules;
    const struct {
        const char* name;
        bool withOrder;
        TypingRules rules;
        std::string keys;
    } cases[] = {
        {"Tab between and after, at 10 ms",
         true,
         {T::End::Tab, T::Separator::Tab, "", "", T::Code::Hex, 0, 10},
         "7+10 7-10 Tab+10 Tab-10 "
         "Shift+ A+10 A- Shift- 1+10 1-10 Shift-10 Tab+10 Tab-10 Shift-"},
        {"a prefix and a suffix, as written; no end key",
         false,
         {T::End::None, T::Separator::Spaces, "Id-", "; x", T::Code::Hex, 0, 30},
         "Shift+ I+30 I- Shift- D+30 D- Shift- %-+30 %-- "
         "Shift+ A+30 A- Shift- 1+30 1- "
         "Shift- %;+30 %;- Shift- Space+30 Space- Shift- X+30 X-30 Shift-30"},
        {"a prefix ending in a capital lets Shift go before the order",
         true,
         {T::End::Enter, T::Separator::Spaces, "N", "", T::Code::Hex, 0, 5},
         "Shift+ N+5 N- Shift- 7+5 7-5 Space+5 Space-5 Space+5 Space-5 Space+5 Space-5 "
         "Space+5 Space-5 Space+5 Space-5 "
         "Shift+ A+5 A- Shift- 1+5 1-5 Shift-5 Enter+5 Enter-5 Shift-"},
        {"decimal: 0xA1 is 161, to a width of 5",
         false,
         {T::End::Enter, T::Separator::Spaces, "", "", T::Code::Decimal, 5, 30},
         "Shift- 0+30 0- Shift- 0+30 0- Shift- 1+30 1- Shift- 6+30 6- Shift- 1+30 1-30 "
         "Shift-30 Enter+30 Enter-30 Shift-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KeySequence(c.withOrder, false, 7, "09:41:07", "A1", c.rules), Events(c.keys));
    }
    // With the code in decimal, a code that is no number gives no keys at all.
    const TypingRules decimal{.code = T::Code::Decimal};
    EXPECT_TRUE(KeySequence(true, true, 7, "09:41:07", "A1?", decimal).empty());
    // The 1800 ms reading at any pace: 60 pauses.
    for (unsigned pace : {10u, 30u, 60u})
        EXPECT_EQ(TotalMs(KeySequence(true, true, 1234, "09:41:07", "00000A1B2C3D",
                                      {.keyPauseMs = pace})),
                  60 * pace);
}

TEST(DecimalCode, TheCodeAsOneHexadecimalNumber) {
    const struct {
        const char* code;
        unsigned width;
        std::optional<std::string> decimal;
    } cases[] = {
        {"00000A1B2C3D", 15, "000000169552957"},
        {"0123456789abcdef", 0, "81985529216486895"},
        {"FFFFFFFFFFFFFFFF", 20, "18446744073709551615"},
        {"FFFF", 2, "65535"},  // never cut to the width
        {"0", 0, "0"},
        {"00", 3, "000"},
        {"", 0, std::nullopt},
        {"1G", 0, std::nullopt},
        {"12 4", 0, std::nullopt},
        {"10000000000000000", 0, std::nullopt},  // 17 digits: more than 64 bits
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecimalCode(c.code, c.width), c.decimal) << c.code;
}

class Typing : public ::testing::Test {
  protected:
    Typing() : use(clock) {
        fakes::ResetProgramState();
        platform::UseClock(&clock);
        platform::UseKeyboard(&keyboard);
    }
    ~Typing() override { platform::UseKeyboard(nullptr); }
    fakes::FakeClock clock;
    fakes::ClockInUse use;
    fakes::RecordingKeyboard keyboard;
};

TEST_F(Typing, PlaysTheSequenceWithItsPauses) {
    const Reading reading{.order = 1234, .time = "09:41:07", .code = "00000A1B2C3D"};
    ASSERT_EQ(TypeReading(reading, true, true), TypingResult::Typed);
    const auto expected = KeySequence(true, true, 1234, "09:41:07", "00000A1B2C3D");
    ASSERT_EQ(keyboard.keys.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(keyboard.keys[i].first, expected[i].key) << i;
        EXPECT_EQ(keyboard.keys[i].second, expected[i].up) << i;
    }
    EXPECT_EQ(std::accumulate(clock.sleeps.begin(), clock.sleeps.end(), 0u), 1800u);
    EXPECT_EQ(keyboard.ends, 1);
}

TEST_F(Typing, ACodeWithoutKeysIsStillEndedWithThePausesOfTheEnding) {
    ASSERT_EQ(TypeReading({.code = "\t\x1B"}, false, false), TypingResult::Typed);
    using Keys = std::vector<std::pair<std::uint8_t, bool>>;
    EXPECT_EQ(keyboard.keys, (Keys{{0x10, true}, {0x0D, false}, {0x0D, true}, {0x10, true}}));
    EXPECT_EQ(std::accumulate(clock.sleeps.begin(), clock.sleeps.end(), 0u), 120u);
}

TEST_F(Typing, ReportsWhenNothingCanBeTypedOrTypingBreaksOff) {
    const Reading reading{.code = "0123456789AB"};
    keyboard.available = false;
    EXPECT_EQ(TypeReading(reading, false, false), TypingResult::NoDisplay);
    EXPECT_TRUE(keyboard.keys.empty());
    keyboard.available = true;
    keyboard.takes = 0;
    EXPECT_EQ(TypeReading(reading, false, false), TypingResult::Refused);
    EXPECT_TRUE(keyboard.keys.empty());
    keyboard.takes = 5;
    EXPECT_EQ(TypeReading(reading, false, false), TypingResult::BrokenOff);
    EXPECT_EQ(keyboard.keys.size(), 5u);
    EXPECT_EQ(keyboard.ends, 2) << "keys still down are released";
    keyboard.keys.clear();
    keyboard.takes = -1;
    keyboard.barred = true;
    EXPECT_EQ(TypeReading(reading, false, false), TypingResult::Barred);
    EXPECT_TRUE(keyboard.keys.empty());
    EXPECT_EQ(keyboard.ends, 3);
}

TEST_F(Typing, WaitsBeforeTheFirstKeyForAHeldModifierToBeLetGo) {
    const Reading reading{.code = "00000A1B2C3D"};
    keyboard.heldFor = 10;
    ASSERT_EQ(TypeReading(reading, false, false), TypingResult::Typed);
    EXPECT_EQ(keyboard.heldAsked, std::vector<std::size_t>(11, 0u));
    EXPECT_EQ(keyboard.locksAsked, std::vector<std::size_t>{0u}) << "after the wait";
    EXPECT_EQ(keyboard.keys.size(), KeySequence(false, false, 0, "", "00000A1B2C3D").size());
    EXPECT_EQ(std::accumulate(clock.sleeps.begin(), clock.sleeps.end(), 0u), 300u + 480u);
}

TEST_F(Typing, NothingIsTypedWhileAModifierIsHeldThroughoutOrTheLockIsUnknown) {
    const Reading reading{.code = "00000A1B2C3D"};
    keyboard.heldFor = 1000;
    EXPECT_EQ(TypeReading(reading, false, false), TypingResult::KeyHeld);
    EXPECT_EQ(std::accumulate(clock.sleeps.begin(), clock.sleeps.end(), 0u), HeldKeyWaitMs);
    EXPECT_TRUE(keyboard.locksAsked.empty());
    keyboard.heldFor = 0;
    keyboard.lockKnown = false;
    EXPECT_EQ(TypeReading(reading, false, false), TypingResult::LockUnknown);
    EXPECT_TRUE(keyboard.keys.empty());
    EXPECT_EQ(keyboard.ends, 2);
}

TEST(KeysBarred, AWindowOfHigherIntegrityOrUnreadableRightsTakesNoKeysFromUs) {
    using platform::KeyboardNotice;
    using platform::ProcessRights;
    const ProcessRights unknown{};
    const ProcessRights medium{true, false, 0x2000};
    const ProcessRights high{true, true, 0x3000};
    const ProcessRights system{true, false, 0x4000};
    const ProcessRights low{true, false, 0x1000};
    const ProcessRights elevatedNoLabel{true, true, 0};  // its label not to be read
    const ProcessRights noLevels{true, false, 0};        // a system without integrity levels
    struct Case {
        ProcessRights ours, target;
        KeyboardNotice barred;
    };
    for (const Case& c : {
             Case{medium, medium, KeyboardNotice::None},
             Case{medium, low, KeyboardNotice::None},
             Case{medium, high, KeyboardNotice::TargetElevated},
             Case{medium, system, KeyboardNotice::TargetElevated},
             Case{low, medium, KeyboardNotice::TargetElevated},
             Case{medium, elevatedNoLabel, KeyboardNotice::TargetElevated},
             Case{high, high, KeyboardNotice::None},
             Case{high, medium, KeyboardNotice::None},
             Case{high, system, KeyboardNotice::TargetElevated},
             // Another user's program, whose token we may not read.
             Case{medium, unknown, KeyboardNotice::TargetRightsUnknown},
             Case{high, unknown, KeyboardNotice::None},
             // Nothing known of ours, or no integrity levels: as ever.
             Case{unknown, high, KeyboardNotice::None},
             Case{noLevels, unknown, KeyboardNotice::None},
             Case{noLevels, noLevels, KeyboardNotice::None},
         }) {
        EXPECT_EQ(platform::KeysBarred(c.ours, c.target), c.barred)
            << std::hex << c.ours.integrity << " " << c.ours.known << " to " << c.target.integrity
            << " " << c.target.known;
    }
}

}  // namespace
