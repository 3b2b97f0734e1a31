// A private X server for the life of the object: starts the server command
// given on a free display number (-displayfd) and points DISPLAY at it; the
// server ends with the object. Xvfb.h and Xvnc.h name the servers.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace fakes {

class XServerProcess {
  public:
    explicit XServerProcess(std::vector<std::string> command) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        command.insert(command.begin() + 1, {"-displayfd", std::to_string(pipeFds[1])});
        std::vector<char*> argv;
        for (std::string& word : command)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            // The server goes with the test, even when the test crashes.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::close(pipeFds[0]);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        std::string number;
        char c;
        while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(pipeFds[0]);
        if (!number.empty()) {
            display_ = ":" + number;
            ::setenv("DISPLAY", display_.c_str(), 1);
            // Keys go to this server, also when the tests run on a Wayland desktop.
            ::unsetenv("WAYLAND_DISPLAY");
        }
    }
    ~XServerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        ::unsetenv("DISPLAY");
    }
    XServerProcess(const XServerProcess&) = delete;
    XServerProcess& operator=(const XServerProcess&) = delete;

    bool running() const { return !display_.empty(); }
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace fakes
