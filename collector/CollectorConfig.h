// The collector's configuration file. INI syntax, as a station's site.ini:
//
//   [broker]
//   url = mqtts://broker.example:8883
//   user = collector
//   password_file = /etc/chipreader/collector-password
//   ca_file = /etc/chipreader/site-ca.pem
//   client_id = collector-1          ; its session at the broker
//   topic_prefix = chipreader
//   [store]
//   url = readings.sqlite             ; or postgresql://…
//   [page]
//   listen = 0.0.0.0:8080
//   password = …                      ; needed beyond the loopback address
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace collect {

struct CollectorConfig {
    // [broker]
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string user;
    std::string password;
    std::string passwordFile;
    std::string caFile;
    std::string clientId;
    std::string prefix = "chipreader";
    // [store]: a SQLite file (relative to the configuration's folder) or a
    // libpq connection URL.
    std::string store = "readings.sqlite";
    bool postgres = false;
    // [page]
    std::string listenAddress = "127.0.0.1";
    int listenPort = 8080;
    std::string pagePassword;
};

struct ConfigResult {
    std::optional<CollectorConfig> config;
    std::string error;  // "line N: why", or why; empty with a config
};

// The file's text (UTF-8, a ';' or '#' at a line's start or after a blank
// beginning a comment); hostName names the client when the file does not.
ConfigResult ParseCollectorConfig(std::string_view text, std::string_view hostName);

}  // namespace collect
