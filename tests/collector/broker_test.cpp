// The collector as a process against Debian's mosquitto on a loopback port:
// a station's readings stored once each, a reading the store cannot keep
// left unacknowledged, so that the next run gets it from the broker, none
// lost when the collector is killed, and two collectors writing into one
// PostgreSQL store each reading once.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "LocalBroker.h"
#include "Message.h"
#include "PgServer.h"
#include "PgStore.h"
#include "SqliteStore.h"
#include "Station.h"
#include "fakes/TempDir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// chipreader-collector on a configuration in folder, its standard error in
// collector.log there; sizeLimit: a file-size limit for the process.
class CollectorProcess {
  public:
    CollectorProcess(const fs::path& folder, rlim_t sizeLimit = RLIM_INFINITY)
        : log_(folder / "collector.log") {
        const std::string config = (folder / "collector.ini").string(), log = log_.string();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 2);
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails, and says so
            const rlimit limit{sizeLimit, sizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::execl(COLLECTOR_PROGRAM, COLLECTOR_PROGRAM, config.c_str(), nullptr);
            ::_exit(127);
        }
    }
    ~CollectorProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status, after SIGTERM when stop; -1 when it did not end in 10 s.
    int end(bool stop) {
        if (stop)
            ::kill(pid_, SIGTERM);
        int status = 0;
        if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10s))
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string log() const {
        std::ifstream in(log_);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

  private:
    fs::path log_;
    pid_t pid_ = -1;
};

// A broker, and a store: r.sqlite in the site's folder, or the database of
// a PostgreSQL server.
struct Site : fakes::TempFolder {
    sim::LocalBroker broker;
    pgtest::PgServer* pg;
    explicit Site(pgtest::PgServer* postgres = nullptr) : pg(postgres) {
        EXPECT_TRUE(broker.start()) << broker.log();
        configure(path(), "test-collector");
    }
    // A collector's configuration in folder (made).
    void configure(const fs::path& folder, const std::string& clientId) const {
        fs::create_directories(folder);
        std::ofstream(folder / "collector.ini")
            << "[broker]\nurl = " << broker.url() << "\nclient_id = " << clientId
            << "\ntopic_prefix = test\n[store]\nurl = " << (pg ? pg->url() : "r.sqlite")
            << "\n[page]\nlisten = 127.0.0.1:" << sim::FreeLoopbackPort() << "\n";
    }
    std::unique_ptr<collect::Store> store() const {
        if (pg)
            return std::make_unique<collect::PgStore>(pg->url());
        return std::make_unique<collect::SqliteStore>((path() / "r.sqlite").string());
    }
    std::vector<collect::Reading> readings() const { return store()->readings(); }
    bool stateIs(const std::string& station, const std::string& state) const {
        for (const auto& s : store()->states())
            if (s.station == station && s.state == state)
                return true;
        return false;
    }
    // mosquitto_pub, MQTT 5, QoS 1: the message in a file.
    bool publish(const std::string& topic, const std::string& message, bool retain = false) {
        const fs::path file = path() / "message";
        std::ofstream(file, std::ios::binary) << message;
        const std::string command = "mosquitto_pub -V 5 -q 1 -h 127.0.0.1 -p " +
                                    std::to_string(broker.port()) + " -t " + topic + " -f " +
                                    file.string() + (retain ? " -r" : "");
        return std::system(command.c_str()) == 0;
    }
    // Readings 1 to n of station, each its own message, from one
    // mosquitto_pub: its process, for Succeeded.
    pid_t startPublishing(const std::string& station, std::uint32_t n);
};

site::PublishedReading ReadingNumber(std::uint32_t order, std::string code = "0A1B2C3D4E") {
    site::PublishedReading r;
    r.order = order;
    r.at = {2026, 12, 9, 10 + int(order / 3600), int(order / 60 % 60), int(order % 60), 250, 60};
    r.code = std::move(code);
    r.reader = "V1.2";
    r.port = "COM1";
    return r;
}

pid_t Site::startPublishing(const std::string& station, std::uint32_t n) {
    const fs::path file = path() / "messages";
    {
        std::ofstream out(file, std::ios::binary);
        for (std::uint32_t order = 1; order <= n; ++order)
            out << site::ReadingMessage(station, ReadingNumber(order)) << "\n";
    }
    const std::string command = "mosquitto_pub -V 5 -q 1 -h 127.0.0.1 -p " +
                                std::to_string(broker.port()) + " -t test/" + station +
                                "/reading -l < " + file.string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        ::_exit(127);
    }
    return pid;
}

// Waits for the process to end: whether it ended with 0.
bool Succeeded(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Orders 1 to n of one station, each once.
void ExpectEachOnce(const std::vector<collect::Reading>& rows, std::int64_t n) {
    ASSERT_EQ(rows.size(), std::size_t(n));
    for (std::int64_t order = 1; order <= n; ++order)
        EXPECT_EQ(rows[std::size_t(order - 1)].order, order);
}

TEST(CollectorBroker, AStationsReadingsAreStoredOnceEach) {
    Site site;
    site::SiteConfig config;
    config.host = "127.0.0.1";
    config.port = site.broker.port();
    config.station = "desk-1";
    config.prefix = "test";
    site::Station station(config, site.path() / "outbox.txt", [](const std::string&) {});
    CollectorProcess collector(site.path());
    // Subscribed once the station's (retained) state is in.
    ASSERT_TRUE(WaitUntil([&] { return site.stateIs("desk-1", "online"); }, 10s))
        << collector.log();
    for (std::uint32_t order = 1; order <= 3; ++order)
        station.recorded(ReadingNumber(order));
    // A repeat of the first (as after a station's crash), then one more
    // after it: once that is in, the repeat has been handled.
    ASSERT_TRUE(
        site.publish("test/desk-1/reading", site::ReadingMessage("desk-1", ReadingNumber(1))));
    ASSERT_TRUE(
        site.publish("test/desk-2/reading", site::ReadingMessage("desk-2", ReadingNumber(1))));
    ASSERT_TRUE(WaitUntil([&] { return site.readings().size() >= 4; }, 10s)) << collector.log();
    EXPECT_EQ(collector.end(true), 0) << collector.log();

    const auto rows = site.readings();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].station + "/" + std::to_string(rows[0].order), "desk-1/1");
    EXPECT_EQ(rows[0].time, "2026-12-09T10:00:01.250+01:00");
    EXPECT_EQ(rows[0].code, "0A1B2C3D4E");
    EXPECT_EQ(rows[0].reader, "V1.2");
    EXPECT_EQ(rows[0].port, "COM1");
    EXPECT_EQ(rows[1].station + "/" + std::to_string(rows[1].order), "desk-2/1");
    EXPECT_EQ(rows[3].station + "/" + std::to_string(rows[3].order), "desk-1/3");
}

TEST(CollectorBroker, AReadingTheStoreCannotKeepIsNotAcknowledgedAndComesAgain) {
    Site site;
    ASSERT_TRUE(site.publish("test/s/state", "online", true));
    const std::string big(100 * 1024, 'C');
    {
        // 96 KiB per file: the store opens and takes a small reading, not a
        // reading of 100 KiB.
        CollectorProcess collector(site.path(), 96 * 1024);
        ASSERT_TRUE(WaitUntil([&] { return site.stateIs("s", "online"); }, 10s)) << collector.log();
        ASSERT_TRUE(site.publish("test/s/reading", site::ReadingMessage("s", ReadingNumber(1))));
        ASSERT_TRUE(WaitUntil([&] { return site.readings().size() == 1; }, 10s)) << collector.log();
        ASSERT_TRUE(
            site.publish("test/s/reading", site::ReadingMessage("s", ReadingNumber(2, big))));
        EXPECT_EQ(collector.end(false), 3) << collector.log();
        EXPECT_NE(collector.log().find("ending, the message unacknowledged"), std::string::npos)
            << collector.log();
    }
    EXPECT_EQ(site.readings().size(), 1u);
    // The next run, without the limit, gets it from the broker.
    CollectorProcess collector(site.path());
    ASSERT_TRUE(WaitUntil([&] { return site.readings().size() == 2; }, 10s)) << collector.log();
    EXPECT_EQ(site.readings()[1].code, big);
    EXPECT_EQ(collector.end(true), 0) << collector.log();
}

// A site on the store the parameter names.
class CollectorOn : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "postgresql") {
            pg = std::make_unique<pgtest::PgServer>();
            ASSERT_EQ(pg->error(), "");
        }
        site = std::make_unique<Site>(pg.get());
    }
    std::unique_ptr<pgtest::PgServer> pg;
    std::unique_ptr<Site> site;
};

class CollectorOnPostgresql : public CollectorOn {};

INSTANTIATE_TEST_SUITE_P(, CollectorOn, testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(, CollectorOnPostgresql, testing::Values("postgresql"),
                         [](const auto& info) { return info.param; });

TEST_P(CollectorOn, KilledWithReadingsInFlightThenStartedAgainLosesNone) {
    constexpr std::uint32_t n = 5000;
    ASSERT_TRUE(site->publish("test/s/state", "online", true));
    pid_t publisher = -1;
    {
        CollectorProcess collector(site->path());
        ASSERT_TRUE(WaitUntil([&] { return site->stateIs("s", "online"); }, 10s))
            << collector.log();
        // Killed (SIGKILL, at the end of the block) as soon as it has stored
        // one, most of them still to come.
        publisher = site->startPublishing("s", n);
        ASSERT_TRUE(WaitUntil([&] { return !site->readings().empty(); }, 10s)) << collector.log();
    }
    ASSERT_TRUE(Succeeded(publisher));
    ASSERT_LT(site->readings().size(), n) << "all stored before the kill: none was in flight";
    CollectorProcess collector(site->path());
    ASSERT_TRUE(WaitUntil([&] { return site->readings().size() >= n; }, 30s)) << collector.log();
    EXPECT_EQ(collector.end(true), 0) << collector.log();
    ExpectEachOnce(site->readings(), n);
}

TEST_P(CollectorOnPostgresql, TwoCollectorsWritingIntoOneDatabaseKeepEachReadingOnce) {
    ASSERT_TRUE(site->publish("test/s/state", "online", true));
    // Each subscribed before the readings: the retained state stored by each in turn.
    CollectorProcess a(site->path());
    ASSERT_TRUE(WaitUntil([&] { return site->stateIs("s", "online"); }, 10s)) << a.log();
    pg->query("DELETE FROM stations");
    site->configure(site->path() / "b", "test-collector-b");
    CollectorProcess b(site->path() / "b");
    ASSERT_TRUE(WaitUntil([&] { return site->stateIs("s", "online"); }, 10s)) << b.log();

    constexpr std::uint32_t n = 400;
    ASSERT_TRUE(Succeeded(site->startPublishing("s", n)));
    // Both stored every reading: a row from the first, a conflict from the
    // second, each of them drawing a number.
    const auto drawn = [&] {
        return pg->query("SELECT last_value FROM readings_stored_id_seq")[0];
    };
    ASSERT_TRUE(WaitUntil([&] { return drawn() == std::to_string(2 * n); }, 30s))
        << a.log() << b.log() << drawn();
    EXPECT_EQ(a.end(true), 0) << a.log();
    EXPECT_EQ(b.end(true), 0) << b.log();
    ExpectEachOnce(site->readings(), n);
}

}  // namespace
