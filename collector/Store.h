// Where the collector keeps what arrives: every reading once, keyed by
// (station, order, time as an instant), so that a repeat, or the same
// reading from a second collector, is one row; and each station's last state.
// One interface, a SQLite file by default (SqliteStore.h).
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "CollectedReading.h"

namespace collect {

// The store could not do what it was asked: nothing of that call is kept.
struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct StationState {
    std::string station;
    std::string state;  // "online", "offline"
    std::int64_t sinceMs = 0;
};

// ---- What the page reads (see "The read side" below) ----

// A reading as stored: its id (see Store::lastId) and when it came.
struct StoredReading {
    std::int64_t id = 0;
    Reading reading;
    std::int64_t receivedMs = 0;
};

// The page's search; an empty or absent field matches everything.
struct ReadingQuery {
    std::string code;                    // a part of the code, ASCII letters in either case
    std::string station;                 // the station's whole name
    std::optional<std::int64_t> fromMs;  // instants: from <= instant < to
    std::optional<std::int64_t> toMs;
    std::int64_t limit = 500;  // at most this many rows; 0: no limit
};

// Readings in an hour: hourMs is the hour's first millisecond (UTC).
struct HourCount {
    std::string station;
    std::int64_t hourMs = 0;
    std::int64_t count = 0;
};

// A station as the page lists it: its state (empty when none came yet) and
// its last reading by instant, if any.
struct StationSummary {
    std::string station;
    std::string state;
    std::int64_t sinceMs = 0;
    std::optional<StoredReading> last;
};

// The rows of a search one at a time, for an export of any size. It holds
// its own connection (and, in SQLite, a read snapshot) until destroyed; it is
// used by one thread at a time, not necessarily the one that made it.
class ReadingCursor {
  public:
    virtual ~ReadingCursor() = default;
    // The next row into out; false at the end. StoreError when it cannot.
    virtual bool next(StoredReading& out) = 0;
};

class Store {
  public:
    virtual ~Store() = default;
    // Commits the reading before it returns (StoreError when it cannot):
    // true when it is new, false when the store had it already.
    virtual bool add(const Reading& reading, std::int64_t receivedMs) = 0;
    // The station's state as of atMs, committed (StoreError when it cannot).
    virtual void setState(std::string_view station, std::string_view state, std::int64_t atMs) = 0;
    // From begin() to commit(), what add and setState write is one
    // transaction: kept, all of it, once commit() returns, and none of it
    // when that or any of them throws StoreError. Without begin(), each
    // commits on its own.
    virtual void begin() = 0;
    virtual void commit() = 0;
    // Every reading, in the order of their instants.
    virtual std::vector<Reading> readings() = 0;
    virtual std::vector<StationState> states() = 0;

    // ---- The read side, for the page ----
    // Each may be called from any thread while add and setState go on in
    // another (the collector's MQTT loop): an implementation keeps its reads
    // off the writer's connection or behind a lock, and never makes a write
    // wait for a long read. Each throws StoreError when it cannot.
    //
    // A reading's id: whole numbers that grow in the order readings are
    // committed, never reused. A row with a smaller id never becomes visible
    // after one with a larger id (the live feed asks for what came after the
    // last id it sent and would miss it otherwise), whichever collector
    // stored it. The live feed's event ids are these ids. (SQLite has one
    // writer at a time, so its rowid does this. A sequence shared by two
    // writers does not by itself: one transaction can draw a smaller id and
    // commit after another's larger one: PgStore takes a transaction-scoped
    // advisory lock before the insert, so that its stored_id is drawn and
    // committed in one order.)
    //
    // The largest id stored; 0 when there is none.
    virtual std::int64_t lastId() = 0;
    // Readings with an id above afterId, in the order of their ids, at most limit.
    virtual std::vector<StoredReading> readingsAfter(std::int64_t afterId, std::int64_t limit) = 0;
    // The readings that match, newest first (by instant, then by id), at
    // most query.limit.
    virtual std::vector<StoredReading> search(const ReadingQuery& query) = 0;
    // The same rows in the same order as search, one at a time (the export).
    virtual std::unique_ptr<ReadingCursor> stream(const ReadingQuery& query) = 0;
    // The readings that match (the query's limit aside) counted per station
    // and hour, by station then hour.
    virtual std::vector<HourCount> hours(const ReadingQuery& query) = 0;
    // Every station that has a state or a reading, by name.
    virtual std::vector<StationSummary> stations() = 0;
};

}  // namespace collect
