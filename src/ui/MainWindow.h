// The main window's behaviour: the start-up search for the reader, the option
// check boxes, the reader commands, the order field, End, the reading cycle
// and the demo. Written once, in standard C++, against the Window interface;
// the window system's skin forwards its events to the "events" below.
#pragma once

#include <deque>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "Drv232.h"
#include "Keyboard.h"
#include "SerialPort.h"
#include "Window.h"

// State of the main window that lives for the whole run. The tests put it
// back in ResetProgramState (tests/fakes/ProgramState.h).
extern int DisplayRow;           // the row of the reading list written next, 0..30
extern bool DemoStopped;         // the demo is available but not running
extern Color SavedBarColor;      // the status bar's colour as found at start-up
extern std::mt19937 DemoRandom;  // the demo's random numbers

// How long a demo reading keeps the LED-on lamp lit.
inline constexpr unsigned DemoLampMs = 500;
// Pause between opening a port and asking for the reader's identification.
inline constexpr unsigned PortSettleMs = 300;
// The status bar after a repeat read: red 255, green 255, blue 0.
inline constexpr Color RepeatReadBarColor = Rgb(255, 255, 0);
// The status bar while the reader is lost.
inline constexpr Color LostBarColor = Rgb(255, 96, 96);
// A lost reader whose adapter has a stable name (SerialPort::identity) and is
// not back after this many tries, about ten seconds of them, is searched for
// on every port as at start-up: it may have come back behind another adapter.
inline constexpr int SearchAfterTries = 10;
// A port found without a stable name is asked for it again at this many of
// the first polls, about ten seconds: the system names a device that has
// just come a moment after it appears.
inline constexpr int IdentityLooks = 30;

// Where a reading comes from: the demo says so itself.
enum class ReadingFrom { Reader, Demo };

// What a skin reports of its window whenever one of these may have changed
// (shown, activated, minimised, restored, exposed).
struct WindowFacts {
    bool onScreen = false;  // shown and exposed: its texts can be seen
    bool active = false;    // the window with the keyboard
    bool minimised = false;
};

class TForm1 {
  public:
    explicit TForm1(Window& window) : window_(window) {}
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    Window& window() const { return window_; }

    // ---- Events from the skin ----
    // The window's state as the skin sees it now. The first time the window
    // is on the screen, active and not minimised, the start-up sequence runs;
    // any other report, and every later one, changes nothing.
    void Activated(const WindowFacts& facts);
    // The operator pressed a button, or changed a check box's mark.
    void Clicked(Control c);
    // The focus moved from `c` to another control of this window (not to
    // another window).
    void FocusLeft(Control c);
    void Tick(Timer t);

    // ---- Handlers ----
    void FormActivate();
    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox3Click();
    void CheckBox4Click();
    void CheckBox5Click();
    void CheckBox6Click();
    void CheckBox7Click();
    void CheckBox8Click();
    void CheckBox9Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void BitBtn7Click();
    void BitBtn8Click();
    void SpeedButton1Click();
    void Edit1Exit();
    void Timer1Timer();
    void Timer2Timer();
    // While the reader is lost: one try to take it back. Without a stable name
    // for its adapter, on its port number; with one, on whichever port number
    // reaches that adapter now, and after SearchAfterTries on every port.
    void Timer3Timer();
    // The common steps of a reading, from the reader or the demo; ChipCode
    // holds the new code. The reading is made once (MakeReading) and handed
    // to the publishing, the log, and the keys or the list. Without `mayType`
    // (at End, when the focus is on our own window) a reading for the
    // keyboard is only logged and handed on. A frame with the code of the
    // last reading within the site's repeat_within_s is none: nothing of it
    // is recorded, the status line says so, and the result is false.
    bool RecordReading(ReadingFrom from, bool mayType = true);

    // The site's typing and readings (site.ini), from the program's start.
    void UseSiteRules(const SiteRules& rules) { siteRules_ = rules; }

    // Sets a check box's mark; when the mark changes, the box's handler runs.
    void SetMark(Control box, bool mark);

    // The reading list, rows 0 to 30 (see ReadingList.h), in UTF-8.
    std::string ReadRow(int row) const;
    void WriteRow(int row, std::string_view text);

    // A notice of the publishing to the site's broker (UTF-8) on the status
    // line, on the window's thread; empty: the program's own text comes back,
    // unless the program has said something since.
    void SiteNotice(std::string_view utf8);
    // Whether the start-up sequence has run to its end.
    bool StartupDone() const { return startupDone_; }

  private:
    // The status line, from the program's single-byte text.
    void SetStatus(std::string_view text);
    void ShowError(std::string_view text);
    // Shows the LED-on or the LED-off lamp and hides the other; `now` paints
    // the change at once, before the blocking steps that follow it.
    void ShowLamp(bool ledOn, bool now = false);
    void SendReaderCommand(char code, const char* done, const char* failed);
    // The reading list and its column labels, with the focus in the list.
    void ShowList();
    // What the status line says of a typed reading.
    void ShowTyping(const Reading& reading, TypingResult result);
    // A chip the poll took: the lamp, the reading, the beep, the LED-off.
    void TakeReading();
    // The line hung up: the port is let go at once (a USB adapter's device
    // stays taken while a descriptor holds it) and Timer3 takes over from Timer1.
    void LoseReader();
    // Opens port n, waits the settle pause and asks for the identification;
    // when the reader answers it is taken back there: Settings.Port becomes n.
    bool TakeBack(int port);
    // The ports in the start-up's order, `skip` left out (tried just now);
    // true when the reader was taken back on one of them.
    bool SearchForReader(int skip);
    // Says on the status line whether the lost reader's adapter is back where
    // no port number reaches it, and how to mend that on standard error.
    void ShowWhereabouts(const platform::Whereabouts& where);

    Window& window_;
    bool startupBegun_ = false;
    bool startupDone_ = false;
    platform::KeyboardNotice shownNotice_ = platform::KeyboardNotice::None;
    bool readerLost_ = false;
    // The stable name of the reader's adapter, as found when the reader was
    // found; empty when it has none.
    std::string readerIdentity_;
    // The polls left that ask again for a name the port did not have yet.
    int identityLooks_ = 0;
    // Since the reader was lost: the tries that failed, whether the ports
    // were searched, the ports that were there at the last try after the
    // first search, and those that appeared then (tried at this try).
    int failedTries_ = 0;
    bool searched_ = false;
    std::vector<int> portsSeen_;
    std::vector<int> portsDue_;
    // The device the status line says the reader is back on, out of reach.
    std::string shownDevice_;
    // Chips the reader's port sent whole while a try to take it back waited
    // for an identification that did not come: readings once it is back, or at End.
    std::deque<ChipCharacters> heldChips_;
    // The program's last text on the status line, and whether a notice of
    // the publishing hides it.
    std::string statusText_;
    bool noticeShown_ = false;
    SiteRules siteRules_;
    // The last reading's code and its monotonic time, for the site's
    // repeat_within_s; none yet when counted_ is false.
    std::string lastCode_;
    std::uint64_t lastCountedMs_ = 0;
    bool counted_ = false;
};
