// The reader unplugged and plugged back, against the real program (a process
// of its own, Qt offscreen) and the simulated reader: the program's CPU use
// over BENCH_SECONDS (default 20) while the reader is away, then, over several
// returns, the time from the reader's return to the first reading recorded
// (the chip presented as soon as the reader has identified itself again, the
// reading taken as recorded when its automatic LED-off request arrives).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ProcessStats.h"
#include "ProgramRun.h"
#include "ReaderSimulator.h"

#ifndef CHIPREADER_EXE
#define CHIPREADER_EXE "build/src/chipreader"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::size_t Count(const sim::ReaderSimulator& reader, const char* request) {
    const std::vector<std::string> all = reader.requests();
    return std::size_t(std::count(all.begin(), all.end(), std::string(request)));
}

// Waits until the reader has had `count` requests `request`; false after 10 s.
bool WaitCount(const sim::ReaderSimulator& reader, const char* request, std::size_t count) {
    const Clock::time_point end = Clock::now() + std::chrono::seconds(10);
    while (Count(reader, request) < count) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("BENCH_SECONDS");
    const int seconds = env ? std::max(1, std::atoi(env)) : 20;
    constexpr int Returns = 5;
    const std::string program =
        std::filesystem::absolute(argc > 1 ? argv[1] : CHIPREADER_EXE).string();

    ProgramRun run("chipreconnect");
    if (!run.ready())
        return 1;
    sim::ReaderSimulator& reader = *run.reader;
    run.start(program);
    bool ok = WaitCount(reader, "QI\r", 1);
    reader.presentChip(sim::MakeUpChipCode());
    ok = ok && WaitCount(reader, "QZ\r", 1);
    if (!ok)
        std::printf("the program did not connect to the reader or read its first chip\n");

    // Away: the program notices at its next poll, then waits.
    reader.unplug();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double before = CpuSeconds(run.pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = CpuSeconds(run.pid) - before;
    std::printf("CPU of the program over %d s with the reader unplugged: %.2f s = %.3f %%\n",
                seconds, used, 100.0 * used / seconds);

    std::vector<double> toReading, toIdentified;
    for (int i = 0; ok && i < Returns; ++i) {
        if (i > 0) {
            reader.unplug();
            // Away for 1.5 to 2.3 s: the return falls anywhere in the second
            // between two tries.
            std::this_thread::sleep_for(std::chrono::milliseconds(1500 + 200 * i));
        }
        const std::size_t identified = Count(reader, "QI\r");
        const std::size_t read = Count(reader, "QZ\r");
        const Clock::time_point back = Clock::now();
        std::string error;
        if (!reader.replug(error)) {
            std::printf("cannot plug the reader back: %s\n", error.c_str());
            ok = false;
            break;
        }
        ok = WaitCount(reader, "QI\r", identified + 1) && reader.waitIdle(2000);
        const Clock::time_point answered = Clock::now();
        reader.presentChip(sim::MakeUpChipCode());
        ok = ok && WaitCount(reader, "QZ\r", read + 1);
        if (!ok) {
            std::printf("return %d: the program did not take the reader back\n", i + 1);
            break;
        }
        toIdentified.push_back(Ms(answered - back));
        toReading.push_back(Ms(Clock::now() - back));
        std::printf("return %d: identified after %.0f ms, first reading recorded after %.0f ms\n",
                    i + 1, toIdentified.back(), toReading.back());
    }
    if (!toReading.empty()) {
        std::vector<double> sorted = toReading;
        std::sort(sorted.begin(), sorted.end());
        std::printf(
            "Reader's return to the first reading recorded: median %.0f ms (worst %.0f ms) "
            "(%zu returns; tries once a second, 300 ms settle pause, identification, next poll)\n",
            sorted[sorted.size() / 2], sorted.back(), sorted.size());
    }

    const bool alive = run.stop();
    if (!alive)
        std::printf("the program was NOT running at the end\n");
    return ok && alive ? 0 : 1;
}
