// Local time, the tick count, the performance counter and pauses on Windows.
#include <windows.h>

#include "Clock.h"

namespace platform {

namespace {

class Win32Clock final : public Clock {
  public:
    LocalTime localTime() override {
        // One reading of the clock, turned into local time by the rules of
        // its own date: the offset is the difference of the two.
        SYSTEMTIME utc{};
        GetSystemTime(&utc);
        SYSTEMTIME st = utc;
        SystemTimeToTzSpecificLocalTime(nullptr, &utc, &st);
        FILETIME utcFile{}, localFile{};
        SystemTimeToFileTime(&utc, &utcFile);
        SystemTimeToFileTime(&st, &localFile);
        const auto ticks = [](const FILETIME& f) {
            return std::int64_t((std::uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime);
        };
        const std::int64_t TicksPerMinute = 600000000;  // of 100 ns
        LocalTime t;
        t.utcOffsetMinutes = int((ticks(localFile) - ticks(utcFile)) / TicksPerMinute);
        t.year = st.wYear;
        t.month = st.wMonth;
        t.day = st.wDay;
        t.hour = st.wHour;
        t.minute = st.wMinute;
        t.second = st.wSecond;
        t.millisecond = st.wMilliseconds;
        return t;
    }

    std::uint64_t monotonicMs() override { return GetTickCount64(); }

    std::uint64_t highResolutionCounter() override {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);  // cannot fail since Windows XP
        return std::uint64_t(counter.QuadPart);
    }

    void sleepMs(unsigned ms) override { Sleep(ms); }
};

}  // namespace

Clock& SystemClock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace platform
