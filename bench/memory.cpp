// The resident memory of the real program, offscreen, against a bare Qt
// window of the same kind (a main window with a multi-line edit and a status
// bar, nothing else): the program connected to the simulated reader without a
// site file, and with one whose broker (Debian's mosquitto on the loopback
// address) has the station online. Each taken a second after it is up, the
// median of three runs.
//   bench_memory [PROGRAM]   the figures (PROGRAM: the built chipreader)
//   bench_memory bare        the bare window itself, until it is ended
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "LocalBroker.h"
#include "ProgramRun.h"

namespace {

using namespace std::chrono_literals;

struct Memory {
    long rss = -1, hwm = -1;  // kB
};

Memory MemoryOf(pid_t pid) {
    Memory m;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            m.rss = std::stol(line.substr(6));
        if (line.rfind("VmHWM:", 0) == 0)
            m.hwm = std::stol(line.substr(6));
    }
    return m;
}

int Bare(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QPlainTextEdit);
    window.statusBar()->showMessage(QStringLiteral("Info"));
    window.resize(502, 604);
    window.show();
    // Said from the event loop, once the window is up.
    QMetaObject::invokeMethod(
        &window,
        [] {
            std::printf("shown\n");
            std::fflush(stdout);
        },
        Qt::QueuedConnection);
    return app.exec();
}

// The bare window as a process: its memory once it is shown and a second on.
Memory BareRun(const std::string& self) {
    int out[2];
    if (::pipe(out) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(self.c_str(), self.c_str(), "bare", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    pollfd shown{out[0], POLLIN, 0};
    char byte = 0;
    Memory m;
    if (::poll(&shown, 1, 20000) == 1 && ::read(out[0], &byte, 1) == 1) {
        std::this_thread::sleep_for(1s);
        m = MemoryOf(pid);
    }
    ::close(out[0]);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return m;
}

// The program connected and polling, with the station online when a broker
// is given: its memory a second on.
Memory ProgramMemory(const std::string& program, const sim::LocalBroker* broker) {
    ProgramRun run("chipmemory");
    if (!run.ready())
        return {};
    std::unique_ptr<sim::Subscriber> state;
    if (broker) {
        std::ofstream("site.ini") << "[broker]\nurl = " << broker->url()
                                  << "\n[station]\nname = bench\n";
        state = std::make_unique<sim::Subscriber>(broker->port(), "chipreader/bench/state");
        if (!state->subscribed(10s))
            return {};
    }
    run.start(program);
    // Its identification asked: the start-up search has found the reader.
    if (!run.reader->waitForRequests(1, 20000))
        return {};
    if (state && !state->waitFor("/state", 1, 20s))
        return {};
    std::this_thread::sleep_for(1s);
    return MemoryOf(run.pid);
}

long Median(std::vector<long> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "bare")
        return Bare(argc, argv);
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    const std::string program =
        std::filesystem::absolute(argc > 1 ? argv[1] : CHIPREADER_EXE).string();
    sim::LocalBroker broker;
    if (!broker.start()) {
        std::printf("memory: no broker: %s\n", broker.log().c_str());
        return 1;
    }
    constexpr int Runs = 3;
    std::vector<long> bare, alone, publishing, bareHwm, aloneHwm, publishingHwm;
    for (int i = 0; i < Runs; ++i) {
        const Memory b = BareRun(self), a = ProgramMemory(program, nullptr),
                     p = ProgramMemory(program, &broker);
        if (b.rss < 0 || a.rss < 0 || p.rss < 0) {
            std::printf(
                "memory: run %d did not come up (bare window %s, program %s, with a site "
                "file %s)\n",
                i + 1, b.rss < 0 ? "no" : "yes", a.rss < 0 ? "no" : "yes",
                p.rss < 0 ? "no" : "yes");
            return 1;
        }
        std::printf(
            "memory: run %d: VmRSS bare window %ld kB, program %ld kB, with a site file "
            "%ld kB\n",
            i + 1, b.rss, a.rss, p.rss);
        bare.push_back(b.rss), alone.push_back(a.rss), publishing.push_back(p.rss);
        bareHwm.push_back(b.hwm), aloneHwm.push_back(a.hwm), publishingHwm.push_back(p.hwm);
    }
    const auto ratio = [&](long kb) { return double(kb) / double(Median(bare)); };
    std::printf(
        "memory (VmRSS, median of %d): a bare Qt window %ld kB; the program without a "
        "site file %ld kB (%.2fx); with a site file, online %ld kB (%.2fx)\n",
        Runs, Median(bare), Median(alone), ratio(Median(alone)), Median(publishing),
        ratio(Median(publishing)));
    std::printf(
        "memory (VmHWM, median of %d): a bare Qt window %ld kB; the program without a "
        "site file %ld kB; with a site file, online %ld kB\n",
        Runs, Median(bareHwm), Median(aloneHwm), Median(publishingHwm));
    return 0;
}
