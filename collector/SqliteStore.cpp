// The SQLite store. Each add is its own transaction, committed (and, with
// synchronous=FULL, synced) before it returns, or part of the one that
// begin() opens and commit() commits: the collector acknowledges a reading
// to the broker only after that.
#include "SqliteStore.h"

#include <sqlite3.h>

#include "CollectorTexts.h"

namespace collect {

namespace {

constexpr const char* Schema = R"(
CREATE TABLE IF NOT EXISTS readings(
  id INTEGER PRIMARY KEY,
  station TEXT NOT NULL,
  ord INTEGER NOT NULL,
  instant_ms INTEGER NOT NULL,
  time TEXT NOT NULL,
  code TEXT NOT NULL,
  demo INTEGER NOT NULL,
  reader TEXT,
  port TEXT,
  received_ms INTEGER NOT NULL,
  UNIQUE(station, ord, instant_ms));
CREATE INDEX IF NOT EXISTS readings_by_instant ON readings(instant_ms);
CREATE TABLE IF NOT EXISTS stations(
  station TEXT PRIMARY KEY,
  state TEXT NOT NULL,
  since_ms INTEGER NOT NULL);
)";

class Statement {
  public:
    Statement(sqlite3* db, const char* sql, const std::string& path) : db_(db), path_(path) {
        if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
            fail("prepare");
    }
    ~Statement() { sqlite3_finalize(st_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, std::string_view text) {
        check(sqlite3_bind_text(st_, i, text.data(), int(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bindOrNull(int i, const std::optional<std::string>& text) {
        if (text)
            return bind(i, std::string_view(*text));
        check(sqlite3_bind_null(st_, i));
        return *this;
    }
    Statement& bind(int i, std::int64_t n) {
        check(sqlite3_bind_int64(st_, i, n));
        return *this;
    }
    // Runs a statement without rows to its end.
    void run() {
        const int rc = sqlite3_step(st_);
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
        if (rc != SQLITE_DONE)
            fail("write", rc);
    }
    // The next row: false at the end (and the statement reset).
    bool row() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW)
            return true;
        sqlite3_reset(st_);
        if (rc != SQLITE_DONE)
            fail("read", rc);
        return false;
    }
    std::int64_t integer(int i) { return sqlite3_column_int64(st_, i); }
    std::optional<std::string> text(int i) {
        const auto* p = sqlite3_column_text(st_, i);
        if (!p)
            return std::nullopt;
        return std::string(reinterpret_cast<const char*>(p),
                           std::size_t(sqlite3_column_bytes(st_, i)));
    }

  private:
    void check(int rc) {
        if (rc != SQLITE_OK)
            fail("bind", rc);
    }
    [[noreturn]] void fail(const char* what, int rc = SQLITE_ERROR) {
        throw StoreError(
            texts::StoreFailed(path_ + " (" + what + ")",
                               std::string(sqlite3_errstr(rc)) + ": " + sqlite3_errmsg(db_)));
    }
    sqlite3* db_;
    const std::string& path_;
    sqlite3_stmt* st_ = nullptr;
};

}  // namespace

struct SqliteStore::Statements {
    Statements(sqlite3* db, const std::string& path)
        : add(db,
              "INSERT INTO readings(station, ord, instant_ms, time, code, demo, reader, port, "
              "received_ms) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT DO NOTHING",
              path),
          state(db,
                "INSERT INTO stations(station, state, since_ms) VALUES(?1, ?2, ?3) "
                "ON CONFLICT(station) DO UPDATE SET state = ?2, since_ms = ?3",
                path),
          readings(db,
                   "SELECT station, ord, instant_ms, time, code, demo, reader, port FROM readings "
                   "ORDER BY instant_ms, station, ord",
                   path),
          states(db, "SELECT station, state, since_ms FROM stations ORDER BY station", path) {}
    Statement add, state, readings, states;
};

SqliteStore::SqliteStore(const std::string& path) : path_(path) {
    const auto fail = [&](const char* what) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(texts::StoreFailed(path_ + " (" + what + ")", why));
    };
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        fail("open");
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 10000);
    // WAL: the page reads while the collector writes. FULL: a commit is on
    // the disk when it returns, before the broker is told.
    char* error = nullptr;
    for (const char* sql : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", Schema}) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            sqlite3_free(error);
            fail("setup");
        }
    }
    try {
        st_ = std::make_unique<Statements>(db_, path_);
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

SqliteStore::~SqliteStore() {
    st_.reset();
    sqlite3_close(db_);
}

void SqliteStore::exec(const char* sql, const char* what) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw StoreError(texts::StoreFailed(path_ + " (" + what + ")", why));
    }
}

template <typename Write>
auto SqliteStore::write(Write statement) {
    try {
        if (holding_ && !open_) {
            exec("BEGIN IMMEDIATE", "begin");
            open_ = true;
        }
        return statement();
    } catch (const StoreError&) {
        if (open_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        holding_ = open_ = false;
        throw;
    }
}

void SqliteStore::begin() {
    holding_ = true;
}

void SqliteStore::commit() {
    holding_ = false;
    if (!open_)
        return;
    open_ = false;
    try {
        exec("COMMIT", "commit");
    } catch (const StoreError&) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool SqliteStore::add(const Reading& r, std::int64_t receivedMs) {
    return write([&] {
        st_->add.bind(1, r.station)
            .bind(2, r.order)
            .bind(3, r.instantMs)
            .bind(4, r.time)
            .bind(5, r.code)
            .bind(6, std::int64_t(r.demo))
            .bindOrNull(7, r.reader)
            .bindOrNull(8, r.port)
            .bind(9, receivedMs)
            .run();
        return sqlite3_changes(db_) == 1;
    });
}

void SqliteStore::setState(std::string_view station, std::string_view state, std::int64_t atMs) {
    write([&] { st_->state.bind(1, station).bind(2, state).bind(3, atMs).run(); });
}

std::vector<Reading> SqliteStore::readings() {
    std::vector<Reading> out;
    Statement& s = st_->readings;
    while (s.row()) {
        Reading r;
        r.station = *s.text(0);
        r.order = s.integer(1);
        r.instantMs = s.integer(2);
        r.time = *s.text(3);
        r.code = *s.text(4);
        r.demo = s.integer(5) != 0;
        r.reader = s.text(6);
        r.port = s.text(7);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<StationState> SqliteStore::states() {
    std::vector<StationState> out;
    Statement& s = st_->states;
    while (s.row())
        out.push_back({*s.text(0), *s.text(1), s.integer(2)});
    return out;
}

}  // namespace collect
