// One reading as it is recorded: made once, when it is counted, and handed
// as it is to the daily log, the keys, the reading list and the publishing.
#pragma once

#include <cstdint>
#include <string>

#include "Clock.h"

struct Reading {
    std::uint32_t order = 0;   // the order number it was given
    platform::LocalTime at{};  // the one clock reading of its time and its day's log
    std::string time{};        // HH:MM:SS of `at`
    // The chip's text, single-byte, already printable (PrintableText): the
    // same bytes in the list, the log and the message.
    std::string code{};
    bool demo = false;  // made up by the demo, not read
};
