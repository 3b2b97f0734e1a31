// The collector's rate from the broker to the store, with Debian's mosquitto
// on the loopback address and each store: a SQLite file, and a throwaway
// PostgreSQL 15 on a unix socket (tests/collector/PgServer.h). The real
// program, each reading committed before its acknowledgement:
//   live:    N readings from four stations published with QoS 1 (four
//            mosquitto_pub at once) while it runs, timed from the first
//            publish to the last reading in the store;
//   backlog: N more queued at the broker while it is away, timed from its
//            start to the last in the store.
// BENCH_READINGS sets N (20,000). The folders are made in TMPDIR (/tmp): set
// it to put the stores on another disk.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "LocalBroker.h"
#include "Message.h"
#include "PgServer.h"
#include "ProcessStats.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int Stations = 4;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The count a query gives in a SQLite file; -1 when it cannot be read (yet).
long SqliteCount(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    long n = -1;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

// The reading of a station's order, its time a second per order.
std::string Message(const std::string& station, std::uint32_t order) {
    site::PublishedReading r;
    r.order = order;
    r.at = {2026, 12, 9, int(order / 3600 % 24), int(order / 60 % 60), int(order % 60), 250, 60};
    r.code = "0A1B2C3D4E5F";
    r.reader = "V1.2";
    r.port = "COM1";
    return site::ReadingMessage(station, r);
}

class Bench {
  public:
    Bench(sim::LocalBroker& broker, const fs::path& folder, const std::string& clientId,
          const std::string& store)
        : broker_(broker), folder_(folder) {
        std::ofstream(folder / "collector.ini")
            << "[broker]\nurl = " << broker.url() << "\nclient_id = " << clientId
            << "\ntopic_prefix = bench\n[store]\nurl = " << store << "\n";
    }
    ~Bench() { stop(); }

    void start() {
        const std::string config = (folder_ / "collector.ini").string(),
                          log = (folder_ / "collector.log").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(fd, 2);
            ::execl(COLLECTOR_PROGRAM, COLLECTOR_PROGRAM, config.c_str(), nullptr);
            ::_exit(127);
        }
    }
    // SIGTERM; whether it ended with 0.
    bool stop() {
        if (pid_ <= 0)
            return true;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    double cpu() const { return CpuSeconds(pid_); }

    // Orders from+1 .. from+n of each station, all at once; whether every
    // mosquitto_pub succeeded.
    bool publish(std::uint32_t from, std::uint32_t n) {
        std::vector<std::string> commands;
        for (int s = 1; s <= Stations; ++s) {
            const std::string station = "s" + std::to_string(s);
            const fs::path file = folder_ / (station + ".messages");
            std::ofstream out(file, std::ios::binary);
            for (std::uint32_t order = from + 1; order <= from + n; ++order)
                out << Message(station, order) << "\n";
            commands.push_back("mosquitto_pub -V 5 -q 1 -h 127.0.0.1 -p " +
                               std::to_string(broker_.port()) + " -t bench/" + station +
                               "/reading -l < " + file.string());
        }
        std::vector<int> results(commands.size());
        {
            std::vector<std::jthread> publishers;
            for (std::size_t i = 0; i < commands.size(); ++i)
                publishers.emplace_back([&, i] { results[i] = std::system(commands[i].c_str()); });
        }
        for (const int rc : results)
            if (rc != 0)
                return false;
        return true;
    }
    std::string log() const {
        std::ifstream in(folder_ / "collector.log");
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

  private:
    sim::LocalBroker& broker_;
    fs::path folder_;
    pid_t pid_ = -1;
};

// Both runs on one store; count(sql) the rows of a table, -1 when there is none yet.
bool Measure(const char* name, sim::LocalBroker& broker, const fs::path& folder,
             const std::string& clientId, const std::string& store,
             const std::function<long(const char*)>& count, std::uint32_t perStation) {
    const long total = long(perStation) * Stations;
    Bench bench(broker, folder, clientId, store);
    bench.start();
    // Subscribed once the retained state is in.
    if (!WaitUntil([&] { return count("SELECT count(*) FROM stations") == 1; }, 20s)) {
        std::printf("collector_store: %s: the collector did not subscribe:\n%s", name,
                    bench.log().c_str());
        return false;
    }
    const auto start = Clock::now();
    const double cpuBefore = bench.cpu();
    if (!bench.publish(0, perStation))
        return false;
    const auto published = Clock::now();
    if (!WaitUntil([&] { return count("SELECT count(*) FROM readings") >= total; }, 600s)) {
        std::printf("collector_store: %s: not all stored:\n%s", name, bench.log().c_str());
        return false;
    }
    const auto stored = Clock::now();
    const double cpu = bench.cpu() - cpuBefore;
    std::printf(
        "collector_store: %s, live: %ld readings published with QoS 1 in %.2f s, all in the "
        "store after %.2f s: %.0f readings a second (collector CPU %.2f s, %.0f us a reading)\n",
        name, total, Seconds(published - start), Seconds(stored - start),
        double(total) / Seconds(stored - start), cpu, cpu / double(total) * 1e6);
    if (!bench.stop())
        return false;

    if (!bench.publish(perStation, perStation))
        return false;
    const auto restart = Clock::now();
    bench.start();
    if (!WaitUntil([&] { return count("SELECT count(*) FROM readings") >= 2 * total; }, 600s)) {
        std::printf("collector_store: %s: not all of the backlog stored:\n%s", name,
                    bench.log().c_str());
        return false;
    }
    const auto drained = Clock::now();
    std::printf(
        "collector_store: %s, backlog: %ld readings queued at the broker while the collector "
        "was away, all in the store %.2f s after its start: %.0f readings a second\n",
        name, total, Seconds(drained - restart), double(total) / Seconds(drained - restart));
    const long rows = count("SELECT count(*) FROM readings");
    if (rows != 2 * total)
        std::printf("collector_store: %s: %ld rows, not %ld\n", name, rows, 2 * total);
    return bench.stop() && rows == 2 * total;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* n = std::getenv("BENCH_READINGS");
    const std::uint32_t perStation = std::uint32_t((n ? std::atol(n) : 20000) / Stations);
    sim::LocalBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "collector_store: mosquitto did not start:\n%s", broker.log().c_str());
        return 1;
    }
    const std::string state = "mosquitto_pub -V 5 -q 1 -r -h 127.0.0.1 -p " +
                              std::to_string(broker.port()) + " -t bench/s1/state -m online";
    if (std::system(state.c_str()) != 0)
        return 1;
    int failures = 0;
    {
        fakes::TempFolder folder;
        const std::string file = (folder.path() / "r.sqlite").string();
        failures += !Measure(
            "SQLite (WAL, synchronous=FULL)", broker, folder.path(), "bench-sqlite", "r.sqlite",
            [&](const char* sql) { return SqliteCount(file, sql); }, perStation);
    }
    {
        pgtest::PgServer pg;
        if (!pg.error().empty()) {
            std::printf("collector_store: no PostgreSQL: %s\n", pg.error().c_str());
            return 1;
        }
        fakes::TempFolder folder;
        failures += !Measure(
            "PostgreSQL 15 (unix socket, synchronous_commit on)", broker, folder.path(),
            "bench-postgresql", pg.url(),
            [&](const char* sql) {
                const auto rows = pg.query(sql);
                return rows.size() == 1 && rows[0].rfind("error", 0) != 0 ? std::stol(rows[0])
                                                                          : -1L;
            },
            perStation);
    }
    return failures == 0 ? 0 : 1;
}
