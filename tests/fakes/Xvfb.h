// A private X server for the life of the object: starts Xvfb on a free display
// number and points DISPLAY at it; the server ends with the object.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace fakes {

class PrivateXServer {
  public:
    PrivateXServer() {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // The server goes with the test, even when the test crashes.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::close(pipeFds[0]);
            const std::string fd = std::to_string(pipeFds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
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
    ~PrivateXServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        ::unsetenv("DISPLAY");
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    bool running() const { return !display_.empty(); }
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace fakes
