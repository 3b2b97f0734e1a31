// The read time-outs' arithmetic on a clock of the test's own: what a read may
// still wait, and why it ends. The real poll() loop around it runs on a
// pseudo-terminal in serial_sim_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "Drv232.h"
#include "ReadTimer.h"

namespace platform {
void PrintTo(const ReadWait& w, std::ostream* out) {
    *out << (w.end == ReadEnd::No      ? "waits "
             : w.end == ReadEnd::Total ? "total "
                                       : "interval ")
         << w.ms;
}
}  // namespace platform

namespace {

using platform::ReadEnd;
using platform::ReadWait;
using platform::Timeouts;

struct Case {
    const char* what;
    Timeouts timeouts;
    std::size_t n;
    std::size_t received;
    std::int64_t lastByte;  // since the read began (the read begins at 5000)
    std::int64_t now;       // likewise
    ReadWait expected;
};

// The program's: 20 ms between bytes, 8 ms a byte + 200 ms in all.
constexpr Timeouts Program{ReadIntervalTimeout, ReadTotalMultiplier, ReadTotalConstant, 0, 0};

TEST(ReadTimer, SaysHowLongAReadMayStillWaitAndWhyItEnds) {
    constexpr std::int64_t Start = 5000;
    const Case cases[] = {
        {"a frame, at once", Program, 16, 0, 0, 0, {ReadEnd::No, 328}},
        {"a frame, nothing yet", Program, 16, 0, 0, 327, {ReadEnd::No, 1}},
        {"a frame, silence to the end", Program, 16, 0, 0, 328, {ReadEnd::Total, 0}},
        {"a reply of 6, silence to the end", Program, 6, 0, 0, 248, {ReadEnd::Total, 0}},
        {"a reply of 6, a millisecond before", Program, 6, 0, 0, 247, {ReadEnd::No, 1}},
        // No interval before the first byte: a late reply still counts.
        {"nothing for 300 ms", Program, 16, 0, 0, 300, {ReadEnd::No, 28}},
        {"5 bytes, 10 ms since", Program, 16, 5, 100, 110, {ReadEnd::No, 10}},
        {"5 bytes, 20 ms since", Program, 16, 5, 100, 120, {ReadEnd::Interval, 0}},
        {"a byte just before the end", Program, 16, 5, 320, 325, {ReadEnd::No, 3}},
        {"both bounds at once", Program, 16, 5, 308, 328, {ReadEnd::Total, 0}},
        {"no interval", {0, 8, 200}, 16, 5, 0, 327, {ReadEnd::No, 1}},
        {"no total, no byte yet", {20, 0, 0}, 16, 0, 0, 1000000, {ReadEnd::No, -1}},
        {"no total, a byte came", {20, 0, 0}, 16, 3, 1000, 1019, {ReadEnd::No, 1}},
        {"no total, the gap", {20, 0, 0}, 16, 3, 1000, 1020, {ReadEnd::Interval, 0}},
        {"no bound at all", {0, 0, 0}, 16, 3, 0, 1000000, {ReadEnd::No, -1}},
        {"the constant alone", {20, 0, 50}, 64, 0, 0, 50, {ReadEnd::Total, 0}},
        {"the multiplier alone", {0, 8, 0}, 6, 0, 0, 47, {ReadEnd::No, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(platform::ReadTimeLeft(c.timeouts, c.n, Start, c.received, Start + c.lastByte,
                                         Start + c.now),
                  c.expected);
    }
}

}  // namespace
