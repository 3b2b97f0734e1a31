// A window system for the form's tests: an event loop of timers, on virtual
// time or in real time, and a main window that records what the form shows
// and lets a test act as the operator (click, type, leave a field, answer a
// modal box).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Window.h"
#include "fakes/FakeClock.h"

class TForm1;

namespace fakes {

// Timers and watchers, run in turns as a window system's loop runs them.
//
// On virtual time (the loop given a FakeClock, the one the test installed as
// the platform's clock): timers are due in the clock's monotonic milliseconds,
// and the loop moves that clock on. A turn that runs no timer, while what the
// loop waits for does not hold, jumps to the next timer due; with no timer
// running, the clock goes with real time. What a handler does (a serial read
// on the simulator's line) takes real time and leaves the clock where it was;
// a pause the program asks of the clock moves it, as it would move a real one.
// So a test waits for no timer, and the timers fire the same whatever the
// machine's load.
//
// In real time (no clock given): timers are due on the steady clock, and the
// loop sleeps a millisecond after each turn; for the benchmarks' figures, and
// for a program against real hardware (tests/vm/reconnect_guest.cpp).
class EventLoop {
  public:
    explicit EventLoop(FakeClock* virtualClock = nullptr) : clock_(virtualClock) {}

    // The loop's time in milliseconds: the virtual clock's, or the steady clock's.
    std::uint64_t now() const;

    int addTimer(unsigned intervalMs, std::function<void()> tick);
    // Starting a timer restarts its full interval.
    void start(int timer);
    void stop(int timer);
    bool active(int timer) const { return timers_.at(std::size_t(timer)).active; }
    unsigned interval(int timer) const { return timers_.at(std::size_t(timer)).intervalMs; }
    void setInterval(int timer, unsigned ms) { timers_.at(std::size_t(timer)).intervalMs = ms; }

    // Runs at every turn of the loop until removed: an operator who looks at
    // the screen, a probe that measures.
    int watch(std::function<void()> look);
    void unwatch(int watcher);

    // One turn: the watchers, then every timer that is due (once each).
    // Whether a timer ran.
    bool turn();
    // Turns until `done` holds (true) or `timeoutMs` of real time passed
    // (false). Real time: what is awaited may come from the simulated reader
    // or another thread, which the virtual clock does not hold back; the
    // bound is only the test's guard against waiting for ever.
    bool runUntil(const std::function<bool()>& done, int timeoutMs = 10000);
    // Turns for `ms` of the loop's time: the timers due meanwhile run.
    void runFor(int ms);

  private:
    struct Entry {
        unsigned intervalMs = 0;
        bool active = false;
        std::uint64_t due = 0;
        std::function<void()> tick;
    };

    // Between two turns: on virtual time the clock on to the next timer due,
    // no further than `limit`; in real time a millisecond's sleep.
    void rest(std::uint64_t limit);

    FakeClock* clock_;
    std::vector<Entry> timers_;
    std::vector<std::pair<int, std::function<void()>>> watchers_;
    int nextWatcher_ = 0;
};

class FakeWindow final : public Window {
  public:
    explicit FakeWindow(EventLoop& loop);
    ~FakeWindow() override;
    FakeWindow(const FakeWindow&) = delete;
    FakeWindow& operator=(const FakeWindow&) = delete;

    // The form that receives the window's events.
    void attach(TForm1& form) { form_ = &form; }

    struct ControlState {
        std::string text;
        bool shown = false;
        bool enabled = true;
        bool checked = false;
    };
    std::array<ControlState, ControlCount> controls;
    const ControlState& operator[](Control c) const { return controls[std::size_t(c)]; }

    std::vector<std::string> lines;  // the reading list's lines
    std::string windowCaption;
    std::vector<std::string> statuses;  // every text of the status line, in order
    std::vector<Control> paintedNow;    // every paintNow
    Color colour;                       // the status bar's
    Control focus;
    bool minimized = false;
    bool closed = false;
    std::vector<std::string> errors;  // the error boxes, in order
    int manufacturerWindows = 0;
    bool gaveUp = false;  // a modal box the operator never answered was closed anyway

    // The operator at a modal box: asked at every turn of the box's own loop
    // while it is open (so it can act meanwhile); true closes it. Unset, every
    // box is closed at once; after `giveUpMs` of real time a box is closed anyway.
    std::function<bool(std::string_view text)> answer;
    int giveUpMs = 15000;

    std::string status() const { return statuses.empty() ? "Info" : statuses.back(); }
    int timer(Timer t) const { return timers_[std::size_t(t)]; }
    bool timerActive(Timer t) const { return loop_.active(timer(t)); }
    unsigned timerInterval(Timer t) const { return loop_.interval(timer(t)); }
    void setTimerInterval(Timer t, unsigned ms) { loop_.setInterval(timer(t), ms); }

    // ---- The operator ----
    // Shows the window: it becomes active, and the form hears of it unless
    // the window is minimised.
    void activate();
    void restore();
    // A click on a button or a check box (whose mark then changes), as the
    // window system would deliver it: nothing happens on a hidden or disabled one.
    void click(Control c);
    // The caret into a control, and out again to another control.
    void moveFocus(Control to);
    void type(Control edit, std::string_view text) { controls[std::size_t(edit)].text = text; }

    // ---- Window ----
    std::string text(Control c) const override { return (*this)[c].text; }
    void setText(Control c, std::string_view text) override {
        controls[std::size_t(c)].text = text;
    }
    bool shown(Control c) const override { return (*this)[c].shown; }
    void setShown(Control c, bool shown) override { controls[std::size_t(c)].shown = shown; }
    void setEnabled(Control c, bool enabled) override {
        controls[std::size_t(c)].enabled = enabled;
    }
    bool checked(Control c) const override { return (*this)[c].checked; }
    void setChecked(Control c, bool checked) override {
        controls[std::size_t(c)].checked = checked;
    }
    void setFocus(Control c) override { focus = c; }
    void paintNow(Control c) override { paintedNow.push_back(c); }
    void setStatus(std::string_view text) override { statuses.emplace_back(text); }
    Color statusColor() const override { return colour; }
    void setStatusColor(Color c) override { colour = c; }
    int lineCount() const override { return int(lines.size()); }
    std::string lineText(int line) const override { return lines.at(std::size_t(line)); }
    void setLineText(int line, std::string_view text) override {
        lines.at(std::size_t(line)) = text;
    }
    std::string caption() const override { return windowCaption; }
    void setCaption(std::string_view caption) override { windowCaption = caption; }
    void minimize() override { minimized = true; }
    void close() override { closed = true; }
    void startTimer(Timer t) override { loop_.start(timer(t)); }
    void stopTimer(Timer t) override { loop_.stop(timer(t)); }
    void showError(std::string_view text) override;
    void showManufacturer() override;
    // Run at the loop's next turn.
    void post(std::function<void()> function) override;

  private:
    void RunModal(std::string_view text);

    EventLoop& loop_;
    TForm1* form_ = nullptr;
    std::array<int, TimerCount> timers_{};
    std::mutex postedLock_;
    std::vector<std::function<void()>> posted_;
    int runsPosted_ = 0;
};

// The button face of the designed window, the status bar's colour at first.
inline constexpr Color ButtonFace = Rgb(240, 240, 240);

}  // namespace fakes
