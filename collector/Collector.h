// The collector's side of the broker: a persistent MQTT 5 session (a fixed
// client id, clean start off, a session expiry) with QoS 1 subscriptions to
// every station's readings and states, each committed to the store before
// its acknowledgement can go out.
//
// libmosquitto 2.0.11 (Debian 12) queues the PUBACK of a QoS 1 message before
// it calls the callback; the queued packet is written at once only when the
// library is told of no threads, and by the loop's write step otherwise. So
// the library is told of threads (mosquitto_threaded_set), and the loop runs
// on this thread alone: the PUBACK is written after the callback returns, and
// never when the store failed, because then the process ends inside the
// callback. The broker sends the reading again to the next run.
#pragma once
#include <csignal>
#include <functional>
#include <memory>

#include "CollectorConfig.h"
#include "Store.h"

namespace collect {

// The exit status when the store failed: what came was not acknowledged.
inline constexpr int ExitStoreFailed = 3;
// How long the broker keeps the session while the collector is away.
inline constexpr int SessionExpirySeconds = 7 * 24 * 3600;

class Collector {
  public:
    // config.password holds the password (read from its file by the caller).
    // std::runtime_error with why when libmosquitto refuses the settings.
    // stored, when given, is told after each commit, once for what it held
    // of each kind (true: readings, or repeats; false: states), never before:
    // on the loop's thread, so it must be quick.
    Collector(const CollectorConfig& config, Store& store,
              std::function<void(bool reading)> stored = {});
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    // Connects, and keeps connecting, until stop is set (by a signal's
    // handler); then disconnects. Ends the process with ExitStoreFailed when
    // the store fails.
    void run(const volatile std::sig_atomic_t& stop);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace collect
