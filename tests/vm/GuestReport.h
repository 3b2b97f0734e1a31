// What a scenario inside a rig's virtual machine tells the host: "guest: ok"
// and "guest: FAIL" lines on standard output, counted by the rig, and marker
// files in the rig's out folder.
#pragma once

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace guest {

inline std::string OutFolder;
inline std::vector<std::string> Failures;

inline void Say(const std::string& line) {
    std::cout << "guest: " << line << std::endl;
}

inline void Check(bool holds, const std::string& what) {
    Say(std::string(holds ? "ok   " : "FAIL ") + what);
    if (!holds)
        Failures.push_back(what);
}

// A marker for the host: written beside, then renamed, so the host never
// reads half of one.
inline void Mark(const std::string& name, const std::string& text) {
    const std::filesystem::path done = std::filesystem::path(OutFolder) / name;
    const std::filesystem::path part = std::filesystem::path(OutFolder) / (name + ".part");
    std::ofstream(part) << text << "\n";
    std::filesystem::rename(part, done);
    Say("marker " + name + ": " + text);
}

}  // namespace guest
