// What the publishing says, on standard error and on the status line, in
// UTF-8. A notice that begins "Publishing off:" means nothing is published in
// this run; one that begins "Publishing:" reports trouble that the station
// rides out or works around.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace site::texts {

inline std::string Str(std::string_view s) {
    return std::string(s);
}

// ---- Nothing published in this run ----
inline std::string Off(std::string_view why) {
    return "Publishing off: " + Str(why);
}
// The site file, or its password file, and why it is not used.
inline std::string FileOff(std::string_view file, std::string_view why) {
    return Off(Str(file) + " " + Str(why));
}
inline std::string PasswordFileOff(std::string_view file, std::string_view why) {
    return "password_file " + Str(file) + " " + Str(why);
}
inline std::string CannotBeRead(std::string_view error) {
    return "cannot be read (" + Str(error) + ")";
}
inline std::string TooLong(std::size_t kib) {
    return "is longer than " + std::to_string(kib) + " KiB: it is not read";
}
inline constexpr const char* NoCaFile =
    "gives an mqtts:// broker but no ca_file: this program cannot read the "
    "system's certificate store, so name the broker's CA (ca_file = its PEM file)";
inline std::string NoLibrary(std::string_view file, std::string_view error) {
    return "the MQTT library " + Str(file) + " cannot be loaded (" + Str(error) + ")";
}
inline std::string LibraryLacks(std::string_view file, std::string_view function) {
    return "the MQTT library " + Str(file) + " has no " + Str(function);
}
inline std::string BadTopic(std::string_view topic, std::string_view error) {
    return "the topic " + Str(topic) + " cannot be published to (" + Str(error) + ")";
}
inline constexpr const char* OutboxHeld = "another program publishes from this folder";
inline std::string BadClientId(std::string_view station) {
    return "the station's name \"" + Str(station) + "\" cannot be an MQTT client id";
}
// what: "its threads", "MQTT 5", "the last will", "the user name"
inline std::string LibraryRefuses(std::string_view what, std::string_view error) {
    return "libmosquitto refuses " + Str(what) + " (" + Str(error) + ")";
}
inline constexpr const char* NoTls = "this program has no TLS; give an mqtt:// broker";
inline std::string BadCaFile(std::string_view file, std::string_view error) {
    return "the CA file " + Str(file) + " cannot be used (" + Str(error) + ")";
}

// ---- Published, with trouble ----
inline std::string PasswordExposed(std::string_view file) {
    return "Publishing: other users may read the broker's password in " + Str(file) +
           " (chmod 600 " + Str(file) + ")";
}
inline std::string OutboxUnusable(std::string_view path, std::string_view error) {
    return "Publishing: the outbox " + Str(path) + " cannot be used (" + Str(error) +
           "): readings are published but not kept";
}
inline std::string OutboxDamaged(int lines) {
    return "Publishing: " + std::to_string(lines) +
           " damaged line(s) of the outbox dropped (a write cut off)";
}
inline std::string OutboxUnwritable(std::string_view error) {
    return "Publishing: the outbox cannot be written (" + Str(error) +
           "): this reading is published but not kept";
}
inline std::string ReadingNotTaken(std::string_view error) {
    return "Publishing: libmosquitto takes no reading (" + Str(error) + ")";
}
inline constexpr const char* Held = "Publishing: readings held back, the broker cannot be reached";
inline constexpr const char* HeldSent = "Publishing: the held readings are sent";
inline constexpr const char* BadPassword =
    "Publishing: the broker refused the user name or password";
inline std::string ConnectionRefused(std::string_view reason) {
    return "Publishing: the broker refused the connection: " + Str(reason);
}
// detail: libmosquitto's last warning, or "TLS failed"
inline std::string Untrusted(std::string_view host, int port, std::string_view detail) {
    return "Publishing: no trusted connection to the broker " + Str(host) + ":" +
           std::to_string(port) + " (" + Str(detail) + ")";
}
inline std::string ReadingsRefused(std::string_view topic, std::string_view reason) {
    return "Publishing: the broker refuses readings on " + Str(topic) + ": " + Str(reason);
}

// ---- The site file's refusals: its line, and why ----
inline std::string AtLine(int line, std::string_view why) {
    return "line " + std::to_string(line) + ": " + Str(why);
}
inline constexpr const char* UrlScheme = "the broker's url must begin mqtt:// or mqtts://";
inline constexpr const char* UrlBracket = "the broker's url has a [ without its ]";
inline constexpr const char* UrlAfterHost = "the broker's url has something after its host";
inline constexpr const char* UrlNoHost = "the broker's url names no host";
inline constexpr const char* UrlExtra =
    "the broker's url has a path, a user or a query: give only mqtt(s)://host:port";
inline constexpr const char* UrlPort = "the broker's port must be a number from 1 to 65535";
inline constexpr const char* NotUtf8 = "not UTF-8 (save the file as UTF-8)";
inline constexpr const char* SectionEnd = "a section's name ends with ]";
inline std::string UnknownSection(std::string_view section) {
    return "unknown section [" + Str(section) +
           "]: there are [broker], [station], [typing] and [readings]";
}
inline constexpr const char* NotAKeyValue = "a line is a [section] or a key = value";
// A key in quotes; built up, as GCC 12 warns wrongly of an overlap in
// "\"" + key, which a warning-as-error build would stop at.
inline std::string Quoted(std::string_view key) {
    std::string quoted(1, '"');
    quoted += key;
    quoted += '"';
    return quoted;
}
inline std::string KeyBeforeSection(std::string_view key) {
    return Quoted(key) + " comes before any [section]";
}
inline std::string KeyTwice(std::string_view key) {
    return Quoted(key) + " is given twice";
}
inline constexpr const char* PasswordFileEmpty = "password_file names no file";
inline constexpr const char* CaFileEmpty = "ca_file names no file";
inline constexpr const char* StationName = "the station's name must not be empty nor hold / + #";
inline constexpr const char* PrefixDollar =
    "topic_prefix must not begin with $ (the broker's own topics)";
inline constexpr const char* PrefixForm =
    "topic_prefix must not be empty, hold + # or // or begin or end with /";
inline std::string UnknownKey(std::string_view key, std::string_view section) {
    return "unknown key \"" + Str(key) + "\" in [" + Str(section) + "]";
}
// choices: "enter, tab or none"
inline std::string OneOf(std::string_view key, std::string_view choices) {
    return Str(key) + " must be " + Str(choices);
}
inline std::string NumberFrom(std::string_view key, unsigned low, unsigned high) {
    return Str(key) + " must be a whole number from " + std::to_string(low) + " to " +
           std::to_string(high);
}
inline std::string NotAscii(std::string_view key) {
    return Str(key) +
           " may hold only printable ASCII characters (in double quotes to keep blanks at its "
           "ends)";
}
inline std::string TooManyCharacters(std::string_view key, std::size_t most) {
    return Str(key) + " is longer than " + std::to_string(most) + " characters";
}
inline std::string AfterQuote(std::string_view key) {
    return Str(key) + " has something after its closing quote";
}
inline constexpr const char* WidthWithoutDecimal = "width is for code = decimal";
inline constexpr const char* NoUrl = "no url in [broker]";
inline constexpr const char* TwoPasswords = "password and password_file both given: give one";
inline constexpr const char* PasswordWithoutUser = "a password without a user";
inline constexpr const char* CaFileWithoutTls = "ca_file is for an mqtts:// broker";

}  // namespace site::texts
