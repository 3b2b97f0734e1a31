// The outbox: every reading is written here, flushed to the disk, before it
// is published, and leaves it when the broker has acknowledged it. One line
// per event, so that a power cut mid-write damages at most the last line:
//   R <number> <CRC-32 of the message, 8 hex digits> <message>   a reading
//   A <number>                                                    its acknowledgement
// The numbers rise by one for each reading, across runs.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Error.h"
#include "Files.h"

namespace site {

inline constexpr const char* OutboxFileName = "site-outbox.txt";

struct OutboxRecord {
    std::uint64_t number = 0;
    std::string message;
};

struct OutboxContents {
    std::vector<OutboxRecord> waiting;  // not acknowledged, by number
    std::uint64_t lastNumber = 0;       // the highest number met, acknowledged or not
    int damaged = 0;                    // lines that were not whole: dropped
};

std::uint32_t Crc32(std::string_view bytes);
std::string RecordLine(std::uint64_t number, std::string_view message);
std::string AckLine(std::uint64_t number);
OutboxContents ReadOutbox(std::string_view bytes);

class Outbox {
  public:
    explicit Outbox(platform::Path path) : path_(std::move(path)) {}
    // Reads what an earlier run left and writes the file anew with only the
    // readings still waiting. A file that is not there is an empty outbox.
    platform::Error open(OutboxContents& found);
    // The reading is on the disk when this returns None.
    platform::Error add(std::uint64_t number, std::string_view message);
    // Acknowledgements, several at once.
    platform::Error acknowledge(const std::vector<std::uint64_t>& numbers);
    // Nothing waits: the file starts again empty once it has grown this big,
    // so that it never grows without bound.
    platform::Error emptied();
    std::uint64_t bytes() const { return bytes_; }
    const platform::Path& path() const { return path_; }

    static constexpr std::uint64_t RestartBytes = 64 * 1024;

  private:
    platform::Path path_;
    std::uint64_t bytes_ = 0;
};

}  // namespace site
