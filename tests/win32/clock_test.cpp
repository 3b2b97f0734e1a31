// Local time, tick count, performance counter and pauses on Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "Clock.h"

namespace {

using platform::SystemClock;

// Seconds since 1 January of year 0 by the proleptic calendar; enough to
// compare two readings of the same clock.
long long Seconds(const platform::LocalTime& t) {
    using namespace std::chrono;
    const sys_days day = year{t.year} / month{unsigned(t.month)} / t.day;
    return day.time_since_epoch().count() * 86400LL + t.hour * 3600LL + t.minute * 60LL + t.second;
}

TEST(Win32Clock, LocalTimeAgreesWithTheRuntimesLocalTime) {
    const platform::LocalTime before = SystemClock().localTime();
    const std::time_t now = std::time(nullptr);
    const platform::LocalTime after = SystemClock().localTime();
    std::tm parts{};
    ASSERT_EQ(localtime_s(&parts, &now), 0);
    platform::LocalTime runtime;
    runtime.year = parts.tm_year + 1900;
    runtime.month = parts.tm_mon + 1;
    runtime.day = parts.tm_mday;
    runtime.hour = parts.tm_hour;
    runtime.minute = parts.tm_min;
    runtime.second = parts.tm_sec;
    EXPECT_GE(Seconds(runtime), Seconds(before) - 1);
    EXPECT_LE(Seconds(runtime), Seconds(after) + 1);
    EXPECT_GE(after.millisecond, 0);
    EXPECT_LT(after.millisecond, 1000);
    EXPECT_GE(after.month, 1);
    EXPECT_LE(after.month, 12);
}

TEST(Win32Clock, APauseMovesTheTickCountAndTheCounterOn) {
    const auto ticks = SystemClock().monotonicMs();
    const auto counter = SystemClock().highResolutionCounter();
    const auto start = std::chrono::steady_clock::now();
    SystemClock().sleepMs(120);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    const auto tickDelta = SystemClock().monotonicMs() - ticks;
    EXPECT_GE(elapsed, 115);
    EXPECT_LT(elapsed, 1000);
    // The tick count may run in steps of the system timer (about 16 ms).
    EXPECT_GE(tickDelta, 100u);
    EXPECT_LT(tickDelta, 1000u);
    EXPECT_GT(SystemClock().highResolutionCounter(), counter);
}

}  // namespace
