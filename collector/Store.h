// Where the collector keeps what arrives: every reading once, keyed by
// (station, order, time as an instant), so that a repeat, or the same
// reading from a second collector, is one row; and each station's last state.
// One interface, a SQLite file by default (SqliteStore.h).
#pragma once
#include <cstdint>
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
};

}  // namespace collect
