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
#include "ReaderSimulator.h"
#include "fakes/FakeClock.h"
#include "fakes/TempDir.h"
#include "fakes/Xvfb.h"

// X11 last: its macro None would clash with names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#undef None

namespace {

fakes::PrivateXServer* server = nullptr;

class ProgramTyping : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server && server->running());
        platform::LimitToLinkedPorts(true);
        platform::UseClock(&clock);  // a fixed time; the pauses take none
        clock.now = {2026, 3, 7, 9, 41, 7, 0};
        sim::Options options;
        options.folder = dir.path().string();
        options.port = 3;
        reader = std::make_unique<sim::ReaderSimulator>(options);
        std::string error;
        ASSERT_TRUE(reader->start(error)) << error;

        Settings = TReaderSettings{};
        Settings.Port = 3;
        Settings.ChipToKeyboard = true;
        Settings.OrderToKeyboard = true;
        Settings.TimeToKeyboard = true;
        Settings.OrderNumber = 6;
        ASSERT_TRUE(SaveSettings());
        Settings = TReaderSettings{};
        RunningOrder = 0;
        DisplayRow = 0;

        form = std::make_unique<TForm1>();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->StartupDone(); }, 10000));
        ASSERT_TRUE(form->Timer1->isActive()) << "connected to the simulated reader";

        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
    }

    void TearDown() override {
        if (display)
            XCloseDisplay(display);
        form.reset();
        ClosePort();
        reader.reset();
        platform::UseClock(nullptr);
        platform::LimitToLinkedPorts(false);
    }

    bool AnyKeyDown() {
        char keys[32];
        XQueryKeymap(display, keys);
        for (char k : keys)
            if (k)
                return true;
        return false;
    }

    fakes::TempWorkDir dir;
    fakes::FakeClock clock;
    std::unique_ptr<sim::ReaderSimulator> reader;
    std::unique_ptr<TForm1> form;
    Display* display = nullptr;
};

TEST_F(ProgramTyping, AReadingIsTypedIntoTheFocusedWindowOfAnotherApplication) {
    const Window target =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 300, 300, 200, 100, 0, 0, 0);
    XSelectInput(display, target, KeyPressMask | StructureNotifyMask);
    XMapWindow(display, target);
    for (XEvent e;;) {
        XNextEvent(display, &e);
        if (e.type == MapNotify)
            break;
    }
    XSetInputFocus(display, target, RevertToParent, CurrentTime);
    XSync(display, False);
    const QString listBefore = form->Memo1->toPlainText();

    reader->presentChip("00000A1B2C3D99");
    std::string text;
    bool enter = false;
    const bool arrived = QTest::qWaitFor(
        [&] {
            while (XPending(display)) {
                XEvent e;
                XNextEvent(display, &e);
                if (e.type != KeyPress)
                    continue;
                char buffer[8];
                KeySym sym;
                const int n = XLookupString(&e.xkey, buffer, sizeof buffer, &sym, nullptr);
                if (sym == XK_Return)
                    enter = true;
                else
                    text.append(buffer, std::size_t(n));
            }
            return enter;
        },
        10000);
    EXPECT_TRUE(arrived && enter);
    EXPECT_EQ(text, "7     09-41-07     00000A1B2C3D");
    EXPECT_FALSE(AnyKeyDown());
    EXPECT_EQ(RunningOrder, 7u);
    EXPECT_EQ(form->Memo1->toPlainText(), listBefore) << "a typed reading is not listed";
}

TEST_F(ProgramTyping, WithItsOwnListFocusedTheKeysLandInTheList) {
    ASSERT_TRUE(form->Memo1->hasFocus());
    const int linesBefore = form->Memo1->document()->blockCount();
    reader->presentChip("FEDCBA98765432");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->Memo1->toPlainText().contains(QStringLiteral("FEDCBA987654")); },
        10000));
    QTest::qWait(200);  // the Enter that follows
    EXPECT_TRUE(
        form->Memo1->toPlainText().startsWith(QStringLiteral("7     09-41-07     FEDCBA987654\n")));
    EXPECT_EQ(form->Memo1->document()->blockCount(), linesBefore + 1);
    EXPECT_FALSE(AnyKeyDown());
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    XInitThreads();
    fakes::PrivateXServer x;
    server = &x;
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
