// The clock facility: local date and time, a monotonic clock and pauses.
#pragma once

#include <cstdint>

namespace platform {

struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int utcOffsetMinutes = 0;  // local time less UTC: +60 in Paris in winter
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime localTime() = 0;
    virtual std::uint64_t monotonicMs() = 0;
    // A high-resolution counter for seeding random numbers.
    virtual std::uint64_t highResolutionCounter() = 0;
    // Blocks the calling thread.
    virtual void sleepMs(unsigned ms) = 0;
};

Clock& TheClock();
void UseClock(Clock* clock);  // nullptr: back to the operating system's
Clock& SystemClock();

}  // namespace platform
