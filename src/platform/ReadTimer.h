// The time-out arithmetic of a serial read by the rules of SerialPort.h's
// Timeouts, for the systems where the program keeps the time itself (POSIX:
// serial_posix.cpp waits with poll() for as long as it says). Plain numbers
// in, plain numbers out: milliseconds of any monotonic clock, so it is tested
// on a clock of the test's own. Standard C++ only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SerialPort.h"

namespace platform {

struct ReadWait {
    ReadEnd end = ReadEnd::No;  // No, Total or Interval: why it ends before its n bytes
    // How long the read may still wait for a byte: -1 without a bound; 0 once it has ended.
    std::int64_t ms = -1;
    bool operator==(const ReadWait&) const = default;
};

// A read of n bytes that began at `startMs` and has received `received` bytes,
// the last at `lastByteMs`, seen at `nowMs`. The total bound runs from the
// start, and there is none when readTotalMultiplier * n + readTotalConstant is
// 0. The interval runs only once a byte has come (a reader may take its time
// to begin a reply), and there is none when readInterval is 0. A bound is
// reached at its very millisecond; when both are, the total is the reason.
ReadWait ReadTimeLeft(const Timeouts& timeouts, std::size_t n, std::int64_t startMs,
                      std::size_t received, std::int64_t lastByteMs, std::int64_t nowMs);

}  // namespace platform
