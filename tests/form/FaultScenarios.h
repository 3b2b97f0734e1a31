// Faults on the line, played against the real main window and the real serial
// code, with the simulated reader on a pseudo-terminal. Every case starts a
// fresh window and reader in a folder of its own, injects its fault, and then
// checks what the operator must be able to rely on: the program neither
// crashes, hangs nor spins, takes no damaged frame for a reading, reads the
// next good frame, and End still closes, saves and quits.
//
// The tests assert these outcomes; the benchmark prints them as figures.
#pragma once

#include <QStringList>
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

struct Outcome {
    std::string name;
    // Every check that failed, with what was seen instead; empty when all held.
    std::vector<std::string> problems;

    double longestGapMs = 0;      // longest time without event processing
    double quietCpuPercent = -1;  // CPU of the process while the line was quiet
    int quietMs = 0;
    bool lineDead = false;  // the reader hung up during the case

    std::uint32_t readings = 0;  // readings counted during the case
    QStringList statusTexts;     // every text the status line took, in order
    QStringList boxes;           // the error boxes End showed
    bool ended = false;          // End closed the window and the program ended

    bool ok() const { return problems.empty(); }
};

struct Scenario {
    const char* name;
    const char* fault;  // one line: what goes wrong
    Outcome (*run)(const RunOptions&);
};

// The reader hangs up halfway through a chip frame the program is reading.
Outcome HangUpInTheMiddleOfAFrame(const RunOptions& options = {});
// The reader hangs up in the pause between two polls.
Outcome HangUpBetweenPolls(const RunOptions& options = {});
// The reader hangs up while a command waits for its reply; every command
// button is then tried on the dead line.
Outcome HangUpDuringACommand(const RunOptions& options = {});
// Replies come 400 ms late, past the time-out: "Light up LED", the repeat
// read and the automatic LED-off after a reading.
Outcome RepliesLaterThanTheTimeOut(const RunOptions& options = {});
// Chip frames and a command reply lose their last bytes.
Outcome RepliesCutShort(const RunOptions& options = {});
// Chip frames whose first byte is not "A" or whose last byte is not CR.
Outcome FramesWithBadEnds(const RunOptions& options = {});
// Bursts of garbage between chip frames, some holding "A" and CR.
Outcome GarbageBetweenFrames(const RunOptions& options = {});
// A chip frame on the line just before "Light up LED" sends its command.
Outcome ChipJustBeforeACommand(const RunOptions& options = {});
// A chip presented right after "Light up LED" sent its command, while the
// command waits for its reply.
Outcome ChipWhileACommandWaits(const RunOptions& options = {});

const std::vector<Scenario>& Scenarios();

}  // namespace faults
