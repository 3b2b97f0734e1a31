// A clock that stands still until told otherwise, and records the pauses asked of it.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Clock.h"

namespace fakes {

class FakeClock final : public platform::Clock {
  public:
    platform::LocalTime now{2026, 3, 7, 9, 41, 7, 0};
    // Where the local time stands at each later reading of it: the clock
    // moves on while the program works.
    std::deque<platform::LocalTime> later;
    std::uint64_t monotonic = 1000;
    std::vector<unsigned> sleeps;
    std::vector<std::string>* journal = nullptr;  // also gets "sleep <ms>" when set
    std::function<void()> afterSleep;             // called after each pause, when set

    platform::LocalTime localTime() override {
        const platform::LocalTime read = now;
        if (!later.empty()) {
            now = later.front();
            later.pop_front();
        }
        return read;
    }
    std::uint64_t monotonicMs() override { return monotonic; }
    std::uint64_t highResolutionCounter() override { return monotonic * 1000000; }
    void sleepMs(unsigned ms) override {
        sleeps.push_back(ms);
        if (journal)
            journal->push_back("sleep " + std::to_string(ms));
        monotonic += ms;
        if (afterSleep)
            afterSleep();
    }
};

// Installs a fake for the life of the object.
class ClockInUse {
  public:
    explicit ClockInUse(platform::Clock& clock) { platform::UseClock(&clock); }
    ~ClockInUse() { platform::UseClock(nullptr); }
};

}  // namespace fakes
