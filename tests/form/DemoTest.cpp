// The demonstration with no reader: the Demo/Stop button and the random
// readings that Timer2 passes through the ordinary reading steps.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "MainWindow.h"
#include "UiTestSupport.h"
#include "fakes/TempDir.h"

namespace {

const char* const TodaysLog = "ZV07D03M.txt";

bool IsDemoCode(const std::string& code) {
    static const QRegularExpression eightHex(QStringLiteral("^[0-9A-F]{8}$"));
    return eightHex.match(QString::fromStdString(code)).hasMatch() &&
           std::stoul(code, nullptr, 16) < 0xFFFFE380ul;
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

class Demo : public uitest::WindowTest {
  protected:
    // Starts with no reader and a demo that ticks every few milliseconds.
    void StartQuickly(TReaderSettings settings = uitest::DefaultSettings()) {
        ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
        ASSERT_EQ(form->Timer2->interval(), 2000);
        form->Timer2->setInterval(10);
    }

    bool WaitForReading(std::uint32_t order) {
        return QTest::qWaitFor([&] { return RunningOrder >= order; }, 10000);
    }
};

TEST_F(Demo, TheFirstPressStartsReadingsAndTheSecondStopsThem) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartQuickly(settings));
    ASSERT_EQ(form->BitBtn8->text(), QStringLiteral("Demo"));
    form->WriteRow(0, QStringLiteral("left over"));
    form->WriteRow(1, QStringLiteral("kept"));

    form->BitBtn8->click();
    EXPECT_EQ(form->BitBtn8->text(), QStringLiteral("Stop"));
    EXPECT_FALSE(DemoStopped);
    EXPECT_TRUE(form->Timer2->isActive());
    EXPECT_EQ(form->ReadRow(0), QString());
    EXPECT_EQ(form->ReadRow(1), QStringLiteral("kept"));
    for (QWidget* w : std::initializer_list<QWidget*>{form->Memo1, form->Label1, form->Label2,
                                                      form->Label3, form->Image1})
        EXPECT_TRUE(Shown(w)) << w->objectName().toStdString();
    EXPECT_EQ(form->focusWidget(), form->Memo1);

    ASSERT_TRUE(WaitForReading(3));
    form->BitBtn8->click();
    const std::uint32_t n = RunningOrder;
    ASSERT_LE(n, 30u) << "the list would have scrolled";
    EXPECT_EQ(form->BitBtn8->text(), QStringLiteral("Demo"));
    EXPECT_TRUE(DemoStopped);
    EXPECT_FALSE(form->Timer2->isActive());
    // Row 0 emptied, the rest as the readings left them.
    EXPECT_EQ(DisplayRow, int(n));
    const std::vector<LogLine> log = ReadLog();
    ASSERT_EQ(log.size(), n);
    EXPECT_EQ(form->ReadRow(0), QString());
    for (std::uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(log[i].order, i + 1);
        EXPECT_EQ(log[i].time, "09:41:07");
        EXPECT_TRUE(IsDemoCode(log[i].code)) << log[i].code;
        if (i > 0) {
            EXPECT_EQ(form->ReadRow(int(i)), Row(i + 1, "09:41:07", log[i].code));
        }
    }
    EXPECT_EQ(form->Edit1->text(), QString::number(n));
    EXPECT_EQ(sound.beeps, int(n));
    EXPECT_EQ(clock.sleeps, std::vector<unsigned>(n, 500u)) << "the lamp's pause";
    EXPECT_TRUE(LampOff());

    // Stopped, no more readings come.
    QTest::qWait(200);
    EXPECT_EQ(RunningOrder, n);
    EXPECT_EQ(ReadLog().size(), n);

    // Started again, the next reading goes below the last one written.
    form->WriteRow(0, QStringLiteral("typed into the list"));
    form->BitBtn8->click();
    EXPECT_EQ(form->ReadRow(0), QString());
    EXPECT_EQ(DisplayRow, int(n));
    ASSERT_TRUE(WaitForReading(n + 1));
    form->BitBtn8->click();
    EXPECT_EQ(form->ReadRow(int(n)), Row(n + 1, "09:41:07", ReadLog().at(n).code));
}

TEST_F(Demo, WithChipCodeToKeyboardEachReadingTypesEightCharactersAndEnter) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.ChipToKeyboard = true;
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartQuickly(settings));

    form->BitBtn8->click();
    ASSERT_TRUE(WaitForReading(3));
    form->BitBtn8->click();

    std::string expected;
    for (const LogLine& line : ReadLog()) {
        EXPECT_EQ(line.code.size(), 8u);
        expected += line.code + "\n";
    }
    EXPECT_EQ(ReadLog().size(), RunningOrder);
    EXPECT_EQ(keyboard.typedText(), expected);
    EXPECT_TRUE(keyboard.keysStillDown().empty());
    EXPECT_EQ(keyboard.ends, int(RunningOrder));
    EXPECT_EQ(Rows(), QStringList(31, QString())) << "typed readings are not listed";
    EXPECT_EQ(DisplayRow, 0);
}

TEST_F(Demo, CodesAreAlwaysEightUpperCaseHexDigitsBelowTheLimit) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.ChipToKeyboard = true;  // nothing to list: quicker
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
    std::set<std::string> seen;
    bool letters = false;
    for (int tick = 0; tick < 2000; ++tick) {
        form->Timer2Timer();
        const std::string code = ChipCode.str();
        ASSERT_TRUE(IsDemoCode(code)) << "tick " << tick << ": " << code;
        letters = letters || code.find_first_of("ABCDEF") != std::string::npos;
        seen.insert(code);
    }
    EXPECT_TRUE(letters);
    EXPECT_GT(seen.size(), 1990u) << "the codes hardly change";
    EXPECT_EQ(RunningOrder, 2000u);
}

TEST_F(Demo, EachTickSeedsItsDrawFromTheHighResolutionCounter) {
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader());
    auto tickAt = [&](std::uint64_t ms) {
        clock.monotonic = ms;  // the fake's counter follows its clock
        form->Timer2Timer();
        return ChipCode.str();
    };
    const std::string first = tickAt(5000);
    EXPECT_EQ(tickAt(5000), first);
    EXPECT_NE(tickAt(5001), first);
    EXPECT_EQ(tickAt(5000), first);
    EXPECT_EQ(RunningOrder, 4u);
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
    TReaderSettings settings = uitest::DefaultSettings();
    settings.SoundSignal = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
    form->Timer2Timer();
    form->Timer2Timer();
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_EQ(sound.beeps, GetParam() ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Demo, DemoSound, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "On" : "Off"); });

TEST_F(Demo, WithoutAutoLedOffTheLampStaysLitUntilStopShowsTheDarkOneOverIt) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.AutoLedOff = false;
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
    QWidget* client = form->centralWidget();
    const QPoint lamp = form->Image1->geometry().center();

    form->BitBtn8->click();
    ASSERT_TRUE(LampOff());
    form->Timer2Timer();
    EXPECT_TRUE(LampOn());
    EXPECT_EQ(client->childAt(lamp), form->Image2);
    EXPECT_EQ(clock.sleeps, std::vector<unsigned>{500});

    form->BitBtn8->click();  // Stop
    EXPECT_TRUE(Shown(form->Image1));
    EXPECT_EQ(client->childAt(lamp), form->Image1);

    form->BitBtn8->click();  // Demo again
    form->Timer2Timer();
    EXPECT_TRUE(LampOn());
    EXPECT_EQ(client->childAt(lamp), form->Image2);
}

TEST_F(Demo, WithAutoLedOffTheLampGoesDarkAfterEachReading) {
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader());
    form->BitBtn8->click();
    form->Timer2Timer();
    EXPECT_TRUE(LampOff());
    EXPECT_EQ(clock.sleeps, std::vector<unsigned>{500});
    EXPECT_EQ(RunningOrder, 1u);
}

TEST_F(Demo, EndWhileTheDemoRunsShowsTheCloseErrorWhileReadingsGoOnThenSavesAndCloses) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.OrderNumber = 5;
    ASSERT_NO_FATAL_FAILURE(StartQuickly(settings));
    const std::string stored = fakes::ReadFile(SettingsFileName);
    form->BitBtn8->click();
    ASSERT_TRUE(WaitForReading(6));

    std::uint32_t atOpen = 0;
    std::string fileWhileOpen;
    uitest::ModalAnswerer answerer([&](QWidget*) {
        if (atOpen == 0) {
            atOpen = RunningOrder;
            fileWhileOpen = fakes::ReadFile(SettingsFileName);
        }
        return RunningOrder >= atOpen + 3;
    });

    std::uint32_t n = 0;
    EXPECT_TRUE(uitest::EndsTheProgram([&] {
        form->BitBtn7->click();
        n = RunningOrder;
    }));

    EXPECT_EQ(answerer.texts, QStringList{QStringLiteral("Error closing port")});
    EXPECT_FALSE(answerer.gaveUp) << "no demo readings while the box was open";
    EXPECT_GE(n, atOpen + 3);
    EXPECT_EQ(fileWhileOpen, stored);
    EXPECT_EQ(fakes::ReadFile(SettingsFileName), std::string("\x1d\0\0\0\x01\0\0\x01", 8) +
                                                     LittleEndianBytes(n) + std::string(4, '\0'));
    EXPECT_FALSE(form->isVisible());
}

}  // namespace
