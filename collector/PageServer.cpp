// The page's server: libmicrohttpd's threads (epoll) for the requests, and
// the hub's thread for the live feed.
#include "PageServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PageFormat.h"
#include "PageHtml.h"

namespace collect {

namespace {

using namespace std::chrono_literals;

// A page that missed readings gets them from the store in batches of this many.
constexpr std::int64_t ReplayBatch = 500;
// The events the hub keeps for the pages that are nearly up to date.
constexpr std::size_t RingEvents = 4096;
// A comment on every live feed this often: a page that went away without a
// word is found (the write fails) and its connection closed.
constexpr auto Heartbeat = 15s;

std::string ReadingEvent(const StoredReading& r) {
    return "id: " + std::to_string(r.id) + "\nevent: reading\ndata: " + page::Json(r) + "\n\n";
}

void Say(const std::string& text) {
    std::fprintf(stderr, "chipreader-collector: %s\n", text.c_str());
    std::fflush(stderr);
}

// Copies as much of pending (from offset) as fits.
ssize_t Give(std::string& pending, std::size_t& offset, char* buf, std::size_t max) {
    const std::size_t n = std::min(max, pending.size() - offset);
    std::memcpy(buf, pending.data() + offset, n);
    offset += n;
    if (offset == pending.size()) {
        pending.clear();
        offset = 0;
    }
    return ssize_t(n);
}

}  // namespace

struct PageServer::Impl {
    Impl(const CollectorConfig& c, Store& s) : config(c), store(s) {}
    const CollectorConfig& config;
    Store& store;
    MHD_Daemon* daemon = nullptr;

    // ---- The hub: what the live feeds share, under m ----
    std::mutex m;
    std::condition_variable wake;
    bool newReadings = false, newStates = false, stopping = false;
    std::int64_t ringFrom = 0;  // the ring holds every reading with an id above this
    std::int64_t newest = 0;    // the last id the hub has seen
    std::deque<std::pair<std::int64_t, std::string>> ring;
    std::string stationsEvent;
    std::uint64_t stationsVersion = 0;
    std::uint64_t beat = 0;
    std::vector<MHD_Connection*> waiting;  // suspended, to resume on news
    std::thread hub;

    void hubLoop();
    void refreshStations();

    // ---- A live feed ----
    struct Feed {
        Impl* server;
        MHD_Connection* connection;
        std::int64_t lastId;
        std::uint64_t stationsVersion = 0, beat;
        std::string pending;
        std::size_t offset = 0;
    };
    ssize_t feedRead(Feed& f, char* buf, std::size_t max);

    // ---- An export ----
    struct Export {
        std::unique_ptr<ReadingCursor> cursor;
        std::string pending;
        StoredReading row;  // its strings' room kept from row to row
        std::size_t offset = 0;
        bool ended = false;
    };

    MHD_Result answer(MHD_Connection* c, const std::string& url);
};

void PageServer::Impl::refreshStations() {
    std::string event = "event: stations\ndata: " + page::Json(store.stations()) + "\n\n";
    std::lock_guard lock(m);
    if (event != stationsEvent) {
        stationsEvent = std::move(event);
        ++stationsVersion;
    }
}

void PageServer::Impl::hubLoop() {
    std::unique_lock lock(m);
    while (!stopping) {
        const bool woken =
            wake.wait_for(lock, Heartbeat, [&] { return newReadings || newStates || stopping; });
        if (stopping)
            break;
        const bool readings = newReadings, states = newStates;
        newReadings = newStates = false;
        if (!woken)
            ++beat;
        std::int64_t from = newest;
        lock.unlock();
        std::vector<StoredReading> fresh;
        try {
            // A batch at a time; whatever is left, on the next round.
            if (readings) {
                fresh = store.readingsAfter(from, ReplayBatch);
                if (fresh.size() == std::size_t(ReplayBatch)) {
                    std::lock_guard again(m);
                    newReadings = true;
                }
            }
            if (states)
                refreshStations();
        } catch (const StoreError& e) {
            Say(std::string("the page's live feed: ") + e.what());
        }
        lock.lock();
        for (const auto& r : fresh) {
            ring.emplace_back(r.id, ReadingEvent(r));
            newest = std::max(newest, r.id);
        }
        while (ring.size() > RingEvents) {
            ringFrom = ring.front().first;
            ring.pop_front();
        }
        for (MHD_Connection* c : waiting)
            MHD_resume_connection(c);
        waiting.clear();
    }
}

ssize_t PageServer::Impl::feedRead(Feed& f, char* buf, std::size_t max) {
    if (!f.pending.empty())
        return Give(f.pending, f.offset, buf, max);
    bool fromStore = false;
    {
        std::lock_guard lock(m);
        if (stopping)
            return MHD_CONTENT_READER_END_OF_STREAM;
        if (f.stationsVersion != stationsVersion) {
            f.pending += stationsEvent;
            f.stationsVersion = stationsVersion;
        }
        if (f.lastId < newest) {
            if (f.lastId >= ringFrom) {
                auto it =
                    std::upper_bound(ring.begin(), ring.end(), f.lastId,
                                     [](std::int64_t id, const auto& e) { return id < e.first; });
                for (; it != ring.end() && f.pending.size() < 256 * 1024; ++it) {
                    f.pending += it->second;
                    f.lastId = it->first;
                }
            } else {
                fromStore = true;
            }
        }
        if (f.pending.empty() && !fromStore) {
            if (f.beat == beat) {
                // Nothing to send: out of the event loop until the hub has news.
                MHD_suspend_connection(f.connection);
                waiting.push_back(f.connection);
                return 0;
            }
            f.beat = beat;
            f.pending = ":\n\n";
        }
    }
    if (fromStore) {
        try {
            const auto rows = store.readingsAfter(f.lastId, ReplayBatch);
            for (const auto& r : rows)
                f.pending += ReadingEvent(r);
            std::lock_guard lock(m);
            f.lastId = rows.empty() ? std::max(f.lastId, ringFrom) : rows.back().id;
        } catch (const StoreError& e) {
            Say(std::string("the page's live feed: ") + e.what());
            return MHD_CONTENT_READER_END_WITH_ERROR;
        }
        if (f.pending.empty())
            f.pending = ":\n\n";
    }
    return Give(f.pending, f.offset, buf, max);
}

namespace {

MHD_Result Send(MHD_Connection* c, unsigned status, const std::string& body, const char* type) {
    MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    if (!r)
        return MHD_NO;
    MHD_add_response_header(r, "Content-Type", type);
    MHD_add_response_header(r, "Cache-Control", "no-store");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    const MHD_Result result = MHD_queue_response(c, status, r);
    MHD_destroy_response(r);
    return result;
}

constexpr const char* JsonType = "application/json; charset=utf-8";

}  // namespace

MHD_Result PageServer::Impl::answer(MHD_Connection* c, const std::string& url) {
    const auto arg = [c](const char* name) -> std::optional<std::string> {
        const char* v = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    try {
        if (url == "/")
            return Send(c, MHD_HTTP_OK, PageHtml, "text/html; charset=utf-8");
        if (url == "/api/stations")
            return Send(c, MHD_HTTP_OK, page::Json(store.stations()), JsonType);
        if (url == "/api/readings" || url == "/api/hours" || url == "/export.csv") {
            // The export: everything that matches, unless it says how many.
            const auto parsed = page::ParseQuery(arg, url == "/export.csv" ? 0 : 500);
            if (!parsed.query)
                return Send(c, MHD_HTTP_BAD_REQUEST, parsed.error + "\n",
                            "text/plain; charset=utf-8");
            if (url == "/api/readings")
                return Send(c, MHD_HTTP_OK, page::Json(store.search(*parsed.query)), JsonType);
            if (url == "/api/hours")
                return Send(c, MHD_HTTP_OK, page::Json(store.hours(*parsed.query)), JsonType);
            auto* e =
                new Export{store.stream(*parsed.query), "\xEF\xBB\xBF" + page::CsvHeader(), {}};
            MHD_Response* r = MHD_create_response_from_callback(
                MHD_SIZE_UNKNOWN, 64 * 1024,
                [](void* cls, std::uint64_t, char* buf, std::size_t max) -> ssize_t {
                    auto& e = *static_cast<Export*>(cls);
                    try {
                        while (!e.ended && e.pending.size() < 64 * 1024) {
                            if (!e.cursor->next(e.row))
                                e.ended = true;
                            else
                                page::AppendCsvLine(e.pending, e.row.reading);
                        }
                    } catch (const StoreError& error) {
                        Say(std::string("an export: ") + error.what());
                        return MHD_CONTENT_READER_END_WITH_ERROR;
                    }
                    if (e.pending.empty())
                        return MHD_CONTENT_READER_END_OF_STREAM;
                    return Give(e.pending, e.offset, buf, max);
                },
                e, [](void* cls) { delete static_cast<Export*>(cls); });
            if (!r) {
                delete e;
                return MHD_NO;
            }
            MHD_add_response_header(r, "Content-Type", "text/csv; charset=utf-8");
            MHD_add_response_header(r, "Content-Disposition",
                                    "attachment; filename=\"readings.csv\"");
            MHD_add_response_header(r, "Cache-Control", "no-store");
            const MHD_Result result = MHD_queue_response(c, MHD_HTTP_OK, r);
            MHD_destroy_response(r);
            return result;
        }
        if (url == "/events") {
            // From the id the page last had (its reconnect says so), else
            // from the after argument, else from now.
            std::optional<std::int64_t> from;
            if (const char* last = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Last-Event-ID"))
                from = page::ParseId(last);
            if (!from)
                if (const auto after = arg("after"))
                    from = page::ParseId(*after);
            std::lock_guard lock(m);
            auto* f = new Feed{this, c, from.value_or(newest), 0, beat, "retry: 2000\n\n", 0};
            MHD_Response* r = MHD_create_response_from_callback(
                MHD_SIZE_UNKNOWN, 16 * 1024,
                [](void* cls, std::uint64_t, char* buf, std::size_t max) {
                    auto& f = *static_cast<Feed*>(cls);
                    return f.server->feedRead(f, buf, max);
                },
                f, [](void* cls) { delete static_cast<Feed*>(cls); });
            if (!r) {
                delete f;
                return MHD_NO;
            }
            MHD_add_response_header(r, "Content-Type", "text/event-stream; charset=utf-8");
            MHD_add_response_header(r, "Cache-Control", "no-store");
            const MHD_Result result = MHD_queue_response(c, MHD_HTTP_OK, r);
            MHD_destroy_response(r);
            return result;
        }
        return Send(c, MHD_HTTP_NOT_FOUND, "not here\n", "text/plain; charset=utf-8");
    } catch (const StoreError& e) {
        Say(std::string("the page: ") + e.what());
        return Send(c, MHD_HTTP_SERVICE_UNAVAILABLE, std::string(e.what()) + "\n",
                    "text/plain; charset=utf-8");
    }
}

PageServer::PageServer(const CollectorConfig& config, Store& store)
    : impl_(std::make_unique<Impl>(config, store)) {
    Impl& i = *impl_;
    i.newest = i.ringFrom = store.lastId();
    i.refreshStations();

    sockaddr_storage address{};
    const bool v6 = config.listenAddress.find(':') != std::string::npos;
    int ok = 0;
    if (v6) {
        auto& a = reinterpret_cast<sockaddr_in6&>(address);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(std::uint16_t(config.listenPort));
        ok = inet_pton(AF_INET6, config.listenAddress.c_str(), &a.sin6_addr);
    } else {
        auto& a = reinterpret_cast<sockaddr_in&>(address);
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(config.listenPort));
        ok = inet_pton(AF_INET, config.listenAddress.c_str(), &a.sin_addr);
    }
    if (ok != 1)
        throw std::runtime_error("the page's address " + config.listenAddress + " is not one");

    const MHD_AccessHandlerCallback access = [](void* cls, MHD_Connection* c, const char* url,
                                                const char* method, const char*, const char*,
                                                std::size_t* uploadSize, void**) -> MHD_Result {
        auto& i = *static_cast<Impl*>(cls);
        if (*uploadSize != 0)
            return MHD_NO;
        if (i.config.pagePassword.empty()) {
            const char* host = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Host");
            if (!host || !page::IsLoopbackHost(host))
                return Send(c, MHD_HTTP_MISDIRECTED_REQUEST,
                            "without a password, the page answers only to 127.0.0.1\n",
                            "text/plain; charset=utf-8");
        } else {
            const char* given = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "Authorization");
            if (!given || !page::BasicAuthMatches(given, i.config.pagePassword)) {
                const std::string body = "the page's password, please\n";
                MHD_Response* r = MHD_create_response_from_buffer(
                    body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
                if (!r)
                    return MHD_NO;
                const MHD_Result result = MHD_queue_basic_auth_fail_response(c, "Chip Reader", r);
                MHD_destroy_response(r);
                return result;
            }
        }
        if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
            return Send(c, MHD_HTTP_METHOD_NOT_ALLOWED, "GET only\n", "text/plain; charset=utf-8");
        return i.answer(c, url);
    };
    const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL |
                           MHD_ALLOW_SUSPEND_RESUME | (v6 ? MHD_USE_IPv6 : 0);
    i.daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, access, &i, MHD_OPTION_SOCK_ADDR,
                                reinterpret_cast<sockaddr*>(&address), MHD_OPTION_THREAD_POOL_SIZE,
                                2u, MHD_OPTION_CONNECTION_LIMIT, MaxConnections,
                                MHD_OPTION_CONNECTION_TIMEOUT, 120u, MHD_OPTION_END);
    if (!i.daemon)
        throw std::runtime_error("the page cannot listen on " + config.listenAddress + ":" +
                                 std::to_string(config.listenPort) + " (" + std::strerror(errno) +
                                 ")");
    i.hub = std::thread([&i] { i.hubLoop(); });
}

PageServer::~PageServer() {
    Impl& i = *impl_;
    {
        // Every suspended feed resumed, to end: a daemon stops only without them.
        std::lock_guard lock(i.m);
        i.stopping = true;
        for (MHD_Connection* c : i.waiting)
            MHD_resume_connection(c);
        i.waiting.clear();
    }
    i.wake.notify_all();
    i.hub.join();
    MHD_stop_daemon(i.daemon);
}

void PageServer::stored(bool reading) {
    {
        std::lock_guard lock(impl_->m);
        (reading ? impl_->newReadings : impl_->newStates) = true;
    }
    impl_->wake.notify_one();
}

}  // namespace collect
