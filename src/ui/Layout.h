// The layout of the two windows, as data: every skin builds its controls from
// these tables, and the layout tests check them against their own copy.
#pragma once

#include <vector>

#include "Window.h"

class TForm1;

enum class Kind {
    Label,        // sized by its text
    Picture,      // a lamp picture
    SpeedButton,  // a picture button that takes no keyboard focus
    Memo,         // multi-line text, word wrap, no scroll bars
    Bevel,        // a frame
    Button,       // a button with a picture
    CheckBox,
    Edit,  // single-line edit
    StatusBar,
};

// The pictures the skins draw. Buttons carry a normal and a disabled version.
enum class Picture {
    None,
    Blocking,
    Unblocking,
    LedOn,
    LedOff,
    Reread,  // the repeat read
    ResetOrder,
    Demo,
    End,
    Information,
    LampOn,   // the LED-on lamp, bright green
    LampOff,  // the LED-off lamp, dark green
};

using Handler = void (TForm1::*)();

inline constexpr int NoTabStop = -1;

struct ControlLayout {
    Control id;
    const char* name;
    Kind kind;
    // Client coordinates. A label has no size (0, 0): it follows its text.
    // The status bar is docked at the bottom over the full width.
    int left, top, width, height;
    const char* caption;  // fixed; the memo's designed content is its 30 empty lines
    bool shown;
    bool checked;
    Picture picture;
    int tabOrder;     // NoTabStop for controls without one
    Handler handler;  // a click, a changed mark, or for Edit1 the focus leaving it
};

// Every control of the main window, in Control order (the order they lie on
// top of each other, later ones above).
extern const ControlLayout Form1Layout[ControlCount];
const ControlLayout& LayoutOf(Control c);
// The controls that take the keyboard focus, in their tab order. (The status
// bar has a place in the order but takes no focus.)
std::vector<Control> TabOrder();

struct TimerLayout {
    Timer id;
    const char* name;
    unsigned intervalMs;
    Handler handler;
};
extern const TimerLayout Form1Timers[TimerCount];
const TimerLayout& LayoutOf(Timer t);

// The main window.
inline constexpr int ClientWidth = 494;  // status bar included
inline constexpr int ClientHeight = 577;
inline constexpr int OuterWidth = 502;  // in a standard sizable frame
inline constexpr int OuterHeight = 604;
inline constexpr int StatusBarHeight = 19;
inline constexpr const char* FontName = "MS Sans Serif";
inline constexpr int WindowFontPixels = 11;  // 8 points
inline constexpr int ButtonPictureSize = 16;
inline constexpr int LampSize = 17;

// The manufacturer window: eight labels and nothing else.
struct Form2Line {
    const char* name;
    const char* text;
    int left, top;
    Color colour;
    bool bold;
};
inline constexpr int Form2LineCount = 8;
extern const Form2Line Form2Layout[Form2LineCount];
inline constexpr int Form2OuterWidth = 314;
inline constexpr int Form2OuterHeight = 265;
inline constexpr int Form2ClientWidth = 306;
inline constexpr int Form2ClientHeight = 238;
inline constexpr int Form2FontPixels = 13;  // 10 points
