// A station publishing to its site's broker: each reading goes into the
// outbox, then to the broker, and leaves the outbox when the broker has it.
// The network is the worker thread's alone; the form's thread only appends
// to the outbox and queues the message.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "Config.h"
#include "Files.h"
#include "Publishing.h"

namespace site {

// How long a notice stays on the status line before the reader's own text
// comes back.
inline constexpr unsigned NoticeMs = 5000;

// The waits between tries to reach the broker: doubled after each failure.
inline constexpr unsigned FirstRetryMs = 500;
inline constexpr unsigned LastRetryMs = 10000;

class Station final : public Publishing {
  public:
    // Publishing starts at once: the readings an earlier run left in the
    // outbox first, in their order; a warning, when given, is said first.
    // Off, and said so, while another program has the outbox (a lock file
    // beside it, site-outbox.lock).
    Station(SiteConfig config, platform::Path outbox, Notify notify,
            const std::string& warning = {});
    // End: the state "offline" and a clean disconnect when the broker is
    // there (a second at most); what is not acknowledged stays in the outbox.
    // A worker still in a name lookup after two seconds is let go, and says
    // nothing more through notify.
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    void recorded(const PublishedReading& reading) override;

    // Readings not yet acknowledged by the broker.
    std::size_t waiting() const;
    bool connected() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// Nothing published, and why said once, as a station says it.
std::unique_ptr<Publishing> PublishingOff(Notify notify, const std::string& why);

}  // namespace site
