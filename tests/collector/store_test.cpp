// The stores, SQLite on real files and PostgreSQL on a throwaway server:
// each reading once by (station, order, instant), the states, and a store
// that fails says so.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "StoreKinds.h"

namespace {

collect::Reading At(const char* station, std::int64_t order, const char* time,
                    const char* code = "0A1B") {
    collect::Reading r;
    r.station = station;
    r.order = order;
    r.time = time;
    r.instantMs = *collect::InstantOf(time);
    r.code = code;
    r.reader = "V1.2";
    return r;
}

using Stores = StoreKinds;
STORE_KINDS(Stores);

TEST_P(Stores, EachReadingIsOneRowByStationOrderAndInstant) {
    {
        const auto store = open();
        const struct {
            collect::Reading reading;
            bool added;
        } cases[] = {
            {At("desk-1", 1, "2026-12-09T14:03:05.120+01:00"), true},
            {At("desk-1", 1, "2026-12-09T14:03:05.120+01:00"), false},      // a repeat
            {At("desk-1", 1, "2026-12-09T13:03:05.120Z", "other"), false},  // the same instant
            {At("desk-1", 1, "2026-12-09T18:33:05.120+05:30"), false},
            {At("desk-2", 1, "2026-12-09T14:03:05.120+01:00"), true},  // another station
            {At("desk-1", 2, "2026-12-09T14:03:06.000+01:00"), true},
            {At("desk-1", 1, "2026-12-09T15:00:00.000+01:00"), true},  // order started again
            {At("desk-1", 1, "2026-12-09T14:03:05.121+01:00"), true},  // a millisecond apart
        };
        for (const auto& c : cases)
            EXPECT_EQ(store->add(c.reading, 0), c.added) << c.reading.time;
        store->setState("desk-1", "online", 10);
        store->setState("desk-2", "online", 11);
        store->setState("desk-1", "offline", 12);
    }
    // Kept: opened again, the first text of each instant.
    const auto again = open();
    const auto rows = again->readings();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].station, "desk-1");
    EXPECT_EQ(rows[0].time, "2026-12-09T14:03:05.120+01:00");
    EXPECT_EQ(rows[0].code, "0A1B");
    EXPECT_EQ(rows[0].reader, "V1.2");
    EXPECT_FALSE(rows[0].port);
    EXPECT_EQ(rows[1].station, "desk-2");
    EXPECT_EQ(rows[2].time, "2026-12-09T14:03:05.121+01:00");
    EXPECT_EQ(rows[4].time, "2026-12-09T15:00:00.000+01:00");
    const auto states = again->states();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].station + states[0].state + std::to_string(states[0].sinceMs),
              "desk-1offline12");
    EXPECT_EQ(states[1].station + states[1].state, "desk-2online");
    // In a transaction: seen elsewhere once committed, all of it.
    const auto store = open();
    store->begin();
    EXPECT_TRUE(store->add(At("desk-3", 1, "2026-12-09T14:03:07.000+01:00"), 0));
    EXPECT_FALSE(store->add(At("desk-3", 1, "2026-12-09T14:03:07.000+01:00"), 0));
    store->setState("desk-3", "online", 13);
    EXPECT_EQ(again->readings().size(), 5u);
    store->commit();
    EXPECT_EQ(again->readings().size(), 6u);
    EXPECT_EQ(again->states().size(), 3u);
    if (pg) {  // numbered in the order of storing
        EXPECT_EQ(
            pg->query("SELECT station || ord || time FROM readings ORDER BY stored_id"),
            (std::vector<std::string>{
                "desk-112026-12-09T14:03:05.120+01:00", "desk-212026-12-09T14:03:05.120+01:00",
                "desk-122026-12-09T14:03:06.000+01:00", "desk-112026-12-09T15:00:00.000+01:00",
                "desk-112026-12-09T14:03:05.121+01:00", "desk-312026-12-09T14:03:07.000+01:00"}));
    }
}

TEST(SqliteStore, AStoreThatCannotWriteSaysSoAndKeepsNothingOfIt) {
    fakes::TempFolder folder;
    EXPECT_THROW(collect::SqliteStore((folder.path() / "no" / "r.sqlite").string()),
                 collect::StoreError);

    const std::string file = (folder.path() / "readings.sqlite").string();
    collect::SqliteStore store(file);
    ASSERT_TRUE(store.add(At("d", 0, "2026-12-09T14:03:05.120+01:00"), 0));
    // A file-size limit (which binds root too) below what the next writes
    // need: the write-ahead log cannot grow.
    const auto walSize = std::filesystem::file_size(file + "-wal");
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit low = old;
    low.rlim_cur = walSize;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    std::string error;
    for (int order = 1; order < 200 && error.empty(); ++order) {
        try {
            store.add(
                At("d", order, "2026-12-09T14:03:05.120+01:00", std::string(500, 'x').c_str()), 0);
        } catch (const collect::StoreError& e) {
            error = e.what();
        }
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_NE(error.find("the store " + file + " (write) failed: "), std::string::npos) << error;
    EXPECT_EQ(store.readings().size(), 1u);
}

TEST(PgStore, ALostConnectionIsMadeAgainOnceAndAServerGoneIsAStoreError) {
    pgtest::PgServer pg;
    ASSERT_EQ(pg.error(), "");
    const auto errorOf = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (const collect::StoreError& e) {
            return e.what();
        }
        return {};
    };
    // Collectors starting at once on an empty database make the tables once.
    std::vector<std::string> errors(6);
    {
        std::vector<std::jthread> starting;
        for (auto& e : errors)
            starting.emplace_back([&] { e = errorOf([&] { collect::PgStore(pg.url()); }); });
    }
    EXPECT_EQ(errors, std::vector<std::string>(6));

    collect::PgStore store(pg.url());
    const auto reading = [](int order) { return At("d", order, "2026-12-09T14:03:05.120+01:00"); };
    const auto restart = [&] {
        pg.stop();  // its sessions ended: the next statement finds the connection lost
        return pg.start();
    };
    ASSERT_TRUE(store.add(reading(1), 0));
    ASSERT_TRUE(restart()) << pg.error();
    EXPECT_TRUE(store.add(reading(2), 0));
    pg.stop();
    const std::string error = errorOf([&] { store.add(reading(3), 0); });
    EXPECT_EQ(error.rfind("the store postgresql database postgres on ", 0), 0u) << error;
    EXPECT_NE(error.find("(connect again) failed: "), std::string::npos) << error;
    // Back, the store goes on; of the failed reading nothing is kept.
    ASSERT_TRUE(pg.start()) << pg.error();
    EXPECT_EQ(store.readings().size(), 2u);
    // A transaction whose connection is lost is begun again with what it held;
    // one that cannot be committed keeps nothing.
    store.begin();
    ASSERT_TRUE(store.add(reading(3), 0));
    ASSERT_TRUE(restart()) << pg.error();
    EXPECT_TRUE(store.add(reading(4), 0));
    store.commit();
    store.begin();
    ASSERT_TRUE(store.add(reading(5), 0));
    pg.stop();
    EXPECT_NE(errorOf([&] { store.commit(); }), "");
    ASSERT_TRUE(pg.start()) << pg.error();
    EXPECT_EQ(store.readings().size(), 4u);
    EXPECT_NE(errorOf([&] { collect::PgStore(pg.url("none")); }), "");
    // Several hosts, the first not there: libpq goes on to the next.
    EXPECT_EQ(collect::PgStore("postgresql://postgres@/postgres?host=/nonexistent," + pg.socket() +
                               "&target_session_attrs=read-write")
                  .readings()
                  .size(),
              4u);
}

}  // namespace
