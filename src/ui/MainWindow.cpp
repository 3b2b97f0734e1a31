#include "MainWindow.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "Clock.h"
#include "Drv232.h"
#include "Global.h"
#include "Keyboard.h"
#include "Layout.h"
#include "Publishing.h"
#include "Reading.h"
#include "ReadingList.h"
#include "Sound.h"
#include "Texts.h"
#include "Utf8.h"

// Reset for the tests in ResetProgramState (tests/fakes/ProgramState.h).
int DisplayRow = 0;
bool DemoStopped = false;
Color SavedBarColor = 0;
std::mt19937 DemoRandom;

namespace {

// The list's lines as the reading-list rules see them: UTF-16, so that the
// rules can tell every line-breaking character of a text widget.
class ListLines {
  public:
    using Text = std::u16string;

    explicit ListLines(Window& window) : window_(window) {}

    int lineCount() const { return window_.lineCount(); }
    Text lineText(int line) const { return Utf8ToUtf16(window_.lineText(line)); }
    void setLineText(int line, const Text& text) { window_.setLineText(line, Utf16ToUtf8(text)); }

  private:
    Window& window_;
};

std::string Number(std::uint32_t n) {
    return std::to_string(n);
}

}  // namespace

// ---- Events from the skin ----

void TForm1::Activated(const WindowFacts& facts) {
    if (!startupBegun_ && facts.onScreen && facts.active && !facts.minimised)
        FormActivate();
}

void TForm1::Clicked(Control c) {
    if (const Handler handler = LayoutOf(c).handler; handler && c != Control::Edit1)
        (this->*handler)();
}

void TForm1::FocusLeft(Control c) {
    if (c == Control::Edit1)
        Edit1Exit();
}

void TForm1::Tick(Timer t) {
    (this->*LayoutOf(t).handler)();
}

// ---- Status line, error box, reading list, marks ----

void TForm1::SetStatus(std::string_view text) {
    statusText_ = std::string(text);
    noticeShown_ = false;
    window_.setStatus(WindowsToUtf8(text));
}

void TForm1::ShowError(std::string_view text) {
    window_.showError(WindowsToUtf8(text));
}

std::string TForm1::ReadRow(int row) const {
    ListLines lines(window_);
    return Utf16ToUtf8(readinglist::ReadRow(lines, row));
}

void TForm1::WriteRow(int row, std::string_view text) {
    ListLines lines(window_);
    readinglist::WriteRow(lines, row, Utf8ToUtf16(text));
}

void TForm1::SetMark(Control box, bool mark) {
    if (window_.checked(box) == mark)
        return;
    window_.setChecked(box, mark);
    Clicked(box);
}

// ---- The start-up sequence ----

void TForm1::FormActivate() {
    // Once only: an error box opened below, or any later return of the
    // activation, must not start it again.
    if (startupBegun_)
        return;
    startupBegun_ = true;

    // 1. The settings, or the defaults written to a new file.
    if (!LoadSettings()) {
        Settings.Port = 29;
        Settings.OrderToKeyboard = false;
        Settings.TimeToKeyboard = false;
        Settings.AutoLedOff = true;
        Settings.MinimizeAtStart = false;
        Settings.SaveOnDisk = false;
        Settings.SoundSignal = true;
        Settings.OrderNumber = 0;
        if (!SaveSettings())
            ShowError(texts::SavingFailed);
    }

    // 2.
    DemoStopped = false;
    bool found = false;
    SavedBarColor = window_.statusColor();

    // 3. The port search, beginning at the port where the reader was last found.
    PortAccessDenied = false;
    for (const int port : PortSearchOrder(Settings.Port)) {
        SetStatus(texts::TestingPort + std::to_string(port));
        if (!OpenPort(port))
            continue;
        platform::TheClock().sleepMs(PortSettleMs);
        if (QueryVersion()) {
            SetStatus(texts::Connected + PrintableText(ReaderVersion) + texts::OnPort +
                      std::to_string(port));
            found = true;
            Settings.Port = std::uint8_t(port);
            readerIdentity_ = PortHandle->identity();
            identityLooks_ = IdentityLooks;
            window_.setCaption(window_.caption() + WindowsToUtf8(PrintableText(ReaderVersion)));
            break;
        }
        if (!ClosePort())
            SetStatus(texts::ClosingFailed);
    }

    // 4. Connected, or no reader.
    if (found) {
        window_.startTimer(Timer::Timer1);
        ShowList();
    } else {
        SetStatus(texts::NoDevice);
        // The status line keeps its text; how to mend it goes where the one
        // who started the program can read it.
        if (PortAccessDenied)
            std::fprintf(stderr, "%s\n", texts::PortAccessHint);
        window_.setShown(Control::BitBtn8, true);
        DemoStopped = true;
        DemoRandom.seed(std::mt19937::result_type(platform::TheClock().highResolutionCounter()));
        for (Control button : {Control::BitBtn1, Control::BitBtn2, Control::BitBtn3,
                               Control::BitBtn4, Control::BitBtn5})
            window_.setEnabled(button, false);
    }

    // 5.
    RunningOrder = Settings.OrderNumber;
    DisplayRow = 0;
    window_.setText(Control::Edit1, Number(Settings.OrderNumber));

    // 6.-8. Each change of a mark runs its handler, which copies the mark back.
    if (Settings.ChipToKeyboard) {
        SetMark(Control::CheckBox1, true);
        window_.setShown(Control::CheckBox3, true);
        window_.setShown(Control::CheckBox4, true);
        SetMark(Control::CheckBox3, Settings.OrderToKeyboard);
        SetMark(Control::CheckBox4, Settings.TimeToKeyboard);
        // The box is checked by design, so its handler did not run: the
        // virtual keyboard is made here, so the desktop has it by the first
        // reading.
        platform::TheKeyboard().prepare();
    } else {
        SetMark(Control::CheckBox1, false);
    }
    SetMark(Control::CheckBox2, Settings.AutoLedOff);
    SetMark(Control::CheckBox6, Settings.SaveOnDisk);
    SetMark(Control::CheckBox7, Settings.SoundSignal);
    SetMark(Control::CheckBox9, Settings.CrcDigits);
    if (Settings.MinimizeAtStart) {
        SetMark(Control::CheckBox5, true);
        window_.minimize();
    } else {
        SetMark(Control::CheckBox5, false);
    }
    startupDone_ = true;
}

void TForm1::ShowList() {
    window_.setShown(Control::Image1, true);
    window_.setShown(Control::Label3, true);
    window_.setShown(Control::Label1, true);
    window_.setShown(Control::Label2, true);
    window_.setShown(Control::Memo1, true);
    window_.setFocus(Control::Memo1);
    WriteRow(0, {});
}

// ---- Option check boxes ----

void TForm1::CheckBox1Click() {
    if (window_.checked(Control::CheckBox1)) {
        Settings.ChipToKeyboard = true;
        window_.setShown(Control::CheckBox3, true);
        window_.setShown(Control::CheckBox4, true);
        SetMark(Control::CheckBox3, Settings.OrderToKeyboard);
        SetMark(Control::CheckBox4, Settings.TimeToKeyboard);
        // A virtual keyboard is made now, so the desktop has it by the first reading.
        platform::TheKeyboard().prepare();
    } else {
        Settings.OrderToKeyboard = false;
        Settings.TimeToKeyboard = false;
        Settings.ChipToKeyboard = false;
        window_.setShown(Control::CheckBox3, false);
        window_.setShown(Control::CheckBox4, false);
    }
}

void TForm1::CheckBox2Click() {
    Settings.AutoLedOff = window_.checked(Control::CheckBox2);
}
void TForm1::CheckBox3Click() {
    Settings.OrderToKeyboard = window_.checked(Control::CheckBox3);
}
void TForm1::CheckBox4Click() {
    Settings.TimeToKeyboard = window_.checked(Control::CheckBox4);
}
void TForm1::CheckBox5Click() {
    Settings.MinimizeAtStart = window_.checked(Control::CheckBox5);
}
void TForm1::CheckBox6Click() {
    Settings.SaveOnDisk = window_.checked(Control::CheckBox6);
}
void TForm1::CheckBox7Click() {
    Settings.SoundSignal = window_.checked(Control::CheckBox7);
}
void TForm1::CheckBox8Click() {}  // "Family": never shown, changes nothing
void TForm1::CheckBox9Click() {
    Settings.CrcDigits = window_.checked(Control::CheckBox9);
}

// ---- Lamp and reader commands ----

void TForm1::ShowLamp(bool ledOn, bool now) {
    const Control shown = ledOn ? Control::Image2 : Control::Image1;
    const Control hidden = ledOn ? Control::Image1 : Control::Image2;
    window_.setShown(hidden, false);
    window_.setShown(shown, true);
    if (now)
        window_.paintNow(shown);
}

void TForm1::SendReaderCommand(char code, const char* done, const char* failed) {
    const bool ok = SendCommand(code);
    SetStatus(ok ? done : failed);
    if (ok && code == CommandLedOn)
        ShowLamp(true);
    if (ok && code == CommandLedOff)
        ShowLamp(false);
}

void TForm1::BitBtn1Click() {
    SendReaderCommand(CommandBlock, texts::Blocked, texts::BlockingFailed);
}

void TForm1::BitBtn2Click() {
    SendReaderCommand(CommandUnblock, texts::Unblocked, texts::UnblockingFailed);
}

void TForm1::BitBtn3Click() {
    SendReaderCommand(CommandLedOn, texts::LedIsOn, texts::LedOnFailed);
}

void TForm1::BitBtn4Click() {
    SendReaderCommand(CommandLedOff, texts::LedIsOff, texts::LedOffFailed);
}

void TForm1::BitBtn5Click() {
    // A repeat read is only shown: not counted, logged, typed or listed.
    if (RepeatRead()) {
        SetStatus(PrintableText(ChipCode.view()));
        window_.setStatusColor(RepeatReadBarColor);
    } else {
        SetStatus(texts::RepeatReadFailed);
    }
}

// ---- Order field, End and the manufacturer window ----

void TForm1::Edit1Exit() {
    const std::optional<std::uint32_t> number = ParseOrderNumber(window_.text(Control::Edit1));
    if (!number) {
        ShowError(texts::BadNumber);
        return;
    }
    Settings.OrderNumber = *number;
    RunningOrder = *number;
}

void TForm1::BitBtn6Click() {
    Settings.OrderNumber = 0;
    RunningOrder = 0;
    DisplayRow = 0;
    window_.setText(Control::Edit1, "0");
}

void TForm1::BitBtn7Click() {
    // No try to take the reader back while End's boxes are up: it ends here.
    if (readerLost_)
        window_.stopTimer(Timer::Timer3);
    // Chips the reader sent whole while a request waited, that no poll took
    // yet, are readings: recorded before the port closes.
    KeptChips.insert(KeptChips.begin(), heldChips_.begin(), heldChips_.end());
    heldChips_.clear();
    while (!KeptChips.empty() && PollChip())
        RecordReading(ReadingFrom::Reader, false);
    if (!ClosePort())
        ShowError(texts::ClosingFailed);
    window_.stopTimer(Timer::Timer1);
    if (!SaveSettings())
        ShowError(texts::SavingFailed);
    window_.close();
}

void TForm1::SpeedButton1Click() {
    window_.showManufacturer();
}

// ---- The reading cycle ----

void TForm1::Timer1Timer() {
    window_.stopTimer(Timer::Timer1);
    if (PollChip())
        TakeReading();
    // The poll, or a request since the last poll, found the line gone. The
    // chips the reader sent whole before it went are readings like any other.
    if (LinkLost) {
        while (!KeptChips.empty() && PollChip())
            TakeReading();
        LoseReader();
        return;
    }
    // A device that came a moment ago may not have its stable name yet: the
    // system gives it a little later. Asked again at the first polls.
    if (readerIdentity_.empty() && identityLooks_ > 0 && PortHandle) {
        --identityLooks_;
        readerIdentity_ = PortHandle->identity();
    }
    // On every path: the next poll starts a full interval after this one ended.
    window_.startTimer(Timer::Timer1);
}

void TForm1::TakeReading() {
    ShowLamp(true, true);
    window_.setStatusColor(SavedBarColor);
    if (RecordReading(ReadingFrom::Reader) && Settings.SoundSignal)
        platform::TheSound().information();
    // A line that is gone takes no command; the LED goes off for a chip read
    // again as well.
    if (Settings.AutoLedOff && !LinkLost) {
        if (SendCommand(CommandLedOff))
            ShowLamp(false);
        else
            SetStatus(texts::LedOffFailed);
    }
}

void TForm1::LoseReader() {
    readerLost_ = true;
    failedTries_ = 0;
    searched_ = false;
    portsSeen_.clear();
    portsDue_.clear();
    shownDevice_.clear();
    ClosePort();  // the control lines of a line that is gone cannot be lowered
    window_.setStatusColor(LostBarColor);
    SetStatus(texts::ReaderLost + std::to_string(Settings.Port) + texts::ReaderLostEnd);
    window_.startTimer(Timer::Timer3);
}

void TForm1::Timer3Timer() {
    // One try per tick, a full interval after the last one ended. A port that
    // is not there fails its open at once; only a port that opens costs the
    // settle pause and one identification exchange, as in the start-up search.
    window_.stopTimer(Timer::Timer3);
    if (readerIdentity_.empty()) {
        // Nothing but the port number tells the reader's device.
        if (!TakeBack(Settings.Port))
            window_.startTimer(Timer::Timer3);
        return;
    }

    // The adapter under whatever number the system gave it on its return.
    // The old number alone is never opened: another device may have it now.
    const platform::Whereabouts where = platform::Serial().locate(readerIdentity_, Settings.Port);
    if (where.port >= 0 && TakeBack(where.port))
        return;
    ShowWhereabouts(where);

    // Not back for a while: the reader may be behind another adapter. Every
    // port is tried once; after that only a port that appears that was not
    // there, at the next try, when the system has made its device ready (and
    // has named it: the reader's own adapter is then found by its name
    // first). The devices already asked are left alone.
    if (++failedTries_ >= SearchAfterTries) {
        std::vector<int> ports;
        for (const int port : PortSearchOrder(Settings.Port))
            if (platform::Serial().present(port))
                ports.push_back(port);
        const std::vector<int> due = std::exchange(portsDue_, {});
        if (searched_)
            for (const int port : ports)
                if (std::find(portsSeen_.begin(), portsSeen_.end(), port) == portsSeen_.end())
                    portsDue_.push_back(port);
        portsSeen_ = ports;
        if (!searched_) {
            searched_ = true;
            if (SearchForReader(where.port))
                return;
        }
        for (const int port : due)
            if (port != where.port && TakeBack(port))
                return;
    }
    window_.startTimer(Timer::Timer3);
}

bool TForm1::TakeBack(int port) {
    const std::string version = ReaderVersion;
    if (!OpenPort(port))
        return false;
    platform::TheClock().sleepMs(PortSettleMs);
    if (!QueryVersion()) {
        heldChips_.insert(heldChips_.end(), KeptChips.begin(), KeptChips.end());
        ClosePort();
        return false;
    }
    KeptChips.insert(KeptChips.begin(), heldChips_.begin(), heldChips_.end());
    heldChips_.clear();
    readerLost_ = false;
    Settings.Port = std::uint8_t(port);
    readerIdentity_ = PortHandle->identity();
    identityLooks_ = IdentityLooks;
    window_.setStatusColor(SavedBarColor);
    SetStatus(texts::Connected + PrintableText(ReaderVersion) + texts::OnPort +
              std::to_string(port));
    if (ReaderVersion != version)
        window_.setCaption(WindowsToUtf8(texts::MainCaption + PrintableText(ReaderVersion)));
    window_.startTimer(Timer::Timer1);
    return true;
}

bool TForm1::SearchForReader(int skip) {
    // The red bar keeps saying the reader is lost meanwhile.
    for (const int port : PortSearchOrder(Settings.Port))
        if (port != skip && TakeBack(port))
            return true;
    return false;
}

void TForm1::ShowWhereabouts(const platform::Whereabouts& where) {
    const std::string outOfReach = where.port < 0 ? where.device : std::string();
    if (outOfReach == shownDevice_)
        return;
    shownDevice_ = outOfReach;
    const std::string reader = texts::ReaderLost + std::to_string(Settings.Port);
    if (outOfReach.empty()) {
        SetStatus(reader + texts::ReaderLostEnd);
        return;
    }
    SetStatus(reader + texts::ReaderUnreachable + outOfReach);
    std::fprintf(stderr, "%s%s COM%d\n", texts::ReaderLinkHint, readerIdentity_.c_str(),
                 int(Settings.Port));
}

namespace {

// The reading just counted, to the site's broker when one is configured:
// into its outbox, flushed, before any key of it goes down, so that a signal
// that ends the program as the keys are released finds it there. The network
// is not waited for.
void HandToSite(const Reading& reading) {
    std::string reader, port;  // none in the demo
    if (!reading.demo) {
        reader = PrintableText(ReaderVersion);
        port = "COM" + std::to_string(Settings.Port);
    }
    site::ThePublishing().recorded({reading, reader, port});
}

// A reading that was not typed is one the operator must take over by hand:
// said on standard error too (the session's journal), each time, with why,
// for whoever looks into it later.
void SayNotTyped(const Reading& reading, const char* why) {
    std::fprintf(stderr, "Reading %u, %s: %s\n", unsigned(reading.order), reading.code.c_str(),
                 why ? why : "");
}

}  // namespace

bool TForm1::RecordReading(ReadingFrom from, bool mayType) {
    // The same chip again, within the site's window since the last reading
    // (on the monotonic clock: a change of the time of day moves no window).
    const std::uint64_t nowMs = platform::TheClock().monotonicMs();
    const unsigned within = siteRules_.repeatWithinS;
    if (within > 0 && counted_ && ChipCode.view() == lastCode_ &&
        nowMs - lastCountedMs_ <= std::uint64_t(within) * 1000) {
        SetStatus(texts::SameChipAgain);
        return false;
    }
    counted_ = true;
    lastCode_ = std::string(ChipCode.view());
    lastCountedMs_ = nowMs;
    // One clock reading for the time and the day's log.
    const platform::LocalTime now = platform::TheClock().localTime();
    const bool withOrder = Settings.OrderToKeyboard;
    const bool withTime = Settings.TimeToKeyboard;
    ++RunningOrder;  // wraps at 2^32
    Settings.OrderNumber = RunningOrder;
    const Reading reading =
        MakeReading(RunningOrder, now, ChipCode.view(), from == ReadingFrom::Demo);
    TimeText = reading.time;
    window_.setText(Control::Edit1, Number(reading.order));
    HandToSite(reading);

    if (Settings.SaveOnDisk && !AppendLog(reading))
        SetStatus(texts::LogFailed);

    if (Settings.ChipToKeyboard) {
        if (mayType && siteRules_.typingRefused) {
            SetStatus(texts::SiteTypingRefused);
            SayNotTyped(reading, texts::SiteTypingRefused);
        } else if (mayType) {
            ShowTyping(reading, TypeReading(reading, withOrder, withTime, siteRules_.typing));
        }
    } else {
        const std::string row = Number(reading.order) + std::string(7, ' ') + reading.time +
                                std::string(6, ' ') + reading.code;
        ListLines lines(window_);
        DisplayRow = readinglist::AddReading(lines, DisplayRow, Utf8ToUtf16(WindowsToUtf8(row)));
    }
    return true;
}

void TForm1::SiteNotice(std::string_view utf8) {
    if (!utf8.empty()) {
        window_.setStatus(std::string(utf8));
        noticeShown_ = true;
    } else if (noticeShown_) {
        noticeShown_ = false;
        window_.setStatus(WindowsToUtf8(statusText_));
    }
}

namespace {

const char* NoticeText(platform::KeyboardNotice notice) {
    using platform::KeyboardNotice;
    switch (notice) {
        case KeyboardNotice::None:
            break;
        case KeyboardNotice::X11Only:
            return texts::X11Only;
        case KeyboardNotice::X11OnlyNoUinput:
            return texts::X11OnlyNoUinput;
        case KeyboardNotice::X11OnlyNoAccess:
            return texts::X11OnlyNoAccess;
        case KeyboardNotice::NoDisplay:
            return texts::CannotType;
        case KeyboardNotice::NoUinput:
            return texts::NoUinput;
        case KeyboardNotice::NoAccess:
            return texts::NoUinputAccess;
        case KeyboardNotice::NoKeymap:
            return texts::NoKeymap;
        case KeyboardNotice::LayoutLacksKeys:
            return texts::LayoutLacksKeys;
        case KeyboardNotice::LockUnknown:
            return texts::LockUnknown;
        case KeyboardNotice::KeyHeld:
            return texts::KeyHeld;
        case KeyboardNotice::TargetElevated:
            return texts::TargetElevated;
        case KeyboardNotice::TargetRightsUnknown:
            return texts::TargetRightsUnknown;
    }
    return nullptr;
}

}  // namespace

void TForm1::ShowTyping(const Reading& reading, TypingResult result) {
    using platform::KeyboardNotice;
    KeyboardNotice notice = platform::TheKeyboard().notice();
    const char* said = nullptr;
    switch (result) {
        case TypingResult::Typed:
        case TypingResult::NoDisplay:
        case TypingResult::Untypable:
        case TypingResult::LockUnknown:
            // Said once, and again only when the reason changes: it would say
            // the same at every reading.
            if (result == TypingResult::NoDisplay && notice == KeyboardNotice::None)
                notice = KeyboardNotice::NoDisplay;
            said = NoticeText(notice);
            if (notice != shownNotice_) {
                shownNotice_ = notice;
                if (const char* text = NoticeText(notice)) {
                    SetStatus(text);
                    if (notice == KeyboardNotice::X11OnlyNoAccess ||
                        notice == KeyboardNotice::NoAccess)
                        std::fprintf(stderr, "%s\n", texts::UinputAccessHint);
                }
            }
            break;
        case TypingResult::Barred:
            // Said at every reading: each is one the operator must take
            // over by hand. Whatever is said once is said again after it.
            shownNotice_ = notice;
            said = notice == KeyboardNotice::TargetRightsUnknown ? texts::TargetRightsUnknown
                                                                 : texts::TargetElevated;
            SetStatus(said);
            break;
        case TypingResult::KeyHeld:
            shownNotice_ = KeyboardNotice::KeyHeld;
            SetStatus(said = texts::KeyHeld);
            break;
        case TypingResult::Refused:
            SetStatus(said = texts::TypingRefused);
            break;
        case TypingResult::BrokenOff:
            SetStatus(said = texts::TypingBrokenOff);
            break;
        case TypingResult::NotANumber:
            SetStatus(said = texts::CodeNotANumber);
            break;
    }
    if (result != TypingResult::Typed)
        SayNotTyped(reading, said);
}

// ---- Demo ----

void TForm1::BitBtn8Click() {
    ShowList();
    if (DemoStopped) {
        window_.setText(Control::BitBtn8, texts::StopCaption);
        DemoStopped = false;
        window_.startTimer(Timer::Timer2);
    } else {
        window_.setText(Control::BitBtn8, texts::DemoCaption);
        DemoStopped = true;
        window_.stopTimer(Timer::Timer2);
    }
}

void TForm1::Timer2Timer() {
    // The timer keeps running meanwhile.
    DemoRandom.seed(std::mt19937::result_type(platform::TheClock().highResolutionCounter()));
    std::uniform_int_distribution<std::uint32_t> draw(0, DemoCodeLimit - 1);
    ChipCode = DemoChipText(draw(DemoRandom));
    ShowLamp(true, true);
    if (RecordReading(ReadingFrom::Demo) && Settings.SoundSignal)
        platform::TheSound().information();
    platform::TheClock().sleepMs(DemoLampMs);
    if (Settings.AutoLedOff)
        ShowLamp(false);
}
