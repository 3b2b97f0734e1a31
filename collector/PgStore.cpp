// The PostgreSQL store, on libpq: prepared statements, each its own
// transaction or part of the one begin() opens; the schema made under an
// advisory lock when it is missing.
#include "PgStore.h"

#include <libpq-fe.h>

#include <charconv>
#include <functional>
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
    "SELECT to_regclass('readings') IS NULL OR to_regclass('stations') IS NULL";

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

}  // namespace

class PgStore::Result {
  public:
    explicit Result(PGresult* r) : r_(r) {}
    ~Result() { PQclear(r_); }
    Result(Result&& other) noexcept : r_(std::exchange(other.r_, nullptr)) {}
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
}

void PgStore::fail(const char* what, const std::string& why) {
    // A transaction that failed is over, and nothing of it kept.
    if (open_ && PQstatus(conn_) == CONNECTION_OK)
        PQclear(PQexec(conn_, "ROLLBACK"));
    holding_ = open_ = false;
    held_.clear();
    // The database and the host, not the URL: it may hold a password.
    std::string where = "postgresql database ";
    where += conn_ && PQdb(conn_) ? PQdb(conn_) : "?";
    if (conn_ && PQhost(conn_) && *PQhost(conn_))
        where += std::string(" on ") + PQhost(conn_);
    std::string reason = why;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    throw StoreError(texts::StoreFailed(where + " (" + what + ")", reason));
}

void PgStore::connect() {
    const char* what = conn_ ? "connect again" : "connect";
    if (conn_) {
        PQreset(conn_);
    } else {
        std::vector<const char*> keys(std::begin(DefaultKeys), std::end(DefaultKeys));
        std::vector<const char*> values(std::begin(DefaultValues), std::end(DefaultValues));
        keys.push_back("dbname");  // expanded: its settings override the defaults
        values.push_back(url_.c_str());
        keys.push_back(nullptr);
        values.push_back(nullptr);
        conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
        if (!conn_)
            throw StoreError(texts::StoreFailed("postgresql (connect)", "out of memory"));
        // The server's notices ("already exists, skipping") are not the operator's business.
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr);
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
