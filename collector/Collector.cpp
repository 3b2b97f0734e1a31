// The broker's side: libmosquitto, one thread, the loop driven here.
#include "Collector.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "CollectorTexts.h"

namespace collect {

namespace {

void Say(const std::string& text) {
    std::fprintf(stderr, "chipreader-collector: %s\n", text.c_str());
    std::fflush(stderr);
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// At most this many messages in one transaction.
constexpr int MaxBatch = 1000;

// Inside the message callback, or before the loop's write step: the PUBACKs
// are queued and not yet written.
[[noreturn]] void EndUnacknowledged(const std::string& why) {
    Say(texts::EndingUnacknowledged(why));
    std::_Exit(ExitStoreFailed);
}

}  // namespace

struct Collector::Impl {
    Impl(const CollectorConfig& c, Store& s, std::function<void(bool)> told)
        : config(c), store(s), stored(std::move(told)) {}
    const CollectorConfig& config;
    Store& store;
    std::function<void(bool)> stored;
    mosquitto* mosq = nullptr;
    std::string readingFilter, stateFilter;
    bool saidDown = false;
    // What the open transaction holds, told to stored once it is committed.
    bool newReading = false, newState = false;

    void check(int rc, const char* what) {
        if (rc != MOSQ_ERR_SUCCESS)
            throw std::runtime_error(texts::LibraryRefuses(what, mosquitto_strerror(rc)));
    }

    void onConnect(int rc, int flags) {
        if (rc != 0) {
            Say(texts::ConnectionRefused(mosquitto_reason_string(rc)));
            return;
        }
        saidDown = false;
        Say(texts::Connected(config.host, config.port, (flags & 1) != 0));
        // Again after each connection: a session the broker dropped has none.
        char* filters[] = {readingFilter.data(), stateFilter.data()};
        mosquitto_subscribe_multiple(mosq, nullptr, 2, filters, 1, 0, nullptr);
    }

    void onSubscribe(int count, const int* granted) {
        for (int i = 0; i < count && i < 2; ++i)
            if (granted[i] > 1)
                Say(texts::SubscriptionRefused(i == 0 ? readingFilter : stateFilter));
    }

    void onMessage(const mosquitto_message& m) {
        const std::string_view topic = m.topic;
        const std::string_view payload(static_cast<const char*>(m.payload),
                                       std::size_t(m.payloadlen));
        const auto parts = SplitTopic(config.prefix, topic);
        if (!parts)
            return;
        try {
            if (!parts->reading) {
                if (payload != "online" && payload != "offline")
                    return Say(texts::MessageRefused(topic, texts::NotAState));
                store.setState(parts->station, payload, NowMs());
                newState = true;
                return;
            }
            const auto parsed = ParseReading(payload);
            // A malformed message is acknowledged and said: it would come back forever.
            if (!parsed.reading)
                return Say(texts::MessageRefused(topic, parsed.error));
            if (parsed.reading->station != parts->station)
                return Say(texts::MessageRefused(topic, texts::OtherStation));
            store.add(*parsed.reading, NowMs());
            newReading = true;
        } catch (const StoreError& e) {
            EndUnacknowledged(e.what());
        }
    }

    // One turn of the loop: every message that has come is read, into one
    // transaction of the store, committed before the acknowledgements that
    // the reading queued are written. One sync of the disk for as many
    // readings as the broker has in flight to the collector (up to 20,
    // libmosquitto's receive maximum and mosquitto's max_inflight_messages),
    // and still none acknowledged before it is kept.
    int turn() {
        const int fd = mosquitto_socket(mosq);
        if (fd < 0)
            return MOSQ_ERR_NO_CONN;
        pollfd ready{fd, short(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0};
        if (::poll(&ready, 1, 1000) < 0)
            return errno == EINTR ? MOSQ_ERR_SUCCESS : MOSQ_ERR_ERRNO;
        int rc = MOSQ_ERR_SUCCESS;
        if (ready.revents & (POLLIN | POLLHUP | POLLERR)) {
            try {
                store.begin();
                // A packet at a time (all that libmosquitto reads at once of QoS 1).
                for (int n = 0; n < MaxBatch && rc == MOSQ_ERR_SUCCESS; ++n) {
                    rc = mosquitto_loop_read(mosq, 1);
                    pollfd more{fd, POLLIN, 0};
                    if (mosquitto_socket(mosq) != fd || ::poll(&more, 1, 0) != 1)
                        break;
                }
                store.commit();
            } catch (const StoreError& e) {
                EndUnacknowledged(e.what());
            }
            // Only now: the page shows nothing that is not committed.
            if (stored && newReading)
                stored(true);
            if (stored && newState)
                stored(false);
            newReading = newState = false;
            if (rc != MOSQ_ERR_SUCCESS)
                return rc;
        }
        if (mosquitto_want_write(mosq))
            if (rc = mosquitto_loop_write(mosq, 1); rc != MOSQ_ERR_SUCCESS)
                return rc;
        return mosquitto_loop_misc(mosq);
    }

    // Waits, a little at a time so that a stop is seen.
    static void pause(std::chrono::milliseconds total, const volatile std::sig_atomic_t& stop) {
        for (auto waited = std::chrono::milliseconds(0); waited < total && !stop;
             waited += std::chrono::milliseconds(100))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
};

Collector::Collector(const CollectorConfig& config, Store& store,
                     std::function<void(bool reading)> stored)
    : impl_(std::make_unique<Impl>(config, store, std::move(stored))) {
    static const int init = mosquitto_lib_init();
    (void)init;
    Impl& i = *impl_;
    i.readingFilter = config.prefix + "/+/reading";
    i.stateFilter = config.prefix + "/+/state";
    i.mosq = mosquitto_new(config.clientId.c_str(), false, &i);
    if (!i.mosq)
        throw std::runtime_error(texts::LibraryRefuses("a client", "out of memory"));
    i.check(mosquitto_int_option(i.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5), "MQTT 5");
    // The PUBACK written by the loop's write step, after the callback: see Collector.h.
    i.check(mosquitto_threaded_set(i.mosq, true), "its threads");
    if (!config.user.empty())
        i.check(
            mosquitto_username_pw_set(i.mosq, config.user.c_str(),
                                      config.password.empty() ? nullptr : config.password.c_str()),
            "the user name");
    if (config.tls)
        i.check(mosquitto_tls_set(i.mosq, config.caFile.empty() ? nullptr : config.caFile.c_str(),
                                  config.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr,
                                  nullptr, nullptr),
                "the CA file");
    mosquitto_connect_v5_callback_set(
        i.mosq, [](mosquitto*, void* self, int rc, int flags, const mosquitto_property*) {
            static_cast<Impl*>(self)->onConnect(rc, flags);
        });
    mosquitto_subscribe_v5_callback_set(i.mosq, [](mosquitto*, void* self, int, int count,
                                                   const int* granted, const mosquitto_property*) {
        static_cast<Impl*>(self)->onSubscribe(count, granted);
    });
    mosquitto_message_v5_callback_set(
        i.mosq, [](mosquitto*, void* self, const mosquitto_message* m, const mosquitto_property*) {
            static_cast<Impl*>(self)->onMessage(*m);
        });
}

Collector::~Collector() {
    mosquitto_destroy(impl_->mosq);
}

void Collector::run(const volatile std::sig_atomic_t& stop) {
    Impl& i = *impl_;
    mosquitto_property* properties = nullptr;
    i.check(mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                         SessionExpirySeconds),
            "the session expiry");
    // Keeps the host, the port and the properties for the reconnects, even
    // when this first connect fails.
    int rc = mosquitto_connect_bind_v5(i.mosq, i.config.host.c_str(), i.config.port, 30, nullptr,
                                       properties);
    mosquitto_property_free_all(&properties);
    auto backOff = std::chrono::milliseconds(500);
    while (!stop) {
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = i.turn();
            if (rc == MOSQ_ERR_SUCCESS)
                backOff = std::chrono::milliseconds(500);
            continue;
        }
        if (!i.saidDown)
            Say(texts::Unreachable(
                i.config.host, i.config.port,
                rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc)));
        i.saidDown = true;
        Impl::pause(backOff, stop);
        backOff = std::min(backOff * 2, std::chrono::milliseconds(10000));
        if (!stop)
            rc = mosquitto_reconnect(i.mosq);
    }
    // A clean end: the DISCONNECT written before the socket closes.
    if (mosquitto_disconnect(i.mosq) == MOSQ_ERR_SUCCESS)
        for (int n = 0; n < 10 && mosquitto_loop(i.mosq, 100, 1) == MOSQ_ERR_SUCCESS; ++n) {
        }
}

}  // namespace collect
