// The station's publishing through libmosquitto. libmosquitto keeps a QoS 1
// message it was given until the broker acknowledges it, across lost
// connections: after each reconnect it sends again, in order, what had no
// acknowledgement. So each reading is given to it once per run; the outbox
// covers the runs.
#include "Station.h"

#include <mqtt_protocol.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "Message.h"
#include "Mosquitto.h"
#include "Outbox.h"
#include "SiteTexts.h"

namespace site {

namespace {

using Clock = std::chrono::steady_clock;

// Readings given to libmosquitto and not yet acknowledged, at most: its
// message ids have 16 bits. The rest wait in the outbox's order.
constexpr std::size_t MaxGiven = 1000;

constexpr int KeepAliveSeconds = 30;

// Says notices on standard error and the status line, and takes each off the
// status line NoticeMs after it was said.
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
        std::fprintf(stderr, "chipreader: %s\n", text.c_str());
        call(text);
        cv_.notify_all();
    }
    // From now on nothing reaches the status line: its window may be gone.
    void silence() {
        std::lock_guard lock(callLock_);
        notify_ = nullptr;
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
                call({});
                lock.lock();
            }
        }
    }
    void call(const std::string& text) {
        std::lock_guard lock(callLock_);
        if (notify_)
            notify_(text);
    }
    std::mutex callLock_;  // held while notify_ is called or cleared
    Notify notify_;
    std::mutex m_;
    std::condition_variable cv_;
    bool stop_ = false;
    bool pending_ = false;
    Clock::time_point due_;
    std::thread thread_;
};

// Nothing published, and why said once.
class NotPublishing final : public Publishing {
  public:
    NotPublishing(Notify notify, const std::string& why) : notices_(std::move(notify)) {
        notices_.say(why);
    }
    void recorded(const PublishedReading&) override {}

  private:
    Notices notices_;
};

std::string PlatformErrorText(platform::Error e) {
    return platform::ErrorText(e);
}

// libmosquitto's text for an MQTT 5 reason code, as a sentence goes on:
// "not authorized".
std::string ReasonText(const MosquittoLibrary& mq, int reason) {
    std::string text = mq.mosquitto_reason_string(reason);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = char(text[0] - 'A' + 'a');
    return text;
}

}  // namespace

struct Station::Impl {
    SiteConfig config;
    Outbox outbox;
    Notices notices;
    std::string readingTopic, stateTopic;
    std::unique_ptr<platform::FileHold> hold;  // the outbox is this program's
    const MosquittoLibrary* mq = nullptr;      // null: not to be had
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
    // Readings the broker acknowledged with a refusal (its access rules):
    // they wait, nothing more is given, and they are given again at the next
    // connection or LastRetryMs later.
    std::set<std::uint64_t> refused;
    Clock::time_point retryRefused;
    bool refusalSaid = false;
    bool publishFailureSaid = false;
    std::vector<std::uint64_t> acknowledged;  // not yet in the outbox
    int offlineMid = -1;
    bool offlineAcknowledged = false;
    std::thread worker;

    Impl(SiteConfig c, platform::Path path, Notify notify)
        : config(std::move(c)),
          outbox(std::move(path)),
          notices(std::move(notify)),
          readingTopic(ReadingTopic(config.prefix, config.station)),
          stateTopic(StateTopic(config.prefix, config.station)) {}

    // With m held: one reading to libmosquitto; false when it takes none now.
    bool giveOne(std::uint64_t number, const std::string& message) {
        int mid = 0;
        const int rc = mq->mosquitto_publish(mosq, &mid, readingTopic.c_str(), int(message.size()),
                                             message.data(), 1, false);
        // Not connected: queued all the same, and sent after the connection.
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
            // Given again at the next acknowledgement or connection.
            if (!publishFailureSaid) {
                publishFailureSaid = true;
                notices.say(texts::ReadingNotTaken(mq->mosquitto_strerror(rc)));
            }
            return false;
        }
        given[mid] = number;
        return true;
    }

    // With m held.
    void give() {
        if (!resumed)
            return;
        if (!refused.empty()) {
            if (Clock::now() < retryRefused)
                return;
            const std::set<std::uint64_t> again = std::exchange(refused, {});
            for (auto it = again.begin(); it != again.end(); ++it) {
                const auto w = waiting.find(*it);
                if (w != waiting.end() && !giveOne(w->first, w->second)) {
                    refused.insert(it, again.end());
                    return;
                }
            }
        }
        for (auto it = waiting.upper_bound(givenUpTo);
             it != waiting.end() && given.size() < MaxGiven; ++it) {
            if (!giveOne(it->first, it->second))
                break;
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
            notices.say(texts::Held);
        }
    }

    std::string troubleText(int rc) {
        // MQTT 3.1.1's codes and MQTT 5's reason codes.
        if (refusal == CONNACK_REFUSED_BAD_USERNAME_PASSWORD ||
            refusal == CONNACK_REFUSED_NOT_AUTHORIZED ||
            refusal == MQTT_RC_BAD_USERNAME_OR_PASSWORD || refusal == MQTT_RC_NOT_AUTHORIZED)
            return texts::BadPassword;
        if (refusal != 0)
            return texts::ConnectionRefused(
                refusal >= 0x80 ? ReasonText(*mq, refusal) : mq->mosquitto_connack_string(refusal));
        std::string log;
        {
            std::lock_guard logged(logLock);
            log = std::exchange(lastLog, {});
        }
        if (rc == MOSQ_ERR_TLS || log.find("SSL") != std::string::npos ||
            log.find("certificate") != std::string::npos)
            return texts::Untrusted(config.host, config.port, log.empty() ? "TLS failed" : log);
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
        mq->mosquitto_publish(mosq, nullptr, stateTopic.c_str(), int(std::strlen(StateOnline)),
                              StateOnline, 1, true);
    }

    // The broker's acknowledgement, with its reason code: 0x80 and above
    // is a refusal, and the reading stays in the outbox.
    void onPublish(int mid, int reason) {
        std::lock_guard lock(m);
        if (mid == offlineMid) {
            offlineAcknowledged = true;
            cv.notify_all();
            return;
        }
        const auto it = given.find(mid);
        if (it == given.end())
            return;  // the state
        const std::uint64_t number = it->second;
        given.erase(it);
        if (reason >= 0x80) {
            refused.insert(number);
            retryRefused = Clock::now() + std::chrono::milliseconds(LastRetryMs);
            if (!refusalSaid) {
                refusalSaid = true;
                notices.say(texts::ReadingsRefused(readingTopic, ReasonText(*mq, reason)));
            }
            return;
        }
        if (refused.empty())
            refusalSaid = false;
        waiting.erase(number);
        acknowledged.push_back(number);
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
                notices.say(texts::HeldSent);
            }
        }
    }

    // With m held: a try to reach the broker failed with rc (its connection
    // or its loop). Why is said once, and the held readings; the next try
    // comes retryMs later, and each failure doubles the wait up to LastRetryMs.
    void backOff(std::unique_lock<std::mutex>& lock, int rc, unsigned& retryMs) {
        unreachable = true;
        if (std::string why = troubleText(rc); !why.empty())
            sayOnce(why);
        sayHeld();
        refusal = 0;
        cv.wait_for(lock, std::chrono::milliseconds(retryMs), [&] { return stopping; });
        retryMs = std::min(retryMs * 2, LastRetryMs);
    }

    void run() {
        unsigned retryMs = FirstRetryMs;
        bool open = false, first = true;
        std::unique_lock lock(m);
        while (!stopping) {
            if (!open) {
                lock.unlock();
                const int rc = first ? mq->mosquitto_connect_async(mosq, config.host.c_str(),
                                                                   config.port, KeepAliveSeconds)
                                     : mq->mosquitto_reconnect_async(mosq);
                lock.lock();
                first = false;
                if (rc != MOSQ_ERR_SUCCESS) {
                    backOff(lock, rc, retryMs);
                    continue;
                }
                open = true;
            }
            lock.unlock();
            const int rc = mq->mosquitto_loop(mosq, 1000, 1);
            lock.lock();
            recordAcknowledged();
            if (connectedNow) {
                retryMs = FirstRetryMs;
                if (!resumed) {
                    // The CONNACK has been handled: libmosquitto has sent again
                    // what it held. Now the rest, behind it, the refused first.
                    resumed = true;
                    retryRefused = Clock::now();
                    give();
                } else if (!refused.empty() && Clock::now() >= retryRefused) {
                    give();
                }
            }
            if (rc != MOSQ_ERR_SUCCESS && !stopping) {
                open = false;
                connectedNow = false;
                resumed = false;
                backOff(lock, rc, retryMs);
            }
        }
        if (open) {
            lock.unlock();
            mq->mosquitto_loop_write(mosq, 1);  // the DISCONNECT on its way
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
void OnPublish(mosquitto*, void* impl, int mid, int reason, const mosquitto_property*) {
    static_cast<Station::Impl*>(impl)->onPublish(mid, reason);
}
void OnLog(mosquitto*, void* impl, int level, const char* text) {
    if ((level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) == 0 || text == nullptr)
        return;
    auto* i = static_cast<Station::Impl*>(impl);
    std::lock_guard lock(i->logLock);
    i->lastLog = text;
}

}  // namespace

Station::Station(SiteConfig config, platform::Path outboxPath, Notify notify,
                 const std::string& warning)
    : impl_(std::make_unique<Impl>(std::move(config), std::move(outboxPath), std::move(notify))) {
    Impl& i = *impl_;
    const SiteConfig& c = i.config;
    const auto off = [&i](const std::string& why) {
        i.notices.say(texts::Off(why));
        i.stopping = true;
        i.workerDone = true;
    };
    if (!warning.empty())
        i.notices.say(warning);

    std::string why;
    i.mq = Mosquitto(why);
    if (i.mq == nullptr) {
        off(why);
        return;
    }
    const MosquittoLibrary& mq = *i.mq;

    // As libmosquitto checks them at each publish, where a refusal would
    // be silent.
    for (const std::string* topic : {&i.readingTopic, &i.stateTopic})
        if (const int rc = mq.mosquitto_validate_utf8(topic->c_str(), int(topic->size()));
            rc != MOSQ_ERR_SUCCESS ||
            mq.mosquitto_pub_topic_check(topic->c_str()) != MOSQ_ERR_SUCCESS) {
            off(texts::BadTopic(
                *topic, mq.mosquitto_strerror(rc != MOSQ_ERR_SUCCESS ? rc : MOSQ_ERR_INVAL)));
            return;
        }

    // One program at a time: the numbers and the rewrites are its own.
    platform::Path holdPath = i.outbox.path();
    holdPath.replace_extension(".lock");
    if (platform::HoldFile(holdPath, i.hold) == platform::Error::Busy) {
        off(texts::OutboxHeld);
        return;
    }

    OutboxContents found;
    if (const auto e = i.outbox.open(found); e != platform::Error::None) {
        // Not written over: what it holds may still be sent by a later run.
        i.outboxWorks = false;
        i.notices.say(texts::OutboxUnusable(i.outbox.path().string(), PlatformErrorText(e)));
    }
    if (found.damaged > 0)
        i.notices.say(texts::OutboxDamaged(found.damaged));
    i.lastNumber = found.lastNumber;
    for (OutboxRecord& r : found.waiting)
        i.waiting.emplace(r.number, std::move(r.message));

    const std::string id = "chipreader-" + c.station;
    i.mosq = mq.mosquitto_new(id.c_str(), true, impl_.get());
    if (i.mosq == nullptr) {
        off(texts::BadClientId(c.station));
        return;
    }
    // Each setter's result, as libmosquitto's own clients check them.
    const auto failed = [&](const char* what, int rc) {
        if (rc == MOSQ_ERR_SUCCESS)
            return false;
        off(texts::LibraryRefuses(what, mq.mosquitto_strerror(rc)));
        return true;
    };
    if (failed("its threads", mq.mosquitto_threaded_set(i.mosq, true)) ||
        failed("MQTT 5",
               mq.mosquitto_int_option(i.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5)) ||
        failed("the last will",
               mq.mosquitto_will_set(i.mosq, i.stateTopic.c_str(), int(std::strlen(StateOffline)),
                                     StateOffline, 1, true)) ||
        (!c.user.empty() &&
         failed("the user name",
                mq.mosquitto_username_pw_set(i.mosq, c.user.c_str(),
                                             c.password.empty() ? nullptr : c.password.c_str()))))
        return;
    // MQTT 5: each acknowledgement carries the broker's reason code.
    mq.mosquitto_connect_callback_set(i.mosq, OnConnect);
    mq.mosquitto_disconnect_callback_set(i.mosq, OnDisconnect);
    mq.mosquitto_publish_v5_callback_set(i.mosq, OnPublish);
    mq.mosquitto_log_callback_set(i.mosq, OnLog);
    if (c.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (c.caFile.empty())
            rc = mq.mosquitto_int_option(i.mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            rc = mq.mosquitto_tls_set(i.mosq, c.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            off(rc == MOSQ_ERR_NOT_SUPPORTED
                    ? std::string(texts::NoTls)
                    : texts::BadCaFile(c.caFile, mq.mosquitto_strerror(rc)));
            return;
        }
    }
    i.worker = std::thread([&i] { i.run(); });
}

Station::~Station() {
    Impl& i = *impl_;
    if (i.worker.joinable()) {
        std::unique_lock lock(i.m);
        if (i.connectedNow) {
            int mid = 0;
            if (i.mq->mosquitto_publish(i.mosq, &mid, i.stateTopic.c_str(),
                                        int(std::strlen(StateOffline)), StateOffline, 1,
                                        true) == MOSQ_ERR_SUCCESS) {
                i.offlineMid = mid;
                i.cv.wait_for(lock, std::chrono::seconds(1), [&] { return i.offlineAcknowledged; });
            }
            i.mq->mosquitto_disconnect(i.mosq);
        }
        i.recordAcknowledged();
        i.stopping = true;
        i.cv.notify_all();
        // The worker may be inside a name lookup that takes its time: the
        // program does not wait for it past two seconds.
        if (!i.cv.wait_for(lock, std::chrono::seconds(2), [&] { return i.workerDone; })) {
            lock.unlock();
            // What it says from now on goes to standard error only: the
            // window it would go to is about to go.
            i.notices.silence();
            i.worker.detach();
            (void)impl_.release();  // still the worker's
            return;
        }
        lock.unlock();
        i.worker.join();
    }
    std::lock_guard lock(i.m);
    i.recordAcknowledged();
    if (i.mq)
        i.mq->mosquitto_destroy(i.mosq);
}

void Station::recorded(const PublishedReading& reading) {
    Impl& i = *impl_;
    std::lock_guard lock(i.m);
    if (i.stopping)
        return;
    const std::uint64_t number = ++i.lastNumber;
    std::string message = ReadingMessage(i.config.station, reading);
    if (i.outboxWorks) {
        if (const auto e = i.outbox.add(number, message); e != platform::Error::None)
            i.sayOnce(texts::OutboxUnwritable(PlatformErrorText(e)));
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

std::unique_ptr<Publishing> PublishingOff(Notify notify, const std::string& why) {
    return std::make_unique<NotPublishing>(std::move(notify), why);
}

}  // namespace site
