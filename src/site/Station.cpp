// The station's publishing through libmosquitto. libmosquitto keeps a QoS 1
// message it was given until the broker acknowledges it, across lost
// connections: after each reconnect it sends again, in order, what had no
// acknowledgement. So each reading is given to it once per run; the outbox
// covers the runs.
#include "Station.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "Host.h"
#include "Message.h"
#include "Outbox.h"

namespace site {

namespace {

using Clock = std::chrono::steady_clock;

// Readings given to libmosquitto and not yet acknowledged, at most: its
// message ids have 16 bits. The rest wait in the outbox's order.
constexpr std::size_t MaxGiven = 1000;

constexpr int KeepAliveSeconds = 30;

void Say(const Notify& notify, const std::string& text) {
    std::fprintf(stderr, "chipreader: %s\n", text.c_str());
    if (notify)
        notify(text);
}

// Takes a notice off the status line NoticeMs after it was said.
class Notices {
  public:
    explicit Notices(Notify notify) : notify_(std::move(notify)), thread_([this] { run(); }) {}
    ~Notices() {
        {
            std::lock_guard lock(m_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void say(const std::string& text) {
        {
            std::lock_guard lock(m_);
            due_ = Clock::now() + std::chrono::milliseconds(NoticeMs);
            pending_ = true;
        }
        Say(notify_, text);
        cv_.notify_all();
    }

  private:
    void run() {
        std::unique_lock lock(m_);
        while (!stop_) {
            if (!pending_) {
                cv_.wait(lock);
                continue;
            }
            if (cv_.wait_until(lock, due_) == std::cv_status::timeout && pending_ &&
                Clock::now() >= due_) {
                pending_ = false;
                lock.unlock();
                if (notify_)
                    notify_({});
                lock.lock();
            }
        }
    }
    Notify notify_;
    std::mutex m_;
    std::condition_variable cv_;
    bool stop_ = false;
    bool pending_ = false;
    Clock::time_point due_;
    std::thread thread_;
};

// A site file that makes no sense: said once, nothing published.
class NotPublishing final : public Publishing {
  public:
    NotPublishing(Notify notify, const std::string& why) : notices_(std::move(notify)) {
        notices_.say(why);
    }
    void recorded(const Reading&) override {}

  private:
    Notices notices_;
};

std::string PlatformErrorText(platform::Error e) {
    return platform::ErrorText(e);
}

}  // namespace

struct Station::Impl {
    SiteConfig config;
    Outbox outbox;
    Notices notices;
    std::string readingTopic, stateTopic;
    mosquitto* mosq = nullptr;

    mutable std::mutex m;
    std::condition_variable cv;
    bool stopping = false;
    bool workerDone = false;
    bool connectedNow = false;
    // Readings are given to libmosquitto only once what it held from before
    // the connection has gone out again: in their order.
    bool resumed = false;
    bool unreachable = false;  // since a try to reach the broker failed
    bool outboxWorks = true;
    bool heldSaid = false;
    std::string problemSaid;  // the last trouble said, said once
    // libmosquitto's last warning or error, under its own lock: the library
    // may log from inside a call made with m held.
    std::mutex logLock;
    std::string lastLog;
    int refusal = 0;  // the broker's CONNACK code, when it refused
    std::uint64_t lastNumber = 0;
    std::map<std::uint64_t, std::string> waiting;  // by number
    std::uint64_t givenUpTo = 0;                   // the last number given to libmosquitto
    std::map<int, std::uint64_t> given;            // message id to number
    std::vector<std::uint64_t> acknowledged;       // not yet in the outbox
    int offlineMid = -1;
    bool offlineAcknowledged = false;
    std::thread worker;

    Impl(SiteConfig c, platform::Path path, Notify notify)
        : config(std::move(c)),
          outbox(std::move(path)),
          notices(std::move(notify)),
          readingTopic(ReadingTopic(config.prefix, config.station)),
          stateTopic(StateTopic(config.prefix, config.station)) {}

    // With m held.
    void give() {
        if (!resumed)
            return;
        for (auto it = waiting.upper_bound(givenUpTo);
             it != waiting.end() && given.size() < MaxGiven; ++it) {
            int mid = 0;
            const int rc = mosquitto_publish(mosq, &mid, readingTopic.c_str(),
                                             int(it->second.size()), it->second.data(), 1, false);
            // Not connected: queued all the same, and sent after the connection.
            if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN)
                break;  // given again at the next acknowledgement or connection
            given[mid] = it->first;
            givenUpTo = it->first;
        }
    }

    // With m held.
    void sayOnce(const std::string& text) {
        if (text == problemSaid)
            return;
        problemSaid = text;
        notices.say(text);
    }

    // With m held: the broker is away and readings wait.
    void sayHeld() {
        if (unreachable && !heldSaid && !waiting.empty()) {
            heldSaid = true;
            notices.say("Publishing: readings held back, the broker cannot be reached");
        }
    }

    std::string troubleText(int rc) {
        if (refusal == 4 || refusal == 5)
            return "Publishing: the broker refused the user name or password";
        if (refusal != 0)
            return std::string("Publishing: the broker refused the connection: ") +
                   mosquitto_connack_string(refusal);
        std::string log;
        {
            std::lock_guard logged(logLock);
            log = std::exchange(lastLog, {});
        }
        if (rc == MOSQ_ERR_TLS || log.find("SSL") != std::string::npos ||
            log.find("certificate") != std::string::npos)
            return "Publishing: no trusted connection to the broker " + config.host + ":" +
                   std::to_string(config.port) + " (" + (log.empty() ? "TLS failed" : log) + ")";
        return {};
    }

    void onConnect(int rc) {
        std::lock_guard lock(m);
        refusal = rc;
        if (rc != 0)
            return;
        connectedNow = true;
        unreachable = false;
        problemSaid.clear();
        mosquitto_publish(mosq, nullptr, stateTopic.c_str(), int(std::strlen(StateOnline)),
                          StateOnline, 1, true);
    }

    void onPublish(int mid) {
        std::lock_guard lock(m);
        if (mid == offlineMid) {
            offlineAcknowledged = true;
            cv.notify_all();
            return;
        }
        const auto it = given.find(mid);
        if (it == given.end())
            return;  // the state
        waiting.erase(it->second);
        acknowledged.push_back(it->second);
        given.erase(it);
        give();
    }

    // With m held: the acknowledgements into the outbox, once per turn of
    // the loop; a lost one only sends a reading twice.
    void recordAcknowledged() {
        if (acknowledged.empty())
            return;
        if (outboxWorks)
            outbox.acknowledge(acknowledged);
        acknowledged.clear();
        if (waiting.empty()) {
            if (outboxWorks)
                outbox.emptied();
            if (heldSaid) {
                heldSaid = false;
                notices.say("Publishing: the held readings are sent");
            }
        }
    }

    void run() {
        unsigned retryMs = FirstRetryMs;
        bool open = false, first = true;
        std::unique_lock lock(m);
        while (!stopping) {
            if (!open) {
                lock.unlock();
                const int rc = first ? mosquitto_connect_async(mosq, config.host.c_str(),
                                                               config.port, KeepAliveSeconds)
                                     : mosquitto_reconnect_async(mosq);
                lock.lock();
                first = false;
                if (rc == MOSQ_ERR_SUCCESS) {
                    open = true;
                } else {
                    unreachable = true;
                    if (std::string why = troubleText(rc); !why.empty())
                        sayOnce(why);
                    sayHeld();
                    cv.wait_for(lock, std::chrono::milliseconds(retryMs), [&] { return stopping; });
                    retryMs = std::min(retryMs * 2, LastRetryMs);
                    continue;
                }
            }
            lock.unlock();
            const int rc = mosquitto_loop(mosq, 1000, 1);
            lock.lock();
            recordAcknowledged();
            if (connectedNow) {
                retryMs = FirstRetryMs;
                if (!resumed) {
                    // The CONNACK has been handled: libmosquitto has sent again
                    // what it held. Now the rest, behind it.
                    resumed = true;
                    give();
                }
            }
            if (rc != MOSQ_ERR_SUCCESS && !stopping) {
                open = false;
                connectedNow = false;
                resumed = false;
                unreachable = true;
                if (std::string why = troubleText(rc); !why.empty())
                    sayOnce(why);
                sayHeld();
                refusal = 0;
                cv.wait_for(lock, std::chrono::milliseconds(retryMs), [&] { return stopping; });
                retryMs = std::min(retryMs * 2, LastRetryMs);
            }
        }
        if (open) {
            lock.unlock();
            mosquitto_loop_write(mosq, 1);  // the DISCONNECT on its way
            lock.lock();
        }
        workerDone = true;
        cv.notify_all();
    }
};

namespace {

void OnConnect(mosquitto*, void* impl, int rc) {
    static_cast<Station::Impl*>(impl)->onConnect(rc);
}
void OnDisconnect(mosquitto*, void* impl, int) {
    auto* i = static_cast<Station::Impl*>(impl);
    std::lock_guard lock(i->m);
    i->connectedNow = false;
    i->resumed = false;
}
void OnPublish(mosquitto*, void* impl, int mid) {
    static_cast<Station::Impl*>(impl)->onPublish(mid);
}
void OnLog(mosquitto*, void* impl, int level, const char* text) {
    if ((level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) == 0 || text == nullptr)
        return;
    auto* i = static_cast<Station::Impl*>(impl);
    std::lock_guard lock(i->logLock);
    i->lastLog = text;
}

}  // namespace

Station::Station(SiteConfig config, platform::Path outboxPath, Notify notify)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(outboxPath), std::move(notify))) {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    Impl& i = *impl_;
    const SiteConfig& c = i.config;

    OutboxContents found;
    if (const auto e = i.outbox.open(found); e != platform::Error::None) {
        // Not written over: what it holds may still be sent by a later run.
        i.outboxWorks = false;
        i.notices.say("Publishing: the outbox " + i.outbox.path().string() + " cannot be used (" +
                      PlatformErrorText(e) + "): readings are published but not kept");
    }
    if (found.damaged > 0)
        i.notices.say("Publishing: " + std::to_string(found.damaged) +
                      " damaged line(s) of the outbox dropped (a write cut off)");
    i.lastNumber = found.lastNumber;
    for (OutboxRecord& r : found.waiting)
        i.waiting.emplace(r.number, std::move(r.message));

    const std::string id = "chipreader-" + c.station;
    i.mosq = mosquitto_new(id.c_str(), true, impl_.get());
    mosquitto_threaded_set(i.mosq, true);
    mosquitto_int_option(i.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(i.mosq, OnConnect);
    mosquitto_disconnect_callback_set(i.mosq, OnDisconnect);
    mosquitto_publish_callback_set(i.mosq, OnPublish);
    mosquitto_log_callback_set(i.mosq, OnLog);
    mosquitto_will_set(i.mosq, i.stateTopic.c_str(), int(std::strlen(StateOffline)), StateOffline,
                       1, true);
    if (!c.user.empty())
        mosquitto_username_pw_set(i.mosq, c.user.c_str(),
                                  c.password.empty() ? nullptr : c.password.c_str());
    bool usable = true;
    if (c.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (c.caFile.empty())
            rc = mosquitto_int_option(i.mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            rc = mosquitto_tls_set(i.mosq, c.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            usable = false;
            i.notices.say(rc == MOSQ_ERR_NOT_SUPPORTED
                              ? "Publishing off: this program has no TLS; give an mqtt:// broker"
                              : "Publishing off: the CA file " + c.caFile + " cannot be used (" +
                                    mosquitto_strerror(rc) + ")");
        }
    }
    if (!usable) {
        i.stopping = true;
        i.workerDone = true;
        return;
    }
    i.worker = std::thread([&i] { i.run(); });
}

Station::~Station() {
    Impl& i = *impl_;
    if (i.worker.joinable()) {
        std::unique_lock lock(i.m);
        if (i.connectedNow) {
            int mid = 0;
            if (mosquitto_publish(i.mosq, &mid, i.stateTopic.c_str(),
                                  int(std::strlen(StateOffline)), StateOffline, 1,
                                  true) == MOSQ_ERR_SUCCESS) {
                i.offlineMid = mid;
                i.cv.wait_for(lock, std::chrono::seconds(1), [&] { return i.offlineAcknowledged; });
            }
            mosquitto_disconnect(i.mosq);
        }
        i.recordAcknowledged();
        i.stopping = true;
        i.cv.notify_all();
        // The worker may be inside a name lookup that takes its time: the
        // program does not wait for it past two seconds.
        if (!i.cv.wait_for(lock, std::chrono::seconds(2), [&] { return i.workerDone; })) {
            lock.unlock();
            i.worker.detach();
            (void)impl_.release();  // still the worker's
            return;
        }
        lock.unlock();
        i.worker.join();
    }
    std::lock_guard lock(i.m);
    i.recordAcknowledged();
    mosquitto_destroy(i.mosq);
}

void Station::recorded(const Reading& reading) {
    Impl& i = *impl_;
    std::lock_guard lock(i.m);
    if (i.stopping)
        return;
    const std::uint64_t number = ++i.lastNumber;
    std::string message = ReadingMessage(i.config.station, reading);
    if (i.outboxWorks) {
        if (const auto e = i.outbox.add(number, message); e != platform::Error::None)
            i.sayOnce("Publishing: the outbox cannot be written (" + PlatformErrorText(e) +
                      "): this reading is published but not kept");
    }
    i.waiting.emplace(number, std::move(message));
    i.give();
    i.sayHeld();
}

std::size_t Station::waiting() const {
    std::lock_guard lock(impl_->m);
    return impl_->waiting.size();
}

bool Station::connected() const {
    std::lock_guard lock(impl_->m);
    return impl_->connectedNow;
}

std::unique_ptr<Publishing> StartPublishing(const platform::Path& folder, Notify notify) {
    const platform::Path file = folder / SiteFileName;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return nullptr;
    const auto off = [&](const std::string& why) -> std::unique_ptr<Publishing> {
        return std::make_unique<NotPublishing>(
            std::move(notify), std::string("Publishing off: ") + SiteFileName + " " + why);
    };
    constexpr std::size_t MaxBytes = 64 * 1024;
    std::string text(MaxBytes, '\0');
    std::size_t got = 0;
    if (const auto e = platform::TheFiles().read(file, text.data(), text.size(), got);
        e != platform::Error::None)
        return off("cannot be read (" + PlatformErrorText(e) + ")");
    text.resize(got);
    ConfigResult parsed = ParseSiteConfig(text, platform::HostName());
    if (!parsed.config)
        return off(parsed.error);
    SiteConfig& config = *parsed.config;
    if (!config.passwordFile.empty()) {
        std::string password(4096, '\0');
        std::size_t n = 0;
        if (const auto e = platform::TheFiles().read(platform::Path(config.passwordFile),
                                                     password.data(), password.size(), n);
            e != platform::Error::None)
            return off("password_file " + config.passwordFile + " cannot be read (" +
                       PlatformErrorText(e) + ")");
        password.resize(n);
        password = password.substr(0, password.find_first_of("\r\n"));
        config.password = password;
    }
    return std::make_unique<Station>(std::move(config), folder / OutboxFileName, std::move(notify));
}

}  // namespace site
