// The program types a reading for real: its window on a private X server
// against the simulated reader, the keys going through XTest into whatever
// has the focus, a separate window or the program's own list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>

#include "Drv232.h"
#include "Global.h"
#include "MainWindow.h"
#include "QtMainWindow.h"
#include "ReaderSimulator.h"
#include "fakes/FakeClock.h"
#include "fakes/ProgramState.h"
#include "fakes/TempDir.h"
#include "fakes/Xvfb.h"

// X11 last: its macro None would clash with names above, and its type
// Window with ours, so here it is XWindow.
#define Window XWindow
#include <X11/Xlib.h>

#include "fakes/KeyWindow.h"
#include "fakes/SimulatedReader.h"
#undef Window
#undef None

namespace {

std::unique_ptr<fakes::PrivateXServer> server;
std::unique_ptr<QApplication> app;

class ProgramTyping : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::ResetProgramState();
        ASSERT_TRUE(server && server->running());
        dir = std::make_unique<fakes::TempWorkDir>();
        platform::LimitToLinkedPorts(true);
        platform::UseClock(&clock);  // a fixed time; the pauses take none
        clock.now = {2026, 3, 7, 9, 41, 7, 0};
        reader = fakes::StartReader(dir->path(), 3, fakes::Pace::Paced);
        ASSERT_FALSE(HasFailure());

        Settings = TReaderSettings{};
        Settings.Port = 3;
        Settings.ChipToKeyboard = true;
        Settings.OrderToKeyboard = true;
        Settings.TimeToKeyboard = true;
        Settings.OrderNumber = 6;
        ASSERT_TRUE(SaveSettings());
        Settings = TReaderSettings{};

        window = std::make_unique<QtMainWindow>();
        form = std::make_unique<TForm1>(*window);
        window->attach(*form);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->StartupDone(); }, 10000));
        ASSERT_TRUE(window->timer(Timer::Timer1)->isActive())
            << "connected to the simulated reader";
        list = qobject_cast<QPlainTextEdit*>(window->widget(Control::Memo1));

        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
    }

    void TearDown() override {
        if (display)
            XCloseDisplay(display);
        window.reset();
        form.reset();
        ClosePort();
        reader.reset();
        platform::UseClock(nullptr);
        platform::LimitToLinkedPorts(false);
        dir.reset();
    }

    std::unique_ptr<fakes::TempWorkDir> dir;
    fakes::FakeClock clock;
    std::unique_ptr<sim::ReaderSimulator> reader;
    std::unique_ptr<QtMainWindow> window;
    std::unique_ptr<TForm1> form;
    QPlainTextEdit* list = nullptr;
    Display* display = nullptr;
};

TEST_F(ProgramTyping, AReadingIsTypedIntoTheFocusedWindowOfAnotherApplication) {
    fakes::KeyWindow target;
    ASSERT_NE(target.display(), nullptr);
    const QString listBefore = list->toPlainText();

    reader->presentChip("00000A1B2C3D99");
    std::string text;
    EXPECT_TRUE(QTest::qWaitFor([&] { return target.take(text); }, 10000));
    EXPECT_EQ(text, "7     09-41-07     00000A1B2C3D\n");
    EXPECT_FALSE(target.anyKeyDown());
    EXPECT_EQ(RunningOrder, 7u);
    EXPECT_EQ(list->toPlainText(), listBefore) << "a typed reading is not listed";
}

TEST_F(ProgramTyping, WithItsOwnListFocusedTheKeysLandInTheList) {
    ASSERT_TRUE(list->hasFocus());
    const int linesBefore = list->document()->blockCount();
    reader->presentChip("FEDCBA98765432");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return list->toPlainText().contains(QStringLiteral("FEDCBA987654")); }, 10000));
    QTest::qWait(200);  // the Enter that follows
    EXPECT_TRUE(
        list->toPlainText().startsWith(QStringLiteral("7     09-41-07     FEDCBA987654\n")));
    EXPECT_EQ(list->document()->blockCount(), linesBefore + 1);
    EXPECT_FALSE(fakes::KeyWindow::AnyKeyDown(display));
}

}  // namespace

int main(int argc, char** argv) {
    const int result = fakes::RunAllTests(argc, argv, [](int& c, char** v) {
        XInitThreads();
        server = std::make_unique<fakes::PrivateXServer>();
        qputenv("QT_QPA_PLATFORM", "xcb");
        app = std::make_unique<QApplication>(c, v);
    });
    // The application before its X server, both before the static objects.
    app.reset();
    server.reset();
    return result;
}
