// The site file: where a station publishes its readings. INI syntax:
//
//   [broker]
//   url = mqtts://broker.example:8883
//   user = station-7
//   password_file = /etc/chipreader/password
//   ca_file = /etc/chipreader/site-ca.pem
//   [station]
//   name = front-desk
//   topic_prefix = chipreader
//   [typing]
//   end = tab
//   prefix = "ID "
//   [readings]
//   repeat_within_s = 3
//
// Each section may be left out: without [broker] nothing is published.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Files.h"
#include "Publishing.h"
#include "SiteRules.h"

namespace site {

// The file's name, beside the settings file.
inline constexpr const char* SiteFileName = "site.ini";

// What Notepad's "UTF-8 with BOM" puts before the text: skipped.
inline constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

struct SiteConfig {
    bool broker = false;  // [broker] given: the readings are published
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string user;
    std::string password;
    std::string passwordFile;  // read by StartSite into password
    std::string caFile;        // empty: the system's certificate authorities
    std::string station;
    std::string prefix = "chipreader";
    SiteRules rules{};  // [typing] and [readings]
};

struct ConfigResult {
    std::optional<SiteConfig> config;
    std::string error;        // why the file makes no sense; empty with a config
    bool setsTyping = false;  // a refused file with a [typing] section
};

// The file's text, UTF-8, a ';' or '#' after a blank beginning a comment;
// hostName names the station when the file does not.
ConfigResult ParseSiteConfig(std::string_view text, std::string_view hostName);

// The password in a password file's text: its first line, without a
// byte-order mark before it or the line's end.
std::string PasswordFromFile(std::string_view text);

// A host name as a station's name in a topic: the characters a topic gives a
// meaning to ('/', '+', '#') and control characters become '_'.
std::string StationFromHostName(std::string_view hostName);

// What the site file gives the program: its station, and its rules.
struct Site {
    std::unique_ptr<Publishing> publishing;  // null: nothing published, nothing said
    SiteRules rules{};
};

// The program's start: reads the site file in folder and starts its station
// (Station.h) when it has a [broker]. No file: no station, the rules' defaults,
// and nothing is said. A file that cannot be read or makes no sense: one line
// on standard error and on the status line, nothing published, and no reading
// typed if it sets the typing.
Site StartSite(const platform::Path& folder, Notify notify);

}  // namespace site
