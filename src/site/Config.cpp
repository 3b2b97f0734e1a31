// The site file's syntax: sections, keys, the broker's URL; and the file
// read at the program's start.
#include "Config.h"

#include <charconv>
#include <set>

#include "Host.h"
#include "Outbox.h"
#include "SiteTexts.h"
#include "Station.h"
#include "Utf8.h"

namespace site {

namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A ';' or '#' at the line's start or after a blank begins a comment, as in
// INI files: "name = desk-7   ; the front desk".
std::string_view WithoutComment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i)
        if ((line[i] == ';' || line[i] == '#') &&
            (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    return line;
}

bool HasControl(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

// "mqtt://host", "mqtts://host:8883", "mqtt://[::1]:1883".
std::string ParseUrl(std::string_view url, SiteConfig& config) {
    std::string_view rest;
    if (url.substr(0, 7) == "mqtt://") {
        rest = url.substr(7);
        config.tls = false;
        config.port = 1883;
    } else if (url.substr(0, 8) == "mqtts://") {
        rest = url.substr(8);
        config.tls = true;
        config.port = 8883;
    } else {
        return texts::UrlScheme;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::string_view host = rest, port;
    if (rest.substr(0, 1) == "[") {
        const auto close = rest.find(']');
        if (close == std::string_view::npos)
            return texts::UrlBracket;
        host = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return texts::UrlAfterHost;
        if (!after.empty())
            port = after.substr(1);
    } else if (const auto colon = rest.rfind(':'); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of("/@?# ") != std::string_view::npos || HasControl(host))
        return texts::UrlNoHost;
    if (rest.find_first_of("/@?#") != std::string_view::npos && rest.substr(0, 1) != "[")
        return texts::UrlExtra;
    if (!port.empty() || (!rest.empty() && rest.back() == ':')) {
        int n = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), n);
        if (ec != std::errc() || end != port.data() + port.size() || n < 1 || n > 65535)
            return texts::UrlPort;
        config.port = n;
    }
    config.host = std::string(host);
    return {};
}

// A topic level: no wildcard, no separator, not empty.
bool IsTopicLevel(std::string_view s) {
    return !s.empty() && s.find_first_of("/+#") == std::string_view::npos && !HasControl(s);
}

bool IsPrefix(std::string_view s) {
    if (s.empty() || s.front() == '/' || s.back() == '/' || s.find("//") != std::string_view::npos)
        return false;
    return s.find_first_of("+#") == std::string_view::npos && !HasControl(s);
}

std::optional<unsigned> WholeNumber(std::string_view s, unsigned low, unsigned high) {
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || n < low || n > high)
        return std::nullopt;
    return n;
}

// A prefix or suffix: printable ASCII, what a keyboard types alike everywhere.
std::string CheckAffix(std::string_view key, std::string_view text) {
    for (const char c : text)
        if (c < ' ' || c > '~')
            return texts::NotAscii(key);
    if (text.size() > AffixMaxLength)
        return texts::TooManyCharacters(key, AffixMaxLength);
    return {};
}

// The site's typing and readings: why a value is refused, or nothing.
std::string TypingValue(const std::string& section, const std::string& key, std::string_view value,
                        SiteRules& rules) {
    TypingRules& t = rules.typing;
    if (section == "readings" && key == "repeat_within_s") {
        const auto n = WholeNumber(value, 0, RepeatWithinMaxS);
        if (!n)
            return texts::NumberFrom(key, 0, RepeatWithinMaxS);
        rules.repeatWithinS = *n;
    } else if (section == "typing" && key == "end") {
        if (value == "enter")
            t.end = TypingRules::End::Enter;
        else if (value == "tab")
            t.end = TypingRules::End::Tab;
        else if (value == "none")
            t.end = TypingRules::End::None;
        else
            return texts::OneOf(key, "enter, tab or none");
    } else if (section == "typing" && key == "separator") {
        if (value != "spaces" && value != "tab")
            return texts::OneOf(key, "spaces (five) or tab");
        t.separator = value == "tab" ? TypingRules::Separator::Tab : TypingRules::Separator::Spaces;
    } else if (section == "typing" && (key == "prefix" || key == "suffix")) {
        if (std::string why = CheckAffix(key, value); !why.empty())
            return why;
        (key == "prefix" ? t.prefix : t.suffix) = std::string(value);
    } else if (section == "typing" && key == "code") {
        if (value != "hex" && value != "decimal")
            return texts::OneOf(key, "hex or decimal");
        t.code = value == "decimal" ? TypingRules::Code::Decimal : TypingRules::Code::Hex;
    } else if (section == "typing" && key == "width") {
        const auto n = WholeNumber(value, 1, DecimalWidthMax);
        if (!n)
            return texts::NumberFrom(key, 1, DecimalWidthMax);
        t.width = *n;
    } else if (section == "typing" && key == "key_pause_ms") {
        const auto n = WholeNumber(value, KeyPauseMinMs, KeyPauseMaxMs);
        if (!n)
            return texts::NumberFrom(key, KeyPauseMinMs, KeyPauseMaxMs);
        t.keyPauseMs = *n;
    } else {
        return texts::UnknownKey(key, section);
    }
    return {};
}

// The line's value, for a key whose value may be in double quotes (to keep
// blanks at its ends, or a ';' or '#' after one): what is between them, and
// nothing but a comment after.
std::optional<std::string_view> QuotedValue(std::string_view raw, std::string& why,
                                            std::string_view key) {
    const auto equals = raw.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    const std::string_view value = Trim(raw.substr(equals + 1));
    if (value.substr(0, 1) != "\"")
        return std::nullopt;
    const auto close = value.find('"', 1);
    if (close == std::string_view::npos || !Trim(WithoutComment(value.substr(close + 1))).empty())
        why = texts::AfterQuote(key);
    return value.substr(1, close == std::string_view::npos ? 0 : close - 1);
}

bool SetsTyping(std::string_view text) {
    while (!text.empty()) {
        const auto eol = text.find('\n');
        const std::string_view line = Trim(WithoutComment(text.substr(0, eol)));
        if (!line.empty() && line.front() == '[' && line.back() == ']' &&
            Trim(line.substr(1, line.size() - 2)) == "typing")
            return true;
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    }
    return false;
}

}  // namespace

std::string StationFromHostName(std::string_view hostName) {
    std::string name(hostName);
    for (char& c : name)
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    return name.empty() ? std::string("station") : name;
}

std::string PasswordFromFile(std::string_view text) {
    if (text.substr(0, 3) == Utf8Bom)
        text.remove_prefix(3);
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

ConfigResult ParseSiteConfig(std::string_view text, std::string_view hostName) {
    SiteConfig config;
    bool haveUrl = false, haveStation = false, havePassword = false;
    std::string section;
    std::set<std::string> seen;
    int lineNumber = 0;
    if (text.substr(0, 3) == Utf8Bom)
        text.remove_prefix(3);  // Notepad's "UTF-8 with BOM"
    const std::string_view whole = text;
    const auto fail = [&](const std::string& why) {
        return ConfigResult{std::nullopt, texts::AtLine(lineNumber, why), SetsTyping(whole)};
    };
    while (!text.empty()) {
        ++lineNumber;
        const auto eol = text.find('\n');
        const std::string_view raw = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (!IsUtf8(raw))
            return fail(texts::NotUtf8);
        const std::string_view line = Trim(WithoutComment(raw));
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return fail(texts::SectionEnd);
            section = std::string(Trim(line.substr(1, line.size() - 2)));
            if (section != "broker" && section != "station" && section != "typing" &&
                section != "readings")
                return fail(texts::UnknownSection(section));
            config.broker = config.broker || section == "broker";
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            return fail(texts::NotAKeyValue);
        const std::string key(Trim(line.substr(0, equals)));
        std::string_view value = Trim(line.substr(equals + 1));
        if (section == "typing" && (key == "prefix" || key == "suffix")) {
            std::string why;
            if (const auto quoted = QuotedValue(raw, why, key))
                value = *quoted;
            if (!why.empty())
                return fail(why);
        }
        if (section.empty())
            return fail(texts::KeyBeforeSection(key));
        if (!seen.insert(section + "." + key).second)
            return fail(texts::KeyTwice(key));
        if (section == "broker" && key == "url") {
            if (std::string why = ParseUrl(value, config); !why.empty())
                return fail(why);
            haveUrl = true;
        } else if (section == "broker" && key == "user") {
            config.user = std::string(value);
        } else if (section == "broker" && key == "password") {
            config.password = std::string(value);
            havePassword = true;
        } else if (section == "broker" && key == "password_file") {
            if (value.empty())
                return fail(texts::PasswordFileEmpty);
            config.passwordFile = std::string(value);
        } else if (section == "broker" && key == "ca_file") {
            if (value.empty())
                return fail(texts::CaFileEmpty);
            config.caFile = std::string(value);
        } else if (section == "station" && key == "name") {
            if (!IsTopicLevel(value))
                return fail(texts::StationName);
            config.station = std::string(value);
            haveStation = true;
        } else if (section == "station" && key == "topic_prefix") {
            if (value.substr(0, 1) == "$")
                return fail(texts::PrefixDollar);
            if (!IsPrefix(value))
                return fail(texts::PrefixForm);
            config.prefix = std::string(value);
        } else if (std::string why = TypingValue(section, key, value, config.rules); !why.empty()) {
            return fail(why);
        }
    }
    const auto refuse = [&](const char* why) {
        return ConfigResult{std::nullopt, why, SetsTyping(whole)};
    };
    if (config.rules.typing.width != 0 && config.rules.typing.code != TypingRules::Code::Decimal)
        return refuse(texts::WidthWithoutDecimal);
    if (!config.broker)
        return {config, {}};
    if (!haveUrl)
        return refuse(texts::NoUrl);
    if (havePassword && !config.passwordFile.empty())
        return refuse(texts::TwoPasswords);
    if ((havePassword || !config.passwordFile.empty()) && config.user.empty())
        return refuse(texts::PasswordWithoutUser);
    if (!config.caFile.empty() && !config.tls)
        return refuse(texts::CaFileWithoutTls);
    if (!haveStation)
        config.station = StationFromHostName(hostName);
    return {config, {}};
}

namespace {

// A file read whole: None, or NotFound, or why not in why (unreadable, or too
// long to be what it should be).
platform::Error ReadSmallFile(const platform::Path& path, std::size_t limit, std::string& text,
                              std::string& why) {
    text.assign(limit + 1, '\0');
    std::size_t got = 0;
    if (const auto e = platform::TheFiles().read(path, text.data(), text.size(), got);
        e != platform::Error::None) {
        why = texts::CannotBeRead(platform::ErrorText(e));
        return e;
    }
    if (got > limit) {
        why = texts::TooLong(limit / 1024);
        return platform::Error::Invalid;
    }
    text.resize(got);
    return platform::Error::None;
}

}  // namespace

Site StartSite(const platform::Path& folder, Notify notify) {
    const platform::Path file = folder / SiteFileName;
    Site site;
    const auto off = [&](const std::string& why) {
        site.publishing = PublishingOff(std::move(notify), texts::FileOff(SiteFileName, why));
        return std::move(site);
    };
    std::string text, why;
    if (const auto e = ReadSmallFile(file, 64 * 1024, text, why); e == platform::Error::NotFound)
        return site;
    else if (e != platform::Error::None) {
        // Unread, it may well set the typing.
        site.rules.typingRefused = true;
        return off(why);
    }
    ConfigResult parsed = ParseSiteConfig(text, platform::HostName());
    if (!parsed.config) {
        site.rules.typingRefused = parsed.setsTyping;
        return off(parsed.error);
    }
    SiteConfig& config = *parsed.config;
    site.rules = config.rules;
    if (!config.broker)
        return site;
    if (config.tls && config.caFile.empty() && !platform::TlsFindsSystemCAs())
        return off(texts::NoCaFile);
    // The broker's password where others may read it: said, and used.
    std::string warning;
    if (config.passwordFile.empty() && !config.password.empty() && platform::OthersMayRead(file))
        warning = texts::PasswordExposed(SiteFileName);
    if (!config.passwordFile.empty()) {
        const platform::Path passwordFile(config.passwordFile);
        std::string password;
        if (ReadSmallFile(passwordFile, 4096, password, why) != platform::Error::None)
            return off(texts::PasswordFileOff(config.passwordFile, why));
        config.password = PasswordFromFile(password);
        if (platform::OthersMayRead(passwordFile))
            warning = texts::PasswordExposed(config.passwordFile);
    }
    site.publishing = std::make_unique<Station>(std::move(config), folder / OutboxFileName,
                                                std::move(notify), warning);
    return site;
}

}  // namespace site
