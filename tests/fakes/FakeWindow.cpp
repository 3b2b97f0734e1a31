#include "fakes/FakeWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "Layout.h"
#include "MainWindow.h"
#include "ReadingList.h"
#include "Texts.h"

namespace fakes {

// ---- EventLoop ----

namespace {

using RealClock = std::chrono::steady_clock;

constexpr std::uint64_t NoLimit = UINT64_MAX;

}  // namespace

std::uint64_t EventLoop::now() const {
    if (clock_)
        return clock_->monotonic;
    return std::uint64_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now().time_since_epoch())
            .count());
}

int EventLoop::addTimer(unsigned intervalMs, std::function<void()> tick) {
    timers_.push_back({intervalMs, false, 0, std::move(tick)});
    return int(timers_.size()) - 1;
}

void EventLoop::start(int timer) {
    Entry& e = timers_.at(std::size_t(timer));
    e.active = true;
    e.due = now() + e.intervalMs;
}

void EventLoop::stop(int timer) {
    timers_.at(std::size_t(timer)).active = false;
}

int EventLoop::watch(std::function<void()> look) {
    watchers_.emplace_back(nextWatcher_, std::move(look));
    return nextWatcher_++;
}

void EventLoop::unwatch(int watcher) {
    std::erase_if(watchers_, [watcher](const auto& w) { return w.first == watcher; });
}

bool EventLoop::turn() {
    // A watcher or a tick may add or remove others: work on copies.
    const auto watchers = watchers_;
    for (const auto& [id, look] : watchers)
        if (std::any_of(watchers_.begin(), watchers_.end(),
                        [id = id](const auto& w) { return w.first == id; }))
            look();
    bool ran = false;
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        Entry& e = timers_[i];
        if (!e.active || now() < e.due)
            continue;
        // Due again a full interval from now, unless the handler restarts it.
        e.due = now() + e.intervalMs;
        const std::function<void()> tick = e.tick;
        tick();
        ran = true;
    }
    return ran;
}

void EventLoop::rest(std::uint64_t limit) {
    if (!clock_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    std::uint64_t next = limit;
    for (const Entry& e : timers_)
        if (e.active)
            next = std::min(next, e.due);
    if (next == NoLimit) {
        // Nothing will ever be due: what is awaited comes in real time.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        next = clock_->monotonic + 1;
    }
    clock_->monotonic = std::max(clock_->monotonic, next);
}

bool EventLoop::runUntil(const std::function<bool()>& done, int timeoutMs) {
    const RealClock::time_point giveUp = RealClock::now() + std::chrono::milliseconds(timeoutMs);
    bool ran = true;
    while (!done()) {
        if (RealClock::now() >= giveUp)
            return false;
        if (!ran)
            rest(NoLimit);
        // In real time the loop rests after every turn.
        ran = turn() && clock_ != nullptr;
    }
    return true;
}

void EventLoop::runFor(int ms) {
    const std::uint64_t end = now() + std::uint64_t(std::max(ms, 0));
    for (;;) {
        // A handler that pauses moves the clock on: the end may come with a
        // timer due at every turn (a demo reading's lamp is longer than its
        // timer).
        const bool ran = turn();
        if (now() >= end)
            return;
        if (!ran || !clock_)
            rest(end);
    }
}

// ---- FakeWindow ----

FakeWindow::FakeWindow(EventLoop& loop)
    : lines(std::size_t(readinglist::DesignedEmptyLines + 1)),
      windowCaption(texts::MainCaption),
      colour(ButtonFace),
      focus(Control::CheckBox1),
      loop_(loop) {
    for (const ControlLayout& entry : Form1Layout)
        controls[std::size_t(entry.id)] = {entry.caption, entry.shown, true, entry.checked};
    for (const TimerLayout& entry : Form1Timers)
        timers_[std::size_t(entry.id)] = loop_.addTimer(entry.intervalMs, [this, id = entry.id] {
            if (form_)
                form_->Tick(id);
        });
    runsPosted_ = loop_.watch([this] {
        std::vector<std::function<void()>> due;
        {
            std::lock_guard lock(postedLock_);
            due.swap(posted_);
        }
        for (const auto& function : due)
            function();
    });
}

FakeWindow::~FakeWindow() {
    loop_.unwatch(runsPosted_);
}

void FakeWindow::post(std::function<void()> function) {
    std::lock_guard lock(postedLock_);
    posted_.push_back(std::move(function));
}

void FakeWindow::activate() {
    if (form_)
        form_->Activated({true, true, minimized});
}

void FakeWindow::restore() {
    minimized = false;
    activate();
}

void FakeWindow::click(Control c) {
    ControlState& state = controls[std::size_t(c)];
    if (!state.shown || !state.enabled || !form_)
        return;
    if (LayoutOf(c).kind == Kind::CheckBox)
        state.checked = !state.checked;
    if (LayoutOf(c).kind != Kind::SpeedButton)
        moveFocus(c);
    form_->Clicked(c);
}

void FakeWindow::moveFocus(Control to) {
    const Control from = focus;
    focus = to;
    if (from != to && form_)
        form_->FocusLeft(from);
}

void FakeWindow::RunModal(std::string_view text) {
    // The operator's patience runs in real time, as the loop's own bound.
    const RealClock::time_point opened = RealClock::now();
    const std::string shownText(text);
    loop_.runUntil(
        [&] {
            if (!answer || answer(shownText))
                return true;
            if (RealClock::now() - opened > std::chrono::milliseconds(giveUpMs)) {
                gaveUp = true;
                return true;
            }
            return false;
        },
        giveUpMs + 1000);
}

void FakeWindow::showError(std::string_view text) {
    errors.emplace_back(text);
    RunModal(text);
}

void FakeWindow::showManufacturer() {
    ++manufacturerWindows;
    RunModal(texts::ManufacturerCaption);
}

}  // namespace fakes
