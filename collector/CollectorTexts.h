// What the collector says on standard error, in UTF-8: its configuration's
// refusals (the line, and why), the store's failures, the broker's trouble.
#pragma once

#include <string>
#include <string_view>

namespace collect::texts {

inline std::string Str(std::string_view s) {
    return std::string(s);
}
inline std::string Quoted(std::string_view key) {
    std::string quoted(1, '"');
    quoted += key;
    quoted += '"';
    return quoted;
}

// ---- The configuration's refusals ----
inline std::string AtLine(int line, std::string_view why) {
    return "line " + std::to_string(line) + ": " + Str(why);
}
inline constexpr const char* NotUtf8 = "not UTF-8 (save the file as UTF-8)";
inline constexpr const char* SectionEnd = "a section's name ends with ]";
inline std::string UnknownSection(std::string_view section) {
    return "unknown section [" + Str(section) + "]: there are [broker], [store] and [page]";
}
inline constexpr const char* NotAKeyValue = "a line is a [section] or a key = value";
inline std::string KeyBeforeSection(std::string_view key) {
    return Quoted(key) + " comes before any [broker], [store] or [page]";
}
inline std::string KeyTwice(std::string_view key) {
    return Quoted(key) + " is given twice";
}
inline std::string UnknownKey(std::string_view key, std::string_view section) {
    return "unknown key " + Quoted(key) + " in [" + Str(section) + "]";
}
inline constexpr const char* UrlScheme = "the broker's url must begin mqtt:// or mqtts://";
inline constexpr const char* UrlNoHost = "the broker's url names no host";
inline constexpr const char* UrlExtra =
    "the broker's url has a path, a user or a query: give only mqtt(s)://host:port";
inline constexpr const char* UrlPort = "the broker's port must be a number from 1 to 65535";
inline std::string NamesNoFile(std::string_view key) {
    return Str(key) + " names no file";
}
inline constexpr const char* ClientId =
    "client_id must be 1 to 23 letters, digits, - or _ (what every broker takes)";
inline constexpr const char* PrefixDollar =
    "topic_prefix must not begin with $ (the broker's own topics)";
inline constexpr const char* PrefixForm =
    "topic_prefix must not be empty, hold + # or // or begin or end with /";
inline constexpr const char* StoreEmpty =
    "the store's url names nothing: give a SQLite file or a postgresql:// URL";
inline constexpr const char* ListenForm =
    "listen must be address:port, the address an IPv4 one or [IPv6], the port 1 to 65535";
inline constexpr const char* PasswordEmpty = "the page's password is empty";
inline constexpr const char* NoUrl = "no url in [broker]";
inline constexpr const char* TwoPasswords = "password and password_file both given: give one";
inline constexpr const char* PasswordWithoutUser = "a password without a user";
inline constexpr const char* CaFileWithoutTls = "ca_file is for an mqtts:// broker";
inline constexpr const char* OpenPageWithoutPassword =
    "the page listens beyond this machine without a password: give [page] password";

// ---- The store ----
inline std::string StoreFailed(std::string_view what, std::string_view why) {
    return "the store " + Str(what) + " failed: " + Str(why);
}

// ---- The broker ----
inline std::string LibraryRefuses(std::string_view what, std::string_view error) {
    return "libmosquitto refuses " + Str(what) + " (" + Str(error) + ")";
}
inline std::string Connected(std::string_view host, int port, bool sessionPresent) {
    return "connected to " + Str(host) + ":" + std::to_string(port) +
           (sessionPresent ? " (its session kept)" : " (a new session)");
}
inline std::string Unreachable(std::string_view host, int port, std::string_view error) {
    return "the broker " + Str(host) + ":" + std::to_string(port) + " cannot be reached (" +
           Str(error) + "): trying again";
}
inline std::string ConnectionRefused(std::string_view reason) {
    return "the broker refused the connection: " + Str(reason);
}
inline std::string SubscriptionRefused(std::string_view filter) {
    return "the broker refuses the subscription to " + Str(filter);
}
inline std::string MessageRefused(std::string_view topic, std::string_view why) {
    return "a message on " + Str(topic) + " passed over: " + Str(why);
}
inline constexpr const char* OtherStation = "its station is not the topic's";
inline constexpr const char* NotAState = "a state is online or offline";
inline std::string EndingUnacknowledged(std::string_view why) {
    return Str(why) + ": ending, the message unacknowledged (the broker sends it again)";
}

}  // namespace collect::texts
