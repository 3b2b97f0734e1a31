// What is published: a reading as one JSON object, the station's state.
#pragma once
#include <string>
#include <string_view>

#include "Clock.h"
#include "Publishing.h"

namespace site {

inline constexpr const char* StateOnline = "online";
inline constexpr const char* StateOffline = "offline";

// "2026-12-09T14:03:05.120+01:00"
std::string IsoTime(const platform::LocalTime& t);
// A JSON string with its quotes; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view utf8);
// {"station":…,"order":…,"time":…,"code":…,"demo":…,"reader":…,"port":…};
// reader and port are null in the demo. The reading's single-byte texts
// become UTF-8 (WindowsToUtf8).
std::string ReadingMessage(std::string_view station, const PublishedReading& reading);

std::string ReadingTopic(std::string_view prefix, std::string_view station);
std::string StateTopic(std::string_view prefix, std::string_view station);

}  // namespace site
