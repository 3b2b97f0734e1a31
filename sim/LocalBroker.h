// A site's broker for the tests and the benchmarks: Debian's mosquitto on a
// free port of the loopback address (no other address), with a subscriber
// that keeps what arrives. Killed and started again on the same port, it
// keeps the subscriber's session (persistence), so that what a station sends
// before the subscriber is back still reaches it.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;

namespace sim {

// A port of the loopback address that no one listens on now; 0 when none.
int FreeLoopbackPort();

class LocalBroker {
  public:
    // extraConfig: more lines for mosquitto.conf (a password file, TLS).
    explicit LocalBroker(std::string extraConfig = {});
    ~LocalBroker();
    LocalBroker(const LocalBroker&) = delete;
    LocalBroker& operator=(const LocalBroker&) = delete;

    // Starts mosquitto and waits until it takes connections; false when it
    // does not within ten seconds (its log: log()).
    bool start();
    // kill -9, and waits for it to be gone.
    void kill();
    // Writes its database to the disk (SIGUSR1) and waits until it has.
    bool save();
    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    const std::filesystem::path& folder() const { return folder_; }
    std::string log() const;

  private:
    std::filesystem::path folder_;
    std::string extraConfig_;
    int port_ = 0;
    pid_t pid_ = -1;
};

struct Arrival {
    std::string topic;
    std::string payload;
    bool retained = false;
    std::chrono::steady_clock::time_point at;
};

// A persistent session (QoS 1) on a topic filter, with its own network thread.
class Subscriber {
  public:
    Subscriber(int port, std::string filter, std::string clientId = "test-subscriber");
    ~Subscriber();
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Waits until the subscription is acknowledged (after each reconnect too).
    bool subscribed(std::chrono::milliseconds limit);
    // Waits until at least n messages on topics ending in suffix have come.
    bool waitFor(const std::string& suffix, std::size_t n, std::chrono::milliseconds limit);
    std::vector<Arrival> arrivals(const std::string& suffix = {}) const;

    // For the library's callbacks.
    void onConnect(int rc);
    void onSubscribe();
    void onMessage(const std::string& topic, const std::string& payload, bool retained);

  private:
    std::string filter_;
    mosquitto* mosq_ = nullptr;
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool subscribed_ = false;
    std::vector<Arrival> arrivals_;
};

// The value of a field of a flat JSON object as its text ("12", "\"COM3\"",
// "null"), or empty when it is not there.
std::string JsonField(const std::string& json, const std::string& name);

}  // namespace sim
