// The configuration's syntax: sections, keys, the broker's URL, the store,
// the page's address.
#include "CollectorConfig.h"

#include <cctype>
#include <charconv>
#include <set>

#include "CollectedReading.h"
#include "CollectorTexts.h"

namespace collect {

namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

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

bool ParsePort(std::string_view text, int& port) {
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > 65535)
        return false;
    port = n;
    return true;
}

// "host", "host:port", "[v6]", "[v6]:port": false when malformed.
bool SplitHostPort(std::string_view rest, std::string_view& host, std::string_view& port) {
    port = {};
    if (rest.substr(0, 1) == "[") {
        const auto close = rest.find(']');
        if (close == std::string_view::npos)
            return false;
        host = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return false;
        port = after.empty() ? after : after.substr(1);
        return true;
    }
    const auto colon = rest.rfind(':');
    host = rest.substr(0, colon);
    if (colon != std::string_view::npos) {
        port = rest.substr(colon + 1);
        if (port.empty())
            return false;
    }
    return true;
}

std::string ParseBrokerUrl(std::string_view url, CollectorConfig& config) {
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
    if (rest.substr(0, 1) != "[" && rest.find_first_of("/@?#") != std::string_view::npos)
        return texts::UrlExtra;
    std::string_view host, port;
    if (!SplitHostPort(rest, host, port))
        return texts::UrlPort;
    if (host.empty() || host.find_first_of("/@?# ") != std::string_view::npos || HasControl(host))
        return texts::UrlNoHost;
    if (!port.empty() && !ParsePort(port, config.port))
        return texts::UrlPort;
    config.host = std::string(host);
    return {};
}

// The page's address: an IPv4 address or a bracketed IPv6 one, and a port.
bool ParseListen(std::string_view value, CollectorConfig& config) {
    std::string_view host, port;
    if (!SplitHostPort(value, host, port) || host.empty() || port.empty() ||
        !ParsePort(port, config.listenPort))
        return false;
    const bool v6 = value.front() == '[';
    const std::string_view allowed = v6 ? "0123456789abcdefABCDEF:." : "0123456789.";
    if (host.find_first_not_of(allowed) != std::string_view::npos)
        return false;
    config.listenAddress = std::string(host);
    return true;
}

bool IsLoopback(std::string_view address) {
    return address.substr(0, 4) == "127." || address == "::1";
}

bool IsClientId(std::string_view s) {
    if (s.empty() || s.size() > 23)
        return false;
    for (const char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'))
            return false;
    return true;
}

bool IsPrefix(std::string_view s) {
    if (s.empty() || s.front() == '/' || s.back() == '/' || s.find("//") != std::string_view::npos)
        return false;
    return s.find_first_of("+#") == std::string_view::npos && !HasControl(s);
}

// "collector-" and as much of the host's name as fits, in the characters
// every broker takes.
std::string DefaultClientId(std::string_view hostName) {
    std::string id = "collector-";
    for (const char c : hostName)
        if (id.size() < 23)
            id += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
    return id;
}

}  // namespace

ConfigResult ParseCollectorConfig(std::string_view text, std::string_view hostName) {
    CollectorConfig config;
    bool haveUrl = false, havePassword = false;
    std::string section;
    std::set<std::string> seen;
    int lineNumber = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    const auto fail = [&](const std::string& why) {
        return ConfigResult{std::nullopt, texts::AtLine(lineNumber, why)};
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
            if (section != "broker" && section != "store" && section != "page")
                return fail(texts::UnknownSection(section));
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            return fail(texts::NotAKeyValue);
        const std::string key(Trim(line.substr(0, equals)));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (section.empty())
            return fail(texts::KeyBeforeSection(key));
        if (!seen.insert(section + "." + key).second)
            return fail(texts::KeyTwice(key));
        const std::string where = section + "." + key;
        if (where == "broker.url") {
            if (std::string why = ParseBrokerUrl(value, config); !why.empty())
                return fail(why);
            haveUrl = true;
        } else if (where == "broker.user") {
            config.user = std::string(value);
        } else if (where == "broker.password") {
            config.password = std::string(value);
            havePassword = true;
        } else if (where == "broker.password_file" || where == "broker.ca_file") {
            if (value.empty())
                return fail(texts::NamesNoFile(key));
            (key == "ca_file" ? config.caFile : config.passwordFile) = std::string(value);
        } else if (where == "broker.client_id") {
            if (!IsClientId(value))
                return fail(texts::ClientId);
            config.clientId = std::string(value);
        } else if (where == "broker.topic_prefix") {
            if (value.substr(0, 1) == "$")
                return fail(texts::PrefixDollar);
            if (!IsPrefix(value))
                return fail(texts::PrefixForm);
            config.prefix = std::string(value);
        } else if (where == "store.url") {
            if (value.empty() || value == "postgresql://" || value == "postgres://")
                return fail(texts::StoreEmpty);
            config.store = std::string(value);
            config.postgres =
                value.substr(0, 13) == "postgresql://" || value.substr(0, 11) == "postgres://";
        } else if (where == "page.listen") {
            if (!ParseListen(value, config))
                return fail(texts::ListenForm);
        } else if (where == "page.password") {
            if (value.empty())
                return fail(texts::PasswordEmpty);
            config.pagePassword = std::string(value);
        } else {
            return fail(texts::UnknownKey(key, section));
        }
    }
    if (!haveUrl)
        return {std::nullopt, texts::NoUrl};
    if (havePassword && !config.passwordFile.empty())
        return {std::nullopt, texts::TwoPasswords};
    if ((havePassword || !config.passwordFile.empty()) && config.user.empty())
        return {std::nullopt, texts::PasswordWithoutUser};
    if (!config.caFile.empty() && !config.tls)
        return {std::nullopt, texts::CaFileWithoutTls};
    if (!IsLoopback(config.listenAddress) && config.pagePassword.empty())
        return {std::nullopt, texts::OpenPageWithoutPassword};
    if (config.clientId.empty())
        config.clientId = DefaultClientId(hostName);
    return {config, {}};
}

}  // namespace collect
