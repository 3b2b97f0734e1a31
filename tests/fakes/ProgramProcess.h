// The program as a process of its own, as an operator starts it: in a
// folder, its window offscreen (its keys still go to the X server of
// DISPLAY), and the ending signals as a shell leaves them (a test runner
// started in the background ignores SIGINT).
#pragma once

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fakes {

inline pid_t StartProgram(const char* exe, const std::filesystem::path& folder) {
    std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen"};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0)
            env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t set;
    sigemptyset(&set);
    posix_spawnattr_setsigmask(&attributes, &set);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, s);
    posix_spawnattr_setsigdefault(&attributes, &set);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    char* argv[] = {const_cast<char*>(exe), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, exe, &actions, &attributes, argv, envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// Waits up to `patience` for the process to end: true, with its wait status,
// when it did.
inline bool AwaitEnd(pid_t pid, int& status, std::chrono::milliseconds patience) {
    const auto until = std::chrono::steady_clock::now() + patience;
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return true;
        if (std::chrono::steady_clock::now() >= until)
            return false;
    }
}

// Ends it with `signal`, and with SIGKILL when that takes over 10 s: true
// when the signal ended it.
inline bool EndProgram(pid_t pid, int signal = SIGTERM) {
    int status = 0;
    ::kill(pid, signal);
    if (AwaitEnd(pid, status, std::chrono::seconds(10)))
        return true;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
}

}  // namespace fakes
