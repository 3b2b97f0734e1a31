// A station's reading as it arrives at the collector: the JSON a station
// publishes on <prefix>/<station>/reading, read back into its fields.
//   {"station":"desk-1","order":12,"time":"2026-12-09T14:03:05.120+01:00",
//    "code":"0A1B2C3D4E","demo":false,"reader":"V1.2","port":"COM1"}
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace collect {

struct Reading {
    std::string station;
    std::int64_t order = 0;
    std::string time;            // as the station wrote it, with its UTC offset
    std::int64_t instantMs = 0;  // the same time as milliseconds since 1970 UTC
    std::string code;
    bool demo = false;
    std::optional<std::string> reader;  // null in the demo
    std::optional<std::string> port;
};

struct ReadingResult {
    std::optional<Reading> reading;
    std::string error;  // why the message is refused; empty with a reading
};

// A flat JSON object with the seven fields (others are passed over, for a
// later station's sake); anything else refused with why.
ReadingResult ParseReading(std::string_view json);

// "2026-12-09T14:03:05.120+01:00" (or …Z) as milliseconds since 1970 UTC;
// nothing when it is not such a time.
std::optional<std::int64_t> InstantOf(std::string_view isoTime);

// The station's name in <prefix>/<station>/reading or …/state, and which of
// the two; nothing for another topic.
struct TopicParts {
    std::string station;
    bool reading = false;
};
std::optional<TopicParts> SplitTopic(std::string_view prefix, std::string_view topic);

bool IsUtf8(std::string_view s);

}  // namespace collect
