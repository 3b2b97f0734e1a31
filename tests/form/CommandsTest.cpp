// The operator's controls on the connected window, against the simulated
// reader: the four reader commands, the repeat read, the order field and its
// reset button, End and the manufacturer window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Drv232.h"
#include "Form2.h"
#include "MainWindow.h"
#include "ReaderSimulator.h"
#include "UiTestSupport.h"
#include "fakes/TempDir.h"

namespace {

using Requests = std::vector<std::string>;

const QString Connected = QStringLiteral("Connected device ZEVO1234 on port COM29");

class Controls : public uitest::WindowTest {
  protected:
    QPushButton* Button(const char* name) {
        return form->findChild<QPushButton*>(QString::fromLatin1(name));
    }

    // The operator puts the caret into the order field, types `text` over
    // what it shows (or leaves it as it is) and moves on with Tab.
    void LeaveOrderField(std::optional<QString> text) {
        form->Edit1->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->Edit1->hasFocus(); }, 5000));
        if (text)
            form->Edit1->setText(*text);
        QTest::keyClick(form->Edit1, Qt::Key_Tab);
        EXPECT_FALSE(form->Edit1->hasFocus());
    }

    // Waits until the reader has taken `count` requests, and returns them all.
    Requests RequestsWhenThere(std::size_t count) {
        EXPECT_TRUE(reader->waitForRequests(count, 5000));
        return reader->requests();
    }

    void LightTheLamp() {
        form->Image1->hide();
        form->Image2->show();
    }
};

// ---- The reader commands ----

enum class Lamp { Unchanged, On, Off };

struct CommandCase {
    const char* button;
    const char* request;
    QString done;
    QString failed;
    Lamp lamp;  // the picture after success
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.button;
}

const CommandCase Commands[] = {
    {"BitBtn1", "QB\r", QStringLiteral("Reader blocked"),
     QStringLiteral("Error blocking the reader"), Lamp::Unchanged},
    {"BitBtn2", "QO\r", QStringLiteral("Reader unblocked"),
     QStringLiteral("Error unblocking the reader"), Lamp::Unchanged},
    {"BitBtn3", "QR\r", QStringLiteral("The LED is on") + QChar(0xED),
     QStringLiteral("Error while turning on LEDs"), Lamp::On},
    {"BitBtn4", "QZ\r", QStringLiteral("LED off"), QStringLiteral("Error when LED goes off"),
     Lamp::Off},
};

std::string CaseName(const CommandCase& c) {
    return c.button;
}

class ReaderCommand : public Controls, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(ReaderCommand, SendsItsThreeBytesAndShowsItsTextAndLamp) {
    const CommandCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    // The lamp starts in the picture the command does not show.
    if (c.lamp == Lamp::Off)
        LightTheLamp();
    const bool litBefore = LampOn();

    Button(c.button)->click();

    EXPECT_EQ(RequestsWhenThere(2), (Requests{"QI\r", c.request}));
    EXPECT_EQ(form->StatusText(), c.done);
    EXPECT_EQ(watch->set.last(), c.done);
    EXPECT_TRUE(watch->painted.contains(c.done)) << "the status bar was not repainted";
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

sim::Faults Silent() {
    sim::Faults f;
    f.silent = true;
    return f;
}

sim::Faults RepliesStartBadly() {
    sim::Faults f;
    f.badFirst = true;
    f.repliesOnly = true;
    return f;
}

sim::Faults RepliesEndBadly() {
    sim::Faults f;
    f.badLast = true;
    f.repliesOnly = true;
    return f;
}

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

const FaultCase Faults[] = {
    {"Silent", Silent()},
    {"BadFirstByte", RepliesStartBadly()},
    {"BadLastByte", RepliesEndBadly()},
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

    Button(c.button)->click();

    EXPECT_EQ(RequestsWhenThere(2), (Requests{"QI\r", c.request}));
    EXPECT_EQ(form->StatusText(), c.failed);
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

TEST_F(Controls, LightingAndTurningOffTheLedReachTheReader) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    form->BitBtn3->click();
    EXPECT_TRUE(LampOn());
    EXPECT_TRUE(reader->ledOn());
    form->BitBtn4->click();
    EXPECT_TRUE(LampOff());
    EXPECT_FALSE(reader->ledOn());
    // A blocked reader sends no frames; unblocked it reads again.
    form->BitBtn1->click();
    EXPECT_TRUE(reader->blocked());
    form->BitBtn2->click();
    EXPECT_FALSE(reader->blocked());
    EXPECT_EQ(reader->requests(), (Requests{"QI\r", "QR\r", "QZ\r", "QB\r", "QO\r"}));
}

// ---- Repeat read ----

class RepeatRead : public Controls, public ::testing::WithParamInterface<bool> {};

TEST_P(RepeatRead, ShowsTheCodeOnAYellowBarUntilTheNextReading) {
    const bool crc = GetParam();
    TReaderSettings settings = uitest::DefaultSettings();
    settings.CrcDigits = crc;
    settings.SaveOnDisk = true;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    const QColor designed = form->StatusBarColor();
    ASSERT_EQ(SavedBarColor, designed);

    ASSERT_NO_FATAL_FAILURE(ReadChip("0123456789ABCDEF"));
    ASSERT_EQ(RunningOrder, 1u);
    const QStringList rows = Rows();
    const std::string log = fakes::ReadFile("ZV07D03M.txt");
    const int beeps = sound.beeps;
    const std::size_t before = reader->requests().size();

    form->BitBtn5->click();

    const Requests requests = RequestsWhenThere(before + 1);
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back(), std::string("*D0\r"));
    const QString code = crc ? QStringLiteral("0123456789ABCD") : QStringLiteral("0123456789AB");
    EXPECT_EQ(form->StatusText(), code);
    EXPECT_EQ(ChipCode.str(), code.toStdString());
    EXPECT_EQ(form->StatusBarColor(), QColor(255, 255, 0));
    // The last two of the 16 characters are kept aside.
    EXPECT_EQ(ChipChars[14], 'E');
    EXPECT_EQ(ChipChars[15], 'F');
    // Only shown: not counted, listed, logged, announced.
    EXPECT_EQ(RunningOrder, 1u);
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("1"));
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(fakes::ReadFile("ZV07D03M.txt"), log);
    EXPECT_EQ(sound.beeps, beeps);

    // The next reading gives the bar its colour back and leaves the text.
    ASSERT_NO_FATAL_FAILURE(ReadChip("FEDCBA9876543210"));
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_EQ(form->StatusBarColor(), designed);
    EXPECT_EQ(form->StatusText(), code);
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
    form->BitBtn1->click();
    reader->presentChip("FEDCBA9876543210");
    const QColor colour = form->StatusBarColor();
    reader->setFaults(GetParam().faults);

    form->BitBtn5->click();

    EXPECT_EQ(RequestsWhenThere(4), (Requests{"QI\r", "QZ\r", "QB\r", "*D0\r"}));
    EXPECT_EQ(form->StatusText(), QStringLiteral("Error while reading the chip"));
    EXPECT_EQ(form->StatusBarColor(), colour);
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
    TReaderSettings settings = uitest::DefaultSettings();
    settings.OrderNumber = 41;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    uitest::ModalAnswerer answerer;

    ASSERT_NO_FATAL_FAILURE(LeaveOrderField(QString::fromLatin1(c.text)));

    EXPECT_TRUE(answerer.texts.isEmpty()) << answerer.texts.join(u'|').toStdString();
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), c.stored);
    EXPECT_EQ(RunningOrder, c.stored);
    EXPECT_EQ(form->Edit1->text(), QString::fromLatin1(c.text)) << "the field keeps its text";

    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D"));
    const std::uint32_t next = c.stored + 1;  // wraps at 2^32
    EXPECT_EQ(RunningOrder, next);
    EXPECT_EQ(form->ReadRow(0), Row(next, "09:41:07", "00000A1B2C3D"));
    EXPECT_EQ(form->Edit1->text(), QString::number(next));
}

INSTANTIATE_TEST_SUITE_P(Controls, AcceptedOrder,
                         ::testing::Values(NumberCase{"-1", 4294967295u}, NumberCase{"7", 7},
                                           NumberCase{"   +7", 7}, NumberCase{"0", 0},
                                           NumberCase{"$FFFFFFFE", 4294967294u},
                                           NumberCase{"0x1f", 31},
                                           NumberCase{"-2147483648", 2147483648u}));

class RejectedOrder : public Controls, public ::testing::WithParamInterface<const char*> {};

TEST_P(RejectedOrder, ShowsTheErrorBoxAndChangesNothing) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.OrderNumber = 41;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    uitest::ModalAnswerer answerer;

    ASSERT_NO_FATAL_FAILURE(LeaveOrderField(QString::fromLatin1(GetParam())));

    EXPECT_EQ(answerer.texts, QStringList{QStringLiteral("Bad number format")});
    EXPECT_FALSE(answerer.gaveUp);
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 41u);
    EXPECT_EQ(RunningOrder, 41u);
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D"));
    EXPECT_EQ(form->ReadRow(0), Row(42, "09:41:07", "00000A1B2C3D"));
}

INSTANTIATE_TEST_SUITE_P(Controls, RejectedOrder,
                         ::testing::Values("", "   ", "abc", "7 ", "4x", "2147483648", "0x",
                                           "$100000000"));

TEST_F(Controls, LeavingTheOrderFieldUnchangedAfterAReadingKeepsTheNumbering) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.OrderNumber = 40;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    uitest::ModalAnswerer answerer;
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D"));
    ASSERT_EQ(form->Edit1->text(), QStringLiteral("41"));

    ASSERT_NO_FATAL_FAILURE(LeaveOrderField(std::nullopt));
    EXPECT_TRUE(answerer.texts.isEmpty());
    EXPECT_EQ(RunningOrder, 41u);

    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3E"));
    EXPECT_EQ(form->ReadRow(1), Row(42, "09:41:07", "00000A1B2C3E"));
}

TEST_F(Controls, ResetTheOrderStartsTheNumberingAndTheListAgainButKeepsTheRows) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.OrderNumber = 5;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    for (const char* code : {"000000000001", "000000000002", "000000000003"})
        ASSERT_NO_FATAL_FAILURE(ReadChip(code));
    ASSERT_EQ(DisplayRow, 3);
    const QStringList rows = Rows();

    form->BitBtn6->click();

    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 0u);
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(DisplayRow, 0);
    EXPECT_EQ(form->Edit1->text(), QStringLiteral("0"));
    EXPECT_EQ(Rows(), rows);

    ASSERT_NO_FATAL_FAILURE(ReadChip("000000000004"));
    EXPECT_EQ(form->ReadRow(0), Row(1, "09:41:07", "000000000004"));
    EXPECT_EQ(form->ReadRow(1), Row(7, "09:41:07", "000000000002"));
    EXPECT_EQ(DisplayRow, 1);
}

// ---- End ----

TEST_F(Controls, EndClosesThePortSavesTheOrderAndClosesTheWindow) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.OrderNumber = 0x12345676;
    ASSERT_NO_FATAL_FAILURE(StartWithReader(settings));
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3D"));
    ASSERT_NO_FATAL_FAILURE(ReadChip("00000A1B2C3E"));
    uitest::ModalAnswerer answerer;

    EXPECT_TRUE(uitest::EndsTheProgram([&] { form->BitBtn7->click(); }));

    EXPECT_TRUE(answerer.texts.isEmpty()) << answerer.texts.join(u'|').toStdString();
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_FALSE(form->Timer1->isActive());
    // The order number at offsets 8 to 11, least significant byte first.
    EXPECT_EQ(fakes::ReadFile(SettingsFileName),
              std::string("\x1d\0\0\0\x01\0\0\x01\x78\x56\x34\x12\0\0\0\0", 16));
    EXPECT_FALSE(form->isVisible());
}

TEST_F(Controls, EndWithNoReaderShowsTheCloseErrorThenSavesAndCloses) {
    TReaderSettings settings = uitest::DefaultSettings();
    settings.OrderNumber = 5;
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader(settings));
    form->BitBtn6->click();  // order 0, not yet in the file
    const std::string old = fakes::ReadFile(SettingsFileName);
    std::string fileWhileOpen;
    uitest::ModalAnswerer answerer([&](QWidget*) {
        fileWhileOpen = fakes::ReadFile(SettingsFileName);
        return true;
    });

    EXPECT_TRUE(uitest::EndsTheProgram([&] { form->BitBtn7->click(); }));

    EXPECT_EQ(answerer.texts, QStringList{QStringLiteral("Error closing port")});
    EXPECT_EQ(fileWhileOpen, old) << "saved before the box was answered";
    EXPECT_EQ(fakes::ReadFile(SettingsFileName),
              std::string("\x1d\0\0\0\x01\0\0\x01\0\0\0\0\0\0\0\0", 16));
    EXPECT_FALSE(form->isVisible());
}

TEST_F(Controls, EndThatCannotSaveSaysSoAndStillCloses) {
    ASSERT_NO_FATAL_FAILURE(StartWithoutReader());
    const std::string old = fakes::ReadFile(SettingsFileName);
    std::filesystem::create_directory(SettingsTempFileName);
    form->BitBtn6->click();
    uitest::ModalAnswerer answerer;

    EXPECT_TRUE(uitest::EndsTheProgram([&] { form->BitBtn7->click(); }));

    EXPECT_EQ(answerer.texts, (QStringList{QStringLiteral("Error closing port"),
                                           QStringLiteral("Error saving parameters")}));
    EXPECT_EQ(fakes::ReadFile(SettingsFileName), old);
    EXPECT_FALSE(form->isVisible());
}

// ---- The manufacturer window ----

TEST_F(Controls, TheInformationButtonShowsANewManufacturerWindowModallyAndDestroysIt) {
    ASSERT_NO_FATAL_FAILURE(StartWithReader());
    int checked = 0;
    uitest::ModalAnswerer answerer([&](QWidget* modal) {
        auto* info = qobject_cast<TForm2*>(modal);
        EXPECT_NE(info, nullptr);
        if (info) {
            EXPECT_TRUE(info->isVisible());
            EXPECT_TRUE(info->isModal());
            EXPECT_EQ(info->parentWidget(), form.get());
            ++checked;
        }
        return true;
    });

    for (int press = 1; press <= 2; ++press) {
        form->SpeedButton1->click();
        ASSERT_EQ(answerer.windows.size(), std::size_t(press));
        EXPECT_TRUE(answerer.windows.back().isNull()) << "the window outlived its closing";
    }
    EXPECT_EQ(checked, 2);
    EXPECT_EQ(answerer.texts, (QStringList{QStringLiteral("Manufacturer information"),
                                           QStringLiteral("Manufacturer information")}));
    EXPECT_FALSE(answerer.gaveUp);
    EXPECT_EQ(form->findChildren<TForm2*>().size(), 0);
}

}  // namespace
