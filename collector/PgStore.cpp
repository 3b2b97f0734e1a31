// The PostgreSQL store, on libpq: prepared statements, each its own
// transaction or part of the one begin() opens; the schema made under an
// advisory lock when it is missing; the page's reads on a pool of
// connections of their own.
#include "PgStore.h"

#include <libpq-fe.h>

#include <charconv>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CollectorTexts.h"

namespace collect {

namespace {

// The one lock of the collectors in a database ("CRDR"): held while the
// schema is made, and by each insert from before its stored_id is drawn to
// its commit.
#define COLLECTOR_LOCK "1129464914"

// What the store asks of the database, all of it here.
namespace sql {

// Whether there is anything to make: a user who may not create tables can
// still use tables made for it.
constexpr const char* Missing =
    "SELECT to_regclass('readings') IS NULL OR to_regclass('stations') IS NULL "
    "OR to_regclass('readings_by_station') IS NULL";

// One transaction, so that a second collector starting at once waits for
// the first and then finds everything made (CREATE ... IF NOT EXISTS alone
// races on the catalogue's unique keys).
constexpr const char* Schema =
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(" COLLECTOR_LOCK
    ");"
    R"(
CREATE TABLE IF NOT EXISTS readings(
  stored_id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  station TEXT NOT NULL,
  ord BIGINT NOT NULL,
  instant_ms BIGINT NOT NULL,
  time TEXT NOT NULL,
  code TEXT NOT NULL,
  demo BOOLEAN NOT NULL,
  reader TEXT,
  port TEXT,
  received_ms BIGINT NOT NULL,
  UNIQUE(station, ord, instant_ms));
CREATE INDEX IF NOT EXISTS readings_by_instant ON readings(instant_ms);
CREATE INDEX IF NOT EXISTS readings_by_station ON readings(station, instant_ms);
CREATE TABLE IF NOT EXISTS stations(
  station TEXT PRIMARY KEY,
  state TEXT NOT NULL,
  since_ms BIGINT NOT NULL);
COMMIT)";

struct Prepared {
    const char* name;
    const char* text;
};

// The lock is taken in a materialised CTE that the insert reads before it
// forms its row, and so before the identity's next value.
constexpr Prepared Add{
    "add",
    "WITH storing AS MATERIALIZED (SELECT pg_advisory_xact_lock(" COLLECTOR_LOCK
    "))"
    "INSERT INTO readings(station, ord, instant_ms, time, code, demo, reader, port, received_ms) "
    "SELECT $1::text, $2::bigint, $3::bigint, $4::text, $5::text, $6::boolean, $7::text, "
    "$8::text, $9::bigint FROM storing ON CONFLICT DO NOTHING"};
constexpr Prepared State{"state",
                         "INSERT INTO stations(station, state, since_ms) VALUES($1, $2, $3) "
                         "ON CONFLICT(station) DO UPDATE SET state = $2, since_ms = $3"};
constexpr Prepared Readings{
    "readings",
    "SELECT station, ord, instant_ms, time, code, demo, reader, port FROM readings "
    "ORDER BY instant_ms, station, ord"};
constexpr Prepared States{"states",
                          "SELECT station, state, since_ms FROM stations ORDER BY station"};

constexpr Prepared All[] = {Add, State, Readings, States};

// The read side, for the page: plain statements on the readers' connections.
// A search's values: $1 a part of the code, $2 the station, $3 and $4 the
// span of instants (from <= instant < to), each NULL for any; $5 the limit,
// NULL for none. upper() under "C" changes the ASCII letters only, as SQLite's.
#define STORED_COLUMNS \
    "stored_id, station, ord, instant_ms, time, code, demo, reader, port, received_ms"
#define MATCHING                                                             \
    " FROM readings WHERE ($1::text IS NULL OR "                             \
    "strpos(upper(code COLLATE \"C\"), upper($1::text COLLATE \"C\")) > 0) " \
    "AND ($2::text IS NULL OR station = $2::text) "                          \
    "AND ($3::bigint IS NULL OR instant_ms >= $3::bigint) "                  \
    "AND ($4::bigint IS NULL OR instant_ms < $4::bigint)"

constexpr const char* LastId = "SELECT coalesce(max(stored_id), 0) FROM readings";
constexpr const char* After = "SELECT " STORED_COLUMNS
                              " FROM readings WHERE stored_id > $1::bigint "
                              "ORDER BY stored_id LIMIT $2::bigint";
#define SEARCH \
    "SELECT " STORED_COLUMNS MATCHING " ORDER BY instant_ms DESC, stored_id DESC LIMIT $5::bigint"
constexpr const char* Search = SEARCH;
// The export: one snapshot, its rows fetched 5,000 at a time.
constexpr const char* ExportBegin = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY";
constexpr const char* Export = "DECLARE export NO SCROLL CURSOR FOR " SEARCH;
constexpr const char* ExportNext = "FETCH FORWARD 5000 FROM export";
constexpr const char* Hours =
    "SELECT station, instant_ms / 3600000 * 3600000 AS hour, count(*)" MATCHING
    " GROUP BY station, hour ORDER BY station COLLATE \"C\", hour";
// The stations with readings found by the index, one step per station;
// then each one's state and last reading, in one statement (one snapshot).
constexpr const char* Stations = R"(
WITH RECURSIVE named(n) AS (
  (SELECT station FROM readings ORDER BY station LIMIT 1)
  UNION ALL
  SELECT (SELECT station FROM readings WHERE station > n ORDER BY station LIMIT 1)
  FROM named WHERE n IS NOT NULL),
every(n) AS (SELECT n FROM named WHERE n IS NOT NULL UNION SELECT station FROM stations)
SELECT every.n, s.state, s.since_ms, r.*
FROM every LEFT JOIN stations s ON s.station = every.n
LEFT JOIN LATERAL (SELECT )" STORED_COLUMNS R"( FROM readings WHERE station = every.n
                   ORDER BY instant_ms DESC, stored_id DESC LIMIT 1) r ON true
ORDER BY every.n COLLATE "C")";
#undef SEARCH
#undef MATCHING
#undef STORED_COLUMNS

}  // namespace sql

// Defaults that the URL may override: a host that does not answer is given
// up after 10 s (the next of several is tried), and a connection whose
// server has gone silent is found dead within about a minute, not hours.
constexpr const char* DefaultKeys[] = {"connect_timeout", "keepalives_idle", "keepalives_interval",
                                       "keepalives_count", "tcp_user_timeout"};
constexpr const char* DefaultValues[] = {"10", "30", "10", "3", "30000"};

std::int64_t Integer(const char* text) {
    std::int64_t n = 0;
    std::from_chars(text, text + std::char_traits<char>::length(text), n);
    return n;
}

// A connection with the defaults above; its status says whether it is made.
PGconn* Open(const std::string& url) {
    std::vector<const char*> keys(std::begin(DefaultKeys), std::end(DefaultKeys));
    std::vector<const char*> values(std::begin(DefaultValues), std::end(DefaultValues));
    keys.push_back("dbname");  // expanded: its settings override the defaults
    values.push_back(url.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* conn = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!conn)
        throw StoreError(texts::StoreFailed("postgresql (connect)", "out of memory"));
    // The server's notices ("already exists, skipping") are not the operator's business.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    return conn;
}

// What failed, where: the database and the host, not the URL (it may hold a password).
StoreError Failure(PGconn* conn, const char* what, std::string why) {
    std::string where = "postgresql database ";
    where += conn && PQdb(conn) ? PQdb(conn) : "?";
    if (conn && PQhost(conn) && *PQhost(conn))
        where += std::string(" on ") + PQhost(conn);
    while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
        why.pop_back();
    return StoreError(texts::StoreFailed(where + " (" + what + ")", why));
}

// A connection for the read side; StoreError when it cannot be made.
PGconn* OpenReader(const std::string& url) {
    PGconn* conn = Open(url);
    if (PQstatus(conn) != CONNECTION_OK || PQsetClientEncoding(conn, "UTF8") != 0) {
        const StoreError error = Failure(conn, "connect", PQerrorMessage(conn));
        PQfinish(conn);
        throw error;
    }
    return conn;
}

PGresult* Exec(PGconn* conn, const char* statement,
               const std::vector<std::optional<std::string>>& values) {
    std::vector<const char*> texts;
    for (const auto& v : values)
        texts.push_back(v ? v->c_str() : nullptr);
    return PQexecParams(conn, statement, int(texts.size()), nullptr, texts.data(), nullptr, nullptr,
                        0);
}

std::optional<std::string> Number(const std::optional<std::int64_t>& n) {
    return n ? std::optional(std::to_string(*n)) : std::nullopt;
}

// A search's values, $1 to $4 (and $5, the limit, when withLimit).
std::vector<std::optional<std::string>> Values(const ReadingQuery& q, bool withLimit) {
    std::vector<std::optional<std::string>> values{
        q.code.empty() ? std::nullopt : std::optional(q.code),
        q.station.empty() ? std::nullopt : std::optional(q.station), Number(q.fromMs),
        Number(q.toMs)};
    if (withLimit)
        values.push_back(q.limit > 0 ? Number(q.limit) : std::nullopt);
    return values;
}

}  // namespace

class PgStore::Result {
  public:
    explicit Result(PGresult* r) : r_(r) {}
    ~Result() { PQclear(r_); }
    Result(Result&& other) noexcept : r_(std::exchange(other.r_, nullptr)) {}
    Result& operator=(Result&& other) noexcept {
        std::swap(r_, other.r_);
        return *this;
    }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    int rows() const { return PQntuples(r_); }
    const char* text(int row, int column) const { return PQgetvalue(r_, row, column); }
    std::optional<std::string> orNull(int row, int column) const {
        if (PQgetisnull(r_, row, column))
            return std::nullopt;
        return std::string(text(row, column));
    }
    std::int64_t integer(int row, int column) const { return Integer(text(row, column)); }
    // The rows a command wrote.
    std::int64_t changed() const { return Integer(PQcmdTuples(r_)); }
    ExecStatusType status() const { return PQresultStatus(r_); }
    PGresult* get() const { return r_; }

  private:
    PGresult* r_;
};

PgStore::PgStore(const std::string& url) : url_(url) {
    try {
        connect();
    } catch (...) {
        PQfinish(conn_);
        throw;
    }
}

PgStore::~PgStore() {
    PQfinish(conn_);
    for (PGconn* reader : idleReaders_)
        PQfinish(reader);
}

void PgStore::fail(const char* what, const std::string& why) {
    // A transaction that failed is over, and nothing of it kept.
    if (open_ && PQstatus(conn_) == CONNECTION_OK)
        PQclear(PQexec(conn_, "ROLLBACK"));
    holding_ = open_ = false;
    held_.clear();
    throw Failure(conn_, what, why);
}

void PgStore::connect() {
    const char* what = conn_ ? "connect again" : "connect";
    if (conn_) {
        PQreset(conn_);
    } else {
        conn_ = Open(url_);
    }
    if (PQstatus(conn_) != CONNECTION_OK)
        fail(what, PQerrorMessage(conn_));
    if (PQsetClientEncoding(conn_, "UTF8") != 0)
        fail(what, PQerrorMessage(conn_));
    const auto ok = [](PGresult* r, ExecStatusType want) {
        Result held(r);
        return PQresultStatus(r) == want;
    };
    PGresult* missing = PQexec(conn_, sql::Missing);
    const bool make = PQresultStatus(missing) == PGRES_TUPLES_OK &&
                      std::string_view(PQgetvalue(missing, 0, 0)) == "t";
    if (!ok(missing, PGRES_TUPLES_OK))
        fail("setup", PQerrorMessage(conn_));
    if (make && !ok(PQexec(conn_, sql::Schema), PGRES_COMMAND_OK)) {
        const std::string why = PQerrorMessage(conn_);
        ok(PQexec(conn_, "ROLLBACK"), PGRES_COMMAND_OK);
        fail("setup", why);
    }
    for (const auto& p : sql::All)
        if (!ok(PQprepare(conn_, p.name, p.text, 0, nullptr), PGRES_COMMAND_OK))
            fail("prepare", PQerrorMessage(conn_));
}

PgStore::Result PgStore::attempt(const char* what, const std::function<PGresult*()>& exec) {
    for (bool again = false;; again = true) {
        Result r(exec());
        const ExecStatusType status = r.status();
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return r;
        if (again || PQstatus(conn_) != CONNECTION_BAD)
            fail(what, PQerrorMessage(conn_));
        // StoreError when the database is not there again. The open
        // transaction was lost with the connection: begun again, and what it
        // held written again (the key makes that safe if it was committed).
        connect();
        if (!open_)
            continue;
        if (Result(PQexec(conn_, "BEGIN")).status() != PGRES_COMMAND_OK)
            fail("begin", PQerrorMessage(conn_));
        for (const Held& h : held_)
            if (Result(execute(h)).status() != PGRES_COMMAND_OK)
                fail(h.statement, PQerrorMessage(conn_));
    }
}

PGresult* PgStore::execute(const Held& h) {
    std::vector<const char*> values;
    for (const auto& v : h.values)
        values.push_back(v ? v->c_str() : nullptr);
    return PQexecPrepared(conn_, h.statement, int(values.size()), values.data(), nullptr, nullptr,
                          0);
}

PgStore::Result PgStore::run(Held statement) {
    if (holding_ && !open_) {
        attempt("begin", [&] { return PQexec(conn_, "BEGIN"); });
        open_ = true;
    }
    Result r = attempt(statement.statement, [&] { return execute(statement); });
    if (open_)
        held_.push_back(std::move(statement));
    return r;
}

void PgStore::begin() {
    holding_ = true;
}

void PgStore::commit() {
    holding_ = false;
    if (!open_)
        return;
    const Result r = attempt("commit", [&] { return PQexec(conn_, "COMMIT"); });
    // COMMIT of a transaction that failed answers ROLLBACK.
    if (std::string_view(PQcmdStatus(r.get())) != "COMMIT")
        fail("commit", "the transaction was rolled back");
    open_ = false;
    held_.clear();
}

bool PgStore::add(const Reading& r, std::int64_t receivedMs) {
    return run({sql::Add.name,
                {r.station, std::to_string(r.order), std::to_string(r.instantMs), r.time, r.code,
                 r.demo ? "true" : "false", r.reader, r.port, std::to_string(receivedMs)}})
               .changed() == 1;
}

void PgStore::setState(std::string_view station, std::string_view state, std::int64_t atMs) {
    run({sql::State.name, {std::string(station), std::string(state), std::to_string(atMs)}});
}

std::vector<Reading> PgStore::readings() {
    const Result rows = run({sql::Readings.name, {}});
    std::vector<Reading> out;
    out.reserve(std::size_t(rows.rows()));
    for (int i = 0; i < rows.rows(); ++i) {
        Reading r;
        r.station = rows.text(i, 0);
        r.order = rows.integer(i, 1);
        r.instantMs = rows.integer(i, 2);
        r.time = rows.text(i, 3);
        r.code = rows.text(i, 4);
        r.demo = *rows.text(i, 5) == 't';
        r.reader = rows.orNull(i, 6);
        r.port = rows.orNull(i, 7);
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<StationState> PgStore::states() {
    const Result rows = run({sql::States.name, {}});
    std::vector<StationState> out;
    for (int i = 0; i < rows.rows(); ++i)
        out.push_back({rows.text(i, 0), rows.text(i, 1), rows.integer(i, 2)});
    return out;
}

}  // namespace collect

namespace collect {

namespace {

// The columns of STORED_COLUMNS from first on.
StoredReading StoredAt(const PgStore::Result& rows, int row, int first = 0) {
    StoredReading out;
    out.id = rows.integer(row, first);
    Reading& r = out.reading;
    r.station = rows.text(row, first + 1);
    r.order = rows.integer(row, first + 2);
    r.instantMs = rows.integer(row, first + 3);
    r.time = rows.text(row, first + 4);
    r.code = rows.text(row, first + 5);
    r.demo = *rows.text(row, first + 6) == 't';
    r.reader = rows.orNull(row, first + 7);
    r.port = rows.orNull(row, first + 8);
    out.receivedMs = rows.integer(row, first + 9);
    return out;
}

std::vector<StoredReading> AllStored(const PgStore::Result& rows) {
    std::vector<StoredReading> out;
    out.reserve(std::size_t(rows.rows()));
    for (int i = 0; i < rows.rows(); ++i)
        out.push_back(StoredAt(rows, i));
    return out;
}

// An export's rows: a connection of its own, a read-only transaction (one
// snapshot) and a cursor at the server, fetched a batch at a time, so that
// a million rows are never in memory at once.
class PgCursor : public ReadingCursor {
  public:
    PgCursor(const std::string& url, const ReadingQuery& q) : conn_(OpenReader(url)) {
        try {
            check(Exec(conn_, sql::ExportBegin, {}), "export");
            check(Exec(conn_, sql::Export, Values(q, true)), "export");
        } catch (...) {
            PQfinish(conn_);
            throw;
        }
    }
    ~PgCursor() override { PQfinish(conn_); }  // the transaction ends with it
    PgCursor(const PgCursor&) = delete;
    PgCursor& operator=(const PgCursor&) = delete;

    bool next(StoredReading& out) override {
        if (row_ >= batch_.rows()) {
            if (done_)
                return false;
            batch_ = check(Exec(conn_, sql::ExportNext, {}), "export");
            row_ = 0;
            done_ = batch_.rows() == 0;
            if (done_)
                return false;
        }
        out = StoredAt(batch_, row_++);
        return true;
    }

  private:
    PgStore::Result check(PGresult* r, const char* what) {
        PgStore::Result result(r);
        if (result.status() != PGRES_COMMAND_OK && result.status() != PGRES_TUPLES_OK)
            throw Failure(conn_, what, PQerrorMessage(conn_));
        return result;
    }
    PGconn* conn_;
    PgStore::Result batch_{nullptr};
    int row_ = 0;
    bool done_ = false;
};

}  // namespace

PgStore::Result PgStore::read(const char* statement,
                              const std::vector<std::optional<std::string>>& values) {
    PGconn* conn = nullptr;
    {
        std::lock_guard lock(poolMutex_);
        if (!idleReaders_.empty()) {
            conn = idleReaders_.back();
            idleReaders_.pop_back();
        }
    }
    for (bool again = false;; again = true) {
        if (!conn)
            conn = OpenReader(url_);
        Result r(Exec(conn, statement, values));
        const bool ok = r.status() == PGRES_TUPLES_OK || r.status() == PGRES_COMMAND_OK;
        if (ok) {
            std::lock_guard lock(poolMutex_);
            idleReaders_.push_back(conn);
            return r;
        }
        if (PQstatus(conn) != CONNECTION_BAD || again) {
            const StoreError error = Failure(conn, "read", PQerrorMessage(conn));
            PQfinish(conn);
            throw error;
        }
        // Lost (the server restarted, or a standby took over): once more on a new one.
        PQfinish(conn);
        conn = nullptr;
    }
}

std::int64_t PgStore::lastId() {
    return read(sql::LastId, {}).integer(0, 0);
}

std::vector<StoredReading> PgStore::readingsAfter(std::int64_t afterId, std::int64_t limit) {
    return AllStored(read(sql::After, {std::to_string(afterId), std::to_string(limit)}));
}

std::vector<StoredReading> PgStore::search(const ReadingQuery& q) {
    return AllStored(read(sql::Search, Values(q, true)));
}

std::unique_ptr<ReadingCursor> PgStore::stream(const ReadingQuery& q) {
    return std::make_unique<PgCursor>(url_, q);
}

std::vector<HourCount> PgStore::hours(const ReadingQuery& q) {
    const Result rows = read(sql::Hours, Values(q, false));
    std::vector<HourCount> out;
    for (int i = 0; i < rows.rows(); ++i)
        out.push_back({rows.text(i, 0), rows.integer(i, 1), rows.integer(i, 2)});
    return out;
}

std::vector<StationSummary> PgStore::stations() {
    const Result rows = read(sql::Stations, {});
    std::vector<StationSummary> out;
    for (int i = 0; i < rows.rows(); ++i) {
        StationSummary station{rows.text(i, 0), rows.orNull(i, 1).value_or(""), rows.integer(i, 2),
                               std::nullopt};
        if (rows.orNull(i, 3))
            station.last = StoredAt(rows, i, 3);
        out.push_back(std::move(station));
    }
    return out;
}

}  // namespace collect
