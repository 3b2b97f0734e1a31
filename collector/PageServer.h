// The page the collector serves: every station with its state and last
// reading, the readings live as they arrive, a search, a chart of readings
// per hour, the export as CSV.
//
// The HTTP side is GNU libmicrohttpd (Debian 12: 0.9.75), chosen over
// cpp-httplib and Boost.Beast because it is event-driven and plain C: its
// own threads wait on epoll, and a live page (Server-Sent Events) costs no
// thread: while it has nothing to send, its connection is suspended (out of
// the event loop) until the next reading resumes it. cpp-httplib gives each
// open connection a thread of its pool, so a live page would hold one for
// good; Boost.Beast would do as well as this, with much more code of ours
// around Asio and a long build.
//
// Two threads serve every connection; a third (the hub) turns what the
// collector stored into events, once for all pages. Up to MaxConnections
// connections at once (open pages, each with its live feed, and their other
// requests); beyond that a new connection is closed at once, and a page's
// feed tries again (EventSource does so by itself).
#pragma once
#include <memory>

#include "CollectorConfig.h"
#include "Store.h"

namespace collect {

class PageServer {
  public:
    static constexpr unsigned MaxConnections = 1000;
    // Listens on config's [page] address; std::runtime_error with why when
    // it cannot. Guards every request with the page's password when there
    // is one (HTTP Basic authentication, any user name).
    PageServer(const CollectorConfig& config, Store& store);
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // Something was committed to the store: a reading (or its repeat), or a
    // station's state. Cheap, from any thread: the hub reads the store
    // after what it has sent, so it also sees what another collector stored.
    void stored(bool reading);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace collect
