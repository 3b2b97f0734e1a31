// The JSON of a reading, written by hand: seven fields need no library.
#include "Message.h"

#include <cstdio>
#include <cstdlib>

#include "Utf8.h"

namespace site {

std::string IsoTime(const platform::LocalTime& t) {
    const int offset = std::abs(t.utcOffsetMinutes);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year,
                  t.month, t.day, t.hour, t.minute, t.second, t.millisecond,
                  t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    while (!utf8.empty()) {
        const unsigned char c = static_cast<unsigned char>(utf8.front());
        const std::size_t n = Utf8Length(utf8);
        if (n == 0) {
            out += "\\ufffd";
            utf8.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(utf8.substr(0, n));
        }
        utf8.remove_prefix(n);
    }
    return out + "\"";
}

std::string ReadingMessage(std::string_view station, const PublishedReading& reading) {
    // The reading's texts are the program's single-byte text.
    const auto text = [](const std::string& s) { return JsonString(WindowsToUtf8(s)); };
    const auto orNull = [&](const std::string& s) {
        return s.empty() ? std::string("null") : text(s);
    };
    return "{\"station\":" + JsonString(station) + ",\"order\":" + std::to_string(reading.order) +
           ",\"time\":\"" + IsoTime(reading.at) + "\",\"code\":" + text(reading.code) +
           ",\"demo\":" + (reading.demo ? "true" : "false") +
           ",\"reader\":" + orNull(reading.reader) + ",\"port\":" + orNull(reading.port) + "}";
}

std::string ReadingTopic(std::string_view prefix, std::string_view station) {
    return std::string(prefix) + "/" + std::string(station) + "/reading";
}

std::string StateTopic(std::string_view prefix, std::string_view station) {
    return std::string(prefix) + "/" + std::string(station) + "/state";
}

}  // namespace site
