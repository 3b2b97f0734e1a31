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
// with a smaller number.
#pragma once
#include <functional>
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

    std::string url_;
    pg_conn* conn_ = nullptr;
    bool holding_ = false;    // begin() called
    bool open_ = false;       // and the transaction begun at the server
    std::vector<Held> held_;  // what it holds, for a new connection
};

}  // namespace collect
