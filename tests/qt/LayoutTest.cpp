// The Qt window built from the layout table (checked itself against our own
// copy in tests/layout_test.cpp), before any start-up runs.
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
        const ControlLayout& c = Form1Layout[i];
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
    for (const ControlLayout& c : Form1Layout)
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
        SCOPED_TRACE(Form1Timers[i].name);
        auto* timer = window.findChild<QTimer*>(QString::fromLatin1(Form1Timers[i].name));
        ASSERT_NE(timer, nullptr);
        EXPECT_EQ(window.timer(Timer(i)), timer);
        EXPECT_EQ(timer->interval(), int(Form1Timers[i].intervalMs));
        EXPECT_FALSE(timer->isActive());
    }
}

TEST_F(QtWindowAsBuilt, TheTabOrderFollowsTheTableAndTheStatusBarTakesNoFocus) {
    std::vector<const ControlLayout*> byOrder;
    for (const ControlLayout& c : Form1Layout)
        if (c.tabOrder != NoTabStop && c.kind != Kind::StatusBar)
            byOrder.push_back(&c);
    std::sort(byOrder.begin(), byOrder.end(), [](const ControlLayout* a, const ControlLayout* b) {
        return a->tabOrder < b->tabOrder;
    });
    std::vector<QString> expected;
    for (const ControlLayout* c : byOrder)
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
    for (const ControlLayout& c : Form1Layout) {
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
