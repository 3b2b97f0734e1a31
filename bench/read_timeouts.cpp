// Measures the serial read time-outs against a silent simulated reader, the
// inter-byte gap at which a read ends early, and how soon a read and the
// close end on a line that hung up. Prints a table.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Drv232.h"
#include "ReaderSimulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double ReadMs(std::size_t n, std::size_t& got) {
    std::vector<std::uint8_t> buffer(n);
    auto start = Clock::now();
    PortHandle->read(buffer.data(), n, got);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Drain() {
    std::size_t got = 0;
    do {
        std::vector<std::uint8_t> buffer(64);
        PortHandle->read(buffer.data(), buffer.size(), got);
    } while (got > 0);
}

}  // namespace

int main() {
    std::string pattern = (std::filesystem::temp_directory_path() / "chipbench-XXXXXX").string();
    const std::filesystem::path dir = ::mkdtemp(pattern.data());
    std::filesystem::current_path(dir);
    platform::LimitToLinkedPorts(true);

    sim::Options options;
    options.folder = dir.string();
    sim::ReaderSimulator reader(options);
    std::string error;
    if (!reader.start(error) || !OpenPort(options.port)) {
        std::fprintf(stderr, "cannot start the simulated reader: %s\n", error.c_str());
        return 1;
    }

    std::printf("Read time-out with a silent reader (median of 5)\n");
    std::printf("%6s %12s %12s %10s\n", "bytes", "expected ms", "measured ms", "ratio");
    for (std::size_t n : {4, 6, 16, 18}) {
        std::vector<double> runs;
        for (int i = 0; i < 5; ++i) {
            std::size_t got = 0;
            runs.push_back(ReadMs(n, got));
        }
        const double expected = 8.0 * double(n) + 200.0;
        const double measured = Median(runs);
        std::printf("%6zu %12.0f %12.1f %10.3f\n", n, expected, measured, measured / expected);
    }

    std::printf("\nInter-byte interval: a 16-byte frame paused after 5 bytes\n");
    std::printf("%9s %14s %12s\n", "pause ms", "ended early", "read ms");
    int split = -1;
    for (int pause = 10; pause <= 30; pause += 2) {
        int early = 0;
        double total = 0;
        const int trials = 3;
        for (int t = 0; t < trials; ++t) {
            sim::Faults f;
            f.pauseAfter = 5;
            f.pauseMs = unsigned(pause);
            reader.setFaults(f);
            reader.presentChip("0123456789ABCDEF");
            std::size_t got = 0;
            total += ReadMs(16, got);
            if (got < 16)
                ++early;
            reader.waitIdle(1000);
            Drain();
        }
        std::printf("%9d %10d of %d %12.1f\n", pause, early, trials, total / trials);
        if (early == trials && split < 0)
            split = pause;
    }
    // The gap the reader sees is the pause plus one byte time at 9600 baud.
    std::printf(
        "\nSplit point: reads end early from a pause of %d ms (gap about %.1f ms; "
        "interval time-out 20 ms)\n",
        split, split + 1.04);

    // The reader's line hangs up (an adapter pulled out): the read must end
    // at once with the hang-up, not at its time-out, and the close must not hang.
    reader.unplug();
    std::vector<std::uint8_t> buffer(16);
    std::size_t got = 0;
    auto start = Clock::now();
    const platform::Error hangUp = PortHandle->read(buffer.data(), buffer.size(), got);
    const double readMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    start = Clock::now();
    ClosePort();
    const double closeMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf(
        "\nHung-up line: a 16-byte read ends after %.1f ms (%s; time-out 328 ms), the port "
        "is released in %.1f ms\n",
        readMs, hangUp == platform::Error::HungUp ? "hung up" : "NOT told as a hang-up", closeMs);
    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);
    return 0;
}
