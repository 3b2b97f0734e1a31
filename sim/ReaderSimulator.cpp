#include "ReaderSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <utility>

namespace sim {

namespace {

constexpr char CR = '\r';

// One reply or frame waiting to go out, with the faults that were in force
// when it was queued.
struct Transmission {
    std::string bytes;
    Faults faults;
    bool framed = true;  // a reply or chip frame (faults apply), not raw bytes
};

void SleepFor(std::chrono::microseconds d) {
    if (d.count() > 0)
        std::this_thread::sleep_for(d);
}

}  // namespace

struct ReaderSimulator::State {
    Options options;
    int master = -1;
    int slave = -1;  // kept open so the line survives the program closing it
    int wakeRead = -1;
    int wakeWrite = -1;
    std::string device;
    std::string link;
    std::thread worker;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stopping = false;
    bool hungUp = false;
    bool sending = false;
    std::chrono::steady_clock::time_point lastSent{};
    Faults faults;
    bool blocked = false;
    bool led = false;
    std::string lastChip = std::string(16, '0');
    std::string pending;  // request bytes received since the last CR
    std::vector<std::string> chipsAtNextRequest;
    std::vector<std::string> requests;
    std::deque<Transmission> queue;

    void wake() const {
        char c = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wakeWrite, &c, 1);
    }

    void say(const char* what, const std::string& bytes) const {
        if (!options.log)
            return;
        std::string shown;
        for (unsigned char c : bytes) {
            if (c == '\r')
                shown += "<CR>";
            else if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "<%02X>", c);
                shown += hex;
            } else
                shown += char(c);
        }
        std::printf("%s %s\n", what, shown.c_str());
        std::fflush(stdout);
    }

    // Called with the mutex held.
    void queueReply(std::string bytes) {
        queue.push_back({std::move(bytes), faults, true});
        wake();
    }

    // A chip frame, sent on the reader's own account. Called with the mutex held.
    void queueFrame(std::string bytes) {
        queue.push_back({std::move(bytes), faults.repliesOnly ? Faults{} : faults, true});
        wake();
    }

    // A chip touches the reader: its frame, unless the reader is blocked or
    // silent. `chip` has 16 characters. Called with the mutex held.
    void present(const std::string& chip) {
        lastChip = chip;
        if (blocked || (faults.silent && !faults.repliesOnly))
            return;
        // Built by appending: GCC 12 at -O3 warns (-Wrestrict) about the
        // inlined copy of `"A" + chip.substr(...)`, a false alarm that would
        // fail a warnings-as-errors Release build.
        std::string frame = "A";
        frame.append(chip, 0, 14);
        frame += CR;
        queueFrame(std::move(frame));
    }

    // A complete request (ending with CR) arrived. Called with the mutex held.
    void answer(const std::string& request) {
        requests.push_back(request);
        changed.notify_all();
        say("<-", request);
        for (const std::string& chip : chipsAtNextRequest)
            present(chip);
        chipsAtNextRequest.clear();
        if (faults.silent)
            return;
        const std::size_t n = request.size();
        if (n >= 3 && request[n - 3] == 'Q') {
            const char code = request[n - 2];
            switch (code) {
                case 'I':
                    queueReply("A" + options.id + CR);
                    return;
                case 'B':
                    blocked = true;
                    break;
                case 'O':
                    blocked = false;
                    break;
                case 'R':
                    led = true;
                    break;
                case 'Z':
                    led = false;
                    break;
                default:
                    return;  // unknown command: no answer
            }
            queueReply(std::string("A") + (blocked ? 'B' : 'O') + (led ? '1' : '0') + CR);
        } else if (n >= 4 && request[n - 4] == '*' && request[n - 3] == 'D') {
            queueReply("A" + lastChip + CR);
        }
    }

    void receive() {
        char buffer[256];
        ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            return;
        std::lock_guard lock(mutex);
        for (ssize_t i = 0; i < got; ++i) {
            pending += buffer[i];
            if (buffer[i] == CR) {
                answer(pending);
                pending.clear();
            }
        }
    }

    void writeAll(const char* data, std::size_t n) const {
        while (n > 0) {
            ssize_t w = ::write(master, data, n);
            if (w > 0) {
                data += w;
                n -= std::size_t(w);
            } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                pollfd p{master, POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
        }
    }

    void transmit(Transmission t) {
        std::string bytes = std::move(t.bytes);
        if (t.framed) {
            SleepFor(std::chrono::milliseconds(t.faults.lateMs));
            if (t.faults.badFirst && !bytes.empty())
                bytes.front() = 'N';
            if (t.faults.badLast && !bytes.empty())
                bytes.back() = 'X';
            bytes.resize(bytes.size() - std::min<std::size_t>(t.faults.shortBy, bytes.size()));
        }
        say("->", bytes);
        const auto pace = std::chrono::microseconds(options.byteMicros);
        auto next = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (t.framed && t.faults.pauseMs > 0 && i == t.faults.pauseAfter && i > 0)
                next += std::chrono::milliseconds(t.faults.pauseMs);
            std::this_thread::sleep_until(next);
            {
                std::lock_guard lock(mutex);
                if (hungUp || stopping)
                    return;
            }
            if (options.byteMicros == 0) {
                // No pacing: the rest goes out at once (pauses still apply).
                std::size_t end = bytes.size();
                if (t.framed && t.faults.pauseMs > 0 && t.faults.pauseAfter > i)
                    end = std::min<std::size_t>(end, t.faults.pauseAfter);
                writeAll(bytes.data() + i, end - i);
                {
                    std::lock_guard lock(mutex);
                    lastSent = std::chrono::steady_clock::now();
                }
                i = end - 1;
                next = std::chrono::steady_clock::now();
                continue;
            }
            writeAll(bytes.data() + i, 1);
            next += pace;
            if (i + 1 == bytes.size()) {
                std::lock_guard lock(mutex);
                lastSent = std::chrono::steady_clock::now();
            }
        }
    }

    // A new pseudo-terminal, raw, published as COM<port> in place of any
    // earlier entry. Called before the worker starts, or with the mutex held
    // while the line is down (the worker then leaves the line alone).
    bool openLine(std::string& error) {
        const int newMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (newMaster < 0 || ::grantpt(newMaster) != 0 || ::unlockpt(newMaster) != 0) {
            error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
            if (newMaster >= 0)
                ::close(newMaster);
            return false;
        }
        const char* name = ::ptsname(newMaster);
        const int newSlave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
        if (newSlave < 0) {
            error = std::string("cannot open the terminal side: ") + std::strerror(errno);
            ::close(newMaster);
            return false;
        }
        // Raw from the start, as a serial line is: what the reader sends before
        // the program configures the port must not be echoed or translated.
        termios t{};
        if (::tcgetattr(newSlave, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(newSlave, TCSANOW, &t);
        }
        ::fcntl(newMaster, F_SETFL, ::fcntl(newMaster, F_GETFL) | O_NONBLOCK);
        master = newMaster;
        slave = newSlave;
        device = name;

        std::filesystem::path path =
            std::filesystem::path(options.folder) / ("COM" + std::to_string(options.port));
        std::error_code ec;
        std::filesystem::remove(path, ec);
        std::filesystem::create_symlink(device, path, ec);
        if (ec) {
            error = "cannot create " + path.string() + ": " + ec.message();
            return false;
        }
        link = path.string();
        return true;
    }

    void run() {
        for (;;) {
            Transmission next;
            bool haveNext = false;
            pollfd fds[2] = {{wakeRead, POLLIN, 0}, {-1, POLLIN, 0}};
            {
                std::lock_guard lock(mutex);
                if (stopping)
                    return;
                if (hungUp && master >= 0) {
                    // Only this thread touches the line, so only it closes it.
                    ::close(slave);
                    ::close(master);
                    slave = master = -1;
                    changed.notify_all();
                }
                if (!hungUp && !queue.empty()) {
                    next = std::move(queue.front());
                    queue.pop_front();
                    haveNext = sending = true;
                }
                fds[1].fd = master;
            }
            if (haveNext) {
                transmit(std::move(next));
                std::lock_guard lock(mutex);
                sending = false;
                changed.notify_all();
            }
            // Take in what arrived; block only when nothing waits to be sent.
            bool more = false;
            {
                std::lock_guard lock(mutex);
                more = !queue.empty() && !hungUp;
            }
            if (::poll(fds, 2, more ? 0 : -1) < 0 && errno != EINTR)
                return;
            if (fds[0].revents & POLLIN) {
                char drain[64];
                [[maybe_unused]] ssize_t ignored = ::read(wakeRead, drain, sizeof drain);
            }
            if (fds[1].fd >= 0 && (fds[1].revents & POLLIN))
                receive();
        }
    }
};

ReaderSimulator::ReaderSimulator(Options options) : state_(std::make_unique<State>()) {
    state_->options = std::move(options);
    if (state_->options.id.size() != 4)
        state_->options.id.resize(4, '0');
}

ReaderSimulator::~ReaderSimulator() {
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    if (s.wakeWrite >= 0)
        s.wake();
    if (s.worker.joinable())
        s.worker.join();
    // The link first: nothing must lead to the terminal's number once it is free.
    if (!s.link.empty()) {
        std::error_code ec;
        std::filesystem::remove(s.link, ec);
    }
    for (int fd : {s.master, s.slave, s.wakeRead, s.wakeWrite})
        if (fd >= 0)
            ::close(fd);
}

bool ReaderSimulator::start(std::string& error) {
    State& s = *state_;
    if (!s.openLine(error))
        return false;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    s.wakeRead = pipeFds[0];
    s.wakeWrite = pipeFds[1];
    s.worker = std::thread([&s] { s.run(); });
    return true;
}

std::string ReaderSimulator::linkPath() const {
    std::lock_guard lock(state_->mutex);
    return state_->link;
}
std::string ReaderSimulator::devicePath() const {
    std::lock_guard lock(state_->mutex);
    return state_->device;
}

namespace {

std::string ChipOf(const std::string& code) {
    std::string chip = code.substr(0, 16);
    chip.resize(16, '0');
    return chip;
}

}  // namespace

void ReaderSimulator::presentChip(const std::string& code) {
    std::lock_guard lock(state_->mutex);
    state_->present(ChipOf(code));
}

void ReaderSimulator::presentChipDuringNextRequest(const std::string& code) {
    std::lock_guard lock(state_->mutex);
    state_->chipsAtNextRequest.push_back(ChipOf(code));
}

void ReaderSimulator::sendRaw(const std::string& bytes) {
    std::lock_guard lock(state_->mutex);
    state_->queue.push_back({bytes, state_->faults, false});
    state_->wake();
}

void ReaderSimulator::sendGarbage(std::size_t count) {
    std::mt19937 random(std::random_device{}());
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = char(random() & 0xFF);
    sendRaw(bytes);
}

void ReaderSimulator::hangUp() {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    // The kernel gives the closed terminal's number to the next one made, on
    // this machine, by anyone: a link left on it would lead the program to
    // another simulator's line (another test's, running beside this one). It
    // leads nowhere instead, as a dead line's device does; and already before
    // the line closes, or a program that looks again at once may find the
    // number taken.
    if (!s.link.empty()) {
        std::error_code ec;
        std::filesystem::remove(s.link, ec);
        std::filesystem::create_symlink(s.link + ".hung-up", s.link, ec);
    }
    s.hungUp = true;
    s.queue.clear();
    s.wake();
    s.changed.wait_for(lock, std::chrono::seconds(2), [&] { return s.master < 0; });
}

void ReaderSimulator::unplug() {
    hangUp();
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    std::error_code ec;
    if (!s.link.empty())
        std::filesystem::remove(s.link, ec);
}

bool ReaderSimulator::replug(std::string& error, const std::string& id) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (!s.hungUp || s.master >= 0) {
        error = "the reader is plugged in";
        return false;
    }
    if (!s.openLine(error))
        return false;
    // A reader that was without power starts afresh.
    if (!id.empty()) {
        s.options.id = id;
        s.options.id.resize(4, '0');
    }
    s.blocked = false;
    s.led = false;
    s.pending.clear();
    s.chipsAtNextRequest.clear();
    s.queue.clear();
    s.hungUp = false;
    s.wake();
    return true;
}

void ReaderSimulator::setFaults(const Faults& faults) {
    std::lock_guard lock(state_->mutex);
    state_->faults = faults;
}

Faults ReaderSimulator::faults() const {
    std::lock_guard lock(state_->mutex);
    return state_->faults;
}

bool ReaderSimulator::blocked() const {
    std::lock_guard lock(state_->mutex);
    return state_->blocked;
}

bool ReaderSimulator::ledOn() const {
    std::lock_guard lock(state_->mutex);
    return state_->led;
}

std::string ReaderSimulator::lastChip() const {
    std::lock_guard lock(state_->mutex);
    return state_->lastChip;
}

std::vector<std::string> ReaderSimulator::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

bool ReaderSimulator::waitForRequests(std::size_t count, unsigned timeoutMs) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return state_->requests.size() >= count; });
}

bool ReaderSimulator::waitIdle(unsigned timeoutMs) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return !state_->sending && (state_->queue.empty() || state_->hungUp);
    });
}

std::chrono::steady_clock::time_point ReaderSimulator::lastByteSentAt() const {
    std::lock_guard lock(state_->mutex);
    return state_->lastSent;
}

std::string MakeUpChipCode() {
    static std::mt19937_64 random(std::random_device{}());
    static const char digits[] = "0123456789ABCDEF";
    std::string code(16, '0');
    for (char& c : code)
        c = digits[random() % 16];
    return code;
}

bool ApplyFaultCommand(Faults& f, const std::string& command) {
    std::istringstream words(command);
    std::string verb;
    words >> verb;
    auto onOff = [&words] {
        std::string w;
        words >> w;
        return w != "off" && w != "0";
    };
    if (verb == "silent")
        f.silent = onOff();
    else if (verb == "late")
        words >> f.lateMs;
    else if (verb == "short")
        words >> f.shortBy;
    else if (verb == "badfirst")
        f.badFirst = onOff();
    else if (verb == "badlast")
        f.badLast = onOff();
    else if (verb == "pause")
        words >> f.pauseAfter >> f.pauseMs;
    else if (verb == "repliesonly")
        f.repliesOnly = onOff();
    else if (verb == "normal")
        f = Faults{};
    else
        return false;
    return true;
}

}  // namespace sim
