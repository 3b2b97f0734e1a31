// Publishing the readings to a site's MQTT broker, as the form sees it: the
// form hands over each reading as it is recorded, and the part below
// (Station.h) keeps it in the outbox and sends it. Off unless a site file
// configures it: then the facility in use does nothing.
#pragma once
#include <functional>
#include <string>

#include "Reading.h"

namespace site {

// A reading as it is published: the reading, and the reader's identification
// and the port ("COM3") it was read on, both empty in the demo. Its texts are
// the program's single-byte text, as in the log; the message makes them UTF-8.
struct PublishedReading : Reading {
    std::string reader{};
    std::string port{};
};

class Publishing {
  public:
    virtual ~Publishing() = default;
    // A reading was recorded. Never waits for the network.
    virtual void recorded(const PublishedReading& reading) = 0;
};

// Says something on the status line, from any thread, in UTF-8; an empty
// text: what was said may go. The program hands it to the window's thread.
using Notify = std::function<void(const std::string&)>;

Publishing& ThePublishing();
void UsePublishing(Publishing* publishing);  // nullptr: off
// The facility a test put in and did not take out, or null.
const char* PublishingInUse();

}  // namespace site
