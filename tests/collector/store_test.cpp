// The SQLite store on real files: each reading once by (station, order,
// instant), the states, and a store that fails says so.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "SqliteStore.h"
#include "fakes/TempDir.h"

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

TEST(SqliteStore, EachReadingIsOneRowByStationOrderAndInstant) {
    fakes::TempFolder folder;
    const std::string file = (folder.path() / "readings.sqlite").string();
    {
        collect::SqliteStore store(file);
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
            EXPECT_EQ(store.add(c.reading, 0), c.added) << c.reading.time;
        store.setState("desk-1", "online", 10);
        store.setState("desk-2", "online", 11);
        store.setState("desk-1", "offline", 12);
    }
    // Kept in the file: opened again, the first text of each instant.
    collect::SqliteStore again(file);
    const auto rows = again.readings();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].station, "desk-1");
    EXPECT_EQ(rows[0].time, "2026-12-09T14:03:05.120+01:00");
    EXPECT_EQ(rows[0].code, "0A1B");
    EXPECT_EQ(rows[0].reader, "V1.2");
    EXPECT_FALSE(rows[0].port);
    EXPECT_EQ(rows[1].station, "desk-2");
    EXPECT_EQ(rows[2].time, "2026-12-09T14:03:05.121+01:00");
    EXPECT_EQ(rows[4].time, "2026-12-09T15:00:00.000+01:00");
    const auto states = again.states();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].station + states[0].state + std::to_string(states[0].sinceMs),
              "desk-1offline12");
    EXPECT_EQ(states[1].station + states[1].state, "desk-2online");
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

}  // namespace
