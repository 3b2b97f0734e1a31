// The store in a PostgreSQL database (15), named by a libpq connection URL
// that is passed to libpq as it is: several hosts with
// target_session_attrs=read-write follow a standby that takes over.
//
// Each add is a statement of its own, committed before it returns, or part
// of the transaction that begin() opens. A lost connection is made again
// once and the statement run again, after the transaction's earlier ones
// (the key makes that safe when the first run was committed after all);
// when that fails too, StoreError.
//
// readings.stored_id numbers the readings in the order in which they became
// visible, across every collector writing into the database: the inserts
// take a transaction-scoped advisory lock before the number is drawn, so a
// reader that follows stored_id never passes over a row committed later
// with a smaller number. It is the read side's id.
//
// The read side (the page's threads) runs on connections of its own, a
// small pool beside the writer's, each used by one thread at a time; an
// export holds one for itself, reading through a server-side cursor a batch
// at a time.
#pragma once
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Store.h"

struct pg_conn;
struct pg_result;

namespace collect {

class PgStore : public Store {
  public:
    // Connects, and makes the tables when they are missing (two collectors
    // starting at once make them once); StoreError when it cannot.
    explicit PgStore(const std::string& url);
    ~PgStore() override;
    PgStore(const PgStore&) = delete;
    PgStore& operator=(const PgStore&) = delete;

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

    class Result;
    // A prepared statement and its parameters (nothing for NULL).
    struct Held {
        const char* statement;
        std::vector<std::optional<std::string>> values;
    };

  private:
    void connect();
    pg_result* execute(const Held& statement);
    Result run(Held statement);
    // exec's result, exec run again once on a new connection when it was lost.
    Result attempt(const char* what, const std::function<pg_result*()>& exec);
    [[noreturn]] void fail(const char* what, const std::string& why);
    // A read on a connection of the pool, run again once on a new
    // connection when that one was lost.
    Result read(const char* statement, const std::vector<std::optional<std::string>>& values);

    std::string url_;
    pg_conn* conn_ = nullptr;
    bool holding_ = false;    // begin() called
    bool open_ = false;       // and the transaction begun at the server
    std::vector<Held> held_;  // what it holds, for a new connection
    std::mutex poolMutex_;
    std::vector<pg_conn*> idleReaders_;
};

}  // namespace collect
