// The reply rule and the read time-outs, the same on every system: one table
// run against each system's serial port with the reader simulator behind it.
// The bounds on times are what no load can shorten, and a hang guard; the
// figures are bench/read_timeouts.cpp's.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "Drv232.h"
#include "Global.h"
#include "SerialPort.h"

namespace replyrules {

struct Read {
    std::string bytes;
    platform::ReadEnd ended = platform::ReadEnd::No;
    long ms = 0;
};

// A read of n bytes as the reading paths make it.
inline Read ReadBytes(std::size_t n) {
    Read read;
    read.bytes.assign(n, '\0');
    std::size_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        PortHandle->read(reinterpret_cast<std::uint8_t*>(read.bytes.data()), n, got, read.ended),
        platform::Error::None);
    read.ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count());
    read.bytes.resize(got);
    return read;
}

// `fault` gives the simulator one of its fault commands ("late 400"); `id` is
// its identification. The port is open and the line empty.
inline void Check(const std::function<::testing::AssertionResult(const std::string&)>& fault,
                  const std::string& id) {
    using platform::ReadEnd;
    const std::string reply = "A" + id + "\r";
    struct Case {
        const char* fault;
        bool answered;
        // What a read of `next` bytes then finds on the line, and why it ends.
        std::size_t next;
        std::string found;
        ReadEnd ended;
    };
    for (const Case& c : {
             // A reply must start with "A" and end with CR, and be whole.
             Case{"badfirst on", false, 0, "", ReadEnd::Count},
             Case{"badlast on", false, 0, "", ReadEnd::Count},
             Case{"short 1", false, 0, "", ReadEnd::Count},
             // The interval runs only between bytes, not before the first.
             Case{"late 100", true, 0, "", ReadEnd::Count},
             // Later than the 248 ms total: no purge before a request, so the
             // late reply is what the next read sees.
             Case{"late 400", false, 6, reply, ReadEnd::Count},
             // Nothing comes: a read waits its whole 8 x 16 + 200 = 328 ms.
             Case{"silent on", false, 16, "", ReadEnd::Total},
         }) {
        SCOPED_TRACE(c.fault);
        ASSERT_TRUE(fault("normal"));
        ASSERT_TRUE(fault(c.fault));
        ReaderVersion = "OLD!";
        EXPECT_EQ(QueryVersion(), c.answered);
        EXPECT_EQ(ReaderVersion, c.answered ? id : "OLD!");
        if (c.next != 0) {
            const Read next = ReadBytes(c.next);
            EXPECT_EQ(next.bytes, c.found);
            EXPECT_EQ(next.ended, c.ended);
            if (c.ended == ReadEnd::Total) {
                EXPECT_GE(next.ms, 320);
                EXPECT_LT(next.ms, 5000);
            }
        }
    }
    // Three bytes, then 120 ms without one: the read ends at the 20 ms
    // interval, before the 248 ms total would have brought the rest, which
    // stays for the next read.
    ASSERT_TRUE(fault("normal"));
    ASSERT_TRUE(fault("pause 3 120"));
    const std::uint8_t request[] = {'Q', 'I', '\r'};
    std::size_t written = 0;
    ASSERT_EQ(PortHandle->write(request, 3, written), platform::Error::None);
    EXPECT_EQ(written, 3u);
    Read read = ReadBytes(6);
    EXPECT_EQ(read.bytes, reply.substr(0, 3));
    EXPECT_EQ(read.ended, ReadEnd::Interval);
    read = ReadBytes(3);
    EXPECT_EQ(read.bytes, reply.substr(3));
    EXPECT_EQ(read.ended, ReadEnd::Count);
    ASSERT_TRUE(fault("normal"));
    EXPECT_TRUE(QueryVersion());
}

}  // namespace replyrules
