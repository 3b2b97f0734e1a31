// Faults on the line, played against the main window's behaviour on the fake
// window system and the real serial code, with the simulated reader on a
// pseudo-terminal. Every case starts a fresh window and reader in a folder of
// its own, injects its fault, and then checks what the operator must be able
// to rely on: the program neither crashes, hangs nor spins, takes no damaged
// frame for a reading, reads the next good frame, and End still closes, saves
// and quits.
//
// Each case carries what it must end with; Run checks all of it, so the tests
// and the benchmark judge a case the same way: the tests fail on any problem,
// the benchmark prints the figures beside them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace faults {

// The window must answer within one poll cycle: 333 ms of timer plus the
// longest blocking read (344 ms), with room for a loaded machine.
inline constexpr double MaxGapMs = 1000;
// "Near zero" for a process that has nothing to do but poll a dead or
// silent line three times a second.
inline constexpr double MaxQuietCpuPercent = 10;

struct RunOptions {
    // How long the CPU use is measured while the line is dead or silent.
    int quietMs = 2000;
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

    double longestGapMs = 0;      // longest time without event processing
    double quietCpuPercent = -1;  // CPU of the process while the line was quiet
    int quietMs = 0;
    bool lineDead = false;  // the reader's hang-up went through

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
