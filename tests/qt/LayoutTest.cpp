// The main window as it is built, before its start-up sequence runs: every
// control with its name, kind, bounds, caption, visibility and tab order.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <set>
#include <string>
#include <vector>

#include "Look.h"
#include "MainWindow.h"
#include "UiTestSupport.h"

namespace {

enum class Mark { None, Checked, Unchecked };

struct ControlCase {
    const char* name;
    const char* kind;              // the Qt class
    int left, top, width, height;  // width 0: a label, sized by its text
    const char* caption;
    bool shown;
    Mark mark;
};

void PrintTo(const ControlCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr const char* MemoText = "(30 empty lines)";

const ControlCase Controls[] = {
    {"Label3", "QLabel", 12, 16, 0, 0, "Order", false, Mark::None},
    {"Label1", "QLabel", 64, 16, 0, 0, "Time", false, Mark::None},
    {"Label2", "QLabel", 128, 16, 0, 0, "Chip code", false, Mark::None},
    {"Image2", "QLabel", 208, 16, 17, 17, "", false, Mark::None},
    {"Image1", "QLabel", 208, 16, 17, 17, "", false, Mark::None},
    {"SpeedButton1", "QToolButton", 256, 8, 33, 25, "", true, Mark::None},
    {"Memo1", "QPlainTextEdit", 12, 36, 245, 461, MemoText, false, Mark::None},
    {"Bevel2", "QFrame", 292, 32, 181, 185, "", true, Mark::None},
    {"Label4", "QLabel", 336, 24, 0, 0, "Control buttons", true, Mark::None},
    {"BitBtn1", "QPushButton", 312, 48, 137, 25, "Blocking", true, Mark::None},
    {"BitBtn2", "QPushButton", 312, 80, 137, 25, "Unblocking", true, Mark::None},
    {"BitBtn3", "QPushButton", 312, 112, 137, 25, "Light up LED", true, Mark::None},
    {"BitBtn4", "QPushButton", 312, 144, 137, 25, "Turn off LED", true, Mark::None},
    {"BitBtn5", "QPushButton", 312, 176, 137, 25, "Chip Repeat Read", true, Mark::None},
    {"Bevel1", "QFrame", 292, 240, 181, 89, "", true, Mark::None},
    {"Label6", "QLabel", 344, 232, 0, 0, "Redirect", true, Mark::None},
    {"CheckBox1", "QCheckBox", 304, 256, 149, 17, "Chip code to keyboard", true, Mark::Checked},
    {"CheckBox3", "QCheckBox", 304, 280, 141, 17, "Order to Keyboard ", false, Mark::Unchecked},
    {"CheckBox4", "QCheckBox", 304, 304, 141, 17, "Time to Keyboard. ", false, Mark::Unchecked},
    {"Bevel3", "QFrame", 292, 352, 181, 145, "", true, Mark::None},
    {"Label7", "QLabel", 360, 344, 0, 0, "Parameters", true, Mark::None},
    {"CheckBox7", "QCheckBox", 304, 368, 97, 17, "Sound signal", true, Mark::Unchecked},
    {"CheckBox2", "QCheckBox", 304, 392, 137, 17, "Auto turn off the LED ", true, Mark::Unchecked},
    {"CheckBox6", "QCheckBox", 304, 416, 97, 17, "Save on disk", true, Mark::Unchecked},
    {"CheckBox5", "QCheckBox", 304, 440, 153, 17, "Minimize after boot", true, Mark::Unchecked},
    {"CheckBox9", "QCheckBox", 304, 464, 73, 17, "CRC", true, Mark::Unchecked},
    {"CheckBox8", "QCheckBox", 392, 464, 97, 17, "Family", false, Mark::Unchecked},
    {"Label5", "QLabel", 8, 520, 0, 0, "Order:", true, Mark::None},
    {"Edit1", "QLineEdit", 48, 512, 113, 21, "Edit1", true, Mark::None},
    {"BitBtn6", "QPushButton", 168, 512, 105, 25, "Reset the order", true, Mark::None},
    {"BitBtn8", "QPushButton", 280, 512, 75, 25, "Demo", false, Mark::None},
    {"BitBtn7", "QPushButton", 368, 512, 105, 25, "End ", true, Mark::None},
};

bool IsGrey(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 0 && (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)))
                return false;
        }
    return true;
}

bool HasColour(const QImage& image) {
    return !IsGrey(image);
}

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        uitest::ResetProgramState();
        form = std::make_unique<TForm1>();
        form->layout()->activate();
    }
    QWidget* Control(const char* name) {
        return form->findChild<QWidget*>(QString::fromLatin1(name));
    }

    std::unique_ptr<TForm1> form;
};

class ControlLayout : public WindowFixture, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ControlLayout, NameKindBoundsCaptionAndVisibility) {
    const ControlCase& c = GetParam();
    QWidget* w = Control(c.name);
    ASSERT_NE(w, nullptr) << "no control named " << c.name;
    EXPECT_STREQ(w->metaObject()->className(), c.kind);

    const QPoint topLeft = w->mapTo(form.get(), QPoint(0, 0));
    EXPECT_EQ(topLeft, QPoint(c.left, c.top));
    if (c.width > 0) {
        EXPECT_EQ(w->size(), QSize(c.width, c.height));
    } else {
        EXPECT_EQ(w->size(), w->sizeHint()) << "a label is as large as its text";
    }

    const QString caption = QString::fromLatin1(c.caption);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        EXPECT_EQ(label->text(), caption);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        EXPECT_EQ(button->text(), caption);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        EXPECT_EQ(edit->text(), caption);
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
        EXPECT_EQ(memo->toPlainText(), QString(30, QLatin1Char('\n')));
    }

    EXPECT_EQ(w->isVisibleTo(form.get()), c.shown);
    if (c.mark != Mark::None) {
        auto* box = qobject_cast<QCheckBox*>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->isChecked(), c.mark == Mark::Checked);
    }
    EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(w->font().pixelSize(), WindowFontPixels);
}

INSTANTIATE_TEST_SUITE_P(MainWindow, ControlLayout, ::testing::ValuesIn(Controls),
                         [](const ::testing::TestParamInfo<ControlCase>& info) {
                             return std::string(info.param.name);
                         });

using MainWindowLayout = WindowFixture;

TEST_F(MainWindowLayout, TheClientAreaHoldsTheTableControlsAndNothingElse) {
    QWidget* client = form->centralWidget();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->pos(), QPoint(0, 0));
    std::set<QString> expected;
    for (const ControlCase& c : Controls)
        expected.insert(QString::fromLatin1(c.name));
    std::set<QString> found;
    for (QWidget* w : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        found.insert(w->objectName());
    EXPECT_EQ(found, expected);
}

TEST_F(MainWindowLayout, TheWindowItsCaptionSizeFontAndIcon) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Chip Reader ZEVO"));
    EXPECT_EQ(form->size(), QSize(494, 577));
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_TRUE(HasColour(form->windowIcon().pixmap(32).toImage()));
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(form->font().pixelSize(), 11);
    const QString family = QFontInfo(form->font()).family();
    EXPECT_FALSE(family.isEmpty());
    EXPECT_EQ(form->palette().color(QPalette::Window), form->palette().color(QPalette::Button));
}

TEST_F(MainWindowLayout, TheStatusBarHasOnePanelWithTheDesignTextAndASizeGrip) {
    QStatusBar* bar = form->findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
    ASSERT_EQ(bar, form->statusBar());
    EXPECT_EQ(bar->height(), 19);
    EXPECT_TRUE(bar->isSizeGripEnabled());
    EXPECT_EQ(bar->focusPolicy(), Qt::NoFocus);
    const QList<QLabel*> panels = bar->findChildren<QLabel*>();
    ASSERT_EQ(panels.size(), 1);
    EXPECT_EQ(panels.front(), form->StatusPanel);
    EXPECT_EQ(form->StatusText(), QStringLiteral("Info"));
    EXPECT_EQ(form->StatusPanel->text(), QStringLiteral("Info"));
}

TEST_F(MainWindowLayout, TheTabOrderFollowsTheTable) {
    const std::vector<QString> expected = {
        "Memo1",     "CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4", "CheckBox5", "CheckBox6",
        "CheckBox7", "Edit1",     "BitBtn1",   "BitBtn2",   "BitBtn3",   "BitBtn4",   "BitBtn5",
        "BitBtn6",   "BitBtn7",   "BitBtn8",   "CheckBox8", "CheckBox9"};
    const std::set<QString> listed(expected.begin(), expected.end());
    std::vector<QString> chain;
    QWidget* w = form.get();
    do {
        w = w->nextInFocusChain();
        if (listed.count(w->objectName()))
            chain.push_back(w->objectName());
    } while (w != form.get() && chain.size() < 100);
    EXPECT_EQ(chain, expected);
    // The first control in the chain that can take the focus comes first.
    QWidget* first = form->nextInFocusChain();
    while (first->focusPolicy() == Qt::NoFocus)
        first = first->nextInFocusChain();
    EXPECT_EQ(first, form->Memo1);
    // The status bar, between Edit1 and BitBtn1 in the table, takes no focus.
    EXPECT_EQ(form->StatusBar1->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainWindowLayout, TheListWrapsWithoutScrollBarsAndTheTimersAreDisabled) {
    QPlainTextEdit* memo = form->Memo1;
    EXPECT_FALSE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_NE(memo->wordWrapMode(), QTextOption::NoWrap);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo->document()->blockCount(), 31);
    auto* timer1 = form->findChild<QTimer*>(QStringLiteral("Timer1"));
    auto* timer2 = form->findChild<QTimer*>(QStringLiteral("Timer2"));
    ASSERT_NE(timer1, nullptr);
    ASSERT_NE(timer2, nullptr);
    EXPECT_EQ(timer1->interval(), 333);
    EXPECT_EQ(timer2->interval(), 2000);
    EXPECT_FALSE(timer1->isActive());
    EXPECT_FALSE(timer2->isActive());
}

TEST_F(MainWindowLayout, ButtonsWithPicturesLookDifferentWhenDisabled) {
    for (const char* name : {"BitBtn1", "BitBtn2", "BitBtn3", "BitBtn4", "BitBtn5", "BitBtn6",
                             "BitBtn7", "BitBtn8", "SpeedButton1"}) {
        auto* button = qobject_cast<QAbstractButton*>(Control(name));
        ASSERT_NE(button, nullptr) << name;
        const QIcon icon = button->icon();
        ASSERT_FALSE(icon.isNull()) << name;
        const QImage normal = icon.pixmap(16, QIcon::Normal).toImage();
        const QImage disabled = icon.pixmap(16, QIcon::Disabled).toImage();
        EXPECT_EQ(normal.size(), QSize(16, 16)) << name;
        EXPECT_NE(normal, disabled) << name;
        EXPECT_TRUE(HasColour(normal)) << name;
        EXPECT_TRUE(IsGrey(disabled)) << name;
    }
    // The information button shows its picture only and takes no focus.
    EXPECT_EQ(form->SpeedButton1->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_TRUE(form->SpeedButton1->text().isEmpty());
    EXPECT_EQ(form->SpeedButton1->focusPolicy(), Qt::NoFocus);
}

int Green(const QLabel* lamp) {
    const QImage image = lamp->pixmap().toImage();
    return qGreen(image.pixel(image.width() / 2, image.height() / 2));
}

TEST_F(MainWindowLayout, TheLampsAreDarkAndBrightGreenAndTheDarkOneLiesAbove) {
    ASSERT_EQ(form->Image1->pixmap().size(), QSize(17, 17));
    ASSERT_EQ(form->Image2->pixmap().size(), QSize(17, 17));
    const QImage off = form->Image1->pixmap().toImage();
    const QImage on = form->Image2->pixmap().toImage();
    const QRgb offCentre = off.pixel(8, 8);
    const QRgb onCentre = on.pixel(8, 8);
    EXPECT_GT(qGreen(offCentre), qRed(offCentre));
    EXPECT_GT(qGreen(onCentre), qRed(onCentre));
    EXPECT_GT(Green(form->Image2), Green(form->Image1) + 100);

    form->Image1->show();
    form->Image2->show();
    QWidget* client = form->centralWidget();
    EXPECT_EQ(client->childAt(216, 24), form->Image1);
    form->Image1->hide();
    EXPECT_EQ(client->childAt(216, 24), form->Image2);
}

// ---- The reading list on the window ----

using ReadingListOnTheWindow = WindowFixture;

TEST_F(ReadingListOnTheWindow, WritingARowReplacesThatLineOnlyAndAddsNoBreak) {
    form->WriteRow(4, QStringLiteral("4       09:41:07      00000A1B2C3D"));
    form->WriteRow(5, QStringLiteral("five"));
    form->WriteRow(5, QStringLiteral("5"));
    EXPECT_EQ(form->ReadRow(4), QStringLiteral("4       09:41:07      00000A1B2C3D"));
    EXPECT_EQ(form->ReadRow(5), QStringLiteral("5"));
    EXPECT_EQ(form->ReadRow(3), QString());
    EXPECT_EQ(form->Memo1->document()->blockCount(), 31);
    form->WriteRow(30, QStringLiteral("last\r\nline\u2029"));
    EXPECT_EQ(form->Memo1->toPlainText(),
              QString(4, QLatin1Char('\n')) +
                  QStringLiteral("4       09:41:07      00000A1B2C3D\n5") +
                  QString(25, QLatin1Char('\n')) + QStringLiteral("last??line?"));
}

TEST_F(ReadingListOnTheWindow, RowsThatDoNotExistAreLeftAlone) {
    QPlainTextEdit* memo = form->Memo1;
    memo->setPlainText(QString(32, QLatin1Char('\n')) + QStringLiteral("typed"));
    const QString before = memo->toPlainText();
    form->WriteRow(31, QStringLiteral("x"));
    form->WriteRow(-1, QStringLiteral("x"));
    form->WriteRow(32, QStringLiteral("x"));
    EXPECT_EQ(memo->toPlainText(), before);
    EXPECT_EQ(form->ReadRow(32), QString());

    memo->setPlainText(QStringLiteral("one\ntwo"));  // the operator deleted lines
    form->WriteRow(2, QStringLiteral("x"));
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("one\ntwo"));
    EXPECT_EQ(form->ReadRow(1), QStringLiteral("two"));
    EXPECT_EQ(form->ReadRow(2), QString());
}

}  // namespace
