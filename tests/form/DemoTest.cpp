// The demonstration with no reader: the Demo/Stop button and the random
// readings that Timer2 passes through the ordinary reading steps.
#include <cstdint>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FormTest.h"
#include "fakes/TempDir.h"

namespace {

using formtest::DefaultSettings;
using formtest::Row;
using formtest::Strings;

const char* const TodaysLog = "ZV07D03M.txt";

bool IsDemoCode(const std::string& code) {
    static const std::regex eightHex("^[0-9A-F]{8}$");
    return std::regex_match(code, eightHex) && std::stoul(code, nullptr, 16) < 0xFFFFE380ul;
}

struct LogLine {
    std::uint32_t order;
    std::string time;
    std::string code;
};

// The lines of the day's log, each checked for its ending.
std::vector<LogLine> ReadLog() {
    std::vector<LogLine> lines;
    std::istringstream in(fakes::ReadFile(TodaysLog));
    for (std::string line; std::getline(in, line, '\n');) {
        EXPECT_TRUE(!line.empty() && line.back() == '\r') << line;
        line.pop_back();
        std::istringstream fields(line);
        LogLine l;
        fields >> l.order >> l.time >> l.code;
        lines.push_back(l);
    }
    return lines;
}

std::string LittleEndianBytes(std::uint32_t n) {
    return {char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char(n >> 24)};
}

class Demo : public formtest::FormTest {
  protected:
    // Starts with no reader and a demo that ticks every few milliseconds.
    void StartQuickly(TReaderSettings settings = DefaultSettings()) {
        ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
        ASSERT_EQ(window.timerInterval(Timer::Timer2), 2000u);
        window.setTimerInterval(Timer::Timer2, 10);
    }

    bool WaitForReading(std::uint32_t order) {
        return loop.runUntil([&] { return RunningOrder >= order; });
    }
};

TEST_F(Demo, TheFirstPressStartsReadingsAndTheSecondStopsThem) {
    TReaderSettings settings = DefaultSettings();
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartQuickly(settings));
    ASSERT_EQ(window.text(Control::BitBtn8), "Demo");
    form.WriteRow(0, "left over");
    form.WriteRow(1, "kept");

    Click(Control::BitBtn8);
    EXPECT_EQ(window.text(Control::BitBtn8), "Stop");
    EXPECT_FALSE(DemoStopped);
    EXPECT_TRUE(window.timerActive(Timer::Timer2));
    EXPECT_EQ(form.ReadRow(0), "");
    EXPECT_EQ(form.ReadRow(1), "kept");
    for (Control c :
         {Control::Memo1, Control::Label1, Control::Label2, Control::Label3, Control::Image1})
        EXPECT_TRUE(Shown(c)) << LayoutOf(c).name;
    EXPECT_EQ(window.focus, Control::Memo1);

    ASSERT_TRUE(WaitForReading(3));
    Click(Control::BitBtn8);
    const std::uint32_t n = RunningOrder;
    ASSERT_LE(n, 30u) << "the list would have scrolled";
    EXPECT_EQ(window.text(Control::BitBtn8), "Demo");
    EXPECT_TRUE(DemoStopped);
    EXPECT_FALSE(window.timerActive(Timer::Timer2));
    // Row 0 emptied, the rest as the readings left them.
    EXPECT_EQ(DisplayRow, int(n));
    const std::vector<LogLine> log = ReadLog();
    ASSERT_EQ(log.size(), n);
    EXPECT_EQ(form.ReadRow(0), "");
    for (std::uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(log[i].order, i + 1);
        EXPECT_EQ(log[i].time, "09:41:07");
        EXPECT_TRUE(IsDemoCode(log[i].code)) << log[i].code;
        if (i > 0) {
            EXPECT_EQ(form.ReadRow(int(i)), Row(i + 1, "09:41:07", log[i].code));
        }
    }
    EXPECT_EQ(FieldText(), std::to_string(n));
    EXPECT_EQ(sound.beeps, int(n));
    EXPECT_EQ(clock.sleeps, std::vector<unsigned>(n, 500u)) << "the lamp's pause";
    EXPECT_TRUE(LampOff());

    // Stopped, no more readings come.
    loop.runFor(200);
    EXPECT_EQ(RunningOrder, n);
    EXPECT_EQ(ReadLog().size(), n);

    // Started again, the next reading goes below the last one written.
    form.WriteRow(0, "typed into the list");
    Click(Control::BitBtn8);
    EXPECT_EQ(form.ReadRow(0), "");
    EXPECT_EQ(DisplayRow, int(n));
    ASSERT_TRUE(WaitForReading(n + 1));
    Click(Control::BitBtn8);
    EXPECT_EQ(form.ReadRow(int(n)), Row(n + 1, "09:41:07", ReadLog().at(n).code));
}

TEST_F(Demo, WithChipCodeToKeyboardEachReadingTypesEightCharactersAndEnter) {
    TReaderSettings settings = DefaultSettings();
    settings.ChipToKeyboard = true;
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartQuickly(settings));

    Click(Control::BitBtn8);
    ASSERT_TRUE(WaitForReading(3));
    Click(Control::BitBtn8);

    std::string expected;
    for (const LogLine& line : ReadLog()) {
        EXPECT_EQ(line.code.size(), 8u);
        expected += line.code + "\n";
    }
    EXPECT_EQ(ReadLog().size(), RunningOrder);
    EXPECT_EQ(keyboard.typedText(), expected);
    EXPECT_TRUE(keyboard.keysStillDown().empty());
    EXPECT_EQ(keyboard.ends, int(RunningOrder));
    EXPECT_EQ(Rows(), Strings(31)) << "typed readings are not listed";
    EXPECT_EQ(DisplayRow, 0);
}

TEST_F(Demo, CodesAreEightUpperCaseHexDigitsBelowTheLimitSeededFromTheCounter) {
    TReaderSettings settings = DefaultSettings();
    settings.ChipToKeyboard = true;  // nothing to list: quicker
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
    std::set<std::string> seen;
    bool letters = false;
    for (int tick = 0; tick < 2000; ++tick) {
        form.Timer2Timer();
        const std::string code = ChipCode.str();
        ASSERT_TRUE(IsDemoCode(code)) << "tick " << tick << ": " << code;
        letters = letters || code.find_first_of("ABCDEF") != std::string::npos;
        seen.insert(code);
    }
    EXPECT_TRUE(letters);
    EXPECT_GT(seen.size(), 1990u) << "the codes hardly change";
    EXPECT_EQ(RunningOrder, 2000u);

    // Each tick seeds its draw from the high-resolution counter.
    auto tickAt = [&](std::uint64_t ms) {
        clock.monotonic = ms;  // the fake's counter follows its clock
        form.Timer2Timer();
        return ChipCode.str();
    };
    const std::string first = tickAt(5000);
    EXPECT_EQ(tickAt(5000), first);
    EXPECT_NE(tickAt(5001), first);
    EXPECT_EQ(tickAt(5000), first);
}

struct TextCase {
    std::uint32_t value;
    const char* text;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.text;
}

class DemoChipCode : public ::testing::TestWithParam<TextCase> {};

TEST_P(DemoChipCode, IsWrittenWithEightDigitsAndLeadingZeros) {
    EXPECT_EQ(DemoChipText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Demo, DemoChipCode,
                         ::testing::Values(TextCase{0x1F, "0000001F"}, TextCase{0, "00000000"},
                                           TextCase{0xABCDEF, "00ABCDEF"},
                                           TextCase{0x0A0B0C0D, "0A0B0C0D"},
                                           TextCase{0xFFFFE37F, "FFFFE37F"}));

class DemoSound : public Demo, public ::testing::WithParamInterface<bool> {};

TEST_P(DemoSound, BeepsForEveryReadingOnlyWhenChecked) {
    TReaderSettings settings = DefaultSettings();
    settings.SoundSignal = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
    form.Timer2Timer();
    form.Timer2Timer();
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_EQ(sound.beeps, GetParam() ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Demo, DemoSound, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "On" : "Off"); });

TEST_F(Demo, WithoutAutoLedOffTheLampStaysLitUntilStopShowsTheDarkOneOverIt) {
    TReaderSettings settings = DefaultSettings();
    settings.AutoLedOff = false;
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));

    Click(Control::BitBtn8);
    ASSERT_TRUE(LampOff());
    form.Timer2Timer();
    EXPECT_TRUE(LampOn());
    EXPECT_EQ(window.paintedNow, std::vector<Control>{Control::Image2});
    EXPECT_EQ(clock.sleeps, std::vector<unsigned>{500});

    Click(Control::BitBtn8);  // Stop: both shown, the dark one lies above
    EXPECT_TRUE(Shown(Control::Image1));
    EXPECT_TRUE(Shown(Control::Image2));

    Click(Control::BitBtn8);  // Demo again
    form.Timer2Timer();
    EXPECT_TRUE(LampOn());
}

TEST_F(Demo, WithAutoLedOffTheLampGoesDarkAfterEachReading) {
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader());
    Click(Control::BitBtn8);
    form.Timer2Timer();
    EXPECT_TRUE(LampOff());
    EXPECT_EQ(clock.sleeps, std::vector<unsigned>{500});
    EXPECT_EQ(RunningOrder, 1u);
}

TEST_F(Demo, EndWhileTheDemoRunsShowsTheCloseErrorWhileReadingsGoOnThenSavesAndCloses) {
    TReaderSettings settings = DefaultSettings();
    settings.OrderNumber = 5;
    ASSERT_NO_FATAL_FAILURE(StartQuickly(settings));
    const std::string stored = fakes::ReadFile(SettingsFileName);
    Click(Control::BitBtn8);
    ASSERT_TRUE(WaitForReading(6));

    std::uint32_t atOpen = 0;
    std::string fileWhileOpen;
    window.answer = [&](std::string_view) {
        if (atOpen == 0) {
            atOpen = RunningOrder;
            fileWhileOpen = fakes::ReadFile(SettingsFileName);
        }
        return RunningOrder >= atOpen + 3;
    };

    Click(Control::BitBtn7);
    const std::uint32_t n = RunningOrder;

    EXPECT_EQ(window.errors, Strings{"Error closing port"});
    EXPECT_FALSE(window.gaveUp) << "no demo readings while the box was open";
    EXPECT_GE(n, atOpen + 3);
    EXPECT_EQ(fileWhileOpen, stored);
    EXPECT_EQ(fakes::ReadFile(SettingsFileName), std::string("\x1d\0\0\0\x01\0\0\x01", 8) +
                                                     LittleEndianBytes(n) + std::string(4, '\0'));
    EXPECT_TRUE(window.closed);
}

}  // namespace
