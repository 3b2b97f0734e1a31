// Faults on the line, played against the main window's behaviour on the fake
// window system and the real serial code, with the simulated reader on a
// pseudo-terminal. Every case starts a fresh window and reader in a folder of
// its own, injects its fault, and then checks what the operator must be able
// to rely on: the program neither crashes nor hangs, goes on polling, takes
// no damaged frame for a reading, reads the next good frame, and End still
// closes, saves and quits.
//
// Each case carries what it must end with; Run checks all of it, so the tests
// and the benchmark judge a case the same way: the tests fail on any problem.
// The tests run the window's timers on virtual time; the benchmark runs them
// in real time and prints the figures that only real time gives (how long the
// window went without processing events, the CPU use while the line was
// quiet), which no test judges: a busy machine moves them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace faults {

struct RunOptions {
    // How long the line is left quiet after the fault, in the window's time.
    int quietMs = 2000;
    // The window's timers in real time (the benchmark's figures) instead of
    // on the virtual time of the test's clock.
    bool realTime = false;
};

// What a case must end with, besides what every case must (see above).
struct Expected {
    bool lineDead = false;  // the reader hung up during the case
    // Readings counted: at least `readings`; up to `mayAlsoRead` more when a
    // good frame right behind a damaged one may be lost with it.
    std::uint32_t readings = 0;
    std::uint32_t mayAlsoRead = 0;
    std::vector<std::string> shown{};     // texts the status line must have taken
    std::vector<std::string> notShown{};  // texts it must never have taken
    std::vector<std::string> boxes{};     // the error boxes, in order (End's)
};

struct Outcome {
    std::string name;
    // Every check that failed, with what was seen instead; empty when all held.
    std::vector<std::string> problems;

    // Figures, in real time whatever the window's time; meaningful only when
    // the case ran in real time (RunOptions::realTime).
    double longestGapMs = 0;      // longest time without event processing
    double quietCpuPercent = -1;  // CPU of the process while the line was quiet
    int quietMs = 0;              // how long the line was left quiet, in the window's time
    bool lineDead = false;        // the reader's hang-up went through

    std::uint32_t readings = 0;            // readings counted during the case
    std::vector<std::string> statusTexts;  // every text the status line took, in order
    std::vector<std::string> boxes;        // the error boxes shown, in order
    bool ended = false;                    // End closed the window

    bool ok() const { return problems.empty(); }
};

class Rig;

struct Scenario {
    const char* name;   // an identifier: the test's name
    const char* fault;  // one line: what goes wrong
    Expected expected;
    void (*play)(Rig&);
};

const std::vector<Scenario>& Scenarios();

// Plays the case on a fresh window, folder and reader, and checks the outcome
// against what every case and this one must end with.
Outcome Run(const Scenario& scenario, const RunOptions& options = {});

}  // namespace faults
