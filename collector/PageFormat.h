// The page's texts that need no server: the JSON of readings, stations and
// hours, the CSV export's rows, a search read from the URL's arguments, and
// the password check of HTTP Basic authentication.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Store.h"

namespace collect::page {

// A JSON string of UTF-8 text (the store holds only UTF-8).
std::string Json(std::string_view utf8);
// {"id":…,"station":…,"order":…,"time":…,"instant":…,"code":…,"demo":…,
//  "reader":…,"port":…,"received":…}
std::string Json(const StoredReading& r);
std::string Json(const std::vector<StoredReading>& rows);
// [{"station":…,"state":…,"since":…,"last":{…} or null}, …]
std::string Json(const std::vector<StationSummary>& stations);
// [{"station":…,"hour":…,"count":…}, …]
std::string Json(const std::vector<HourCount>& hours);

// The export's first line, and one reading as a line of it: every field
// quoted, lines ended by CR LF. A field that a spreadsheet would take for a
// formula (beginning with = + - @, a tab or a CR) begins with an apostrophe.
std::string CsvHeader();
std::string CsvLine(const Reading& r);
std::string CsvField(std::string_view text);
// The same, added to out (an export's million rows without a string each).
void AppendCsvLine(std::string& out, const Reading& r);
void AppendCsvField(std::string& out, std::string_view text);

// A search from the URL's arguments (code, station, from, to, limit); arg
// gives an argument's value, nothing when it is absent. from and to are
// milliseconds since 1970 or times like 2026-12-09T14:03:05.120+01:00 (or
// …Z); limit 1 to MaxLimit, defaultLimit without it (0: no limit).
inline constexpr std::int64_t MaxLimit = 100000;
struct QueryResult {
    std::optional<ReadingQuery> query;
    std::string error;  // why not, for the 400 answer
};
QueryResult ParseQuery(const std::function<std::optional<std::string>(const char*)>& arg,
                       std::int64_t defaultLimit);

// An event id (Last-Event-ID, or the after argument): a whole number >= 0.
std::optional<std::int64_t> ParseId(std::string_view text);

// Whether a Host header names this machine's loopback address (127.x.x.x,
// [::1] or localhost, with or without a port). A page without a password
// answers only those: a web site whose name an attacker points at 127.0.0.1
// (DNS rebinding) sends its own name, and gets nothing.
bool IsLoopbackHost(std::string_view host);

// Whether an Authorization header's Basic credentials carry the password
// (any user name); compared in a time that does not tell how much matched.
bool BasicAuthMatches(std::string_view header, std::string_view password);
bool SameSecret(std::string_view given, std::string_view expected);

}  // namespace collect::page
