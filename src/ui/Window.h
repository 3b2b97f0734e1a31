// What the main window's behaviour needs of a window system. TForm1 holds
// every handler and talks to its window only through this interface; a skin
// (Qt on Linux, Win32 on Windows, a fake in the tests) builds the controls
// from the layout table, implements these calls and forwards the window's
// events to the form (see TForm1's "events from the skin").
//
// Texts cross this interface as UTF-8. The form turns the program's own
// single-byte texts and the reader's bytes into UTF-8 before they get here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The controls of the main window, in the order they lie on top of each
// other (later ones above), as the layout table lists them.
enum class Control : int {
    Label3,
    Label1,
    Label2,
    Image2,
    Image1,
    SpeedButton1,
    Memo1,
    Bevel2,
    Label4,
    BitBtn1,
    BitBtn2,
    BitBtn3,
    BitBtn4,
    BitBtn5,
    Bevel1,
    Label6,
    CheckBox1,
    CheckBox3,
    CheckBox4,
    Bevel3,
    Label7,
    CheckBox7,
    CheckBox2,
    CheckBox6,
    CheckBox5,
    CheckBox9,
    CheckBox8,
    Label5,
    Edit1,
    BitBtn6,
    BitBtn8,
    BitBtn7,
    StatusBar1,
};
inline constexpr int ControlCount = int(Control::StatusBar1) + 1;

// Timer3 tries the reader's port again while the reader is lost.
enum class Timer : int { Timer1, Timer2, Timer3 };
inline constexpr int TimerCount = 3;

// A colour as Windows keeps it: 0x00BBGGRR.
using Color = std::uint32_t;
inline constexpr Color Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return Color(r) | Color(g) << 8 | Color(b) << 16;
}

class Window {
  public:
    virtual ~Window() = default;

    // A control's caption or content (a label's, a button's, the order field's).
    virtual std::string text(Control c) const = 0;
    virtual void setText(Control c, std::string_view text) = 0;
    virtual bool shown(Control c) const = 0;
    virtual void setShown(Control c, bool shown) = 0;
    virtual void setEnabled(Control c, bool enabled) = 0;
    // A check box's mark. Setting it runs no handler: the form does that.
    virtual bool checked(Control c) const = 0;
    virtual void setChecked(Control c, bool checked) = 0;
    virtual void setFocus(Control c) = 0;
    // Paints the control's place at once, before the handler goes on blocking.
    virtual void paintNow(Control c) = 0;

    // The status bar's one panel: setting the text paints the bar at once.
    virtual void setStatus(std::string_view text) = 0;
    virtual Color statusColor() const = 0;
    virtual void setStatusColor(Color colour) = 0;

    // The lines of the reading list (Memo1), as the operator may have left them.
    virtual int lineCount() const = 0;
    virtual std::string lineText(int line) const = 0;
    virtual void setLineText(int line, std::string_view text) = 0;

    virtual std::string caption() const = 0;
    virtual void setCaption(std::string_view caption) = 0;
    virtual void minimize() = 0;
    // Closes the main window, which ends the program.
    virtual void close() = 0;

    // Starting a timer restarts its full interval.
    virtual void startTimer(Timer t) = 0;
    virtual void stopTimer(Timer t) = 0;

    // Modal windows. They return when the operator closed them; the event
    // loop runs meanwhile, so enabled timers keep firing.
    // The error box: caption "Error", the stop icon, one "OK" for Enter and Esc.
    virtual void showError(std::string_view text) = 0;
    // A new manufacturer window, shown modally and destroyed when it closes.
    virtual void showManufacturer() = 0;

    // From any thread: runs the function on the window's thread, from its
    // event loop, after what that thread does now. Dropped, never run, when
    // the window goes first.
    virtual void post(std::function<void()> function) = 0;
};
