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
CREATE INDEX IF NOT EXISTS readings_by_station ON readings(station, instant_ms);
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
    bool isNull(int i) { return sqlite3_column_type(st_, i) == SQLITE_NULL; }
    // The column into out, reusing its room (an export's rows, a million at a time).
    void text(int i, std::string& out) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, i));
        out.assign(p ? p : "", std::size_t(sqlite3_column_bytes(st_, i)));
    }
    void text(int i, std::optional<std::string>& out) {
        if (isNull(i))
            out.reset();
        else
            text(i, out.emplace());
    }
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

// The columns of a stored reading, in the order StoredAt reads them.
constexpr const char* StoredColumns =
    "id, station, ord, instant_ms, time, code, demo, reader, port, received_ms";

void ReadInto(Statement& s, StoredReading& out, int first = 0) {
    out.id = s.integer(first);
    Reading& r = out.reading;
    s.text(first + 1, r.station);
    r.order = s.integer(first + 2);
    r.instantMs = s.integer(first + 3);
    s.text(first + 4, r.time);
    s.text(first + 5, r.code);
    r.demo = s.integer(first + 6) != 0;
    s.text(first + 7, r.reader);
    s.text(first + 8, r.port);
    out.receivedMs = s.integer(first + 9);
}

StoredReading StoredAt(Statement& s, int first = 0) {
    StoredReading out;
    ReadInto(s, out, first);
    return out;
}

// The WHERE clause of a query, its values bound from ?1 to ?4.
std::string Where(const ReadingQuery& q) {
    std::string where = " WHERE 1";
    if (!q.code.empty())
        where += " AND instr(upper(code), upper(?1)) > 0";
    if (!q.station.empty())
        where += " AND station = ?2";
    if (q.fromMs)
        where += " AND instant_ms >= ?3";
    if (q.toMs)
        where += " AND instant_ms < ?4";
    return where;
}

void BindWhere(Statement& s, const ReadingQuery& q) {
    if (!q.code.empty())
        s.bind(1, std::string_view(q.code));
    if (!q.station.empty())
        s.bind(2, std::string_view(q.station));
    if (q.fromMs)
        s.bind(3, *q.fromMs);
    if (q.toMs)
        s.bind(4, *q.toMs);
}

std::string SearchSql(const ReadingQuery& q) {
    return std::string("SELECT ") + StoredColumns + " FROM readings" + Where(q) +
           " ORDER BY instant_ms DESC, id DESC" + (q.limit > 0 ? " LIMIT ?5" : "");
}

sqlite3* OpenReader(const std::string& path) {
    sqlite3* db = nullptr;
    // No mutex of SQLite's own: a read connection is used by one thread at a time.
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        const std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw StoreError(texts::StoreFailed(path + " (open)", why));
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 10000);
    return db;
}

// An export's rows: its own connection, so its read snapshot lasts as long
// as the export and holds up no one.
class SqliteCursor : public ReadingCursor {
  public:
    SqliteCursor(const std::string& path, const ReadingQuery& q)
        : path_(path), db_(OpenReader(path)) {
        try {
            st_ = std::make_unique<Statement>(db_, SearchSql(q).c_str(), path_);
            BindWhere(*st_, q);
            if (q.limit > 0)
                st_->bind(5, q.limit);
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
    }
    ~SqliteCursor() override {
        st_.reset();
        sqlite3_close(db_);
    }
    SqliteCursor(const SqliteCursor&) = delete;
    SqliteCursor& operator=(const SqliteCursor&) = delete;

    bool next(StoredReading& out) override {
        if (done_ || !st_->row())
            return done_ = true, false;
        ReadInto(*st_, out);
        return true;
    }

  private:
    std::string path_;
    sqlite3* db_;
    std::unique_ptr<Statement> st_;
    bool done_ = false;
};

}  // namespace

// A read connection from the pool for one call, given back after it.
class SqliteStore::Lease {
  public:
    explicit Lease(SqliteStore& store) : store_(store) {
        {
            std::lock_guard lock(store.poolMutex_);
            if (!store.idleReaders_.empty()) {
                db_ = store.idleReaders_.back();
                store.idleReaders_.pop_back();
            }
        }
        if (!db_)
            db_ = OpenReader(store.path_);
    }
    ~Lease() {
        std::lock_guard lock(store_.poolMutex_);
        store_.idleReaders_.push_back(db_);
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Statement statement(const std::string& sql) {
        return Statement(db_, sql.c_str(), store_.path_);
    }

  private:
    SqliteStore& store_;
    sqlite3* db_ = nullptr;
};

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
    for (sqlite3* reader : idleReaders_)
        sqlite3_close(reader);
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
    std::lock_guard lock(writeMutex_);
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
    std::lock_guard lock(writeMutex_);
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
    std::lock_guard lock(writeMutex_);
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
    std::lock_guard lock(writeMutex_);
    std::vector<StationState> out;
    Statement& s = st_->states;
    while (s.row())
        out.push_back({*s.text(0), *s.text(1), s.integer(2)});
    return out;
}

std::int64_t SqliteStore::lastId() {
    Lease lease(*this);
    Statement s = lease.statement("SELECT coalesce(max(id), 0) FROM readings");
    std::int64_t id = 0;
    while (s.row())
        id = s.integer(0);
    return id;
}

std::vector<StoredReading> SqliteStore::readingsAfter(std::int64_t afterId, std::int64_t limit) {
    Lease lease(*this);
    Statement s = lease.statement(std::string("SELECT ") + StoredColumns +
                                  " FROM readings WHERE id > ?1 ORDER BY id LIMIT ?2");
    s.bind(1, afterId).bind(2, limit);
    std::vector<StoredReading> out;
    while (s.row())
        out.push_back(StoredAt(s));
    return out;
}

std::vector<StoredReading> SqliteStore::search(const ReadingQuery& q) {
    Lease lease(*this);
    Statement s = lease.statement(SearchSql(q));
    BindWhere(s, q);
    if (q.limit > 0)
        s.bind(5, q.limit);
    std::vector<StoredReading> out;
    while (s.row())
        out.push_back(StoredAt(s));
    return out;
}

std::unique_ptr<ReadingCursor> SqliteStore::stream(const ReadingQuery& q) {
    return std::make_unique<SqliteCursor>(path_, q);
}

std::vector<HourCount> SqliteStore::hours(const ReadingQuery& q) {
    Lease lease(*this);
    Statement s = lease.statement(
        "SELECT station, instant_ms / 3600000 AS hour, count(*) "
        "FROM readings" +
        Where(q) + " GROUP BY station, hour ORDER BY station, hour");
    BindWhere(s, q);
    std::vector<HourCount> out;
    while (s.row())
        out.push_back({*s.text(0), s.integer(1) * 3600000, s.integer(2)});
    return out;
}

std::vector<StationSummary> SqliteStore::stations() {
    Lease lease(*this);
    // The stations with readings found by the index, one step per station
    // (not one per reading); then each one's state and last reading, all in
    // one statement and so from one snapshot.
    Statement s = lease.statement(R"(
WITH RECURSIVE named(n) AS (
  SELECT min(station) FROM readings
  UNION ALL SELECT (SELECT min(station) FROM readings WHERE station > n) FROM named
  WHERE n IS NOT NULL),
every(n) AS (SELECT n FROM named WHERE n IS NOT NULL UNION SELECT station FROM stations)
SELECT every.n, s.state, s.since_ms, r.id, r.station, r.ord, r.instant_ms, r.time, r.code,
       r.demo, r.reader, r.port, r.received_ms
FROM every LEFT JOIN stations s ON s.station = every.n
LEFT JOIN readings r ON r.id = (SELECT id FROM readings WHERE station = every.n
                                ORDER BY instant_ms DESC, id DESC LIMIT 1)
ORDER BY every.n)");
    std::vector<StationSummary> out;
    while (s.row()) {
        StationSummary station{*s.text(0), s.text(1).value_or(""), s.integer(2), std::nullopt};
        if (!s.isNull(3))
            station.last = StoredAt(s, 3);
        out.push_back(std::move(station));
    }
    return out;
}

}  // namespace collect
