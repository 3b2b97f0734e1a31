// The Qt skin with the real form attached, offscreen: the window's events
// reach the form's handlers, modal windows run their own loop while the
// timers fire, the start waits for a window that can be seen, the status line
// is painted at once, and the window keeps its shape.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Drv232.h"
#include "Form2.h"
#include "Global.h"
#include "Layout.h"
#include "MainWindow.h"
#include "QtMainWindow.h"
#include "QtPrinting.h"
#include "ReaderSimulator.h"
#include "Sound.h"
#include "fakes/CountingSound.h"
#include "fakes/FakeClock.h"
#include "fakes/ProgramState.h"
#include "fakes/SimulatedReader.h"
#include "fakes/TempDir.h"

namespace {

// The texts the status line took, and the texts its panel was painted with.
class StatusWatch final : public QObject {
  public:
    explicit StatusWatch(QtMainWindow& window) {
        window.statusPanel()->installEventFilter(this);
        connect(&window, &QtMainWindow::statusTextChanged, this,
                [this](const QString& text) { set << text; });
    }
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            painted << static_cast<QLabel*>(watched)->text();
        return false;
    }
    QStringList set;
    QStringList painted;
};

// An operator who answers the modal windows that open while it lives: writes
// each one down and, as soon as `closeWhen` holds (asked every few
// milliseconds while the window is open, so it can act meanwhile; unset, at
// once), answers it: `answer`, or by default the message box's default button
// or the dialog's rejection. A window still open after `giveUpMs` is closed.
class ModalAnswerer {
  public:
    using Condition = std::function<bool(QWidget* modal)>;
    explicit ModalAnswerer(Condition closeWhen = {}, std::function<void(QWidget*)> answer = {})
        : closeWhen_(std::move(closeWhen)), answer_(std::move(answer)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start();
    }

    QStringList texts;  // a message box's text, another window's caption
    std::vector<QPointer<QWidget>> windows;
    bool gaveUp = false;

  private:
    void look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (modal != current_) {
            current_ = modal;
            windows.emplace_back(modal);
            auto* box = qobject_cast<QMessageBox*>(modal);
            texts << (box ? box->text() : modal->windowTitle());
            openFor_.start();
        }
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (openFor_.elapsed() > giveUpMs_) {
            gaveUp = true;
            dialog ? dialog->done(0) : void(modal->close());
        } else if (!closeWhen_ || closeWhen_(modal)) {
            if (answer_)
                answer_(modal);
            else if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->defaultButton())
                box->defaultButton()->click();
            else if (dialog)
                dialog->reject();
        }
    }

    Condition closeWhen_;
    std::function<void(QWidget*)> answer_;
    const qint64 giveUpMs_ = 10000;
    QTimer timer_;
    QPointer<QWidget> current_;
    QElapsedTimer openFor_;
};

const QString Connected = QStringLiteral("Connected device ZEVO1234 on port COM3");

class QtSkin : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetProgramState();
        folder = std::make_unique<fakes::TempWorkDir>();
        platform::LimitToLinkedPorts(true);
        platform::UseClock(&clock);  // 7 March 2026, 09:41:07; pauses take no time
        platform::UseSound(&sound);
        window = std::make_unique<QtMainWindow>();
        form = std::make_unique<TForm1>(*window);
        window->attach(*form);
        watch = std::make_unique<StatusWatch>(*window);
    }

    void TearDown() override {
        watch.reset();
        window.reset();
        form.reset();
        ClosePort();
        reader.reset();
        platform::UseSound(nullptr);
        platform::UseClock(nullptr);
        platform::LimitToLinkedPorts(false);
        folder.reset();
    }

    // A settings file naming port 3 first, and a reader there.
    void AddReader(bool chipToKeyboard = false) {
        Settings = TReaderSettings{};
        Settings.Port = 3;
        Settings.ChipToKeyboard = chipToKeyboard;
        Settings.OrderToKeyboard = chipToKeyboard;
        Settings.TimeToKeyboard = chipToKeyboard;
        ASSERT_TRUE(SaveSettings());
        Settings = TReaderSettings{};
        reader = fakes::StartReader(folder->path(), 3);
        ASSERT_FALSE(HasFailure());
    }

    // Shows the window as the program does and waits for the start-up's end.
    void Start() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->StartupDone(); }, 10000))
            << "the start-up did not run";
    }

    // A chip on the reader, taken by the next tick of Timer1.
    bool ReadChip(const std::string& code) {
        const std::uint32_t before = RunningOrder;
        reader->presentChip(code);
        return QTest::qWaitFor([&] { return RunningOrder == before + 1; }, 5000);
    }

    template <class W = QWidget>
    W* Widget(Control c) {
        return qobject_cast<W*>(window->widget(c));
    }
    bool Shown(Control c) { return window->widget(c)->isVisibleTo(window.get()); }
    void Click(Control c) { QTest::mouseClick(window->widget(c), Qt::LeftButton); }
    // A check box clicked on its mark, not on its text.
    void ClickMark(Control c) {
        QTest::mouseClick(window->widget(c), Qt::LeftButton, {},
                          QPoint(8, window->widget(c)->height() / 2));
    }
    QColor BarPixel() { return window->statusBar()->grab().toImage().pixelColor(3, 3); }

    fakes::FakeClock clock;
    fakes::CountingSound sound;
    std::unique_ptr<fakes::TempWorkDir> folder;
    std::unique_ptr<sim::ReaderSimulator> reader;
    std::unique_ptr<QtMainWindow> window;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<StatusWatch> watch;
};

// One operator's session: clicks on buttons and marks, readings by Timer1, the
// order field left by Tab and left for another window.
TEST_F(QtSkin, ClicksTicksAndFocusChangesReachTheirHandlers) {
    ASSERT_NO_FATAL_FAILURE(AddReader(true));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(window->text(Control::StatusBar1), Connected.toStdString());
    // Each status text was painted before the start-up went on.
    EXPECT_EQ(watch->set, (QStringList{QStringLiteral("I test the port COM3"), Connected}));
    EXPECT_TRUE(watch->painted.contains(QStringLiteral("I test the port COM3")));
    const QColor designed = BarPixel();
    EXPECT_EQ(SavedBarColor, window->statusColor());

    // Buttons.
    Click(Control::BitBtn3);
    Click(Control::BitBtn4);
    EXPECT_EQ(reader->requests(), (std::vector<std::string>{"QI\r", "QR\r", "QZ\r"}));
    EXPECT_EQ(watch->set.last(), QStringLiteral("LED off"));
    EXPECT_TRUE(watch->painted.contains(QStringLiteral("LED off")));

    // "Chip code to keyboard", unchecked by mouse: readings are listed.
    ASSERT_TRUE(Widget<QCheckBox>(Control::CheckBox3)->isChecked());
    ClickMark(Control::CheckBox1);
    EXPECT_FALSE(window->checked(Control::CheckBox1));
    EXPECT_FALSE(Settings.ChipToKeyboard);
    EXPECT_FALSE(Shown(Control::CheckBox3));
    EXPECT_FALSE(Shown(Control::CheckBox4));

    // Timer1 ticks take the readings; the repeat read's yellow bar lasts
    // until the next reading.
    ASSERT_TRUE(ReadChip("00000A1B2C3D")) << "Timer1 took no reading";
    EXPECT_EQ(form->ReadRow(0), "1       09:41:07      00000A1B2C3D");
    Click(Control::BitBtn5);
    EXPECT_EQ(reader->requests().back(), "*D0\r");
    EXPECT_EQ(BarPixel(), QColor(255, 255, 0));
    ASSERT_TRUE(ReadChip("00000A1B2C3E"));
    EXPECT_EQ(BarPixel(), designed);
    EXPECT_EQ(form->ReadRow(1), "2       09:41:07      00000A1B2C3E");

    // Checked again: the two boxes come back, unchecked.
    ClickMark(Control::CheckBox1);
    EXPECT_TRUE(Settings.ChipToKeyboard);
    EXPECT_TRUE(Shown(Control::CheckBox3));
    EXPECT_FALSE(window->checked(Control::CheckBox3));
    EXPECT_FALSE(window->checked(Control::CheckBox4));
    EXPECT_FALSE(Settings.OrderToKeyboard);
    EXPECT_FALSE(Settings.TimeToKeyboard);

    // The order field, left for another window and back: not left at all.
    ModalAnswerer answerer;
    auto* edit = Widget<QLineEdit>(Control::Edit1);
    edit->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }, 5000));
    edit->setText(QStringLiteral("abc"));
    QWidget other;
    other.setWindowTitle(QStringLiteral("another window"));
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::qWait(50);
    EXPECT_TRUE(answerer.texts.isEmpty()) << answerer.texts.join(u'|').toStdString();
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(watch->set.count(Connected), 1) << "the start-up ran again";

    // Left by Tab: the number is taken.
    edit->setText(QStringLiteral("40"));
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_EQ(window->focusWidget(), window->widget(Control::BitBtn1));
    EXPECT_TRUE(answerer.texts.isEmpty()) << answerer.texts.join(u'|').toStdString();
    EXPECT_EQ(RunningOrder, 40u);
}

TEST_F(QtSkin, TimerTwoTicksRunTheDemo) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Shown(Control::BitBtn8)) << "a reader was found";
    window->timer(Timer::Timer2)->setInterval(10);
    Click(Control::BitBtn8);
    EXPECT_EQ(window->text(Control::BitBtn8), "Stop");
    ASSERT_TRUE(QTest::qWaitFor([] { return RunningOrder >= 2; }, 5000)) << "Timer2 took no turn";
    EXPECT_EQ(form->ReadRow(0).substr(0, 22), "1       09:41:07      ");
    Click(Control::BitBtn8);
    EXPECT_EQ(window->text(Control::BitBtn8), "Demo");
    EXPECT_FALSE(window->timer(Timer::Timer2)->isActive());
}

TEST_F(QtSkin, EnterAndSpacePressTheFocusedButton) {
    ASSERT_NO_FATAL_FAILURE(Start());
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        RunningOrder = 7;
        window->setFocus(Control::BitBtn6);  // "Reset the order"
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->widget(Control::BitBtn6)->hasFocus(); }));
        QTest::keyClick(window->widget(Control::BitBtn6), key);
        EXPECT_EQ(RunningOrder, 0u) << key;
        EXPECT_EQ(window->text(Control::Edit1), "0") << key;
    }
    // In the order field Enter stays the field's: no button is pressed.
    RunningOrder = 7;
    window->setFocus(Control::Edit1);
    QTest::keyClick(window->widget(Control::Edit1), Qt::Key_Return);
    EXPECT_EQ(RunningOrder, 7u);
}

// The order field left by Tab with a bad number: the error box, answered by a
// key after a reading arrived while it was open.
class ErrorBox : public QtSkin, public ::testing::WithParamInterface<Qt::Key> {};

TEST_P(ErrorBox, IsModalCentredAndRunsItsOwnLoopWhileTimer1Ticks) {
    ASSERT_NO_FATAL_FAILURE(AddReader());
    ASSERT_NO_FATAL_FAILURE(Start());
    auto* edit = Widget<QLineEdit>(Control::Edit1);
    edit->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }, 5000));
    edit->setText(QStringLiteral("abc"));

    bool looked = false;
    ModalAnswerer answerer(
        [&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!looked && box) {
                looked = true;
                EXPECT_EQ(box->windowTitle(), QStringLiteral("Error"));
                EXPECT_EQ(box->icon(), QMessageBox::Critical);
                EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
                EXPECT_EQ(box->parentWidget(), window.get());
                [&] {
                    ASSERT_EQ(box->buttons().size(), 1);
                    EXPECT_EQ(box->buttons().front()->text(), QStringLiteral("OK"));
                    EXPECT_EQ(box->defaultButton(), box->buttons().front());
                    EXPECT_EQ(box->escapeButton(), box->buttons().front());
                }();
                const QPoint offset =
                    box->frameGeometry().center() - box->screen()->availableGeometry().center();
                EXPECT_LE(offset.manhattanLength(), 2);
                reader->presentChip("00000A1B2C3D");
            }
            return RunningOrder == 1;
        },
        [key = GetParam()](QWidget* modal) { QTest::keyClick(modal, key); });

    QTest::keyClick(edit, Qt::Key_Tab);

    EXPECT_EQ(answerer.texts, QStringList{QStringLiteral("Bad number format")});
    EXPECT_FALSE(answerer.gaveUp)
        << "no reading while the box was open, or the key did not close it";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(form->ReadRow(0), "1       09:41:07      00000A1B2C3D");
    EXPECT_EQ(std::uint32_t(Settings.OrderNumber), 1u);
}

INSTANTIATE_TEST_SUITE_P(QtSkin, ErrorBox, ::testing::Values(Qt::Key_Return, Qt::Key_Escape),
                         [](const ::testing::TestParamInfo<Qt::Key>& info) {
                             return std::string(info.param == Qt::Key_Return ? "Enter" : "Esc");
                         });

TEST_F(QtSkin, TheInformationButtonShowsANewManufacturerWindowModallyAndDestroysIt) {
    ASSERT_NO_FATAL_FAILURE(AddReader());
    ASSERT_NO_FATAL_FAILURE(Start());
    int looked = 0;
    QPointer<QWidget> lookedAt;  // each press makes a new window, maybe at the same address
    ModalAnswerer answerer([&](QWidget* modal) {
        auto* info = qobject_cast<TForm2*>(modal);
        if (!info)
            return true;
        if (lookedAt != modal) {
            lookedAt = modal;
            ++looked;
            EXPECT_TRUE(info->isVisible());
            EXPECT_TRUE(info->isModal());
            EXPECT_EQ(info->parentWidget(), window.get());
            reader->presentChip(looked == 1 ? "00000A1B2C3D" : "00000A1B2C3E");
        }
        return RunningOrder == std::uint32_t(looked);
    });

    for (int press = 1; press <= 2; ++press) {
        Click(Control::SpeedButton1);
        ASSERT_EQ(answerer.windows.size(), std::size_t(press));
        EXPECT_TRUE(answerer.windows.back().isNull()) << "the window outlived its closing";
    }
    EXPECT_EQ(looked, 2);
    EXPECT_EQ(answerer.texts, (QStringList{QStringLiteral("Manufacturer information"),
                                           QStringLiteral("Manufacturer information")}));
    EXPECT_FALSE(answerer.gaveUp) << "Timer1 took no reading while the window was open";
    EXPECT_EQ(RunningOrder, 2u);
    EXPECT_TRUE(window->findChildren<TForm2*>().isEmpty());
}

TEST_F(QtSkin, AWindowShownMinimisedStartsOnceRestored) {
    window->showMinimized();
    window->activateWindow();
    QTest::qWait(300);
    EXPECT_FALSE(form->StartupDone());
    EXPECT_TRUE(watch->set.isEmpty());
    EXPECT_EQ(window->text(Control::StatusBar1), "Info");

    window->showNormal();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->StartupDone(); }, 10000));
    EXPECT_EQ(watch->set.size(), 31) << "thirty ports tried, then no device";
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(QtSkin, TheWindowIsCentredAndKeepsItsControlsInPlaceWhenResized) {
    ASSERT_NO_FATAL_FAILURE(Start());
    QtMainWindow& w = *window;
    EXPECT_EQ(w.size(), QSize(494, 577));
    const QPoint offset = w.geometry().center() - w.screen()->availableGeometry().center();
    EXPECT_LE(std::abs(offset.x()), OuterWidth - ClientWidth);
    EXPECT_LE(std::abs(offset.y()), OuterHeight - ClientHeight);
    QStatusBar* bar = w.statusBar();
    EXPECT_EQ(bar->geometry(), QRect(0, 558, 494, 19));

    w.resize(700, 650);
    QTest::qWait(20);
    EXPECT_EQ(bar->geometry(), QRect(0, 631, 700, 19));
    EXPECT_EQ(w.widget(Control::BitBtn7)->mapTo(&w, QPoint(0, 0)), QPoint(368, 512));
    EXPECT_EQ(w.widget(Control::CheckBox1)->mapTo(&w, QPoint(0, 0)), QPoint(304, 256));
    EXPECT_EQ(w.widget(Control::Memo1)->geometry(), QRect(12, 36, 245, 461));

    w.resize(494, 577);
    QTest::qWait(20);
    EXPECT_EQ(bar->geometry(), QRect(0, 558, 494, 19));
}

// The form's rows on the Qt list: a row is one line of the document, whatever
// the text, and lines the operator deleted are not made again.
TEST_F(QtSkin, ListRowsAreSingleLinesOfTheDocument) {
    auto* memo = Widget<QPlainTextEdit>(Control::Memo1);
    form->WriteRow(4, "4       09:41:07      00000A1B2C3D");
    form->WriteRow(5, "five");
    form->WriteRow(5, "5");
    form->WriteRow(30, "last\r\nline\u2029");
    EXPECT_EQ(form->ReadRow(5), "5");
    EXPECT_EQ(memo->document()->blockCount(), 31);
    EXPECT_EQ(memo->toPlainText(), QString(4, QLatin1Char('\n')) +
                                       QStringLiteral("4       09:41:07      00000A1B2C3D\n5") +
                                       QString(25, QLatin1Char('\n')) +
                                       QStringLiteral("last??line?"));

    memo->setPlainText(QStringLiteral("one\ntwo"));
    form->WriteRow(2, "x");
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("one\ntwo"));
    EXPECT_EQ(form->ReadRow(1), "two");
    EXPECT_EQ(form->ReadRow(2), "");
}

// Text from the reader is shown as text: markup and entities stay as they
// are, on the status line as in the error box.
TEST_F(QtSkin, DeviceTextIsNeverReadAsMarkup) {
    auto* panel = window->statusPanel();
    window->setStatus("<b>0123456789A</b>");
    EXPECT_EQ(panel->text(), QStringLiteral("<b>0123456789A</b>"));
    // Read as markup, "&lt;" would shrink to one character and "<br>" break the line.
    window->setStatus("&lt;&lt;&lt;&lt;");
    const int entities = panel->sizeHint().width();
    window->setStatus("<<<<");
    EXPECT_GT(entities, panel->sizeHint().width() * 2);
    window->setStatus("a<br>b");
    const int oneLine = panel->sizeHint().height();
    window->setStatus("ab");
    EXPECT_EQ(panel->sizeHint().height(), oneLine);

    ModalAnswerer answerer([](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        EXPECT_TRUE(box && box->textFormat() == Qt::PlainText);
        return true;
    });
    window->showError("<i>x</i>");
    EXPECT_EQ(answerer.texts, QStringList{QStringLiteral("<i>x</i>")});
}

// A long shift: the list keeps 31 rows, and the window's memory stays flat
// (the list once kept every row written in its edit history, about 4 kB a
// reading).
// What another thread posts runs in the window's event loop, on its thread;
// what is still waiting when the window goes is deleted unrun.
TEST_F(QtSkin, APostedFunctionRunsOnTheWindowsThreadOrGoesWithTheWindow) {
    std::thread::id ranOn;
    std::thread([&] { window->post([&] { ranOn = std::this_thread::get_id(); }); }).join();
    EXPECT_EQ(ranOn, std::thread::id());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ranOn != std::thread::id(); }, 5000));
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    auto other = std::make_unique<QtMainWindow>();
    const auto held = std::make_shared<int>();
    bool ran = false;
    other->post([held, &ran] { ran = true; });
    other.reset();
    EXPECT_EQ(held.use_count(), 1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

TEST_F(QtSkin, MemoryStaysFlatOverThousandsOfReadings) {
    auto resident = [] {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::stol(line.substr(6));
        return -1L;
    };
    window->show();
    auto reading = [&](int n) {
        ChipCode = DemoChipText(std::uint32_t(n) * 2654435761u % DemoCodeLimit);
        form->RecordReading(ReadingFrom::Demo);
        QApplication::processEvents();
    };
    for (int n = 1; n <= 1000; ++n)
        reading(n);
    const long before = resident();
    for (int n = 1001; n <= 3000; ++n)
        reading(n);
    EXPECT_LT(resident() - before, 1024) << "kB over 2,000 readings";
    EXPECT_EQ(Widget<QPlainTextEdit>(Control::Memo1)->document()->blockCount(), 31);
}

}  // namespace
