// The store in a SQLite file: write-ahead log, every commit synced before it
// returns, waits of up to 10 s for another writer. The writes go through one
// connection behind a lock; the page's reads through connections of their
// own, one per reading thread at a time (a small pool), so that a read never
// holds up a commit (WAL: readers and the writer do not wait for each other).
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Store.h"

struct sqlite3;

namespace collect {

class SqliteStore : public Store {
  public:
    // Opens or makes the file and its tables; StoreError when it cannot.
    explicit SqliteStore(const std::string& path);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    bool add(const Reading& reading, std::int64_t receivedMs) override;
    void setState(std::string_view station, std::string_view state, std::int64_t atMs) override;
    std::vector<Reading> readings() override;
    std::vector<StationState> states() override;
    void begin() override;
    void commit() override;

    std::int64_t lastId() override;
    std::vector<StoredReading> readingsAfter(std::int64_t afterId, std::int64_t limit) override;
    std::vector<StoredReading> search(const ReadingQuery& query) override;
    std::unique_ptr<ReadingCursor> stream(const ReadingQuery& query) override;
    std::vector<HourCount> hours(const ReadingQuery& query) override;
    std::vector<StationSummary> stations() override;

  private:
    // A write, in the open transaction when begin() was called.
    template <typename Write>
    auto write(Write statement);
    void exec(const char* sql, const char* what);

    struct Statements;
    class Lease;
    bool holding_ = false, open_ = false;
    sqlite3* db_ = nullptr;
    std::string path_;
    std::unique_ptr<Statements> st_;
    std::mutex writeMutex_;
    std::mutex poolMutex_;
    std::vector<sqlite3*> idleReaders_;
};

}  // namespace collect
