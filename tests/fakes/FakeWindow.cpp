#include "fakes/FakeWindow.h"

#include <algorithm>
#include <thread>

#include "Layout.h"
#include "MainWindow.h"
#include "ReadingList.h"
#include "Texts.h"

namespace fakes {

// ---- EventLoop ----

int EventLoop::addTimer(unsigned intervalMs, std::function<void()> tick) {
    timers_.push_back({intervalMs, false, {}, std::move(tick)});
    return int(timers_.size()) - 1;
}

void EventLoop::start(int timer) {
    Entry& e = timers_.at(std::size_t(timer));
    e.active = true;
    e.due = Clock::now() + std::chrono::milliseconds(e.intervalMs);
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

void EventLoop::turn() {
    // A watcher or a tick may add or remove others: work on copies.
    const auto watchers = watchers_;
    for (const auto& [id, look] : watchers)
        if (std::any_of(watchers_.begin(), watchers_.end(),
                        [id = id](const auto& w) { return w.first == id; }))
            look();
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        Entry& e = timers_[i];
        if (!e.active || Clock::now() < e.due)
            continue;
        // Due again a full interval from now, unless the handler restarts it.
        e.due = Clock::now() + std::chrono::milliseconds(e.intervalMs);
        const std::function<void()> tick = e.tick;
        tick();
    }
}

bool EventLoop::runUntil(const std::function<bool()>& done, int timeoutMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= end)
            return false;
        turn();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void EventLoop::runFor(int ms) {
    runUntil([] { return false; }, ms);
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
    const EventLoop::Clock::time_point opened = EventLoop::Clock::now();
    const std::string shownText(text);
    loop_.runUntil(
        [&] {
            if (!answer || answer(shownText))
                return true;
            if (EventLoop::Clock::now() - opened > std::chrono::milliseconds(giveUpMs)) {
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
