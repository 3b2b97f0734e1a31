// A simulated chip reader on a pseudo-terminal. It publishes the terminal as
// an entry "COM<n>" in a folder (a symbolic link), so the program finds it as
// serial port n, and answers on the line as the reader does.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// Misbehaviour on demand, for tests. Applies to every reply and chip frame
// sent while it is set.
struct Faults {
    bool silent = false;       // answer nothing, send no chip frames
    unsigned lateMs = 0;       // wait this long before each reply
    unsigned shortBy = 0;      // leave out this many bytes at the end
    bool badFirst = false;     // first byte not "A"
    bool badLast = false;      // last byte not CR
    unsigned pauseAfter = 0;   // with pauseMs: stop after this many bytes ...
    unsigned pauseMs = 0;      // ... for this long, then send the rest
    bool repliesOnly = false;  // the faults spare chip frames: only replies misbehave
};

// Changes `faults` by one of the simulator's fault commands ("late 400",
// "pause 3 120", "badfirst on", "normal", ...; sim/main.cpp's usage lists
// them). False when `command` is none of them.
bool ApplyFaultCommand(Faults& faults, const std::string& command);

struct Options {
    std::string folder = ".";  // where the link COM<port> goes
    int port = 3;
    std::string id = "1234";     // the four identification characters
    unsigned byteMicros = 1042;  // pacing: 9600 baud is about 1.04 ms a byte; 0 = no pacing
    bool log = false;            // print every request and reply to standard output
};

class ReaderSimulator {
  public:
    explicit ReaderSimulator(Options options = {});
    ~ReaderSimulator();  // stops, closes the line and removes the link
    ReaderSimulator(const ReaderSimulator&) = delete;
    ReaderSimulator& operator=(const ReaderSimulator&) = delete;

    // Opens the pseudo-terminal, publishes the link and starts answering.
    bool start(std::string& error);
    std::string linkPath() const;
    std::string devicePath() const;

    // A chip touches the reader: "A", its first 14 characters, CR, unless the
    // reader is blocked or silent. Codes shorter than 16 are padded with "0";
    // the repeat read sends all 16.
    void presentChip(const std::string& code);
    // A chip that touches the reader just as the next request arrives: its
    // frame goes out before that request's reply (several: in order).
    void presentChipDuringNextRequest(const std::string& code);
    // Sends bytes as they are (garbage, partial frames).
    void sendRaw(const std::string& bytes);
    void sendGarbage(std::size_t count);
    // Closes the line: the program's reads and writes fail from now on, and
    // COM<n> leads nowhere (its terminal's number may be another's soon).
    void hangUp();
    // As a USB adapter pulled out: the line hangs up and COM<n> goes away.
    void unplug();
    // As the adapter plugged back in: a new pseudo-terminal behind the same
    // COM<n>, and a reader that starts afresh (not blocked, LED off), with the
    // identification `id` when one is given. Only after hangUp or unplug.
    bool replug(std::string& error, const std::string& id = {});

    void setFaults(const Faults& faults);
    Faults faults() const;

    bool blocked() const;
    bool ledOn() const;
    std::string lastChip() const;  // 16 characters
    // Every complete request received so far (the bytes up to and including CR).
    std::vector<std::string> requests() const;
    // Waits until at least count requests have arrived; false on time-out.
    bool waitForRequests(std::size_t count, unsigned timeoutMs) const;
    // When the last byte went out on the line (steady clock); for latency figures.
    std::chrono::steady_clock::time_point lastByteSentAt() const;
    // Waits until everything queued has been sent; false on time-out.
    bool waitIdle(unsigned timeoutMs) const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A made-up 16-character chip code (hexadecimal digits).
std::string MakeUpChipCode();

}  // namespace sim
