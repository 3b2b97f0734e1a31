// The main window's layout table, which every skin builds from, checked
// against our own copy of its numbers and texts: here in the core tests, so
// that the Windows build runs it too.
#include <gtest/gtest.h>

#include "Layout.h"
#include "MainWindow.h"

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

}  // namespace
