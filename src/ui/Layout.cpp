#include "Layout.h"

#include <algorithm>

#include "MainWindow.h"

namespace {
constexpr bool Shown = true;
constexpr bool Hidden = false;
constexpr bool Checked = true;
constexpr bool Clear = false;
}  // namespace

// Fixed: names, bounds, captions (trailing spaces included), what is shown and
// checked at first, and the tab order.
// clang-format off
const ControlLayout Form1Layout[ControlCount] = {
    {Control::Label3, "Label3", Kind::Label, 12, 16, 0, 0, "Order", Hidden, Clear, Picture::None, NoTabStop, nullptr},
    {Control::Label1, "Label1", Kind::Label, 64, 16, 0, 0, "Time", Hidden, Clear, Picture::None, NoTabStop, nullptr},
    {Control::Label2, "Label2", Kind::Label, 128, 16, 0, 0, "Chip code", Hidden, Clear, Picture::None, NoTabStop, nullptr},
    {Control::Image2, "Image2", Kind::Picture, 208, 16, 17, 17, "", Hidden, Clear, Picture::LampOn, NoTabStop, nullptr},
    {Control::Image1, "Image1", Kind::Picture, 208, 16, 17, 17, "", Hidden, Clear, Picture::LampOff, NoTabStop, nullptr},
    {Control::SpeedButton1, "SpeedButton1", Kind::SpeedButton, 256, 8, 33, 25, "", Shown, Clear, Picture::Information, NoTabStop, &TForm1::SpeedButton1Click},
    {Control::Memo1, "Memo1", Kind::Memo, 12, 36, 245, 461, "", Hidden, Clear, Picture::None, 0, nullptr},
    {Control::Bevel2, "Bevel2", Kind::Bevel, 292, 32, 181, 185, "", Shown, Clear, Picture::None, NoTabStop, nullptr},
    {Control::Label4, "Label4", Kind::Label, 336, 24, 0, 0, "Control buttons", Shown, Clear, Picture::None, NoTabStop, nullptr},
    {Control::BitBtn1, "BitBtn1", Kind::Button, 312, 48, 137, 25, "Blocking", Shown, Clear, Picture::Blocking, 10, &TForm1::BitBtn1Click},
    {Control::BitBtn2, "BitBtn2", Kind::Button, 312, 80, 137, 25, "Unblocking", Shown, Clear, Picture::Unblocking, 11, &TForm1::BitBtn2Click},
    {Control::BitBtn3, "BitBtn3", Kind::Button, 312, 112, 137, 25, "Light up LED", Shown, Clear, Picture::LedOn, 12, &TForm1::BitBtn3Click},
    {Control::BitBtn4, "BitBtn4", Kind::Button, 312, 144, 137, 25, "Turn off LED", Shown, Clear, Picture::LedOff, 13, &TForm1::BitBtn4Click},
    {Control::BitBtn5, "BitBtn5", Kind::Button, 312, 176, 137, 25, "Chip Repeat Read", Shown, Clear, Picture::Reread, 14, &TForm1::BitBtn5Click},
    {Control::Bevel1, "Bevel1", Kind::Bevel, 292, 240, 181, 89, "", Shown, Clear, Picture::None, NoTabStop, nullptr},
    {Control::Label6, "Label6", Kind::Label, 344, 232, 0, 0, "Redirect", Shown, Clear, Picture::None, NoTabStop, nullptr},
    {Control::CheckBox1, "CheckBox1", Kind::CheckBox, 304, 256, 149, 17, "Chip code to keyboard", Shown, Checked, Picture::None, 1, &TForm1::CheckBox1Click},
    {Control::CheckBox3, "CheckBox3", Kind::CheckBox, 304, 280, 141, 17, "Order to Keyboard ", Hidden, Clear, Picture::None, 3, &TForm1::CheckBox3Click},
    {Control::CheckBox4, "CheckBox4", Kind::CheckBox, 304, 304, 141, 17, "Time to Keyboard. ", Hidden, Clear, Picture::None, 4, &TForm1::CheckBox4Click},
    {Control::Bevel3, "Bevel3", Kind::Bevel, 292, 352, 181, 145, "", Shown, Clear, Picture::None, NoTabStop, nullptr},
    {Control::Label7, "Label7", Kind::Label, 360, 344, 0, 0, "Parameters", Shown, Clear, Picture::None, NoTabStop, nullptr},
    {Control::CheckBox7, "CheckBox7", Kind::CheckBox, 304, 368, 97, 17, "Sound signal", Shown, Clear, Picture::None, 7, &TForm1::CheckBox7Click},
    {Control::CheckBox2, "CheckBox2", Kind::CheckBox, 304, 392, 137, 17, "Auto turn off the LED ", Shown, Clear, Picture::None, 2, &TForm1::CheckBox2Click},
    {Control::CheckBox6, "CheckBox6", Kind::CheckBox, 304, 416, 97, 17, "Save on disk", Shown, Clear, Picture::None, 6, &TForm1::CheckBox6Click},
    {Control::CheckBox5, "CheckBox5", Kind::CheckBox, 304, 440, 153, 17, "Minimize after boot", Shown, Clear, Picture::None, 5, &TForm1::CheckBox5Click},
    {Control::CheckBox9, "CheckBox9", Kind::CheckBox, 304, 464, 73, 17, "CRC", Shown, Clear, Picture::None, 19, &TForm1::CheckBox9Click},
    {Control::CheckBox8, "CheckBox8", Kind::CheckBox, 392, 464, 97, 17, "Family", Hidden, Clear, Picture::None, 18, &TForm1::CheckBox8Click},
    {Control::Label5, "Label5", Kind::Label, 8, 520, 0, 0, "Order:", Shown, Clear, Picture::None, NoTabStop, nullptr},
    {Control::Edit1, "Edit1", Kind::Edit, 48, 512, 113, 21, "Edit1", Shown, Clear, Picture::None, 8, &TForm1::Edit1Exit},
    {Control::BitBtn6, "BitBtn6", Kind::Button, 168, 512, 105, 25, "Reset the order", Shown, Clear, Picture::ResetOrder, 15, &TForm1::BitBtn6Click},
    {Control::BitBtn8, "BitBtn8", Kind::Button, 280, 512, 75, 25, "Demo", Hidden, Clear, Picture::Demo, 17, &TForm1::BitBtn8Click},
    {Control::BitBtn7, "BitBtn7", Kind::Button, 368, 512, 105, 25, "End ", Shown, Clear, Picture::End, 16, &TForm1::BitBtn7Click},
    // Takes no focus, though its place in the tab order is 9.
    {Control::StatusBar1, "StatusBar1", Kind::StatusBar, 0, 0, 0, StatusBarHeight, "Info", Shown, Clear, Picture::None, 9, nullptr},
};

const TimerLayout Form1Timers[TimerCount] = {
    {Timer::Timer1, "Timer1", 333, &TForm1::Timer1Timer},
    {Timer::Timer2, "Timer2", 2000, &TForm1::Timer2Timer},
    // Ours: about once a second, one try to take a lost reader back.
    {Timer::Timer3, "Timer3", 1000, &TForm1::Timer3Timer},
};

// The contact lines are ours; the heading, places, colours and fonts are fixed.
const Form2Line Form2Layout[Form2LineCount] = {
    {"Label1", "Software production and editing:", 40, 16, Rgb(0, 0, 255), false},
    {"Label2", "Chip Reader", 100, 44, Rgb(0, 0, 0), true},
    {"Label3", "Chip Reader developers", 60, 68, Rgb(0, 0, 0), true},
    {"Label4", "Support: see the README", 100, 88, Rgb(0, 0, 0), true},
    {"Label5", "No postal address", 64, 108, Rgb(0, 0, 0), true},
    {"Label6", "Phone: none", 72, 140, Rgb(0, 128, 0), false},
    {"Label7", "Email: support@example.invalid", 64, 168, Rgb(255, 0, 0), false},
    {"Label8", "Web site: example.invalid", 64, 196, Rgb(255, 0, 0), false},
};
// clang-format on

const ControlLayout& LayoutOf(Control c) {
    return Form1Layout[int(c)];
}

std::vector<Control> TabOrder() {
    std::vector<const ControlLayout*> stops;
    for (const ControlLayout& entry : Form1Layout)
        if (entry.tabOrder != NoTabStop && entry.kind != Kind::StatusBar)
            stops.push_back(&entry);
    std::sort(stops.begin(), stops.end(), [](const ControlLayout* a, const ControlLayout* b) {
        return a->tabOrder < b->tabOrder;
    });
    std::vector<Control> order;
    for (const ControlLayout* entry : stops)
        order.push_back(entry->id);
    return order;
}

const TimerLayout& LayoutOf(Timer t) {
    return Form1Timers[int(t)];
}
