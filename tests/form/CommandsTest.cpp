// The operator's controls on the connected window, against the simulated
// reader: the four reader commands, the repeat read, the order field and its
// reset button, End and the manufacturer window.
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "Drv232.h"
#include "FormTest.h"
#include "Layout.h"
#include "ReaderSimulator.h"
#include "fakes/TempDir.h"

namespace {

using formtest::DefaultSettings;
using formtest::Row;
using formtest::Strings;
using Requests = std::vector<std::string>;

class Controls : public formtest::FormTest {
  protected:
    // Waits until the reader has taken `count` requests, and returns them all.
    Requests RequestsWhenThere(std::size_t count) {
        EXPECT_TRUE(reader->waitForRequests(count, 5000));
        return reader->requests();
    }

    void LightTheLamp() {
        window.setShown(Control::Image1, false);
        window.setShown(Control::Image2, true);
    }

    void LeaveOrderFieldWith(const std::string& text) { LeaveOrderField(&text); }
};

// ---- The reader commands ----

enum class Lamp { Unchanged, On, Off };

struct CommandCase {
    Control button;
    const char* request;
    const char* done;
    const char* failed;
    Lamp lamp;  // the picture after success
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << LayoutOf(c.button).name;
}

const CommandCase Commands[] = {
    {Control::BitBtn1, "QB\r", "Reader blocked", "Error blocking the reader", Lamp::Unchanged},
    {Control::BitBtn2, "QO\r", "Reader unblocked", "Error unblocking the reader", Lamp::Unchanged},
    {Control::BitBtn3, "QR\r", "The LED is on\xC3\xAD", "Error while turning on LEDs", Lamp::On},
    {Control::BitBtn4, "QZ\r", "LED off", "Error when LED goes off", Lamp::Off},
};

std::string CaseName(const CommandCase& c) {
    return LayoutOf(c.button).name;
}

class ReaderCommand : public Controls, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(ReaderCommand, SendsItsThreeBytesAndShowsItsTextAndLamp) {
    const CommandCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    // The lamp starts in the picture the command does not show.
    if (c.lamp == Lamp::Off)
        LightTheLamp();
    const bool litBefore = LampOn();

    Click(c.button);

    EXPECT_EQ(RequestsWhenThere(2), (Requests{"QI\r", c.request}));
    EXPECT_EQ(Status(), c.done);
    switch (c.lamp) {
        case Lamp::On:
            EXPECT_TRUE(LampOn());
            break;
        case Lamp::Off:
            EXPECT_TRUE(LampOff());
            break;
        case Lamp::Unchanged:
            EXPECT_EQ(LampOn(), litBefore);
            EXPECT_TRUE(LampOff());
            break;
    }
    // The reader did as it was told.
    EXPECT_EQ(reader->blocked(), c.button == Control::BitBtn1);
    EXPECT_EQ(reader->ledOn(), c.lamp == Lamp::On);
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(sound.beeps, 0);
}

INSTANTIATE_TEST_SUITE_P(Controls, ReaderCommand, ::testing::ValuesIn(Commands),
                         [](const auto& info) { return CaseName(info.param); });

// The ways a reader fails a request while its chip frames still arrive.
struct FaultCase {
    const char* name;
    sim::Faults faults;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

sim::Faults Fault(bool silent, bool badFirst, bool badLast) {
    sim::Faults f;
    f.silent = silent;
    f.badFirst = badFirst;
    f.badLast = badLast;
    f.repliesOnly = badFirst || badLast;
    return f;
}

const FaultCase Faults[] = {
    {"Silent", Fault(true, false, false)},
    {"BadFirstByte", Fault(false, true, false)},
    {"BadLastByte", Fault(false, false, true)},
};

class FailedReaderCommand
    : public Controls,
      public ::testing::WithParamInterface<std::tuple<CommandCase, FaultCase>> {};

TEST_P(FailedReaderCommand, ShowsItsFailureTextAndLeavesTheLamp) {
    const auto& [c, fault] = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    reader->setFaults(fault.faults);
    // The lamp shows the picture the command would replace.
    if (c.lamp == Lamp::Off || c.lamp == Lamp::Unchanged)
        LightTheLamp();

    Click(c.button);

    EXPECT_EQ(RequestsWhenThere(2), (Requests{"QI\r", c.request}));
    EXPECT_EQ(Status(), c.failed);
    if (c.lamp == Lamp::On) {
        EXPECT_TRUE(LampOff());
    } else {
        EXPECT_TRUE(LampOn());
    }
}

INSTANTIATE_TEST_SUITE_P(Controls, FailedReaderCommand,
                         ::testing::Combine(::testing::ValuesIn(Commands),
                                            ::testing::ValuesIn(Faults)),
                         [](const auto& info) {
                             return CaseName(std::get<0>(info.param)) +
                                    std::get<1>(info.param).name;
                         });

// ---- Repeat read ----

class RepeatRead : public Controls, public ::testing::WithParamInterface<bool> {};

TEST_P(RepeatRead, ShowsTheCodeOnAYellowBarUntilTheNextReading) {
    const bool crc = GetParam();
    TReaderSettings settings = DefaultSettings();
    settings.CrcDigits = crc;
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    const Color designed = window.statusColor();
    ASSERT_EQ(SavedBarColor, designed);

    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    ASSERT_EQ(RunningOrder, 1u);
    const Strings rows = Rows();
    const std::string log = fakes::ReadFile("ZV07D03M.txt");
    const int beeps = sound.beeps;
    const std::size_t before = reader->requests().size();

    Click(Control::BitBtn5);

    const Requests requests = RequestsWhenThere(before + 1);
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back(), std::string("*D0\r"));
    const std::string code = crc ? "0123456789ABCD" : "0123456789AB";
    EXPECT_EQ(Status(), code);
    EXPECT_EQ(ChipCode.str(), code);
    EXPECT_EQ(window.statusColor(), Rgb(255, 255, 0));
    // The last two of the 16 characters are kept aside.
    EXPECT_EQ(ChipChars[14], 'E');
    EXPECT_EQ(ChipChars[15], 'F');
    // Only shown: not counted, listed, logged, announced.
    EXPECT_EQ(RunningOrder, 1u);
    EXPECT_EQ(FieldText(), "1");
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"), log);
    EXPECT_EQ(sound.beeps, beeps);

    // The next reading gives the bar its colour back and leaves the text.
    ASSERT_NO_FATAL_FAILURE(ReadChip("FEDCBA9876543210"));
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_EQ(window.statusColor(), designed);
    EXPECT_EQ(Status(), code);
}

INSTANTIATE_TEST_SUITE_P(Controls, RepeatRead, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "FourteenWithCrc" : "Twelve");
});

class FailedRepeatRead : public Controls, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FailedRepeatRead, ShowsItsTextAndChangesNothingElse) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    // Blocked, the reader takes another chip without sending its frame: a
    // repeat read would now bring a code of its own.
    Click(Control::BitBtn1);
    reader->presentChip("FEDCBA9876543210");
    const Color colour = window.statusColor();
    reader->setFaults(GetParam().faults);

    Click(Control::BitBtn5);

    EXPECT_EQ(RequestsWhenThere(4), (Requests{"QI\r", "QZ\r", "QB\r", "*D0\r"}));
    EXPECT_EQ(Status(), "Error while reading the chip");
    EXPECT_EQ(window.statusColor(), colour);
    EXPECT_EQ(ChipCode.str(), "0123456789AB");
    EXPECT_EQ(ChipChars[12], 'C');
    EXPECT_EQ(RunningOrder, 1u);
}

INSTANTIATE_TEST_SUITE_P(Controls, FailedRepeatRead, ::testing::ValuesIn(Faults),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The order field ----

struct NumberCase {
    const char* text;
    std::uint32_t stored;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class AcceptedOrder : public Controls, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(AcceptedOrder, IsStoredAndTheNextReadingFollowsIt) {
    const NumberCase& c = GetParam();
    TReaderSettings settings = DefaultSettings();
    settings.OrderNumber = 41;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));

    LeaveOrderFieldWith(c.text);

    EXPECT_TRUE(window.errors.empty());
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), c.stored);
    EXPECT_EQ(RunningOrder, c.stored);
    EXPECT_EQ(FieldText(), c.text) << "the field keeps its text";

    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D"));
    const std::uint32_t next = c.stored + 1;  // wraps at 2^32
    EXPECT_EQ(RunningOrder, next);
    EXPECT_EQ(form.ReadRow(0), Row(next, "09:41:07", "00000A1B2C3D"));
    EXPECT_EQ(FieldText(), std::to_string(next));
}

INSTANTIATE_TEST_SUITE_P(Controls, AcceptedOrder,
                         ::testing::Values(NumberCase{"-1", 4294967295u}, NumberCase{"7", 7},
                                           NumberCase{"   +7", 7}, NumberCase{"0", 0},
                                           NumberCase{"$FFFFFFFE", 4294967294u},
                                           NumberCase{"0x1f", 31},
                                           NumberCase{"-2147483648", 2147483648u}));

class RejectedOrder : public Controls, public ::testing::WithParamInterface<const char*> {};

TEST_P(RejectedOrder, ShowsTheErrorBoxAndChangesNothing) {
    TReaderSettings settings = DefaultSettings();
    settings.OrderNumber = 41;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));

    LeaveOrderFieldWith(GetParam());

    EXPECT_EQ(window.errors, Strings{"Bad number format"});
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 41u);
    EXPECT_EQ(RunningOrder, 41u);
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D"));
    EXPECT_EQ(form.ReadRow(0), Row(42, "09:41:07", "00000A1B2C3D"));
}

INSTANTIATE_TEST_SUITE_P(Controls, RejectedOrder,
                         ::testing::Values("", "   ", "abc", "7 ", "4x", "2147483648", "0x",
                                           "$100000000"));

TEST_F(Controls, LeavingTheOrderFieldUnchangedAfterAReadingKeepsTheNumbering) {
    TReaderSettings settings = DefaultSettings();
    settings.OrderNumber = 40;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D"));
    ASSERT_EQ(FieldText(), "41");

    LeaveOrderField(nullptr);
    EXPECT_TRUE(window.errors.empty());
    EXPECT_EQ(RunningOrder, 41u);

    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3E"));
    EXPECT_EQ(form.ReadRow(1), Row(42, "09:41:07", "00000A1B2C3E"));
}

TEST_F(Controls, ResetTheOrderStartsTheNumberingAndTheListAgainButKeepsTheRows) {
    TReaderSettings settings = DefaultSettings();
    settings.OrderNumber = 5;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    for (const char* code : {"000000000001", "000000000002", "000000000003"})
        ASSERT_NO_FATAL_FAILURE(ReadChip(code));
    ASSERT_EQ(DisplayRow, 3);
    const Strings rows = Rows();

    Click(Control::BitBtn6);

    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 0u);
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(DisplayRow, 0);
    EXPECT_EQ(FieldText(), "0");
    EXPECT_EQ(Rows(), rows);

    ASSERT_NO_FATAL_FAILURE(ReadChip("000000000004"));
    EXPECT_EQ(form.ReadRow(0), Row(1, "09:41:07", "000000000004"));
    EXPECT_EQ(form.ReadRow(1), Row(7, "09:41:07", "000000000002"));
    EXPECT_EQ(DisplayRow, 1);
}

// ---- End ----

TEST_F(Controls, EndClosesThePortSavesTheOrderAndClosesTheWindow) {
    TReaderSettings settings = DefaultSettings();
    settings.OrderNumber = 0x12345676;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D"));
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3E"));

    Click(Control::BitBtn7);

    EXPECT_TRUE(window.errors.empty());
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_FALSE(window.timerActive(Timer::Timer1));
    // The order number at offsets 8 to 11, least significant byte first.
    EXPECT_EQ(fakes::ReadFile(SettingsFileName),
              std::string("\x1d\0\0\0\x01\0\0\x01\x78\x56\x34\x12\0\0\0\0", 16));
    EXPECT_TRUE(window.closed);
}

TEST_F(Controls, EndWithNoReaderShowsTheCloseErrorThenSavesAndCloses) {
    TReaderSettings settings = DefaultSettings();
    settings.OrderNumber = 5;
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
    Click(Control::BitBtn6);  // order 0, not yet in the file
    const std::string old = fakes::ReadFile(SettingsFileName);
    std::string fileWhileOpen;
    bool closedWhileOpen = true;
    window.answer = [&](std::string_view) {
        fileWhileOpen = fakes::ReadFile(SettingsFileName);
        closedWhileOpen = window.closed;
        return true;
    };

    Click(Control::BitBtn7);

    EXPECT_EQ(window.errors, Strings{"Error closing port"});
    EXPECT_EQ(fileWhileOpen, old) << "saved before the box was answered";
    EXPECT_FALSE(closedWhileOpen);
    EXPECT_EQ(fakes::ReadFile(SettingsFileName),
              std::string("\x1d\0\0\0\x01\0\0\x01\0\0\0\0\0\0\0\0", 16));
    EXPECT_TRUE(window.closed);
}

TEST_F(Controls, EndThatCannotSaveSaysSoAndStillCloses) {
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader());
    const std::string old = fakes::ReadFile(SettingsFileName);
    std::filesystem::create_directory(SettingsTempFileName);
    Click(Control::BitBtn6);

    Click(Control::BitBtn7);

    EXPECT_EQ(window.errors, (Strings{"Error closing port", "Error saving parameters"}));
    EXPECT_EQ(fakes::ReadFile(SettingsFileName), old);
    EXPECT_TRUE(window.closed);
}

TEST_F(Controls, TheInformationButtonShowsTheManufacturerWindowEveryTime) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    Click(Control::SpeedButton1);
    Click(Control::SpeedButton1);
    EXPECT_EQ(window.manufacturerWindows, 2);
    EXPECT_EQ(window.focus, Control::Memo1) << "the button takes no focus";
}

}  // namespace
