// Figures of the fault cases: every case of tests/form/FaultScenarios.cpp run
// once against the main window's behaviour on the fake window system, its
// timers in real time (the tests run them on virtual time), judged as the
// tests judge it, with the longest time the window went without processing
// events, the CPU use while the line was dead or silent and the readings
// counted against those expected; a figure past its reference is marked "!",
// though it fails nothing. Then the CPU use of the real program, a process of
// its own, over BENCH_SECONDS (default 30) after the reader hung up.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Drv232.h"
#include "FaultScenarios.h"
#include "ProcessStats.h"
#include "ProgramRun.h"
#include "ReaderSimulator.h"

#ifndef CHIPREADER_EXE
#define CHIPREADER_EXE "build/src/chipreader"
#endif

namespace {

// The window must answer within one poll cycle: 333 ms of timer plus the
// longest blocking read (344 ms), with room for a loaded machine.
constexpr double MaxGapMs = 1000;
// "Near zero" for a process that has nothing to do but poll a dead or
// silent line three times a second.
constexpr double MaxQuietCpuPercent = 10;

std::size_t Count(const std::vector<std::string>& requests, const std::string& request) {
    return std::size_t(std::count(requests.begin(), requests.end(), request));
}

// The real program against the simulated reader: two chips read, then the
// reader hangs up, and the program's CPU time is taken over `seconds`.
void HungUpProgram(const std::string& program, int seconds) {
    ProgramRun run("chipfaults");
    if (!run.ready())
        return;
    sim::ReaderSimulator& reader = *run.reader;
    run.start(program);
    const bool connected = reader.waitForRequests(1, 10000);
    // Each reading ends with the automatic LED-off command.
    int readings = 0;
    for (int i = 0; connected && i < 2; ++i) {
        reader.presentChip(sim::MakeUpChipCode());
        const std::size_t want = std::size_t(readings + 1);
        for (int waited = 0; waited < 3000 && Count(reader.requests(), "QZ\r") < want; waited += 10)
            ::usleep(10000);
        if (Count(reader.requests(), "QZ\r") >= want)
            ++readings;
    }
    reader.hangUp();
    ::usleep(1000000);
    const double before = CpuSeconds(run.pid);
    ::usleep(useconds_t(seconds) * 1000000u);
    const double used = CpuSeconds(run.pid) - before;
    const bool alive = run.stop();
    std::printf(
        "\nCPU of the program over %d s with the reader hung up: %.2f s = %.2f %%\n"
        "  (%s; %d chips read before the hang-up; %s at the end)\n",
        seconds, used, 100.0 * used / seconds, connected ? "connected" : "NOT connected", readings,
        alive ? "still running" : "NOT running");
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("BENCH_SECONDS");
    const int seconds = env ? std::max(1, std::atoi(env)) : 30;
    const std::string program =
        std::filesystem::absolute(argc > 1 ? argv[1] : CHIPREADER_EXE).string();

    std::printf(
        "Fault cases against the window (fake window system, real serial code, simulated "
        "reader)\n");
    std::printf("  %-28s %-9s %9s  %9s  %9s %9s  %s\n", "case", "outcome", "gap ms", "CPU %",
                "readings", "expected", "fault");
    int ok = 0;
    int failed = 0;
    double longestGap = 0;
    faults::RunOptions options;
    options.realTime = true;
    int overReference = 0;
    for (const faults::Scenario& scenario : faults::Scenarios()) {
        const faults::Outcome outcome = faults::Run(scenario, options);
        longestGap = std::max(longestGap, outcome.longestGapMs);
        (outcome.ok() ? ok : failed)++;
        const faults::Expected& expected = scenario.expected;
        std::string range = std::to_string(expected.readings);
        if (expected.mayAlsoRead)
            range += "-" + std::to_string(expected.readings + expected.mayAlsoRead);
        const bool gapOver = !(outcome.longestGapMs < MaxGapMs);
        const bool cpuOver = !(outcome.quietCpuPercent < MaxQuietCpuPercent);
        overReference += int(gapOver) + int(cpuOver);
        std::printf("  %-28s %-9s %9.0f%s %9.2f%s %9u %9s  %s%s\n", scenario.name,
                    outcome.ok() ? "ok" : "FAILED", outcome.longestGapMs, gapOver ? "!" : " ",
                    outcome.quietCpuPercent, cpuOver ? "!" : " ", outcome.readings, range.c_str(),
                    scenario.fault, outcome.lineDead ? " (line dead)" : "");
        for (const std::string& problem : outcome.problems)
            std::printf("      %s\n", problem.c_str());
        std::fflush(stdout);
    }
    std::printf("\n%d fault cases run: %d ok, %d failed\n", ok + failed, ok, failed);
    std::printf(
        "Longest time without event processing in the fault runs: %.0f ms (reference %.0f)\n",
        longestGap, MaxGapMs);
    std::printf(
        "CPU %% measured over %d ms per case while the line was dead or silent (reference %.0f)\n",
        options.quietMs, MaxQuietCpuPercent);
    std::printf("%d figures past their reference\n", overReference);

    HungUpProgram(program, seconds);
    return failed == 0 ? 0 : 1;
}
