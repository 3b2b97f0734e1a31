// The page's texts, written by hand: flat JSON and CSV need no library.
#include "PageFormat.h"

#include <charconv>
#include <cstdio>

#include "CollectedReading.h"

namespace collect::page {

namespace {

std::string OrNull(const std::optional<std::string>& text) {
    return text ? Json(*text) : "null";
}

std::optional<std::int64_t> Whole(std::string_view text) {
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return n;
}

std::optional<std::int64_t> Instant(std::string_view text) {
    if (auto ms = Whole(text))
        return ms;
    return InstantOf(text);
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    while (!text.empty() && text.back() == '=')
        text.remove_suffix(1);
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        const int v = Base64Value(c);
        if (v < 0)
            return std::nullopt;
        bits = bits << 6 | unsigned(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += char(bits >> count & 0xFF);
        }
    }
    return out;
}

}  // namespace

std::string Json(std::string_view utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Json(const StoredReading& s) {
    const Reading& r = s.reading;
    return "{\"id\":" + std::to_string(s.id) + ",\"station\":" + Json(r.station) +
           ",\"order\":" + std::to_string(r.order) + ",\"time\":" + Json(r.time) +
           ",\"instant\":" + std::to_string(r.instantMs) + ",\"code\":" + Json(r.code) +
           ",\"demo\":" + (r.demo ? "true" : "false") + ",\"reader\":" + OrNull(r.reader) +
           ",\"port\":" + OrNull(r.port) + ",\"received\":" + std::to_string(s.receivedMs) + "}";
}

std::string Json(const std::vector<StoredReading>& rows) {
    std::string out = "[";
    // Built up a piece at a time: GCC 12 at -O3 warns wrongly of an overlap
    // in a literal added to a string.
    for (const auto& r : rows) {
        if (out.size() > 1)
            out += ',';
        out += Json(r);
    }
    return out + "]";
}

std::string Json(const std::vector<StationSummary>& stations) {
    std::string out = "[";
    for (const auto& s : stations)
        out += std::string(out.size() > 1 ? "," : "") + "{\"station\":" + Json(s.station) +
               ",\"state\":" + Json(s.state) + ",\"since\":" + std::to_string(s.sinceMs) +
               ",\"last\":" + (s.last ? Json(*s.last) : "null") + "}";
    return out + "]";
}

std::string Json(const std::vector<HourCount>& hours) {
    std::string out = "[";
    for (const auto& h : hours)
        out += std::string(out.size() > 1 ? "," : "") + "{\"station\":" + Json(h.station) +
               ",\"hour\":" + std::to_string(h.hourMs) + ",\"count\":" + std::to_string(h.count) +
               "}";
    return out + "]";
}

void AppendCsvField(std::string& out, std::string_view text) {
    out += '"';
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        out += '\'';
    for (auto quote = text.find('"'); quote != std::string_view::npos; quote = text.find('"')) {
        out.append(text.substr(0, quote + 1));
        out += '"';
        text.remove_prefix(quote + 1);
    }
    out.append(text);
    out += '"';
}

std::string CsvField(std::string_view text) {
    std::string out;
    AppendCsvField(out, text);
    return out;
}

std::string CsvHeader() {
    return "\"station\",\"order\",\"time\",\"code\",\"demo\",\"reader\",\"port\"\r\n";
}

void AppendCsvLine(std::string& out, const Reading& r) {
    char order[24];
    const auto end = std::to_chars(order, order + sizeof order, r.order).ptr;
    AppendCsvField(out, r.station);
    out += ',';
    AppendCsvField(out, std::string_view(order, std::size_t(end - order)));
    out += ',';
    AppendCsvField(out, r.time);
    out += ',';
    AppendCsvField(out, r.code);
    out += ',';
    AppendCsvField(out, r.demo ? "true" : "false");
    out += ',';
    AppendCsvField(out, r.reader ? std::string_view(*r.reader) : std::string_view());
    out += ',';
    AppendCsvField(out, r.port ? std::string_view(*r.port) : std::string_view());
    out += "\r\n";
}

std::string CsvLine(const Reading& r) {
    std::string out;
    AppendCsvLine(out, r);
    return out;
}

QueryResult ParseQuery(const std::function<std::optional<std::string>(const char*)>& arg,
                       std::int64_t defaultLimit) {
    ReadingQuery q;
    q.code = arg("code").value_or("");
    q.station = arg("station").value_or("");
    for (const char* name : {"from", "to"}) {
        const auto text = arg(name);
        if (!text || text->empty())
            continue;
        const auto ms = Instant(*text);
        if (!ms)
            return {std::nullopt, std::string(name) +
                                      " is not a time like 2026-12-09T14:03:05.120+01:00 "
                                      "or milliseconds since 1970"};
        (name[0] == 'f' ? q.fromMs : q.toMs) = ms;
    }
    q.limit = defaultLimit;
    if (const auto text = arg("limit"); text && !text->empty()) {
        const auto n = Whole(*text);
        if (!n || *n < 1 || *n > MaxLimit)
            return {std::nullopt, "limit is a whole number from 1 to " + std::to_string(MaxLimit)};
        q.limit = *n;
    }
    if (!IsUtf8(q.code) || !IsUtf8(q.station))
        return {std::nullopt, "code and station are UTF-8"};
    return {q, {}};
}

std::optional<std::int64_t> ParseId(std::string_view text) {
    const auto n = Whole(text);
    return n && *n >= 0 ? n : std::nullopt;
}

bool IsLoopbackHost(std::string_view host) {
    std::string_view name = host;
    if (host.substr(0, 1) == "[") {
        const auto close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        name = host.substr(1, close - 1);
        host.remove_prefix(close + 1);
    } else {
        const auto colon = host.find(':');
        name = host.substr(0, colon);
        host = colon == std::string_view::npos ? std::string_view() : host.substr(colon);
    }
    if (!host.empty() && (host.front() != ':' || !Whole(host.substr(1))))
        return false;
    if (name == "localhost" || name == "::1")
        return true;
    int parts = 0;
    for (std::string_view rest = name; parts < 5; ++parts) {
        const auto dot = rest.find('.');
        const auto n = Whole(rest.substr(0, dot));
        if (!n || *n < 0 || *n > 255 || (parts == 0 && *n != 127))
            return false;
        if (dot == std::string_view::npos)
            break;
        rest.remove_prefix(dot + 1);
    }
    return parts == 3;
}

bool SameSecret(std::string_view given, std::string_view expected) {
    // Every byte of the expected one looked at, whatever the given one is.
    volatile unsigned char differ = given.size() != expected.size();
    for (std::size_t i = 0; i < expected.size(); ++i)
        differ = differ | (expected[i] ^ (i < given.size() ? given[i] : ~expected[i]));
    return differ == 0;
}

bool BasicAuthMatches(std::string_view header, std::string_view password) {
    std::string_view scheme = header.substr(0, 6);
    if (header.size() < 6 || !(scheme == "Basic " || scheme == "basic " || scheme == "BASIC "))
        return false;
    header.remove_prefix(6);
    while (!header.empty() && header.front() == ' ')
        header.remove_prefix(1);
    const auto decoded = Base64Decode(header);
    if (!decoded)
        return false;
    const auto colon = decoded->find(':');
    if (colon == std::string::npos)
        return false;
    return SameSecret(std::string_view(*decoded).substr(colon + 1), password);
}

}  // namespace collect::page
