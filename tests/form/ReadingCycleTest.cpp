// The reading cycle: a chip presented to the simulated reader becomes a
// numbered, time-stamped reading that is listed or typed, logged, announced
// and followed by the LED-off command.
#include <filesystem>
#include <string>
#include <vector>

#include "Drv232.h"
#include "FormTest.h"
#include "Publishing.h"
#include "ReaderSimulator.h"
#include "ReadingList.h"
#include "fakes/TempDir.h"

namespace {

using formtest::DefaultSettings;
using formtest::Row;
using formtest::Strings;
using Requests = std::vector<std::string>;

const std::string Connected = "Connected device ZEVO1234 on port COM29";
const char* const TodaysLog = "ZV07D03M.txt";

sim::Faults BadRepliesOnly(bool badFirst) {
    sim::Faults f;
    f.repliesOnly = true;
    f.badFirst = badFirst;
    f.badLast = !badFirst;
    return f;
}

class ReadingCycle : public formtest::FormTest {
  protected:
    static TReaderSettings With(void (*change)(TReaderSettings&)) {
        TReaderSettings s = DefaultSettings();
        change(s);
        return s;
    }
};

TEST_F(ReadingCycle, APresentedChipIsReadByTheTimerAndListed) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    const Color designed = window.statusColor();
    window.setStatusColor(RepeatReadBarColor);
    window.setTimerInterval(Timer::Timer1, 333);
    window.startTimer(Timer::Timer1);

    reader->presentChip("0123456789ABCDEF");
    ASSERT_TRUE(loop.runUntil([] { return RunningOrder == 1; }));

    EXPECT_EQ(form.ReadRow(0), "1       09:41:07      0123456789AB");
    EXPECT_EQ(form.ReadRow(1), "");
    EXPECT_EQ(DisplayRow, 1);
    EXPECT_EQ(FieldText(), "1");
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 1u);
    EXPECT_EQ(TimeText.str(), "09:41:07");
    EXPECT_EQ(window.statusColor(), designed);
    EXPECT_EQ(Status(), Connected) << "a reading leaves the status line";
    // The lamp was painted lit at once, before the blocking steps.
    EXPECT_EQ(window.paintedNow, std::vector<Control>{Control::Image2});
    // The defaults: a beep and the LED turned off.
    EXPECT_EQ(sound.beeps, 1);
    EXPECT_TRUE(reader->waitForRequests(2, 5000));
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r"}));
    EXPECT_TRUE(LampOff());
    EXPECT_TRUE(window.timerActive(Timer::Timer1));
    EXPECT_FALSE(std::filesystem::exists(TodaysLog));
    EXPECT_TRUE(keyboard.keys.empty());
}

TEST_F(ReadingCycle, TheTimerRunsAgainAfterEveryTick) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    auto tick = [&] {
        window.stopTimer(Timer::Timer1);
        form.Timer1Timer();
        EXPECT_TRUE(window.timerActive(Timer::Timer1));
    };
    // No chip: nothing happens, silently.
    tick();
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(Status(), Connected);
    EXPECT_EQ(sound.beeps, 0);

    // A frame that does not start with "A" is no reading either.
    reader->sendRaw("B0123456789ABCD\r");
    ASSERT_TRUE(reader->waitIdle(5000));
    tick();
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(form.ReadRow(0), "");

    // A reading whose LED-off command fails.
    reader->setFaults(BadRepliesOnly(false));
    reader->presentChip("0123456789ABCDEF");
    ASSERT_TRUE(reader->waitIdle(5000));
    tick();
    EXPECT_EQ(RunningOrder, 1u);
}

TEST_F(ReadingCycle, WithSaveOnDiskEachReadingIsAppendedToTheDaysLog) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader(With([](TReaderSettings& s) {
        s.SaveOnDisk = true;
        s.CrcDigits = true;
        s.OrderNumber = 9;
    })));
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    // The last reading of the day: midnight passes while it is recorded.
    clock.now = {2026, 3, 7, 23, 59, 59, 999};
    clock.later = {{2026, 3, 8, 0, 0, 0, 0}};
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D4E5F"));
    EXPECT_FALSE(std::filesystem::exists("ZV08D03M.txt"))
        << "a reading of 23:59:59 in the next day's log";
    EXPECT_EQ(fakes::ReadFile(TodaysLog),
              "10 09:41:07 0123456789ABCD\r\n11 23:59:59 00000A1B2C3D4E\r\n");
    EXPECT_EQ(form.ReadRow(1), Row(11, "23:59:59", "00000A1B2C3D4E"));

    // After midnight the next day's log.
    clock.now = {2026, 3, 8, 0, 0, 1, 0};
    ASSERT_NO_FATAL_FAILURE(ReadChip("FFFFFFFFFFFFFFFF"));
    EXPECT_EQ(fakes::ReadFile("ZV08D03M.txt"), "12 00:00:01 FFFFFFFFFFFFFF\r\n");
    EXPECT_EQ(Status(), Connected);
}

TEST_F(ReadingCycle, AChipPresentedDuringTheLedOffCommandIsTheNextReading) {
    // Fast work: the next chip touches the reader while the reading's LED-off
    // waits for its reply, so its frame reaches the line first.
    ASSERT_NO_FATAL_FAILURE(StartWithReader(With([](TReaderSettings& s) { s.SaveOnDisk = true; })));
    window.setTimerInterval(Timer::Timer1, 333);
    window.startTimer(Timer::Timer1);
    reader->presentChip("0123456789ABCDEF");
    reader->presentChipDuringNextRequest("000A71B2C3D4E5");
    ASSERT_TRUE(loop.runUntil([&] { return RunningOrder == 2 && reader->requests().size() == 3; }));
    loop.runFor(1000);

    EXPECT_EQ(Rows()[0], Row(1, "09:41:07", "0123456789AB"));
    EXPECT_EQ(Rows()[1], Row(2, "09:41:07", "000A71B2C3D4"));
    EXPECT_EQ(Rows()[2], "");
    EXPECT_EQ(fakes::ReadFile(TodaysLog), "1 09:41:07 0123456789AB\r\n2 09:41:07 000A71B2C3D4\r\n");
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r", "QZ\r"}));
    EXPECT_EQ(Status(), Connected) << "the LED-off got its own reply";
    EXPECT_TRUE(LampOff());
}

struct LedCase {
    const char* name;
    bool autoLedOff;
    bool lightFirst;  // the operator pressed "Light up LED" before the reading
    Requests requests;
    bool lampOnAfter;
};

void PrintTo(const LedCase& c, std::ostream* os) {
    *os << c.name;
}

class LedAfterAReading : public ReadingCycle, public ::testing::WithParamInterface<LedCase> {};

TEST_P(LedAfterAReading, IsTurnedOffOnlyWithAutoLedOff) {
    const LedCase& c = GetParam();
    TReaderSettings settings = DefaultSettings();
    settings.AutoLedOff = c.autoLedOff;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    if (c.lightFirst) {
        Click(Control::BitBtn3);
        ASSERT_TRUE(LampOn());
    }
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_TRUE(reader->waitForRequests(c.requests.size(), 5000));
    EXPECT_EQ(reader->requests(), c.requests);
    EXPECT_EQ(LampOn(), c.lampOnAfter);
    EXPECT_EQ(LampOff(), !c.lampOnAfter);
    EXPECT_EQ(RunningOrder, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    ReadingCycle, LedAfterAReading,
    ::testing::Values(LedCase{"AutoLedOff", true, false, {"QI\r", "QZ\r"}, false},
                      LedCase{"LitThenAutoLedOff", true, true, {"QI\r", "QR\r", "QZ\r"}, false},
                      LedCase{"NoAutoLedOff", false, false, {"QI\r"}, true},
                      LedCase{"LitAndNoAutoLedOff", false, true, {"QI\r", "QR\r"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadingCycle, FailuresOfTheLogAndTheLedAreShownAndTheReadingStillCounts) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader(With([](TReaderSettings& s) { s.SaveOnDisk = true; })));
    std::filesystem::create_directory(TodaysLog);
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(Status(), "Error saving data");
    EXPECT_EQ(RunningOrder, 1u);
    EXPECT_EQ(form.ReadRow(0), Row(1, "09:41:07", "0123456789AB"));
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r"}));
    EXPECT_TRUE(LampOff());

    // Both failures in one reading: the log's text first, then the LED's.
    reader->setFaults(BadRepliesOnly(true));
    window.statuses.clear();
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(window.statuses, (Strings{"Error saving data", "Error when LED goes off"}));
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_TRUE(LampOn());
    EXPECT_EQ(form.ReadRow(1), Row(2, "09:41:07", "0123456789AB"));
    EXPECT_EQ(sound.beeps, 2);
}

TEST_F(ReadingCycle, TheOrderNumberWrapsFromTheLargestToZero) {
    ASSERT_NO_FATAL_FAILURE(
        StartWithReader(With([](TReaderSettings& s) { s.OrderNumber = 4294967295u; })));
    ASSERT_EQ(FieldText(), "4294967295");
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 0u);
    EXPECT_EQ(FieldText(), "0");
    EXPECT_EQ(form.ReadRow(0), "0       09:41:07      0123456789AB");
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(form.ReadRow(1), Row(1, "09:41:07", "0123456789AB"));
}

TEST_F(ReadingCycle, TheOrderFieldFollowsTheReadingsEvenWhileBeingEdited) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    window.moveFocus(Control::Edit1);
    window.type(Control::Edit1, "12");
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(FieldText(), "1");
    EXPECT_EQ(RunningOrder, 1u);
}

TEST_F(ReadingCycle, ASoundSignalForEveryReadingOnlyWhenChecked) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    ASSERT_TRUE(window.checked(Control::CheckBox7));
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(sound.beeps, 2);
    form.Timer1Timer();  // no chip, no beep
    EXPECT_EQ(sound.beeps, 2);

    Click(Control::CheckBox7);
    ASSERT_FALSE(Settings.SoundSignal);
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(RunningOrder, 3u);
    EXPECT_EQ(sound.beeps, 2);
}

TEST_F(ReadingCycle, BytesFromTheReaderFollowOneRuleInTheListTheLogTheStatusAndTheCaption) {
    TReaderSettings settings = DefaultSettings();
    settings.SaveOnDisk = true;
    reader = &AddReader(29, "\x80<\x01>");
    ASSERT_NO_FATAL_FAILURE(Start(settings));
    // Windows-1252 characters as such, controls and undefined bytes as "?"
    // (a chip frame has no control byte: it would be no frame).
    EXPECT_EQ(window.caption(), "Chip Reader ZEVO\xE2\x82\xAC<?>");
    EXPECT_EQ(Status(), "Connected device ZEVO\xE2\x82\xAC<?> on port COM29");

    ASSERT_NO_FATAL_FAILURE(
        ReadChip("<b>\x80\x81\x9F\x9D\xED"
                 "01234567"));
    const std::string shown =
        "<b>\xE2\x82\xAC?\xC5\xB8?\xC3\xAD"
        "0123";
    EXPECT_EQ(form.ReadRow(0), Row(1, "09:41:07", shown));
    EXPECT_EQ(fakes::ReadFile(TodaysLog),
              "1 09:41:07 <b>\x80?\x9F?\xED"
              "0123\r\n");
    Click(Control::BitBtn5);  // the repeat read shows the same code the same way
    EXPECT_EQ(Status(), shown);
    EXPECT_EQ(window.lineCount(), 31);
}

// ---- Chip code to keyboard ----

struct TypingCase {
    bool order, time;
    const char* typed;
};

void PrintTo(const TypingCase& c, std::ostream* os) {
    *os << "order " << c.order << " time " << c.time;
}

class TypedReading : public ReadingCycle, public ::testing::WithParamInterface<TypingCase> {};

TEST_P(TypedReading, IsCountedLoggedAndTypedButNotListed) {
    const TypingCase& c = GetParam();
    TReaderSettings settings = DefaultSettings();
    settings.ChipToKeyboard = true;
    settings.OrderToKeyboard = c.order;
    settings.TimeToKeyboard = c.time;
    settings.SaveOnDisk = true;
    settings.OrderNumber = 6;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    form.WriteRow(0, "typed by hand");
    const Strings rows = Rows();

    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));

    EXPECT_EQ(keyboard.typedText(), c.typed);
    EXPECT_TRUE(keyboard.keysStillDown().empty());
    EXPECT_EQ(keyboard.begins, 1);
    EXPECT_EQ(keyboard.ends, 1);
    EXPECT_EQ(RunningOrder, 7u);
    EXPECT_EQ(FieldText(), "7");
    EXPECT_EQ(fakes::ReadFile(TodaysLog), "7 09:41:07 0123456789AB\r\n");
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(DisplayRow, 0);
    EXPECT_EQ(sound.beeps, 1);
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r"}));
    EXPECT_EQ(Status(), Connected);
}

INSTANTIATE_TEST_SUITE_P(ReadingCycle, TypedReading,
                         ::testing::Values(TypingCase{false, false, "0123456789AB\n"},
                                           TypingCase{true, false, "7     0123456789AB\n"},
                                           TypingCase{false, true, "09-41-07     0123456789AB\n"},
                                           TypingCase{true, true,
                                                      "7     09-41-07     0123456789AB\n"}));

TEST_F(ReadingCycle, WhenKeysCannotBeTypedTheStatusSaysSoOnceAndReadingsGoOn) {
    TReaderSettings settings = DefaultSettings();
    settings.ChipToKeyboard = true;
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    keyboard.available = false;
    const std::string cannot = "Chip codes cannot be typed here: no display to type into";

    for (int i = 0; i < 3; ++i)
        ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));

    EXPECT_EQ(std::count(window.statuses.begin(), window.statuses.end(), cannot), 1);
    EXPECT_EQ(Status(), cannot);
    EXPECT_EQ(keyboard.begins, 3);
    EXPECT_TRUE(keyboard.keys.empty());
    EXPECT_EQ(RunningOrder, 3u);
    EXPECT_EQ(fakes::ReadFile(TodaysLog),
              "1 09:41:07 0123456789AB\r\n"
              "2 09:41:07 0123456789AB\r\n"
              "3 09:41:07 0123456789AB\r\n");
    EXPECT_EQ(sound.beeps, 3);
    EXPECT_EQ(form.ReadRow(0), "");
}

TEST_F(ReadingCycle, TheStatusLineSaysWhatBecameOfEachTypedReading) {
    TReaderSettings settings = DefaultSettings();
    settings.ChipToKeyboard = true;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    using platform::KeyboardNotice;
    const std::string x11Only = "Wayland session: typed chip codes reach X11 programs only";
    const std::string noAccess =
        "Wayland session: chip codes reach X11 programs only (no access to /dev/uinput: join "
        "the group chipreader)";
    const std::string noKeymap =
        "Chip codes not typed: the desktop's keyboard layout could not be read";
    const std::string lacksKeys =
        "Chip code not typed: no key gives some of its characters in every keyboard layout";
    const std::string refused = "Chip code not typed: the system refused the keys";
    const std::string brokenOff =
        "Chip code typing broke off part-way: check the reading where it was typed";
    const std::string elevated = "Chip code not typed: the window in front runs as administrator";
    const std::string rightsUnknown =
        "Chip code not typed: the window in front runs as administrator or as another user";

    // What the keyboard tells of itself is said once, and again when it changes.
    window.statuses.clear();
    for (KeyboardNotice said :
         {KeyboardNotice::X11Only, KeyboardNotice::X11Only, KeyboardNotice::X11OnlyNoAccess,
          KeyboardNotice::X11OnlyNoAccess, KeyboardNotice::None, KeyboardNotice::NoKeymap,
          KeyboardNotice::NoKeymap}) {
        keyboard.said = said;
        keyboard.available = said != KeyboardNotice::NoKeymap;
        ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    }
    // A character without a key: nothing of the reading is typed.
    keyboard.available = true;
    keyboard.said = KeyboardNotice::LayoutLacksKeys;
    keyboard.cannotType = 'B';
    keyboard.keys.clear();
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_TRUE(keyboard.keys.empty());
    EXPECT_EQ(window.statuses, (Strings{x11Only, noAccess, noKeymap, lacksKeys}));
    keyboard.said = KeyboardNotice::None;
    keyboard.cannotType = 0;

    // Refused or broken off: said at every reading it happens to.
    window.statuses.clear();
    for (int takes : {0, 0, 5, 5}) {
        keyboard.keys.clear();
        keyboard.takes = takes;
        ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    }
    EXPECT_EQ(window.statuses, (Strings{refused, refused, brokenOff, brokenOff}));
    EXPECT_EQ(keyboard.ends, 10) << "every typing that began ended, its keys released";
    EXPECT_EQ(RunningOrder, 12u);

    // A window in front that would drop the keys without a word: nothing
    // typed, said at every reading; a notice said once is said again after.
    window.statuses.clear();
    keyboard.keys.clear();
    keyboard.takes = -1;
    keyboard.barred = true;
    for (KeyboardNotice said : {KeyboardNotice::TargetElevated, KeyboardNotice::TargetElevated,
                                KeyboardNotice::TargetRightsUnknown}) {
        keyboard.said = said;
        ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    }
    EXPECT_TRUE(keyboard.keys.empty());
    keyboard.barred = false;
    keyboard.said = KeyboardNotice::X11Only;
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(keyboard.typedText(), "0123456789AB\n");
    EXPECT_EQ(window.statuses, (Strings{elevated, elevated, rightsUnknown, x11Only}));
    EXPECT_EQ(RunningOrder, 16u);

    // A key held down throughout: said at every reading; Caps Lock's state
    // unknown: said once, like a layout without a key.
    // Standard error keeps every reading not typed, with why.
    window.statuses.clear();
    keyboard.keys.clear();
    keyboard.held = true;
    testing::internal::CaptureStderr();
    for (int i = 0; i < 2; ++i)
        ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    keyboard.held = false;
    keyboard.lockKnown = false;
    keyboard.said = KeyboardNotice::LockUnknown;
    for (int i = 0; i < 2; ++i)
        ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_TRUE(keyboard.keys.empty());
    const std::string held = "Chip code not typed: a key is held down";
    const std::string lock = "Chip code not typed: whether Caps Lock is on could not be read";
    EXPECT_EQ(window.statuses, (Strings{held, held, lock}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Reading 17, 0123456789AB: " + held + "\nReading 18, 0123456789AB: " + held +
                  "\nReading 19, 0123456789AB: " + lock + "\nReading 20, 0123456789AB: " + lock +
                  "\n");
}

// ---- Readings while an error box is open ----

TEST_F(ReadingCycle, ReadingsGoOnWhileAnErrorBoxIsOpen) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    window.setTimerInterval(Timer::Timer1, 10);
    window.startTimer(Timer::Timer1);
    std::uint32_t presented = 0;
    window.answer = [&](std::string_view) {
        if (RunningOrder == 2)
            return true;
        if (presented == RunningOrder) {
            reader->presentChip(presented == 0 ? "000000000001" : "000000000002");
            ++presented;
        }
        return false;
    };

    const std::string text = "abc";
    LeaveOrderField(&text);

    EXPECT_EQ(window.errors, Strings{"Bad number format"});
    EXPECT_FALSE(window.gaveUp) << "no readings came while the box was open";
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_EQ(form.ReadRow(0), Row(1, "09:41:07", "000000000001"));
    EXPECT_EQ(form.ReadRow(1), Row(2, "09:41:07", "000000000002"));
    EXPECT_TRUE(window.timerActive(Timer::Timer1));
}

// ---- The list on the window ----

TEST_F(ReadingCycle, TheListScrollsAfterThirtyOneReadings) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    auto code = [](int n) { return "0000000000" + std::to_string(10 + n); };
    for (int n = 1; n <= 30; ++n) {
        ChipCode = code(n);
        form.RecordReading(ReadingFrom::Reader);
    }
    // The 31st through the reader.
    ASSERT_NO_FATAL_FAILURE(ReadChip(code(31) + "00"));
    ASSERT_EQ(RunningOrder, 31u);
    EXPECT_EQ(DisplayRow, 30);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(form.ReadRow(i), Row(std::uint32_t(i + 2), "09:41:07", code(i + 2)))
            << "row " << i;
    EXPECT_EQ(form.ReadRow(30), "");

    ChipCode = code(32);
    form.RecordReading(ReadingFrom::Reader);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(form.ReadRow(i), Row(std::uint32_t(i + 3), "09:41:07", code(i + 3)))
            << "row " << i;
    EXPECT_EQ(form.ReadRow(30), "");
    EXPECT_EQ(window.lineCount(), 31);
}

TEST_F(ReadingCycle, RowsKeepTheOperatorsTextWholeAndNeverBreak) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    // Typed by the operator, then moved up by the scrolling: kept as it is.
    window.lines[1] = "caf\xC3\xA9 \xE2\x82\xAC 12";
    form.WriteRow(2,
                  "a\nb\xE2\x80\xA8"
                  "c");
    EXPECT_EQ(form.ReadRow(2), "a?b?c");
    DisplayRow = 30;
    ChipCode = "000000000001";
    form.RecordReading(ReadingFrom::Reader);
    EXPECT_EQ(form.ReadRow(0), "caf\xC3\xA9 \xE2\x82\xAC 12");
    EXPECT_EQ(window.lineCount(), 31);
}

}  // namespace

namespace {

// The publishing as the form sees it: what it was handed, with keys down then.
struct HandedOver final : site::Publishing {
    const std::vector<std::pair<std::uint8_t, bool>>* keys = nullptr;
    std::vector<site::PublishedReading> readings;
    std::size_t keysBefore = 0;
    void recorded(const site::PublishedReading& r) override {
        readings.push_back(r);
        keysBefore += keys->size();
    }
};

TEST_F(ReadingCycle, EachReadingListedTypedOrDemoIsHandedToThePublishingAndANoticeGivesWay) {
    HandedOver published;
    published.keys = &keyboard.keys;
    site::UsePublishing(&published);
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    form.SetMark(Control::CheckBox1, true);  // typed, no longer listed
    ASSERT_NO_FATAL_FAILURE(ReadChip("FEDCBA9876543210"));
    ASSERT_EQ(published.readings.size(), 2u);
    const site::PublishedReading& listed = published.readings[0];
    EXPECT_EQ(listed.order, 1u);
    EXPECT_EQ(listed.code, "0123456789AB");
    EXPECT_FALSE(listed.demo);
    EXPECT_EQ(listed.reader, "1234");
    EXPECT_EQ(listed.port, "COM29");
    EXPECT_EQ((std::vector<int>{listed.at.hour, listed.at.minute, listed.at.second}),
              (std::vector<int>{9, 41, 7}));
    EXPECT_EQ(published.readings[1].order, 2u);
    EXPECT_EQ(published.readings[1].code, "FEDCBA987654");
    EXPECT_EQ(published.keysBefore, 0u);  // in the outbox before its keys

    // A notice hides the program's text for a while, and gives it back;
    // a text of the program's own meanwhile wins at once and stays.
    form.SiteNotice("Publishing: readings held back, the broker cannot be reached");
    EXPECT_EQ(Status(), "Publishing: readings held back, the broker cannot be reached");
    form.SiteNotice({});
    EXPECT_EQ(Status(), Connected);
    form.SiteNotice("Publishing: the held readings are sent");
    Click(Control::BitBtn1);
    EXPECT_EQ(Status(), "Reader blocked");
    form.SiteNotice({});
    EXPECT_EQ(Status(), "Reader blocked");

    // The demo's readings are marked, without a reader or a port.
    ClosePort();
    form.Timer2Timer();
    ASSERT_EQ(published.readings.size(), 3u);
    EXPECT_TRUE(published.readings[2].demo);
    EXPECT_EQ(published.readings[2].reader, "");
    EXPECT_EQ(published.readings[2].port, "");
    site::UsePublishing(nullptr);
}

// The site's rules: a chip read again within repeat_within_s of the last
// reading is none (on the monotonic clock: inside the window, at its end,
// past it); the readings typed as the site wants them, in the demo as well.
TEST_F(ReadingCycle, TheSitesRepeatWindowAndTypingRules) {
    HandedOver published;
    published.keys = &keyboard.keys;
    site::UsePublishing(&published);
    form.UseSiteRules({.repeatWithinS = 2});
    TReaderSettings settings = DefaultSettings();
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    const std::uint64_t start = clock.monotonic;
    const struct {
        std::uint64_t atMs;
        const char* chip;
        std::uint32_t order;  // after it
    } steps[] = {
        {0, "0123456789ABCDEF", 1},    {1000, "0123456789ABCDEF", 1}, {2000, "0123456789ABCDEF", 1},
        {2001, "0123456789ABCDEF", 2}, {2002, "FEDCBA9876543210", 3}, {2003, "0123456789ABCDEF", 4},
    };
    for (const auto& step : steps) {
        clock.monotonic = start + step.atMs;
        const auto said = window.statuses.size();
        ASSERT_NO_FATAL_FAILURE(ReadChip(step.chip));
        EXPECT_EQ(RunningOrder, step.order) << step.atMs;
        const bool again = window.statuses.size() > said &&
                           window.statuses.back() == "Same chip again: not counted";
        EXPECT_EQ(again, step.atMs == 1000 || step.atMs == 2000) << step.atMs;
    }
    EXPECT_EQ(published.readings.size(), 4u);
    EXPECT_EQ(sound.beeps, 4);
    ASSERT_TRUE(reader->waitForRequests(7, 5000));
    const Requests requests = reader->requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "QZ\r"), 6)
        << "the LED goes off for a chip read again too";
    EXPECT_EQ(fakes::ReadFile(TodaysLog),
              "1 09:41:07 0123456789AB\r\n2 09:41:07 0123456789AB\r\n"
              "3 09:41:07 FEDCBA987654\r\n4 09:41:07 0123456789AB\r\n");
    EXPECT_EQ(form.ReadRow(4), "");

    // Typed: the site's prefix, Tab and the code in decimal; a code that is
    // no number, a prefix no key gives and a refused site file type nothing.
    form.SetMark(Control::CheckBox1, true);
    using T = TypingRules;
    form.UseSiteRules({.typing = {.end = T::End::Tab, .prefix = "n:", .code = T::Code::Decimal}});
    clock.monotonic += 5000;
    ASSERT_NO_FATAL_FAILURE(ReadChip("0000000000FFEDCB"));
    EXPECT_EQ(keyboard.typedText(), "n:255\t");
    ClosePort();
    form.Timer2Timer();  // the demo's reading: eight hexadecimal digits
    EXPECT_EQ(keyboard.typedText(),
              "n:255\tn:" +
                  std::to_string(std::stoul(published.readings.back().code, nullptr, 16)) + "\t");
    keyboard.keys.clear();
    ChipCode = std::string_view("0000000000ZZ");
    form.RecordReading(ReadingFrom::Reader);
    EXPECT_EQ(Status(), "Chip code not typed: it is no hexadecimal number, to be typed in decimal");
    keyboard.cannotType = platform::MarkKey(':');
    keyboard.said = platform::KeyboardNotice::LayoutLacksKeys;
    ChipCode = std::string_view("0000000000AB");
    form.RecordReading(ReadingFrom::Reader);
    EXPECT_EQ(Status(),
              "Chip code not typed: no key gives some of its characters in every keyboard layout");
    form.UseSiteRules({.typingRefused = true});
    form.RecordReading(ReadingFrom::Reader);
    EXPECT_EQ(Status(), "Chip code not typed: site.ini sets the typing but is refused");
    EXPECT_TRUE(keyboard.keys.empty());
    EXPECT_EQ(RunningOrder, 9u);
    site::UsePublishing(nullptr);
}

// A chip the reader sent whole while a command waited is a reading however
// the port goes: recorded (and typed) when the line hangs up before a poll
// took it; at End logged and handed on, not typed: the focus is on our window.
TEST_F(ReadingCycle, AChipKeptDuringACommandIsRecordedWhenTheLineGoesAndAtEnd) {
    HandedOver published;
    published.keys = &keyboard.keys;
    site::UsePublishing(&published);
    TReaderSettings settings = DefaultSettings();
    settings.SaveOnDisk = true;
    settings.ChipToKeyboard = true;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    reader->presentChipDuringNextRequest("0100000000000000");
    Click(Control::BitBtn3);
    ASSERT_EQ(KeptChips.size(), 1u);
    reader->unplug();
    Click(Control::BitBtn1);  // fails: the line is gone
    form.Timer1Timer();
    EXPECT_EQ(RunningOrder, 1u);
    EXPECT_EQ(keyboard.typedText(), "010000000000\n");
    EXPECT_EQ(Status(), "Reader on COM29 lost: waiting for it to come back");

    std::string error;
    ASSERT_TRUE(reader->replug(error)) << error;
    form.Timer3Timer();
    ASSERT_EQ(Status(), Connected);
    reader->presentChipDuringNextRequest("0200000000000000");
    Click(Control::BitBtn4);
    ASSERT_EQ(KeptChips.size(), 1u);
    Click(Control::BitBtn7);
    EXPECT_TRUE(window.closed);
    EXPECT_EQ(keyboard.typedText(), "010000000000\n");
    EXPECT_EQ(fakes::ReadFile(TodaysLog), "1 09:41:07 010000000000\r\n2 09:41:07 020000000000\r\n");
    ASSERT_EQ(published.readings.size(), 2u);
    EXPECT_EQ(published.readings[1].order, 2u);
    EXPECT_EQ(published.readings[1].code, "020000000000");
    EXPECT_EQ(Settings.OrderNumber, 2u) << "End saves the order number after it";
    site::UsePublishing(nullptr);
}

// A chip held while a try to take the lost reader back waited in vain is the
// reader's, though no port is open when End records it: never the demo's.
TEST_F(ReadingCycle, AChipHeldWhileTheReaderIsLostIsHandedOnAsTheReadersAtEnd) {
    HandedOver published;
    published.keys = &keyboard.keys;
    site::UsePublishing(&published);
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    reader->unplug();
    form.Timer1Timer();
    std::string error;
    ASSERT_TRUE(reader->replug(error)) << error;
    reader->setFaults({.lateMs = 400, .repliesOnly = true});
    reader->presentChipDuringNextRequest("0400000000000000");
    form.Timer3Timer();  // too slow to identify itself: still lost
    reader->setFaults({});
    ASSERT_TRUE(reader->waitIdle(2000));
    ASSERT_EQ(PortHandle, nullptr);
    Click(Control::BitBtn7);
    ASSERT_EQ(published.readings.size(), 1u);
    const site::PublishedReading& held = published.readings[0];
    EXPECT_EQ(held.code, "040000000000");
    EXPECT_FALSE(held.demo);
    EXPECT_EQ(held.reader, "1234");
    EXPECT_EQ(held.port, "COM29");
    site::UsePublishing(nullptr);
}

}  // namespace
