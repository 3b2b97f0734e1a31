// Time text, the daily log and the keystroke sequence of a reading.
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <ostream>

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

// The expected events of one reading, written out the long way.
struct Expect {
    std::vector<KeyEvent> events;
    void tap(std::uint8_t k) {
        events.push_back({k, false, 30});
        events.push_back({k, true, 30});
    }
    void separator() {
        for (int i = 0; i < 5; ++i)
            tap(0x20);
    }
    void chip(char c, bool shiftUp) {
        events.push_back({0x10, shiftUp, 0});
        events.push_back({std::uint8_t(c), false, 30});
        events.push_back({std::uint8_t(c), true, 0});
    }
    void ending() {
        events.back().pauseMs += 30;
        events.push_back({0x10, true, 30});
        events.push_back({0x0D, false, 30});
        events.push_back({0x0D, true, 30});
        events.push_back({0x10, true, 0});
    }
};

unsigned TotalMs(const std::vector<KeyEvent>& keys) {
    return std::accumulate(keys.begin(), keys.end(), 0u,
                           [](unsigned sum, const KeyEvent& k) { return sum + k.pauseMs; });
}

TEST(KeySequence, OrderTimeAndCode) {
    Expect e;
    e.tap('7');
    e.separator();
    for (int k : {int('0'), int('9'), 0x6D, int('4'), int('1'), 0x6D, int('0'), int('7')})
        e.tap(std::uint8_t(k));
    e.separator();
    for (char c : std::string("00000A1B2C3D"))
        e.chip(c, c >= '0' && c <= '9');
    e.ending();
    EXPECT_EQ(KeySequence(true, true, 7, "09:41:07", "00000A1B2C3D"), e.events);
}

TEST(KeySequence, CodeAloneTakes480MsAndWithOrderAndTime1800) {
    Expect e;
    for (char c : std::string("00000A1B2C3D"))
        e.chip(c, c >= '0' && c <= '9');
    e.ending();
    const auto alone = KeySequence(false, false, 7, "09:41:07", "00000A1B2C3D");
    EXPECT_EQ(alone, e.events);
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
        {"00000a1b2c3d", "00000A1B2C3D"},   {"abcdefghijklm", "ABCDEFGHIJKLM"},
        {"nopqrstuvwxyz", "NOPQRSTUVWXYZ"}, {std::string("1[\t\x1B\x12.az B", 11), "1AZB"},
        {"@`{a\xE1\xC1Z9", "AZ9"},
    };
    for (const auto& [code, typed] : cases) {
        SCOPED_TRACE(code);
        Expect e;
        for (char c : typed)
            e.chip(c, c >= '0' && c <= '9');
        e.ending();
        EXPECT_EQ(KeySequence(false, false, 0, "", code), e.events);
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
