#include <ctime>

#include <cerrno>

#include "Clock.h"

namespace platform {

namespace {

std::uint64_t ReadClock(clockid_t id, std::uint64_t unitsPerSecond) {
    timespec ts{};
    clock_gettime(id, &ts);
    return std::uint64_t(ts.tv_sec) * unitsPerSecond +
           std::uint64_t(ts.tv_nsec) / (1000000000ull / unitsPerSecond);
}

class PosixClock final : public Clock {
  public:
    LocalTime localTime() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        tm parts{};
        localtime_r(&ts.tv_sec, &parts);
        LocalTime t;
        t.year = parts.tm_year + 1900;
        t.month = parts.tm_mon + 1;
        t.day = parts.tm_mday;
        t.hour = parts.tm_hour;
        t.minute = parts.tm_min;
        t.second = parts.tm_sec;
        t.millisecond = int(ts.tv_nsec / 1000000);
        t.utcOffsetMinutes = int(parts.tm_gmtoff / 60);
        return t;
    }

    std::uint64_t monotonicMs() override { return ReadClock(CLOCK_MONOTONIC, 1000); }
    std::uint64_t highResolutionCounter() override {
        return ReadClock(CLOCK_MONOTONIC, 1000000000ull);
    }

    void sleepMs(unsigned ms) override {
        timespec left{time_t(ms / 1000), long(ms % 1000) * 1000000L};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
};

}  // namespace

Clock& SystemClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace platform
