// The collector's page, measured on the real program (chipreader-collector
// on a SQLite file or a throwaway PostgreSQL, Debian's mosquitto on the
// loopback address):
//   - the CSV export of a store of 1,000,000 readings (goal: under 5 s), as a
//     browser would fetch it;
//   - the collector's memory (resident set) without pages and with 50 open
//     live pages (Server-Sent Events);
//   - arrival: readings published to the broker one at a time (MQTT 5,
//     QoS 1), each timed from its publishing to its event on every one of
//     the 50 pages (goal: under 1 s), median and worst.
//   bench_collector_page [READINGS [postgresql]]   (the export's size; 1000000 without it)
// The live feeds are read over HTTP/1.0, so that an event is never split by
// chunked encoding.
#include <arpa/inet.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LocalBroker.h"
#include "PgServer.h"
#include "PgStore.h"
#include "SqliteStore.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A connection to the page with the request sent; -1 when it cannot.
int Request(int port, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

std::string IsoTime(std::int64_t ms) {
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm t{};
    ::gmtime_r(&seconds, &t);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d+00:00", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, int(ms % 1000));
    return text;
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Readings straight into the store's file, in one transaction (the
// collector's own path commits and syncs each one).
bool Fill(const std::string& file, long count) {
    { collect::SqliteStore schema(file); }
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO readings(station, ord, instant_ms, time, code, demo, reader, "
                       "port, received_ms) VALUES(?1, ?2, ?3, ?4, ?5, 0, 'V1.2', 'COM1', ?3)",
                       -1, &st, nullptr);
    const std::int64_t start = NowMs() - std::int64_t(count) * 1000;
    bool ok = true;
    for (long i = 0; i < count && ok; ++i) {
        const std::string station = "desk-" + std::to_string(i % 5 + 1);
        const std::string time = IsoTime(start + i * 1000);
        char code[24];  // room for any long in hexadecimal
        std::snprintf(code, sizeof code, "%010lX", 0xA000000000L + i);
        sqlite3_bind_text(st, 1, station.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(st, 2, i / 5 + 1);
        sqlite3_bind_int64(st, 3, start + i * 1000);
        sqlite3_bind_text(st, 4, time.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 5, code, -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(st) == SQLITE_DONE;
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// The same readings made by PostgreSQL itself, in one statement.
bool FillPg(const pgtest::PgServer& pg, long count) {
    { collect::PgStore schema(pg.url()); }
    const std::string n = std::to_string(count);
    return pg
        .query(
            "INSERT INTO readings(station, ord, instant_ms, time, code, demo, reader, port, "
            "received_ms) SELECT 'desk-' || (i % 5 + 1), i / 5 + 1, ms, "
            "to_char(to_timestamp(ms / 1000.0) AT TIME ZONE 'UTC', "
            "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"+00:00\"'), "
            "upper(lpad(to_hex(687194767360 + i), 10, '0')), false, 'V1.2', 'COM1', ms "
            "FROM generate_series(0, " +
            n + " - 1) i, LATERAL (SELECT (extract(epoch FROM now()) * 1000)::bigint - " + n +
            " * 1000 + i * 1000 AS ms) t")
        .empty();
}

struct Page {
    int fd = -1;
    std::string buffer;
    bool open = false;  // its first event came
    std::vector<Clock::time_point> arrived;
};

// Reads what came on a feed: the time of each reading event by its order.
void Take(Page& page, Clock::time_point now) {
    char chunk[65536];
    const ssize_t n = ::recv(page.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n <= 0)
        return;
    page.buffer.append(chunk, std::size_t(n));
    for (std::size_t end; (end = page.buffer.find("\n\n")) != std::string::npos;) {
        const std::string event = page.buffer.substr(0, end);
        page.buffer.erase(0, end + 2);
        page.open = true;
        const auto at = event.find("\"order\":");
        if (event.find("event: reading") == std::string::npos || at == std::string::npos)
            continue;
        const std::size_t order = std::stoul(event.substr(at + 8));
        if (order < page.arrived.size())
            page.arrived[order] = now;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const long readings = argc > 1 ? std::atol(argv[1]) : 1000000;
    // With a second argument "postgresql", the store is a throwaway PostgreSQL.
    std::unique_ptr<pgtest::PgServer> pg;
    if (argc > 2 && std::string(argv[2]) == "postgresql") {
        pg = std::make_unique<pgtest::PgServer>();
        if (!pg->error().empty()) {
            std::fprintf(stderr, "collector_page: %s\n", pg->error().c_str());
            return 1;
        }
    }
    constexpr int Pages = 50, Published = 200;
    char pattern[] = "/tmp/chipbench-XXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    sim::LocalBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "collector_page: mosquitto did not start:\n%s", broker.log().c_str());
        return 1;
    }
    const std::string store = (folder / "r.sqlite").string();
    auto started = Clock::now();
    if (pg ? !FillPg(*pg, readings) : !Fill(store, readings))
        return 1;
    std::printf("%s store filled with %ld readings in %.1f s (not a figure of the page)\n",
                pg ? "PostgreSQL" : "SQLite", readings, Ms(Clock::now() - started) / 1000);

    const int port = sim::FreeLoopbackPort();
    std::ofstream(folder / "collector.ini")
        << "[broker]\nurl = " << broker.url()
        << "\nclient_id = bench-collector\ntopic_prefix = bench\n[store]\nurl = "
        << (pg ? pg->url() : "r.sqlite") << "\n"
        << "[page]\nlisten = 127.0.0.1:" << port << "\n";
    const pid_t collector = ::fork();
    if (collector == 0) {
        const std::string config = (folder / "collector.ini").string();
        ::execl(COLLECTOR_EXE, COLLECTOR_EXE, config.c_str(), nullptr);
        ::_exit(127);
    }
    int probe = -1;
    for (int i = 0; i < 100 && (probe = Request(port, "/api/stations")) < 0; ++i)
        std::this_thread::sleep_for(100ms);
    if (probe < 0)
        return 1;
    ::close(probe);

    // ---- The export, as the page's link fetches it ----
    started = Clock::now();
    const int fd = Request(port, "/export.csv");
    std::vector<char> chunk(1 << 20);
    std::size_t bytes = 0, lines = 0, head = 0;
    std::string start;  // the response's head, to leave out of the count
    for (ssize_t n; (n = ::recv(fd, chunk.data(), chunk.size(), 0)) > 0;) {
        bytes += std::size_t(n);
        lines += std::size_t(std::count(chunk.begin(), chunk.begin() + n, '\n'));
        if (start.size() < 4096)
            start.append(chunk.data(), std::size_t(std::min<ssize_t>(n, 4096)));
    }
    ::close(fd);
    const double exportMs = Ms(Clock::now() - started);
    if (const auto end = start.find("\r\n\r\n"); end != std::string::npos) {
        head = std::size_t(std::count(start.begin(), start.begin() + long(end) + 4, '\n'));
        bytes -= end + 4;
    }
    std::printf(
        "CSV export of %ld readings: %.2f s (goal < 5 s), %.1f MB, %zu lines with its "
        "header\n",
        readings, exportMs / 1000, double(bytes) / 1e6, lines - head);

    // ---- 50 live pages ----
    const long before = ResidentKb(collector);
    std::vector<Page> pages(Pages);
    for (auto& page : pages) {
        page.fd = Request(port, "/events");
        page.arrived.assign(Published + 1, Clock::time_point());
    }
    const auto openBy = Clock::now() + 10s;
    while (Clock::now() < openBy &&
           !std::all_of(pages.begin(), pages.end(), [](const Page& p) { return p.open; }))
        for (auto& page : pages)
            Take(page, Clock::now());
    std::this_thread::sleep_for(500ms);
    const long withPages = ResidentKb(collector);

    // ---- Arrival: one reading every 20 ms, each timed to every page ----
    mosquitto_lib_init();
    mosquitto* mosq = mosquitto_new("bench-station", true, nullptr);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (mosquitto_connect(mosq, "127.0.0.1", broker.port(), 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(mosq) != MOSQ_ERR_SUCCESS)
        return 1;
    std::vector<Clock::time_point> published(Published + 1);
    std::vector<pollfd> fds;
    for (const auto& page : pages)
        fds.push_back({page.fd, POLLIN, 0});
    auto next = Clock::now();
    const auto end = Clock::now() + std::chrono::milliseconds(Published * 20) + 10s;
    for (int order = 1; Clock::now() < end;) {
        if (order <= Published && Clock::now() >= next) {
            const std::string message =
                "{\"station\":\"bench-live\",\"order\":" + std::to_string(order) + ",\"time\":\"" +
                IsoTime(NowMs()) +
                "\",\"code\":\"0A1B2C3D4E\",\"demo\":false,\"reader\":\"V1.2\",\"port\":\"COM1\"}";
            published[std::size_t(order)] = Clock::now();
            mosquitto_publish(mosq, nullptr, "bench/bench-live/reading", int(message.size()),
                              message.data(), 1, false);
            ++order;
            next += 20ms;
        }
        ::poll(fds.data(), fds.size(), 2);
        const auto now = Clock::now();
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents & POLLIN)
                Take(pages[i], now);
        if (order > Published && std::all_of(pages.begin(), pages.end(), [](const Page& p) {
                return p.arrived.back() != Clock::time_point();
            }))
            break;
    }
    std::vector<double> delays;
    std::size_t missing = 0;
    int slowest = 0;
    double slowestMs = -1;
    for (const auto& page : pages)
        for (int order = 1; order <= Published; ++order) {
            if (page.arrived[std::size_t(order)] == Clock::time_point())
                ++missing;
            else
                delays.push_back(
                    Ms(page.arrived[std::size_t(order)] - published[std::size_t(order)]));
            if (!delays.empty() && delays.back() > slowestMs)
                slowestMs = delays.back(), slowest = order;
        }
    std::sort(delays.begin(), delays.end());
    const long after = ResidentKb(collector);
    std::printf("the slowest was reading %d of %d\n", slowest, Published);
    if (!delays.empty())
        std::printf(
            "arrival on %d open pages, %d readings (one per 20 ms): %.1f ms median, "
            "%.1f ms at the 99th percentile, %.1f ms worst (goal < 1 s), %zu missing\n",
            Pages, Published, delays[delays.size() / 2], delays[delays.size() * 99 / 100],
            delays.back(), missing);
    std::printf(
        "collector's memory (RSS): %.1f MB without pages, %.1f MB with %d open live pages "
        "(%+.0f KB a page), %.1f MB after %d readings went to them\n",
        double(before) / 1024, double(withPages) / 1024, Pages, double(withPages - before) / Pages,
        double(after) / 1024, Published);

    mosquitto_disconnect(mosq);
    mosquitto_loop_stop(mosq, false);
    mosquitto_destroy(mosq);
    for (auto& page : pages)
        ::close(page.fd);
    ::kill(collector, SIGTERM);
    ::waitpid(collector, nullptr, 0);
    fs::remove_all(folder);
    return missing == 0 ? 0 : 1;
}
