// Publishing the readings to a site's MQTT broker, as the form sees it: the
// form hands over each reading as it is recorded, and the part below
// (Station.h) keeps it in the outbox and sends it. Off unless a site file
// configures it: then the facility in use does nothing.
#pragma once
#include <cstdint>
#include <string>

#include "Clock.h"

namespace site {

struct Reading {
    std::uint32_t order = 0;  // the order number the reading was given
    platform::LocalTime at;   // the clock reading of its time text and log
    std::string code;         // UTF-8, as the reading list shows it
    bool demo = false;
    std::string reader;  // the reader's identification; empty in the demo
    std::string port;    // "COM3"; empty in the demo
};

class Publishing {
  public:
    virtual ~Publishing() = default;
    // A reading was recorded. Never waits for the network.
    virtual void recorded(const Reading& reading) = 0;
};

Publishing& ThePublishing();
void UsePublishing(Publishing* publishing);  // nullptr: off
// The facility a test put in and did not take out, or null.
const char* PublishingInUse();

}  // namespace site
