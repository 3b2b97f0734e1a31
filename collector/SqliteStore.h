// The store in a SQLite file: write-ahead log, every commit synced before it
// returns, waits of up to 10 s for another writer.
#pragma once
#include <memory>
#include <string>

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

  private:
    // A write, in the open transaction when begin() was called.
    template <typename Write>
    auto write(Write statement);
    void exec(const char* sql, const char* what);

    struct Statements;
    bool holding_ = false, open_ = false;
    sqlite3* db_ = nullptr;
    std::string path_;
    std::unique_ptr<Statements> st_;
};

}  // namespace collect
