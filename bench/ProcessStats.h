// What the kernel says about a process: the CPU time it has used.
#pragma once

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

// User plus system CPU seconds of process pid; -1 when it cannot be read.
inline double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;  // state .. cmajflt
    unsigned long user = 0, system = 0;
    fields >> user >> system;
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}
