// The start-up sequence of the main window, run by its first activation,
// with the real serial code against simulated readers published as COM<n>
// links in a temporary working folder, or against no reader at all.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Drv232.h"
#include "MainWindow.h"
#include "ReaderSimulator.h"
#include "UiTestSupport.h"
#include "fakes/FakeSerial.h"
#include "fakes/TempDir.h"

namespace {

// The ports from `first` counting down, `count` of them, 29 after 0.
std::vector<int> Countdown(int first, int count) {
    std::vector<int> ports;
    for (int p = first; int(ports.size()) < count; p = p == 0 ? 29 : p - 1)
        ports.push_back(p);
    return ports;
}

QStringList TestTexts(const std::vector<int>& ports) {
    QStringList texts;
    for (int p : ports)
        texts << QStringLiteral("I test the port COM%1").arg(p);
    return texts;
}

class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        uitest::ResetProgramState();
        folder = std::make_unique<fakes::TempWorkDir>();
        // Nothing but the COM<n> links of the folder counts as a port.
        platform::LimitToLinkedPorts(true);
        platform::UseSerial(&serial);
        platform::UseClock(&clock);
    }

    void TearDown() override {
        watch.reset();
        form.reset();
        ClosePort();
        readers.clear();
        platform::UseSerial(nullptr);
        platform::UseClock(nullptr);
        platform::LimitToLinkedPorts(false);
        folder.reset();
    }

    sim::ReaderSimulator& AddReader(int port, const std::string& id = "1234",
                                    sim::Faults faults = {}) {
        sim::Options options;
        options.folder = folder->path().string();
        options.port = port;
        options.id = id;
        readers.push_back(std::make_unique<sim::ReaderSimulator>(options));
        std::string error;
        EXPECT_TRUE(readers.back()->start(error)) << error;
        readers.back()->setFaults(faults);
        return *readers.back();
    }

    TForm1& Form() {
        if (!form) {
            form = std::make_unique<TForm1>();
            watch = std::make_unique<uitest::StatusWatch>(*form);
        }
        return *form;
    }

    void Start() { ASSERT_TRUE(uitest::ShowAndStart(Form())) << "the start-up did not run"; }

    bool Shown(QWidget* w) { return w->isVisibleTo(form.get()); }

    uitest::Journal journal;
    uitest::RecordingSerial serial{journal};
    uitest::RecordingClock clock{journal};
    std::unique_ptr<fakes::TempWorkDir> folder;
    std::vector<std::unique_ptr<sim::ReaderSimulator>> readers;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<uitest::StatusWatch> watch;
};

TEST_F(Startup, NoSettingsFileAndNoReader) {
    Start();
    TForm1& f = *form;

    // The defaults are written at once.
    EXPECT_EQ(fakes::ReadFile(SettingsFileName),
              std::string("\x1d\0\0\0\x01\0\0\x01\0\0\0\0\0\0\0\0", 16));

    // Ports 29 down to 0, each announced on the status line and painted at once.
    const std::vector<int> ports = Countdown(29, 30);
    EXPECT_EQ(journal.attempts, ports);
    QStringList expected = TestTexts(ports);
    expected << QStringLiteral("No device was identified on any serial port.");
    EXPECT_EQ(watch->set, expected);
    for (const QString& text : TestTexts(ports))
        EXPECT_TRUE(watch->painted.contains(text)) << text.toStdString();
    EXPECT_TRUE(journal.sleeps.empty());

    // The no-reader state.
    EXPECT_EQ(f.StatusText(), QStringLiteral("No device was identified on any serial port."));
    EXPECT_TRUE(Shown(f.BitBtn8));
    EXPECT_EQ(f.BitBtn8->text(), QStringLiteral("Demo"));
    EXPECT_TRUE(f.BitBtn8->isEnabled());
    for (QPushButton* b : {f.BitBtn1, f.BitBtn2, f.BitBtn3, f.BitBtn4, f.BitBtn5})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(f.BitBtn6->isEnabled());
    EXPECT_TRUE(f.BitBtn7->isEnabled());
    EXPECT_TRUE(DemoStopped);
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_FALSE(f.Timer2->isActive());
    for (QWidget* w : {static_cast<QWidget*>(f.Memo1), static_cast<QWidget*>(f.Label1),
                       static_cast<QWidget*>(f.Label2), static_cast<QWidget*>(f.Label3),
                       static_cast<QWidget*>(f.Image1), static_cast<QWidget*>(f.Image2)})
        EXPECT_FALSE(Shown(w)) << w->objectName().toStdString();
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Chip Reader ZEVO"));
    EXPECT_EQ(f.Edit1->text(), QStringLiteral("0"));
    EXPECT_EQ(RunningOrder, 0u);
    EXPECT_EQ(DisplayRow, 0);

    // The defaults leave "Chip code to keyboard" clear: its box is unchecked.
    EXPECT_FALSE(f.CheckBox1->isChecked());
    EXPECT_FALSE(Shown(f.CheckBox3));
    EXPECT_TRUE(f.CheckBox2->isChecked());
    EXPECT_TRUE(f.CheckBox7->isChecked());
    EXPECT_FALSE(f.CheckBox5->isChecked());
    EXPECT_FALSE(f.isMinimized());
    // With the list hidden the focus is on the first box.
    EXPECT_EQ(f.focusWidget(), f.CheckBox1);
}

TEST_F(Startup, StoredPort5AndTheReaderOnCom7) {
    TReaderSettings stored = uitest::DefaultSettings();
    stored.Port = 5;
    stored.OrderNumber = 4000000000u;
    uitest::WriteSettingsFile(stored);
    sim::ReaderSimulator& reader = AddReader(7, "1234");
    Form().WriteRow(0, QStringLiteral("left over"));
    Form().WriteRow(1, QStringLiteral("kept"));

    QElapsedTimer elapsed;
    elapsed.start();
    Start();
    TForm1& f = *form;

    const std::vector<int> ports = Countdown(5, 29);
    ASSERT_EQ(ports.back(), 7);
    EXPECT_EQ(journal.attempts, ports);
    ASSERT_GE(journal.events.size(), 2u);
    EXPECT_EQ(journal.events[journal.events.size() - 2], "open 7 ok");
    EXPECT_EQ(journal.events.back(), "sleep 300");
    EXPECT_EQ(journal.sleeps, std::vector<unsigned>{300});
    EXPECT_GE(elapsed.elapsed(), 300);
    EXPECT_EQ(reader.requests(), std::vector<std::string>{"QI\r"});

    EXPECT_EQ(f.windowTitle(), QStringLiteral("Chip Reader ZEVO1234"));
    EXPECT_EQ(f.StatusText(), QStringLiteral("Connected device ZEVO1234 on port COM7"));
    QStringList expected = TestTexts(ports);
    expected << QStringLiteral("Connected device ZEVO1234 on port COM7");
    EXPECT_EQ(watch->set, expected);
    EXPECT_EQ(Settings.Port, 7);
    // Only End writes the found port to the file.
    EXPECT_EQ(fakes::ReadFile(SettingsFileName), uitest::SettingsBytes(stored));

    // The connected state.
    EXPECT_NE(PortHandle, nullptr);
    EXPECT_TRUE(f.Timer1->isActive());
    EXPECT_EQ(f.Timer1->interval(), 333);
    EXPECT_TRUE(Shown(f.Image1));
    EXPECT_FALSE(Shown(f.Image2));
    for (QWidget* w : {static_cast<QWidget*>(f.Label1), static_cast<QWidget*>(f.Label2),
                       static_cast<QWidget*>(f.Label3), static_cast<QWidget*>(f.Memo1)})
        EXPECT_TRUE(Shown(w)) << w->objectName().toStdString();
    EXPECT_EQ(f.focusWidget(), f.Memo1);
    EXPECT_EQ(f.ReadRow(0), QString());
    EXPECT_EQ(f.ReadRow(1), QStringLiteral("kept"));
    EXPECT_FALSE(Shown(f.BitBtn8));
    for (QPushButton* b : {f.BitBtn1, f.BitBtn2, f.BitBtn3, f.BitBtn4, f.BitBtn5})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_FALSE(DemoStopped);
    EXPECT_EQ(RunningOrder, 4000000000u);
    EXPECT_EQ(f.Edit1->text(), QStringLiteral("4000000000"));
    EXPECT_EQ(DisplayRow, 0);
}

TEST_F(Startup, TheReaderOnTheFirstPortTriedIsFoundAtOnce) {
    TReaderSettings stored = uitest::DefaultSettings();
    stored.Port = 3;
    uitest::WriteSettingsFile(stored);
    AddReader(3, "ABCD");
    QElapsedTimer elapsed;
    elapsed.start();
    Start();
    const qint64 ms = elapsed.elapsed();
    RecordProperty("startup_ms", int(ms));
    EXPECT_EQ(journal.events, (std::vector<std::string>{"open 3 ok", "sleep 300"}));
    EXPECT_EQ(form->StatusText(), QStringLiteral("Connected device ZEVOABCD on port COM3"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Chip Reader ZEVOABCD"));
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms, 3000);
}

TEST_F(Startup, APortThatOpensButDoesNotIdentifyIsClosedAndTheSearchGoesOn) {
    TReaderSettings stored = uitest::DefaultSettings();
    stored.Port = 3;
    uitest::WriteSettingsFile(stored);
    sim::Faults mute;
    mute.silent = true;
    sim::ReaderSimulator& silent = AddReader(3, "0000", mute);
    AddReader(2, "5678");
    Start();

    EXPECT_EQ(journal.events,
              (std::vector<std::string>{"open 3 ok", "sleep 300", "open 2 ok", "sleep 300"}));
    EXPECT_EQ(silent.requests(), std::vector<std::string>{"QI\r"});
    EXPECT_EQ(watch->set, (QStringList{QStringLiteral("I test the port COM3"),
                                       QStringLiteral("I test the port COM2"),
                                       QStringLiteral("Connected device ZEVO5678 on port COM2")}));
    EXPECT_EQ(Settings.Port, 2);
    // Port 3 was given back: it can be opened again.
    platform::Error error = platform::Error::None;
    EXPECT_NE(platform::SystemSerial().open(3, error), nullptr) << platform::ErrorText(error);
}

TEST_F(Startup, AFailedCloseIsShownUntilTheNextPortsText) {
    TReaderSettings stored = uitest::DefaultSettings();
    stored.Port = 3;
    uitest::WriteSettingsFile(stored);
    // Port 3 opens and takes its settings but answers nothing, and its
    // control lines cannot be lowered, so closing it fails.
    fakes::SerialScript script;
    script.failStep = "ClearDtr";
    serial.madeHere[3] = [&] { return std::make_unique<fakes::FakeSerialPort>(script); };
    Start();
    EXPECT_EQ(script.closes, 1);

    ASSERT_GE(watch->set.size(), 3);
    EXPECT_EQ(watch->set[0], QStringLiteral("I test the port COM3"));
    EXPECT_EQ(watch->set[1], QStringLiteral("Error closing port"));
    EXPECT_EQ(watch->set[2], QStringLiteral("I test the port COM2"));
    // The search does not stop early.
    EXPECT_EQ(journal.attempts.size(), 30u);
    EXPECT_EQ(form->StatusText(), QStringLiteral("No device was identified on any serial port."));
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
    TReaderSettings stored = uitest::DefaultSettings();
    stored.Port = std::uint8_t(c.stored);
    uitest::WriteSettingsFile(stored);
    Start();
    ASSERT_EQ(journal.attempts.size(), 30u);
    EXPECT_EQ(journal.attempts.front(), c.first);
    EXPECT_EQ(journal.attempts.back(), c.last);
    for (std::size_t i = 1; i < journal.attempts.size(); ++i) {
        const int before = journal.attempts[i - 1];
        EXPECT_EQ(journal.attempts[i], before == 0 ? 29 : before - 1) << "attempt " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Startup, SearchOrder,
                         ::testing::Values(OrderCase{0, 0, 1}, OrderCase{5, 5, 6},
                                           OrderCase{29, 29, 0}, OrderCase{30, 30, 1},
                                           OrderCase{200, 200, 171}, OrderCase{254, 254, 225},
                                           OrderCase{255, 29, 0}));

class UnsavableDefaults : public Startup, public ::testing::WithParamInterface<int> {};

TEST_P(UnsavableDefaults, ShowTheErrorBoxWhileTimersKeepFiring) {
    // The file cannot be replaced: its temporary name is taken by a folder.
    std::filesystem::create_directory(SettingsTempFileName);

    int ticks = 0;  // a timer that runs all along
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();

    // Looks at the box while it is open, then closes it with the key.
    bool seen = false;
    int ticksWhileOpen = -1;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (!seen) {
            seen = true;
            ticksWhileOpen = -ticks;
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Error"));
            EXPECT_EQ(box->text(), QStringLiteral("Error saving parameters"));
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            ASSERT_EQ(box->buttons().size(), 1);
            EXPECT_EQ(box->buttons().front()->text(), QStringLiteral("OK"));
            EXPECT_EQ(box->defaultButton(), box->buttons().front());
            EXPECT_EQ(box->escapeButton(), box->buttons().front());
            EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
            const QPoint offset =
                box->frameGeometry().center() - box->screen()->availableGeometry().center();
            EXPECT_LE(offset.manhattanLength(), 2);
        } else if (ticks + ticksWhileOpen >= 20) {
            ticksWhileOpen += ticks;
            watcher.stop();
            QTest::keyClick(box, Qt::Key(GetParam()));
        }
    });
    watcher.start();

    Start();
    ASSERT_TRUE(seen) << "no error box";
    EXPECT_GE(ticksWhileOpen, 20) << "the timer stood still while the box was open";
    // The key closed the box and the search went on to its end.
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(journal.attempts.size(), 30u);
    EXPECT_EQ(form->StatusText(), QStringLiteral("No device was identified on any serial port."));
    EXPECT_FALSE(std::filesystem::exists(SettingsFileName));
    EXPECT_EQ(Settings.Port, 29);
}

INSTANTIATE_TEST_SUITE_P(Startup, UnsavableDefaults,
                         ::testing::Values(int(Qt::Key_Return), int(Qt::Key_Escape)),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == Qt::Key_Return ? "Enter" : "Esc");
                         });

TEST_F(Startup, WithMinimizeAtStartTheWindowEndsMinimisedAndTheBoxChecked) {
    TReaderSettings stored = uitest::DefaultSettings();
    stored.MinimizeAtStart = true;
    uitest::WriteSettingsFile(stored);
    Start();
    EXPECT_TRUE(form->isMinimized());
    EXPECT_TRUE(form->CheckBox5->isChecked());
    EXPECT_TRUE(Settings.MinimizeAtStart);
}

TEST_F(Startup, AWindowStartedMinimisedWaitsUntilItIsRestored) {
    Form().showMinimized();
    QTest::qWait(300);
    EXPECT_FALSE(form->StartupDone());
    EXPECT_TRUE(journal.attempts.empty());
    EXPECT_EQ(form->StatusText(), QStringLiteral("Info"));
    EXPECT_FALSE(std::filesystem::exists(SettingsFileName));

    form->showNormal();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->StartupDone(); }, 10000));
    EXPECT_EQ(journal.attempts.size(), 30u);
    EXPECT_TRUE(std::filesystem::exists(SettingsFileName));
}

TEST_F(Startup, RunsOnceAndNotAgainWhenTheActivationComesBack) {
    Start();
    ASSERT_EQ(journal.attempts.size(), 30u);
    QWidget other;
    other.setWindowTitle(QStringLiteral("another window"));
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::qWait(50);
    EXPECT_EQ(journal.attempts.size(), 30u);
    form->FormActivate();
    EXPECT_EQ(journal.attempts.size(), 30u);
    EXPECT_EQ(watch->set.size(), 31);
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
    TReaderSettings stored = uitest::DefaultSettings();
    stored.ChipToKeyboard = c.chip;
    stored.OrderToKeyboard = c.order;
    stored.TimeToKeyboard = c.time;
    uitest::WriteSettingsFile(stored);
    Start();
    EXPECT_EQ(form->CheckBox1->isChecked(), c.chip);
    EXPECT_EQ(Shown(form->CheckBox3), c.chip);
    EXPECT_EQ(Shown(form->CheckBox4), c.chip);
    if (c.chip) {
        EXPECT_EQ(form->CheckBox3->isChecked(), c.order);
        EXPECT_EQ(form->CheckBox4->isChecked(), c.time);
    }
    // With the chip code not typed, neither are the order and the time.
    EXPECT_EQ(bool(Settings.ChipToKeyboard), c.chip);
    EXPECT_EQ(bool(Settings.OrderToKeyboard), c.chip && c.order);
    EXPECT_EQ(bool(Settings.TimeToKeyboard), c.chip && c.time);
}

INSTANTIATE_TEST_SUITE_P(Startup, KeyboardMarks,
                         ::testing::Values(KeyboardCase{false, true, true},
                                           KeyboardCase{true, true, false},
                                           KeyboardCase{true, false, true}));

TEST_F(Startup, UncheckingAndRecheckingChipCodeToKeyboardByMouseLeavesOrderAndTimeUnchecked) {
    TReaderSettings stored = uitest::DefaultSettings();
    stored.ChipToKeyboard = true;
    stored.OrderToKeyboard = true;
    stored.TimeToKeyboard = true;
    uitest::WriteSettingsFile(stored);
    Start();
    ASSERT_TRUE(form->CheckBox3->isChecked());
    ASSERT_TRUE(form->CheckBox4->isChecked());

    QCheckBox* box = form->CheckBox1;
    const QPoint onTheMark(8, box->height() / 2);
    QTest::mouseClick(box, Qt::LeftButton, {}, onTheMark);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(form->CheckBox3->isVisible());
    EXPECT_FALSE(form->CheckBox4->isVisible());
    QTest::mouseClick(box, Qt::LeftButton, {}, onTheMark);
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(form->CheckBox3->isVisible());
    EXPECT_TRUE(form->CheckBox4->isVisible());
    EXPECT_FALSE(form->CheckBox3->isChecked());
    EXPECT_FALSE(form->CheckBox4->isChecked());
    EXPECT_FALSE(Settings.OrderToKeyboard);
    EXPECT_FALSE(Settings.TimeToKeyboard);
    EXPECT_TRUE(Settings.ChipToKeyboard);
}

TEST_F(Startup, TheStatusBarColourIsSavedAndCanTurnYellowAndBack) {
    Start();
    const QColor designed = form->StatusBarColor();
    EXPECT_TRUE(designed.isValid());
    EXPECT_EQ(SavedBarColor, designed);
    form->SetStatusBarColor(RepeatReadBarColor);
    EXPECT_EQ(form->StatusBar1->grab().toImage().pixelColor(3, 3), QColor(255, 255, 0));
    form->SetStatusBarColor(SavedBarColor);
    EXPECT_EQ(form->StatusBarColor(), designed);
}

TEST_F(Startup, TheWindowIsCentredAndKeepsItsControlsInPlaceWhenResized) {
    Start();
    TForm1& f = *form;
    EXPECT_EQ(f.size(), QSize(494, 577));
    const QPoint offset = f.geometry().center() - f.screen()->availableGeometry().center();
    EXPECT_LE(std::abs(offset.x()), OuterWidth - ClientWidth);
    EXPECT_LE(std::abs(offset.y()), OuterHeight - ClientHeight);
    EXPECT_EQ(f.StatusBar1->geometry(), QRect(0, 558, 494, 19));

    f.resize(700, 650);
    QTest::qWait(20);
    EXPECT_EQ(f.StatusBar1->geometry(), QRect(0, 631, 700, 19));
    EXPECT_EQ(f.BitBtn7->mapTo(&f, QPoint(0, 0)), QPoint(368, 512));
    EXPECT_EQ(f.CheckBox1->mapTo(&f, QPoint(0, 0)), QPoint(304, 256));
    EXPECT_EQ(f.Memo1->geometry(), QRect(12, 36, 245, 461));

    f.resize(494, 577);
    QTest::qWait(20);
    EXPECT_EQ(f.StatusBar1->geometry(), QRect(0, 558, 494, 19));
}

}  // namespace
