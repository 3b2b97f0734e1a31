// The reader simulator as the tests start it: on a pseudo-terminal, linked as
// COM<port> in a folder. A simulator that cannot start fails the test.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "ReaderSimulator.h"

namespace fakes {

// Paced: its bytes come at the line's own pace (9600 baud). Whole: each frame
// goes out in one piece, so that a frame can never arrive just as a poll times
// out and be split between two polls.
enum class Pace { Paced, Whole };

inline std::unique_ptr<sim::ReaderSimulator> StartReader(const std::filesystem::path& folder,
                                                         int port, Pace pace = Pace::Whole,
                                                         const std::string& id = {}) {
    sim::Options options;
    options.folder = folder.string();
    options.port = port;
    if (!id.empty())
        options.id = id;
    if (pace == Pace::Whole)
        options.byteMicros = 0;
    auto reader = std::make_unique<sim::ReaderSimulator>(options);
    std::string error;
    EXPECT_TRUE(reader->start(error)) << error;
    return reader;
}

}  // namespace fakes
