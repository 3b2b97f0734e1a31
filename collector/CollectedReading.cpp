// The reading's JSON read by hand: a flat object of strings, whole numbers,
// true, false and null needs no library.
#include "CollectedReading.h"

#include <charconv>
#include <map>
#include <variant>

namespace collect {

bool IsUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        if (n == 0 || (n == 2 && c < 0xC2) || i + n > s.size())
            return false;
        std::uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t >> 6) != 2)
                return false;
            cp = cp << 6 | (t & 0x3F);
        }
        if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += n;
    }
    return true;
}

namespace {

struct Null {};
using Value = std::variant<Null, bool, std::int64_t, std::string>;

class Parser {
  public:
    explicit Parser(std::string_view text) : s_(text) {}

    // The object's members, or why not in error_.
    std::optional<std::map<std::string, Value>> object() {
        std::map<std::string, Value> members;
        blanks();
        if (!take('{'))
            return failed("not a JSON object");
        blanks();
        if (!take('}')) {
            do {
                blanks();
                std::string name;
                if (!string(name))
                    return failed(error_.empty() ? "a member's name is not a string" : error_);
                blanks();
                if (!take(':'))
                    return failed("a member's name without a colon after it");
                blanks();
                Value value;
                if (!this->value(value))
                    return std::nullopt;
                if (!members.emplace(name, std::move(value)).second)
                    return failed(std::string(1, '"').append(name).append("\" is given twice"));
                blanks();
            } while (take(','));
            if (!take('}'))
                return failed("the object does not end with }");
        }
        blanks();
        if (!s_.empty())
            return failed("something after the object");
        return members;
    }
    const std::string& error() const { return error_; }

  private:
    std::nullopt_t failed(std::string why) {
        error_ = std::move(why);
        return std::nullopt;
    }
    bool take(char c) {
        if (s_.empty() || s_.front() != c)
            return false;
        s_.remove_prefix(1);
        return true;
    }
    bool word(std::string_view w) {
        if (s_.substr(0, w.size()) != w)
            return false;
        s_.remove_prefix(w.size());
        return true;
    }
    void blanks() {
        while (!s_.empty() && (s_.front() == ' ' || s_.front() == '\t' || s_.front() == '\n' ||
                               s_.front() == '\r'))
            s_.remove_prefix(1);
    }
    bool value(Value& out) {
        if (word("null")) {
            out = Null{};
        } else if (word("true")) {
            out = true;
        } else if (word("false")) {
            out = false;
        } else if (!s_.empty() && s_.front() == '"') {
            std::string text;
            if (!string(text))
                return false;
            out = std::move(text);
        } else if (!s_.empty() && (s_.front() == '-' || (s_.front() >= '0' && s_.front() <= '9'))) {
            std::int64_t n = 0;
            const auto [end, ec] = std::from_chars(s_.data(), s_.data() + s_.size(), n);
            const std::string_view rest = s_.substr(std::size_t(end - s_.data()));
            if (ec != std::errc() ||
                (s_.size() > 1 && s_[0] == '0' && s_[1] >= '0' && s_[1] <= '9') ||
                (!rest.empty() &&
                 (rest.front() == '.' || rest.front() == 'e' || rest.front() == 'E')))
                return failed("a number that is not a whole number of this size"), false;
            s_ = rest;
            out = n;
        } else {
            return failed("a value that is not a string, a whole number, true, false or null"),
                   false;
        }
        return true;
    }
    static void append(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | cp >> 6);
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | cp >> 12);
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | cp >> 18);
            out += char(0x80 | (cp >> 12 & 0x3F));
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    bool hex4(std::uint32_t& cp) {
        if (s_.size() < 4)
            return false;
        std::uint16_t n = 0;
        const auto [end, ec] = std::from_chars(s_.data(), s_.data() + 4, n, 16);
        if (ec != std::errc() || end != s_.data() + 4)
            return false;
        s_.remove_prefix(4);
        cp = n;
        return true;
    }
    bool string(std::string& out) {
        if (!take('"'))
            return false;
        const auto bad = [&](const char* why) { return failed(why), false; };
        for (;;) {
            if (s_.empty())
                return bad("a string without its closing quote");
            const char c = s_.front();
            s_.remove_prefix(1);
            if (c == '"')
                break;
            if (static_cast<unsigned char>(c) < 0x20)
                return bad("a control character inside a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (s_.empty())
                return bad("a string without its closing quote");
            const char e = s_.front();
            s_.remove_prefix(1);
            const std::string_view simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
            if (const auto k = simple.find(e); k != std::string_view::npos) {
                out += meant[k];
                continue;
            }
            std::uint32_t cp = 0;
            if (e != 'u' || !hex4(cp))
                return bad("a bad escape inside a string");
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                std::uint32_t low = 0;
                if (!word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
                    return bad("half a surrogate pair inside a string");
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                return bad("half a surrogate pair inside a string");
            }
            append(out, cp);
        }
        return true;
    }

    std::string_view s_;
    std::string error_;
};

bool IsTopicLevel(std::string_view s) {
    if (s.empty())
        return false;
    for (const char c : s)
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

int Digits(std::string_view s, std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9')
            return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int64_t(era) * 146097 + doe - 719468;
}

}  // namespace

std::optional<std::int64_t> InstantOf(std::string_view t) {
    // 2026-12-09T14:03:05.120+01:00
    // 0123456789012345678901234567
    if (t.size() != 29 && !(t.size() == 24 && t.back() == 'Z'))
        return std::nullopt;
    if (t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' || t[19] != '.')
        return std::nullopt;
    const int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
    const int hour = Digits(t, 11, 2), minute = Digits(t, 14, 2), second = Digits(t, 17, 2);
    const int ms = Digits(t, 20, 3);
    if (year < 0 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59 || ms < 0)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int monthDays[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > monthDays[month - 1])
        return std::nullopt;
    int offset = 0;
    if (t.size() == 29) {
        const int oh = Digits(t, 24, 2), om = Digits(t, 27, 2);
        if ((t[23] != '+' && t[23] != '-') || t[26] != ':' || oh < 0 || oh > 14 || om < 0 ||
            om > 59)
            return std::nullopt;
        offset = (t[23] == '-' ? -1 : 1) * (oh * 60 + om);
    }
    const std::int64_t minutes =
        (DaysFromCivil(year, month, day) * 24 + hour) * 60 + minute - offset;
    return (minutes * 60 + second) * 1000 + ms;
}

ReadingResult ParseReading(std::string_view json) {
    const auto refuse = [](std::string why) { return ReadingResult{std::nullopt, std::move(why)}; };
    if (!IsUtf8(json))
        return refuse("not UTF-8");
    Parser parser(json);
    const auto members = parser.object();
    if (!members)
        return refuse(parser.error());
    const auto find = [&](const char* name) -> const Value* {
        const auto it = members->find(name);
        return it == members->end() ? nullptr : &it->second;
    };
    const auto text = [&](const char* name) -> const std::string* {
        const Value* v = find(name);
        return v ? std::get_if<std::string>(v) : nullptr;
    };
    const auto orNull = [&](const char* name, std::optional<std::string>& out) {
        const Value* v = find(name);
        if (v && std::holds_alternative<Null>(*v))
            return true;
        if (!v || !std::holds_alternative<std::string>(*v))
            return false;
        out = std::get<std::string>(*v);
        return true;
    };
    Reading r;
    if (const auto* s = text("station"); s && IsTopicLevel(*s))
        r.station = *s;
    else
        return refuse("no station, or one that holds / + # or is empty");
    const Value* order = find("order");
    if (!order || !std::holds_alternative<std::int64_t>(*order) ||
        std::get<std::int64_t>(*order) < 0 || std::get<std::int64_t>(*order) > 0xFFFFFFFF)
        return refuse("no order, or one that is not a whole number from 0 to 4294967295");
    r.order = std::get<std::int64_t>(*order);
    const auto* time = text("time");
    const auto instant = time ? InstantOf(*time) : std::nullopt;
    if (!instant)
        return refuse("no time, or one not like 2026-12-09T14:03:05.120+01:00");
    r.time = *time;
    r.instantMs = *instant;
    if (const auto* code = text("code"))
        r.code = *code;
    else
        return refuse("no code, or one that is not a string");
    const Value* demo = find("demo");
    if (!demo || !std::holds_alternative<bool>(*demo))
        return refuse("no demo, or one that is not true or false");
    r.demo = std::get<bool>(*demo);
    if (!orNull("reader", r.reader) || !orNull("port", r.port))
        return refuse("no reader or port, or one that is not a string or null");
    return {std::move(r), {}};
}

std::optional<TopicParts> SplitTopic(std::string_view prefix, std::string_view topic) {
    if (topic.size() <= prefix.size() + 1 || topic.substr(0, prefix.size()) != prefix ||
        topic[prefix.size()] != '/')
        return std::nullopt;
    topic.remove_prefix(prefix.size() + 1);
    const auto slash = topic.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view station = topic.substr(0, slash), kind = topic.substr(slash + 1);
    if (!IsTopicLevel(station) || (kind != "reading" && kind != "state"))
        return std::nullopt;
    return TopicParts{std::string(station), kind == "reading"};
}

}  // namespace collect
