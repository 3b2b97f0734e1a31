// The reading cycle: a chip presented to the simulated reader becomes a
// numbered, time-stamped reading that is listed or typed, logged, announced
// and followed by the LED-off command; and the list's scrolling rules.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "Drv232.h"
#include "MainWindow.h"
#include "ReaderSimulator.h"
#include "ReadingList.h"
#include "UiTestSupport.h"
#include "fakes/TempDir.h"

namespace {

using Requests = std::vector<std::string>;

const QString Connected = QStringLiteral("Connected device ZEVO1234 on port COM29");
const char* const TodaysLog = "ZV07D03M.txt";

class ReadingCycle : public uitest::WindowTest {
  protected:
    static TReaderSettings With(void (*change)(TReaderSettings&)) {
        TReaderSettings s = uitest::DefaultSettings();
        change(s);
        return s;
    }
};

TEST_F(ReadingCycle, APresentedChipIsReadByTheTimerAndListed) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    const QColor designed = form->StatusBarColor();
    form->SetStatusBarColor(RepeatReadBarColor);
    form->Timer1->setInterval(Timer1Interval);
    form->Timer1->start();

    reader->presentChip("0123456789ABCDEF");
    ASSERT_TRUE(QTest::qWaitFor([] { return RunningOrder == 1; }, 10000));

    EXPECT_EQ(form->ReadRow(0), QStringLiteral("1       09:41:07      0123456789AB"));
    EXPECT_EQ(form->ReadRow(1), QString());
    EXPECT_EQ(DisplayRow, 1);
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 1u);
    EXPECT_EQ(TimeText.str(), "09:41:07");
    EXPECT_EQ(form->StatusBarColor(), designed);
    EXPECT_EQ(form->StatusText(), Connected) << "a reading leaves the status line";
    // The defaults: a beep and the LED turned off.
    EXPECT_EQ(sound.beeps, 1);
    EXPECT_TRUE(reader->waitForRequests(2, 5000));
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r"}));
    EXPECT_TRUE(LampOff());
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_FALSE(std::filesystem::exists(TodaysLog));
    EXPECT_TRUE(keyboard.keys.empty());
}

TEST_F(ReadingCycle, TheTimerRunsAgainAfterEveryTick) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    // No chip: nothing happens, silently.
    form->Timer1->stop();
    form->Timer1Timer();
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(form->StatusText(), Connected);
    EXPECT_EQ(sound.beeps, 0);

    // A frame that does not start with "A" is no reading either.
    reader->sendRaw("B0123456789ABCD\r");
    ASSERT_TRUE(reader->waitIdle(5000));
    form->Timer1->stop();
    form->Timer1Timer();
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(form->ReadRow(0), QString());

    // A reading whose LED-off command fails.
    reader->setFaults([] {
        sim::Faults f;
        f.repliesOnly = true;
        f.badLast = true;
        return f;
    }());
    form->Timer1->stop();
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(RunningOrder, 1u);
}

TEST_F(ReadingCycle, WithSaveOnDiskEachReadingIsAppendedToTheDaysLog) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader(With([](TReaderSettings& s) {
        s.SaveOnDisk = true;
        s.CrcDigits = true;
        s.OrderNumber = 9;
    })));
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    clock.now = {2026, 3, 7, 23, 59, 59, 999};
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D4E5F"));
    EXPECT_EQ(fakes::ReadFile(TodaysLog),
              "10 09:41:07 0123456789ABCD\r\n11 23:59:59 00000A1B2C3D4E\r\n");
    EXPECT_EQ(form->ReadRow(1), Row(11, "23:59:59", "00000A1B2C3D4E"));

    // After midnight the next day's log.
    clock.now = {2026, 3, 8, 0, 0, 1, 0};
    ASSERT_NO_FATAL_FAILURE(ReadChip("FFFFFFFFFFFFFFFF"));
    EXPECT_EQ(fakes::ReadFile("ZV08D03M.txt"), "12 00:00:01 FFFFFFFFFFFFFF\r\n");
    EXPECT_EQ(form->StatusText(), Connected);
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
    TReaderSettings settings = uitest::DefaultSettings();
    settings.AutoLedOff = c.autoLedOff;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    if (c.lightFirst) {
        form->BitBtn3->click();
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

TEST_F(ReadingCycle, AFailedLedOffIsShownAndTheReadingStillCounts) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    sim::Faults f;
    f.repliesOnly = true;
    f.badLast = true;
    reader->setFaults(f);
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r"}));
    EXPECT_EQ(form->StatusText(), QStringLiteral("Error when LED goes off"));
    EXPECT_TRUE(LampOn());
    EXPECT_EQ(RunningOrder, 1u);
    EXPECT_EQ(form->ReadRow(0), Row(1, "09:41:07", "0123456789AB"));
    EXPECT_EQ(sound.beeps, 1);
}

TEST_F(ReadingCycle, AnUnwritableLogIsShownAndTheReadingStillCounts) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader(With([](TReaderSettings& s) { s.SaveOnDisk = true; })));
    std::filesystem::create_directory(TodaysLog);
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(watch->set.last(), QStringLiteral("Error saving data"));
    EXPECT_EQ(form->StatusText(), QStringLiteral("Error saving data"));
    EXPECT_EQ(RunningOrder, 1u);
    EXPECT_EQ(form->ReadRow(0), Row(1, "09:41:07", "0123456789AB"));
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r"}));
    EXPECT_TRUE(LampOff());

    // Both failures in one reading: the log's text first, then the LED's.
    sim::Faults f;
    f.repliesOnly = true;
    f.badFirst = true;
    reader->setFaults(f);
    watch->set.clear();
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(watch->set, (QStringList{QStringLiteral("Error saving data"),
                                       QStringLiteral("Error when LED goes off")}));
    EXPECT_EQ(RunningOrder, 2u);
}

TEST_F(ReadingCycle, TheOrderNumberWrapsFromTheLargestToZero) {
    ASSERT_NO_FATAL_FAILURE(
        StartWithReader(With([](TReaderSettings& s) { s.OrderNumber = 4294967295u; })));
    ASSERT_EQ(form->Edit1->text(), QStringLiteral("4294967295"));
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 0u);
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("0"));
    EXPECT_EQ(form->ReadRow(0), QStringLiteral("0       09:41:07      0123456789AB"));
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(form->ReadRow(1), Row(1, "09:41:07", "0123456789AB"));
}

TEST_F(ReadingCycle, TheOrderFieldFollowsTheReadingsEvenWhileBeingEdited) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    form->Edit1->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Edit1->hasFocus(); }, 5000));
    QTest::keyClicks(form->Edit1, "12");
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(RunningOrder, 1u);
}

TEST_F(ReadingCycle, ASoundSignalForEveryReadingOnlyWhenChecked) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    ASSERT_TRUE(form->CheckBox7->isChecked());
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(sound.beeps, 2);
    form->Timer1->stop();
    form->Timer1Timer();  // no chip, no beep
    EXPECT_EQ(sound.beeps, 2);

    form->CheckBox7->click();
    ASSERT_FALSE(Settings.SoundSignal);
    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    EXPECT_EQ(RunningOrder, 3u);
    EXPECT_EQ(sound.beeps, 2);
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
    TReaderSettings settings = uitest::DefaultSettings();
    settings.ChipToKeyboard = true;
    settings.OrderToKeyboard = c.order;
    settings.TimeToKeyboard = c.time;
    settings.SaveOnDisk = true;
    settings.OrderNumber = 6;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    form->WriteRow(0, QStringLiteral("typed by hand"));
    const QStringList rows = Rows();

    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));

    EXPECT_EQ(keyboard.typedText(), c.typed);
    EXPECT_TRUE(keyboard.keysStillDown().empty());
    EXPECT_EQ(keyboard.begins, 1);
    EXPECT_EQ(keyboard.ends, 1);
    EXPECT_EQ(RunningOrder, 7u);
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("7"));
    EXPECT_EQ(fakes::ReadFile(TodaysLog), "7 09:41:07 0123456789AB\r\n");
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(DisplayRow, 0);
    EXPECT_EQ(sound.beeps, 1);
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QZ\r"}));
    EXPECT_EQ(form->StatusText(), Connected);
}

INSTANTIATE_TEST_SUITE_P(ReadingCycle, TypedReading,
                         ::testing::Values(TypingCase{false, false, "0123456789AB\n"},
                                           TypingCase{true, false, "7     0123456789AB\n"},
                                           TypingCase{false, true, "09-41-07     0123456789AB\n"},
                                           TypingCase{true, true,
                                                      "7     09-41-07     0123456789AB\n"}));

TEST_F(ReadingCycle, WhenKeysCannotBeTypedTheStatusSaysSoOnceAndReadingsGoOn) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.ChipToKeyboard = true;
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    keyboard.available = false;
    const QString cannot =
        QStringLiteral("Chip codes cannot be typed here: no display to type into");

    for (int i = 0; i < 3; ++i)
        ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));

    EXPECT_EQ(watch->set.count(cannot), 1);
    EXPECT_EQ(form->StatusText(), cannot);
    EXPECT_EQ(keyboard.begins, 3);
    EXPECT_TRUE(keyboard.keys.empty());
    EXPECT_EQ(RunningOrder, 3u);
    EXPECT_EQ(fakes::ReadFile(TodaysLog),
              "1 09:41:07 0123456789AB\r\n"
              "2 09:41:07 0123456789AB\r\n"
              "3 09:41:07 0123456789AB\r\n");
    EXPECT_EQ(sound.beeps, 3);
    EXPECT_EQ(form->ReadRow(0), QString());
}

// ---- Readings while an error box is open ----

TEST_F(ReadingCycle, ReadingsGoOnWhileAnErrorBoxIsOpen) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    form->Timer1->setInterval(10);
    form->Timer1->start();
    int presented = 0;
    uitest::ModalAnswerer answerer([&](QWidget*) {
        if (RunningOrder == 2)
            return true;
        if (presented == int(RunningOrder)) {
            reader->presentChip(presented == 0 ? "000000000001" : "000000000002");
            ++presented;
        }
        return false;
    });

    form->Edit1->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Edit1->hasFocus(); }, 5000));
    form->Edit1->setText(QStringLiteral("abc"));
    QTest::keyClick(form->Edit1, Qt::Key_Tab);

    EXPECT_EQ(answerer.texts, QStringList{QStringLiteral("Bad number format")});
    EXPECT_FALSE(answerer.gaveUp) << "no readings came while the box was open";
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_EQ(form->ReadRow(0), Row(1, "09:41:07", "000000000001"));
    EXPECT_EQ(form->ReadRow(1), Row(2, "09:41:07", "000000000002"));
    EXPECT_TRUE(form->Timer1->isActive());
}

// ---- Scrolling the list ----

// Rows kept one per element.
struct Lines {
    using Text = std::string;
    std::vector<std::string> lines = std::vector<std::string>(readinglist::DesignedEmptyLines + 1);
    int lineCount() const { return int(lines.size()); }
    std::string lineText(int i) const { return lines.at(std::size_t(i)); }
    void setLineText(int i, const std::string& text) { lines.at(std::size_t(i)) = text; }
};

TEST(ReadingListScrolling, RowsZeroToTwentyNineHoldTheThirtyLatestReadings) {
    Lines list;
    int row = 0;
    for (int reading = 1; reading <= 30; ++reading) {
        row = readinglist::AddReading(list, row, std::to_string(reading));
        EXPECT_EQ(row, reading);
    }
    EXPECT_EQ(list.lines[29], "30");
    EXPECT_EQ(list.lines[30], "");

    // The 31st goes into row 30, then everything moves up one row.
    row = readinglist::AddReading(list, row, "31");
    EXPECT_EQ(row, 30);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(list.lines[std::size_t(i)], std::to_string(i + 2)) << "row " << i;
    EXPECT_EQ(list.lines[30], "");

    row = readinglist::AddReading(list, row, "32");
    EXPECT_EQ(row, 30);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(list.lines[std::size_t(i)], std::to_string(i + 3)) << "row " << i;
    EXPECT_EQ(list.lines[30], "");
    EXPECT_EQ(list.lineCount(), 31);
}

TEST_F(ReadingCycle, TheWindowsListScrollsAfterThirtyOneReadings) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    auto code = [](int n) { return "0000000000" + std::to_string(10 + n); };
    for (int n = 1; n <= 30; ++n) {
        ChipCode = code(n);
        form->RecordReading();
    }
    // The 31st through the reader.
    ASSERT_NO_FATAL_FAILURE(ReadChip(code(31) + "00"));
    ASSERT_EQ(RunningOrder, 31u);
    EXPECT_EQ(DisplayRow, 30);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(form->ReadRow(i), Row(std::uint32_t(i + 2), "09:41:07", code(i + 2)))
            << "row " << i;
    EXPECT_EQ(form->ReadRow(30), QString());

    ChipCode = code(32);
    form->RecordReading();
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(form->ReadRow(i), Row(std::uint32_t(i + 3), "09:41:07", code(i + 3)))
            << "row " << i;
    EXPECT_EQ(form->ReadRow(30), QString());
    EXPECT_EQ(form->Memo1->document()->blockCount(), 31);
}

}  // namespace
