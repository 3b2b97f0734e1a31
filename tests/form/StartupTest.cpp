// The start-up sequence, run by the window's first activation, with the real
// serial code against simulated readers published as COM<n> links in a
// temporary working folder, or against no reader at all.
#include <filesystem>
#include <string>
#include <vector>

#include "Drv232.h"
#include "FormTest.h"
#include "ReaderSimulator.h"
#include "Texts.h"
#include "fakes/FakeSerial.h"
#include "fakes/ProgramState.h"
#include "fakes/TempDir.h"

namespace {

using formtest::DefaultSettings;
using formtest::Strings;

// The ports from `first` counting down, `count` of them, 29 after 0.
std::vector<int> Countdown(int first, int count) {
    std::vector<int> ports;
    for (int p = first; int(ports.size()) < count; p = p == 0 ? 29 : p - 1)
        ports.push_back(p);
    return ports;
}

Strings TestTexts(const std::vector<int>& ports) {
    Strings texts;
    for (int p : ports)
        texts.push_back("I test the port COM" + std::to_string(p));
    return texts;
}

const Control CommandButtons[] = {Control::BitBtn1, Control::BitBtn2, Control::BitBtn3,
                                  Control::BitBtn4, Control::BitBtn5};
const Control ListAndLabels[] = {Control::Memo1, Control::Label1, Control::Label2, Control::Label3};

class Startup : public formtest::FormTest {
  protected:
    void StartWith(const TReaderSettings& settings) {
        formtest::WriteSettingsFile(settings);
        window.activate();
        ASSERT_TRUE(form.StartupDone());
    }
};

TEST_F(Startup, NoSettingsFileAndNoReader) {
    window.activate();
    ASSERT_TRUE(form.StartupDone());

    // The defaults are written at once.
    EXPECT_EQ(fakes::ReadFile(SettingsFileName),
              std::string("\x1d\0\0\0\x01\0\0\x01\0\0\0\0\0\0\0\0", 16));

    // Ports 29 down to 0, each announced on the status line.
    const std::vector<int> ports = Countdown(29, 30);
    EXPECT_EQ(serial.attempts, ports);
    Strings expected = TestTexts(ports);
    expected.push_back("No device was identified on any serial port.");
    EXPECT_EQ(window.statuses, expected);
    EXPECT_TRUE(clock.sleeps.empty());

    // The no-reader state.
    EXPECT_TRUE(Shown(Control::BitBtn8));
    EXPECT_EQ(window.text(Control::BitBtn8), "Demo");
    EXPECT_TRUE(window[Control::BitBtn8].enabled);
    for (Control b : CommandButtons)
        EXPECT_FALSE(window[b].enabled) << LayoutOf(b).name;
    EXPECT_TRUE(window[Control::BitBtn6].enabled);
    EXPECT_TRUE(window[Control::BitBtn7].enabled);
    EXPECT_TRUE(DemoStopped);
    EXPECT_FALSE(window.timerActive(Timer::Timer1));
    EXPECT_FALSE(window.timerActive(Timer::Timer2));
    for (Control c : ListAndLabels)
        EXPECT_FALSE(Shown(c)) << LayoutOf(c).name;
    EXPECT_FALSE(Shown(Control::Image1));
    EXPECT_FALSE(Shown(Control::Image2));
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_EQ(window.caption(), "Chip Reader ZEVO");
    EXPECT_EQ(FieldText(), "0");
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(DisplayRow, 0);

    // The defaults leave "Chip code to keyboard" clear: its box is unchecked.
    EXPECT_FALSE(window.checked(Control::CheckBox1));
    EXPECT_FALSE(Shown(Control::CheckBox3));
    EXPECT_TRUE(window.checked(Control::CheckBox2));
    EXPECT_TRUE(window.checked(Control::CheckBox7));
    EXPECT_FALSE(window.checked(Control::CheckBox5));
    EXPECT_FALSE(window.minimized);
    // With the list hidden the focus stays on the first box.
    EXPECT_EQ(window.focus, Control::CheckBox1);
    EXPECT_EQ(SavedBarColor, fakes::ButtonFace);
}

TEST_F(Startup, StoredPort5AndTheReaderOnCom7) {
    TReaderSettings stored = DefaultSettings();
    stored.Port = 5;
    stored.OrderNumber = 4000000000u;
    sim::ReaderSimulator& reader7 = AddReader(7, "1234");
    form.WriteRow(0, "left over");
    form.WriteRow(1, "kept");

    StartWith(stored);

    const std::vector<int> ports = Countdown(5, 29);
    ASSERT_EQ(ports.back(), 7);
    EXPECT_EQ(serial.attempts, ports);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "open 7 ok");
    EXPECT_EQ(events.back(), "sleep 300");
    EXPECT_EQ(clock.sleeps, std::vector<unsigned>{300});
    EXPECT_EQ(reader7.requests(), std::vector<std::string>{"QI\r"});

    EXPECT_EQ(window.caption(), "Chip Reader ZEVO1234");
    Strings expected = TestTexts(ports);
    expected.push_back("Connected device ZEVO1234 on port COM7");
    EXPECT_EQ(window.statuses, expected);
    EXPECT_EQ(Settings.Port, 7);
    // Only End writes the found port to the file.
    EXPECT_EQ(fakes::ReadFile(SettingsFileName), formtest::SettingsBytes(stored));

    // The connected state.
    EXPECT_NE(PortHandle, nullptr);
    EXPECT_TRUE(window.timerActive(Timer::Timer1));
    EXPECT_EQ(window.timerInterval(Timer::Timer1), 333u);
    EXPECT_TRUE(LampOff());
    for (Control c : ListAndLabels)
        EXPECT_TRUE(Shown(c)) << LayoutOf(c).name;
    EXPECT_EQ(window.focus, Control::Memo1);
    EXPECT_EQ(form.ReadRow(0), "");
    EXPECT_EQ(form.ReadRow(1), "kept");
    EXPECT_FALSE(Shown(Control::BitBtn8));
    for (Control b : CommandButtons)
        EXPECT_TRUE(window[b].enabled) << LayoutOf(b).name;
    EXPECT_FALSE(DemoStopped);
    EXPECT_EQ(RunningOrder, 4000000000u);
    EXPECT_EQ(FieldText(), "4000000000");
    EXPECT_EQ(DisplayRow, 0);
}

TEST_F(Startup, TheReaderOnTheFirstPortTriedIsFoundAtOnce) {
    TReaderSettings stored = DefaultSettings();
    stored.Port = 3;
    AddReader(3, "ABCD");
    StartWith(stored);
    EXPECT_EQ(events, (Strings{"open 3 ok", "sleep 300"}));
    EXPECT_EQ(Status(), "Connected device ZEVOABCD on port COM3");
    EXPECT_EQ(window.caption(), "Chip Reader ZEVOABCD");
}

TEST_F(Startup, APortThatOpensButDoesNotIdentifyIsClosedAndTheSearchGoesOn) {
    TReaderSettings stored = DefaultSettings();
    stored.Port = 3;
    sim::ReaderSimulator& silent = AddReader(3, "0000");
    sim::Faults mute;
    mute.silent = true;
    silent.setFaults(mute);
    AddReader(2, "5678");
    StartWith(stored);

    EXPECT_EQ(events, (Strings{"open 3 ok", "sleep 300", "open 2 ok", "sleep 300"}));
    EXPECT_EQ(silent.requests(), std::vector<std::string>{"QI\r"});
    EXPECT_EQ(window.statuses, (Strings{"I test the port COM3", "I test the port COM2",
                                        "Connected device ZEVO5678 on port COM2"}));
    EXPECT_EQ(Settings.Port, 2);
    // Port 3 was given back: it can be opened again.
    platform::Error error = platform::Error::None;
    EXPECT_NE(platform::SystemSerial().open(3, error), nullptr) << platform::ErrorText(error);
}

TEST_F(Startup, AFailedCloseIsShownUntilTheNextPortsText) {
    TReaderSettings stored = DefaultSettings();
    stored.Port = 3;
    // Port 3 opens and takes its settings but answers nothing, and its
    // control lines cannot be lowered, so closing it fails.
    fakes::SerialScript script;
    script.failStep = "ClearDtr";
    serial.madeHere[3] = [&] { return std::make_unique<fakes::FakeSerialPort>(script); };
    StartWith(stored);
    EXPECT_EQ(script.closes, 1);

    ASSERT_GE(window.statuses.size(), 3u);
    EXPECT_EQ(window.statuses[0], "I test the port COM3");
    EXPECT_EQ(window.statuses[1], "Error closing port");
    EXPECT_EQ(window.statuses[2], "I test the port COM2");
    // The search does not stop early.
    EXPECT_EQ(serial.attempts.size(), 30u);
    EXPECT_EQ(Status(), "No device was identified on any serial port.");
}

TEST_F(Startup, PortsRefusedForLackOfPermissionAreExplainedOnStandardError) {
    for (const bool denied : {false, true}) {
        SCOPED_TRACE(denied);
        fakes::ResetProgramState();
        platform::LimitToLinkedPorts(true);
        platform::UseSerial(&serial);
        platform::UseClock(&clock);
        serial.refused[7] = denied ? platform::Error::AccessDenied : platform::Error::NotFound;
        fakes::FakeWindow another(loop);
        TForm1 started(another);
        another.attach(started);
        ::testing::internal::CaptureStderr();
        another.activate();
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(another.status(), "No device was identified on any serial port.");
        EXPECT_EQ(said, denied ? std::string(texts::PortAccessHint) + "\n" : "");
    }
}

struct OrderCase {
    int stored;
    int first;
    int last;
};

void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << "stored port " << c.stored;
}

class SearchOrder : public Startup, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(SearchOrder, ThirtyAttemptsCountingDownFromTheStoredPort) {
    const OrderCase c = GetParam();
    TReaderSettings stored = DefaultSettings();
    stored.Port = std::uint8_t(c.stored);
    StartWith(stored);
    ASSERT_EQ(serial.attempts.size(), 30u);
    EXPECT_EQ(serial.attempts.front(), c.first);
    EXPECT_EQ(serial.attempts.back(), c.last);
    for (std::size_t i = 1; i < serial.attempts.size(); ++i) {
        const int before = serial.attempts[i - 1];
        EXPECT_EQ(serial.attempts[i], before == 0 ? 29 : before - 1) << "attempt " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Startup, SearchOrder,
                         ::testing::Values(OrderCase{0, 0, 1}, OrderCase{5, 5, 6},
                                           OrderCase{29, 29, 0}, OrderCase{30, 30, 1},
                                           OrderCase{200, 200, 171}, OrderCase{254, 254, 225},
                                           OrderCase{255, 29, 0}));

TEST_F(Startup, UnsavableDefaultsShowTheErrorBoxWhileTimersKeepFiringThenTheSearchGoesOn) {
    // The file cannot be replaced: its temporary name is taken by a folder.
    std::filesystem::create_directory(SettingsTempFileName);
    int ticks = 0;  // a timer that runs all along
    const int ticker = loop.addTimer(10, [&] { ++ticks; });
    loop.start(ticker);
    int ticksAtOpen = -1;
    std::size_t attemptsWhileOpen = 99;
    window.answer = [&](std::string_view) {
        if (ticksAtOpen < 0) {
            ticksAtOpen = ticks;
            attemptsWhileOpen = serial.attempts.size();
        }
        return ticks >= ticksAtOpen + 20;
    };

    window.activate();

    EXPECT_EQ(window.errors, Strings{"Error saving parameters"});
    EXPECT_FALSE(window.gaveUp) << "the timer stood still while the box was open";
    EXPECT_EQ(attemptsWhileOpen, 0u) << "the search began before the box was answered";
    EXPECT_EQ(serial.attempts.size(), 30u);
    EXPECT_EQ(Status(), "No device was identified on any serial port.");
    EXPECT_FALSE(std::filesystem::exists(SettingsFileName));
    EXPECT_EQ(Settings.Port, 29);
}

TEST_F(Startup, WithMinimizeAtStartTheWindowEndsMinimisedAndTheBoxChecked) {
    TReaderSettings stored = DefaultSettings();
    stored.MinimizeAtStart = true;
    StartWith(stored);
    EXPECT_TRUE(window.minimized);
    EXPECT_TRUE(window.checked(Control::CheckBox5));
    EXPECT_TRUE(Settings.MinimizeAtStart);
}

TEST_F(Startup, RunsOnceAndNotAgainWhenTheActivationComesBack) {
    // Not before the window is on the screen, active and not minimised.
    for (const WindowFacts facts :
         {WindowFacts{false, true, false}, WindowFacts{true, false, false},
          WindowFacts{true, true, true}, WindowFacts{false, false, true}}) {
        form.Activated(facts);
        EXPECT_FALSE(form.StartupDone());
        EXPECT_TRUE(serial.attempts.empty());
    }
    window.activate();
    ASSERT_EQ(serial.attempts.size(), 30u);
    window.activate();
    form.FormActivate();
    EXPECT_EQ(serial.attempts.size(), 30u);
    EXPECT_EQ(window.statuses.size(), 31u);
}

struct KeyboardCase {
    bool chip, order, time;
};

void PrintTo(const KeyboardCase& c, std::ostream* os) {
    *os << "chip " << c.chip << " order " << c.order << " time " << c.time;
}

class KeyboardMarks : public Startup, public ::testing::WithParamInterface<KeyboardCase> {};

TEST_P(KeyboardMarks, ComeFromTheFileAndAgreeWithTheSettingsAfterwards) {
    const KeyboardCase c = GetParam();
    TReaderSettings stored = DefaultSettings();
    stored.ChipToKeyboard = c.chip;
    stored.OrderToKeyboard = c.order;
    stored.TimeToKeyboard = c.time;
    StartWith(stored);
    EXPECT_EQ(window.checked(Control::CheckBox1), c.chip);
    EXPECT_EQ(Shown(Control::CheckBox3), c.chip);
    EXPECT_EQ(Shown(Control::CheckBox4), c.chip);
    if (c.chip) {
        EXPECT_EQ(window.checked(Control::CheckBox3), c.order);
        EXPECT_EQ(window.checked(Control::CheckBox4), c.time);
    }
    // With the chip code not typed, neither are the order and the time.
    EXPECT_EQ(bool(Settings.ChipToKeyboard), c.chip);
    EXPECT_EQ(bool(Settings.OrderToKeyboard), c.chip && c.order);
    EXPECT_EQ(bool(Settings.TimeToKeyboard), c.chip && c.time);
    // Typing, the keyboard is made ready at start, not at the first reading:
    // a desktop takes a moment to take a virtual keyboard in.
    EXPECT_EQ(keyboard.prepares > 0, c.chip);
}

INSTANTIATE_TEST_SUITE_P(Startup, KeyboardMarks,
                         ::testing::Values(KeyboardCase{false, true, true},
                                           KeyboardCase{true, true, false},
                                           KeyboardCase{true, false, true}));

TEST_F(Startup, UncheckingAndRecheckingChipCodeToKeyboardLeavesOrderAndTimeUnchecked) {
    TReaderSettings stored = DefaultSettings();
    stored.ChipToKeyboard = true;
    stored.OrderToKeyboard = true;
    stored.TimeToKeyboard = true;
    StartWith(stored);
    ASSERT_TRUE(window.checked(Control::CheckBox3));
    ASSERT_TRUE(window.checked(Control::CheckBox4));

    Click(Control::CheckBox1);
    EXPECT_FALSE(window.checked(Control::CheckBox1));
    EXPECT_FALSE(Shown(Control::CheckBox3));
    EXPECT_FALSE(Shown(Control::CheckBox4));
    Click(Control::CheckBox1);
    EXPECT_TRUE(window.checked(Control::CheckBox1));
    EXPECT_TRUE(Shown(Control::CheckBox3));
    EXPECT_TRUE(Shown(Control::CheckBox4));
    EXPECT_FALSE(window.checked(Control::CheckBox3));
    EXPECT_FALSE(window.checked(Control::CheckBox4));
    EXPECT_FALSE(Settings.OrderToKeyboard);
    EXPECT_FALSE(Settings.TimeToKeyboard);
    EXPECT_TRUE(Settings.ChipToKeyboard);
}

}  // namespace
