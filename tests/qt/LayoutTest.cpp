// The main window's layout: the table every skin builds from, checked against
// our own copy of its numbers and texts, and the Qt window built from it
// before any start-up runs.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "Layout.h"
#include "Look.h"
#include "MainWindow.h"
#include "QtMainWindow.h"
#include "QtPrinting.h"

namespace {

struct Expected {
    const char* name;
    Kind kind;
    int left, top, width, height;
    const char* caption;
    bool shown;
    bool checked;
    Picture picture;
    int tabOrder;
    Handler handler;
};

constexpr bool Shown = true;
constexpr bool Hidden = false;
constexpr int None = NoTabStop;

// Our own copy, written out again: a typo on either side shows.
// clang-format off
const Expected Controls[ControlCount] = {
    {"Label3", Kind::Label, 12, 16, 0, 0, "Order", Hidden, false, Picture::None, None, nullptr},
    {"Label1", Kind::Label, 64, 16, 0, 0, "Time", Hidden, false, Picture::None, None, nullptr},
    {"Label2", Kind::Label, 128, 16, 0, 0, "Chip code", Hidden, false, Picture::None, None, nullptr},
    {"Image2", Kind::Picture, 208, 16, 17, 17, "", Hidden, false, Picture::LampOn, None, nullptr},
    {"Image1", Kind::Picture, 208, 16, 17, 17, "", Hidden, false, Picture::LampOff, None, nullptr},
    {"SpeedButton1", Kind::SpeedButton, 256, 8, 33, 25, "", Shown, false, Picture::Information, None, &TForm1::SpeedButton1Click},
    {"Memo1", Kind::Memo, 12, 36, 245, 461, "", Hidden, false, Picture::None, 0, nullptr},
    {"Bevel2", Kind::Bevel, 292, 32, 181, 185, "", Shown, false, Picture::None, None, nullptr},
    {"Label4", Kind::Label, 336, 24, 0, 0, "Control buttons", Shown, false, Picture::None, None, nullptr},
    {"BitBtn1", Kind::Button, 312, 48, 137, 25, "Blocking", Shown, false, Picture::Blocking, 10, &TForm1::BitBtn1Click},
    {"BitBtn2", Kind::Button, 312, 80, 137, 25, "Unblocking", Shown, false, Picture::Unblocking, 11, &TForm1::BitBtn2Click},
    {"BitBtn3", Kind::Button, 312, 112, 137, 25, "Light up LED", Shown, false, Picture::LedOn, 12, &TForm1::BitBtn3Click},
    {"BitBtn4", Kind::Button, 312, 144, 137, 25, "Turn off LED", Shown, false, Picture::LedOff, 13, &TForm1::BitBtn4Click},
    {"BitBtn5", Kind::Button, 312, 176, 137, 25, "Chip Repeat Read", Shown, false, Picture::Reread, 14, &TForm1::BitBtn5Click},
    {"Bevel1", Kind::Bevel, 292, 240, 181, 89, "", Shown, false, Picture::None, None, nullptr},
    {"Label6", Kind::Label, 344, 232, 0, 0, "Redirect", Shown, false, Picture::None, None, nullptr},
    {"CheckBox1", Kind::CheckBox, 304, 256, 149, 17, "Chip code to keyboard", Shown, true, Picture::None, 1, &TForm1::CheckBox1Click},
    {"CheckBox3", Kind::CheckBox, 304, 280, 141, 17, "Order to Keyboard ", Hidden, false, Picture::None, 3, &TForm1::CheckBox3Click},
    {"CheckBox4", Kind::CheckBox, 304, 304, 141, 17, "Time to Keyboard. ", Hidden, false, Picture::None, 4, &TForm1::CheckBox4Click},
    {"Bevel3", Kind::Bevel, 292, 352, 181, 145, "", Shown, false, Picture::None, None, nullptr},
    {"Label7", Kind::Label, 360, 344, 0, 0, "Parameters", Shown, false, Picture::None, None, nullptr},
    {"CheckBox7", Kind::CheckBox, 304, 368, 97, 17, "Sound signal", Shown, false, Picture::None, 7, &TForm1::CheckBox7Click},
    {"CheckBox2", Kind::CheckBox, 304, 392, 137, 17, "Auto turn off the LED ", Shown, false, Picture::None, 2, &TForm1::CheckBox2Click},
    {"CheckBox6", Kind::CheckBox, 304, 416, 97, 17, "Save on disk", Shown, false, Picture::None, 6, &TForm1::CheckBox6Click},
    {"CheckBox5", Kind::CheckBox, 304, 440, 153, 17, "Minimize after boot", Shown, false, Picture::None, 5, &TForm1::CheckBox5Click},
    {"CheckBox9", Kind::CheckBox, 304, 464, 73, 17, "CRC", Shown, false, Picture::None, 19, &TForm1::CheckBox9Click},
    {"CheckBox8", Kind::CheckBox, 392, 464, 97, 17, "Family", Hidden, false, Picture::None, 18, &TForm1::CheckBox8Click},
    {"Label5", Kind::Label, 8, 520, 0, 0, "Order:", Shown, false, Picture::None, None, nullptr},
    {"Edit1", Kind::Edit, 48, 512, 113, 21, "Edit1", Shown, false, Picture::None, 8, &TForm1::Edit1Exit},
    {"BitBtn6", Kind::Button, 168, 512, 105, 25, "Reset the order", Shown, false, Picture::ResetOrder, 15, &TForm1::BitBtn6Click},
    {"BitBtn8", Kind::Button, 280, 512, 75, 25, "Demo", Hidden, false, Picture::Demo, 17, &TForm1::BitBtn8Click},
    {"BitBtn7", Kind::Button, 368, 512, 105, 25, "End ", Shown, false, Picture::End, 16, &TForm1::BitBtn7Click},
    {"StatusBar1", Kind::StatusBar, 0, 0, 0, 19, "Info", Shown, false, Picture::None, 9, nullptr},
};
// clang-format on

struct ExpectedTimer {
    const char* name;
    unsigned intervalMs;
    Handler handler;
};
const ExpectedTimer Timers[TimerCount] = {
    {"Timer1", 333, &TForm1::Timer1Timer},
    {"Timer2", 2000, &TForm1::Timer2Timer},
    {"Timer3", 1000, &TForm1::Timer3Timer},
};

const char* QtClass(Kind kind) {
    switch (kind) {
        case Kind::Label:
        case Kind::Picture:
            return "QLabel";
        case Kind::SpeedButton:
            return "QToolButton";
        case Kind::Memo:
            return "QPlainTextEdit";
        case Kind::Bevel:
            return "QFrame";
        case Kind::Button:
            return "QPushButton";
        case Kind::CheckBox:
            return "QCheckBox";
        case Kind::Edit:
            return "QLineEdit";
        case Kind::StatusBar:
            return "QStatusBar";
    }
    return "?";
}

bool IsGrey(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 0 && (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)))
                return false;
        }
    return true;
}

QImage Pixels(const QPixmap& pixmap) {
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST(LayoutTable, AgreesWithOurCopy) {
    for (int i = 0; i < ControlCount; ++i) {
        const ControlLayout& entry = Form1Layout[i];
        const Expected& c = Controls[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(int(entry.id), i);
        EXPECT_EQ(&LayoutOf(Control(i)), &entry);
        EXPECT_STREQ(entry.name, c.name);
        EXPECT_EQ(entry.kind, c.kind);
        EXPECT_EQ(entry.left, c.left);
        EXPECT_EQ(entry.top, c.top);
        EXPECT_EQ(entry.width, c.width);
        EXPECT_EQ(entry.height, c.height);
        EXPECT_STREQ(entry.caption, c.caption);
        EXPECT_EQ(entry.shown, c.shown);
        EXPECT_EQ(entry.checked, c.checked);
        EXPECT_EQ(entry.picture, c.picture);
        EXPECT_EQ(entry.tabOrder, c.tabOrder);
        EXPECT_TRUE(entry.handler == c.handler) << "the handler column names another handler";
    }
    for (int i = 0; i < TimerCount; ++i) {
        const TimerLayout& entry = Form1Timers[i];
        SCOPED_TRACE(Timers[i].name);
        EXPECT_EQ(int(entry.id), i);
        EXPECT_EQ(&LayoutOf(Timer(i)), &entry);
        EXPECT_STREQ(entry.name, Timers[i].name);
        EXPECT_EQ(entry.intervalMs, Timers[i].intervalMs);
        EXPECT_TRUE(entry.handler == Timers[i].handler)
            << "the handler column names another handler";
    }
}

class QtWindowAsBuilt : public ::testing::Test {
  protected:
    void SetUp() override { window.layout()->activate(); }

    template <class W = QWidget>
    W* Find(const char* name) {
        return window.findChild<W*>(QString::fromLatin1(name));
    }

    QtMainWindow window;
};

TEST_F(QtWindowAsBuilt, EveryControlAsTheTableSays) {
    QWidget* client = window.centralWidget();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->pos(), QPoint(0, 0));
    for (int i = 0; i < ControlCount; ++i) {
        const Expected& c = Controls[i];
        SCOPED_TRACE(c.name);
        QWidget* w = Find(c.name);
        ASSERT_NE(w, nullptr) << "no control of that name";
        EXPECT_EQ(window.widget(Control(i)), w);
        EXPECT_STREQ(w->metaObject()->className(), QtClass(c.kind));
        EXPECT_EQ(w->isVisibleTo(&window), c.shown);
        EXPECT_TRUE(w->isEnabled());
        if (c.kind == Kind::StatusBar)
            continue;  // below
        EXPECT_EQ(w->parentWidget(), client);
        EXPECT_EQ(w->pos(), QPoint(c.left, c.top));
        const QSize size = c.kind == Kind::Label ? w->sizeHint() : QSize(c.width, c.height);
        EXPECT_EQ(w->size(), size) << "a label is as large as its text";
        EXPECT_EQ(w->font().pixelSize(), WindowFontPixels);

        EXPECT_EQ(window.text(Control(i)), c.caption);
        EXPECT_EQ(window.checked(Control(i)), c.checked);
    }

    // The client area holds the table's controls and nothing else.
    std::set<QString> expected;
    for (const Expected& c : Controls)
        if (c.kind != Kind::StatusBar)
            expected.insert(QString::fromLatin1(c.name));
    std::set<QString> found;
    for (QWidget* w : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        found.insert(w->objectName());
    EXPECT_EQ(found, expected);
}

TEST_F(QtWindowAsBuilt, TheWindowItsStatusBarAndTimers) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Chip Reader ZEVO"));
    EXPECT_EQ(window.size(), QSize(494, 577));
    EXPECT_EQ(window.font().pixelSize(), 11);
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_FALSE(IsGrey(window.windowIcon().pixmap(32).toImage()));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window.palette().color(QPalette::Window), window.palette().color(QPalette::Button));

    QStatusBar* bar = Find<QStatusBar>("StatusBar1");
    ASSERT_EQ(bar, window.statusBar());
    EXPECT_EQ(bar->geometry(), QRect(0, 558, 494, 19));
    EXPECT_TRUE(bar->isSizeGripEnabled());
    EXPECT_EQ(bar->focusPolicy(), Qt::NoFocus);
    const QList<QLabel*> panels = bar->findChildren<QLabel*>();
    ASSERT_EQ(panels.size(), 1);
    EXPECT_EQ(panels.front(), window.statusPanel());
    EXPECT_EQ(panels.front()->text(), QStringLiteral("Info"));
    EXPECT_EQ(window.text(Control::StatusBar1), "Info");

    auto* memo = Find<QPlainTextEdit>("Memo1");
    ASSERT_NE(memo, nullptr);
    EXPECT_FALSE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_NE(memo->wordWrapMode(), QTextOption::NoWrap);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo->toPlainText(), QString(30, QLatin1Char('\n')));
    EXPECT_EQ(memo->document()->blockCount(), 31);
    EXPECT_EQ(window.lineCount(), 31);

    for (int i = 0; i < TimerCount; ++i) {
        SCOPED_TRACE(Timers[i].name);
        auto* timer = window.findChild<QTimer*>(QString::fromLatin1(Timers[i].name));
        ASSERT_NE(timer, nullptr);
        EXPECT_EQ(window.timer(Timer(i)), timer);
        EXPECT_EQ(timer->interval(), int(Timers[i].intervalMs));
        EXPECT_FALSE(timer->isActive());
    }
}

TEST_F(QtWindowAsBuilt, TheTabOrderFollowsTheTableAndTheStatusBarTakesNoFocus) {
    std::vector<const Expected*> byOrder;
    for (const Expected& c : Controls)
        if (c.tabOrder != NoTabStop && c.kind != Kind::StatusBar)
            byOrder.push_back(&c);
    std::sort(byOrder.begin(), byOrder.end(),
              [](const Expected* a, const Expected* b) { return a->tabOrder < b->tabOrder; });
    std::vector<QString> expected;
    for (const Expected* c : byOrder)
        expected.push_back(QString::fromLatin1(c->name));
    ASSERT_EQ(expected.size(), 19u);

    const std::set<QString> listed(expected.begin(), expected.end());
    std::vector<QString> chain;
    QWidget* w = &window;
    do {
        w = w->nextInFocusChain();
        if (listed.count(w->objectName()))
            chain.push_back(w->objectName());
    } while (w != &window && chain.size() < 100);
    EXPECT_EQ(chain, expected);
    // The first control in the chain that can take the focus is the list.
    QWidget* first = window.nextInFocusChain();
    while (first->focusPolicy() == Qt::NoFocus)
        first = first->nextInFocusChain();
    EXPECT_EQ(first, window.widget(Control::Memo1));
    EXPECT_EQ(window.widget(Control::StatusBar1)->focusPolicy(), Qt::NoFocus);
}

TEST_F(QtWindowAsBuilt, ButtonsShowTheirPictureAndAGreyOneWhenDisabled) {
    for (const Expected& c : Controls) {
        if (c.kind != Kind::Button && c.kind != Kind::SpeedButton)
            continue;
        SCOPED_TRACE(c.name);
        auto* button = Find<QAbstractButton>(c.name);
        ASSERT_NE(button, nullptr);
        const QIcon icon = button->icon();
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(button->iconSize(), QSize(16, 16));
        const QImage normal = Pixels(icon.pixmap(16, QIcon::Normal));
        const QImage disabled = Pixels(icon.pixmap(16, QIcon::Disabled));
        EXPECT_TRUE(normal == Pixels(ButtonPicture(c.picture)))
            << "not the picture the table names";
        EXPECT_EQ(normal.size(), QSize(16, 16));
        EXPECT_FALSE(IsGrey(normal));
        EXPECT_TRUE(IsGrey(disabled));
        EXPECT_FALSE(normal == disabled);
    }
    // The information button shows its picture only and takes no focus.
    auto* info = Find<QToolButton>("SpeedButton1");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_EQ(info->focusPolicy(), Qt::NoFocus);
}

TEST_F(QtWindowAsBuilt, TheLampsAreDarkAndBrightGreenAndTheDarkOneLiesAbove) {
    auto* off = Find<QLabel>("Image1");
    auto* on = Find<QLabel>("Image2");
    ASSERT_NE(off, nullptr);
    ASSERT_NE(on, nullptr);
    ASSERT_EQ(off->pixmap().size(), QSize(17, 17));
    ASSERT_EQ(on->pixmap().size(), QSize(17, 17));
    const QRgb offCentre = off->pixmap().toImage().pixel(8, 8);
    const QRgb onCentre = on->pixmap().toImage().pixel(8, 8);
    EXPECT_GT(qGreen(offCentre), qRed(offCentre));
    EXPECT_GT(qGreen(onCentre), qRed(onCentre));
    EXPECT_GT(qGreen(onCentre), qGreen(offCentre) + 100);

    off->show();
    on->show();
    QWidget* client = window.centralWidget();
    EXPECT_EQ(client->childAt(216, 24), off);
    off->hide();
    EXPECT_EQ(client->childAt(216, 24), on);
}

}  // namespace
