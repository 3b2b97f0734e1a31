// The whole reading cycle against a reader that plays a schedule: chips
// presented at given moments; replies whole, late or paused; garbage;
// hang-ups; the operator's buttons, typing and End. The form runs on virtual
// time; the fake port delivers the reader's bytes by the read time-outs on
// that time. The oracle is the reader's intent: every reading is a chip the
// reader presented, each at most once, in the order presented, and every
// chip presented while the program could read it is read.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Drv232.h"
#include "Files.h"
#include "Global.h"
#include "Keyboard.h"
#include "Layout.h"
#include "MainWindow.h"
#include "Publishing.h"
#include "ReadTimer.h"
#include "Sound.h"
#include "fakes/CountingSound.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeWindow.h"
#include "fakes/ProgramState.h"

namespace {

using platform::Error;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_link: %s\n", what);
        std::abort();
    }
}

struct Unit {
    std::uint64_t ready;
    std::string bytes;
    std::size_t pauseAfter = 0;  // a pause of pauseMs after this many bytes (0: none)
    unsigned pauseMs = 0;
    int chip = -1;  // the chip it carries
};

// The reader and its line: units go out whole, one after another, a byte a
// millisecond, in the order they became ready.
struct Reader {
    fakes::FakeClock& clock;
    std::vector<Unit> units;       // not yet wholly delivered
    std::uint64_t freeAt = 0;      // the end of the last unit delivered in part or whole
    std::size_t deliveredOf0 = 0;  // bytes of units[0] delivered
    std::uint64_t downFrom = UINT64_MAX, downUntil = 0;
    unsigned latency = 0, pauseAfter = 0, pauseMs = 0;  // of the next reply
    std::string lastChip = "0000000000000000";
    std::vector<std::string> chips;  // presented, in order
    std::vector<bool> excused;       // may be lost
    std::vector<bool> delivered;     // the program read its whole frame
    platform::Timeouts timeouts;

    int line = 0;           // a hang-up ends the line: the ports opened on it fail from then on
    bool portOpen = false;  // a port is open on this line: a closed one takes nothing off it

    bool down(std::uint64_t t) const { return t >= downFrom && t < downUntil; }

    // When each byte of the pending units arrives.
    std::vector<std::uint64_t> times() const {
        std::vector<std::uint64_t> out;
        std::uint64_t at = freeAt;
        for (std::size_t u = 0; u < units.size(); ++u) {
            std::uint64_t t = std::max(units[u].ready, at);
            for (std::size_t i = u == 0 ? deliveredOf0 : 0; i < units[u].bytes.size(); ++i) {
                if (units[u].pauseAfter != 0 && i == units[u].pauseAfter)
                    t += units[u].pauseMs;
                out.push_back(t++);
            }
            // A pause after the whole unit: the line quiet behind garbage.
            at = t + (units[u].pauseAfter == units[u].bytes.size() ? units[u].pauseMs : 0);
        }
        return out;
    }

    void add(Unit unit) {
        auto at = std::upper_bound(units.begin() + (units.empty() || deliveredOf0 == 0 ? 0 : 1),
                                   units.end(), unit.ready,
                                   [](std::uint64_t r, const Unit& u) { return r < u.ready; });
        units.insert(at, std::move(unit));
    }

    // A chip's frame right behind garbage may be lost with it: nothing
    // tells where garbage ends when both wait on the line.
    bool afterGarbage = false;

    void present(const std::string& code) {
        const std::uint64_t now = clock.monotonic;
        chips.push_back(code);
        excused.push_back(down(now) || afterGarbage || !portOpen);
        delivered.push_back(false);
        if (down(now) || !portOpen)
            return;
        afterGarbage = false;
        lastChip = code + "00";
        add({now, "A" + code + "\r", 0, 0, int(chips.size()) - 1});
    }

    void hangUp(std::uint64_t forMs) {
        const std::uint64_t now = clock.monotonic;
        downFrom = now;
        downUntil = now + forMs;
        ++line;
        portOpen = false;
        // What the line held is gone with it.
        for (const Unit& u : units)
            if (u.chip >= 0)
                excused[std::size_t(u.chip)] = true;
        units.clear();
        deliveredOf0 = 0;
        freeAt = downUntil;
    }

    Error read(std::uint8_t* data, std::size_t n, std::size_t& received, platform::ReadEnd& end) {
        received = 0;
        end = platform::ReadEnd::Count;
        const std::int64_t start = std::int64_t(clock.monotonic);
        if (down(clock.monotonic))
            return Error::HungUp;
        std::int64_t t = start, last = start;
        const auto arrivals = times();
        std::size_t next = 0;
        for (;;) {
            if (received == n)
                break;
            const platform::ReadWait wait =
                platform::ReadTimeLeft(timeouts, n, start, received, last, t);
            if (wait.end != platform::ReadEnd::No) {
                end = wait.end;
                break;
            }
            if (next < arrivals.size() && std::int64_t(arrivals[next]) <= t) {
                take(data[received++], arrivals[next]);
                last = std::max(std::int64_t(arrivals[next]), start);
                ++next;
                continue;
            }
            std::int64_t to = wait.ms < 0 ? INT64_MAX : t + wait.ms;
            if (next < arrivals.size())
                to = std::min(to, std::int64_t(arrivals[next]));
            t = to;
        }
        clock.monotonic = std::uint64_t(t);
        return Error::None;
    }

    void take(std::uint8_t& byte, std::uint64_t at) {
        Unit& u = units.front();
        byte = std::uint8_t(u.bytes[deliveredOf0++]);
        freeAt = at + 1;
        if (deliveredOf0 == u.bytes.size()) {
            if (u.pauseAfter == u.bytes.size())
                freeAt += u.pauseMs;
            if (u.chip >= 0)
                delivered[std::size_t(u.chip)] = true;
            units.erase(units.begin());
            deliveredOf0 = 0;
        }
    }

    Error write(const std::uint8_t* data, std::size_t n) {
        const std::uint64_t now = clock.monotonic;
        if (down(now))
            return Error::HungUp;
        const std::string request(reinterpret_cast<const char*>(data), n);
        std::string reply = request == "QI\r"   ? "A1234\r"
                            : request[0] == '*' ? "A" + lastChip + "\r"
                                                : "AO0\r";
        add({now + 5 + latency, reply, pauseAfter, pauseMs});
        latency = pauseAfter = pauseMs = 0;
        return Error::None;
    }
};

class Port final : public platform::SerialPort {
  public:
    explicit Port(Reader& r) : r_(r), line_(r.line) { r.portOpen = true; }
    Error getLineSettings(platform::LineSettings&) override { return {}; }
    Error setLineSettings(const platform::LineSettings&) override { return {}; }
    Error getTimeouts(platform::Timeouts& t) override { return t = r_.timeouts, Error::None; }
    Error setTimeouts(const platform::Timeouts& t) override { return r_.timeouts = t, Error::None; }
    Error escape(platform::ControlLine) override { return {}; }
    Error setEventMask(std::uint32_t) override { return {}; }
    Error write(const std::uint8_t* data, std::size_t n, std::size_t& written) override {
        written = n;
        return line_ != r_.line ? Error::HungUp : r_.write(data, n);
    }
    Error read(std::uint8_t* data, std::size_t n, std::size_t& received,
               platform::ReadEnd& end) override {
        received = 0;
        return line_ != r_.line ? Error::HungUp : r_.read(data, n, received, end);
    }
    Error close() override {
        r_.portOpen = r_.portOpen && line_ != r_.line;
        return {};
    }

  private:
    Reader& r_;
    int line_;
};

struct Ports final : platform::SerialPorts {
    Reader& r;
    explicit Ports(Reader& reader) : r(reader) {}
    std::string deviceName(int n) override { return "COM" + std::to_string(n); }
    std::unique_ptr<platform::SerialPort> open(int n, Error& error) override {
        error = n != 29 || r.down(r.clock.monotonic) ? Error::NotFound : Error::None;
        return error == Error::None ? std::make_unique<Port>(r) : nullptr;
    }
};

struct NoFiles final : platform::Files {
    Error read(const platform::Path&, void*, std::size_t, std::size_t& got) override {
        got = 0;
        return Error::NotFound;
    }
    Error writeNew(const platform::Path&, const void*, std::size_t) override { return {}; }
    Error replaceTarget(const platform::Path& p, platform::Path& t) override {
        return t = p, Error::None;
    }
    Error replace(const platform::Path&, const platform::Path&) override { return {}; }
    Error rewrite(const platform::Path&, const void*, std::size_t) override { return {}; }
    Error append(const platform::Path&, const void*, std::size_t) override { return {}; }
    Error remove(const platform::Path&) override { return {}; }
};

struct Keys final : platform::Keyboard {
    Error begin() override { return {}; }
    Error key(std::uint8_t, bool) override { return {}; }
    void end() override {}
};

struct Readings final : site::Publishing {
    std::vector<std::string> codes;
    void recorded(const site::PublishedReading& r) override { codes.push_back(r.code); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fakes::ResetProgramState();
    fakes::FakeClock clock;
    Reader reader{.clock = clock};
    Ports ports(reader);
    NoFiles files;
    Keys keys;
    fakes::CountingSound sound;
    Readings readings;
    platform::UseClock(&clock);
    platform::UseSerial(&ports);
    platform::UseFiles(&files);
    platform::UseKeyboard(&keys);
    platform::UseSound(&sound);
    site::UsePublishing(&readings);
    bool ended = false;
    {
        fakes::EventLoop loop(&clock);
        fakes::FakeWindow window(loop);
        TForm1 form(window);
        window.attach(form);
        window.activate();
        Check(PortHandle != nullptr, "the reader was not found");
        form.SetMark(Control::CheckBox9, true);  // all 14 characters
        form.SetMark(Control::CheckBox7, false);

        for (std::size_t i = 0; i + 2 < size && !ended; i += 3) {
            const std::uint8_t op = data[i] % 8, a = data[i + 1], b = data[i + 2];
            switch (op) {
                case 0:
                case 1: {
                    // Second character "A" often: the rest of a repeat
                    // reply cut after two bytes then has a frame's shape.
                    std::string code = std::to_string(100000000000000ull + reader.chips.size());
                    code = code.substr(1);
                    code[1] = a % 2 ? 'A' : code[1];
                    code[0] = char('0' + a % 10);
                    reader.present(code.substr(0, 14));
                    break;
                }
                case 2:
                    reader.latency = (a % 8) * 60;
                    reader.pauseAfter = b % 8;
                    reader.pauseMs = (b / 8 % 8) * 40;
                    break;
                case 3: {
                    std::string garbage(1 + a % 24, '\0');
                    for (std::size_t k = 0; k < garbage.size(); ++k)
                        garbage[k] = char("xyz\x01\x7F"[(b + k) % 5]);
                    if (!reader.down(clock.monotonic)) {
                        reader.add({clock.monotonic, garbage, garbage.size(), 30});
                        reader.afterGarbage = true;
                    }
                    break;
                }
                case 4:
                    reader.hangUp(200 + (a % 16) * 200);
                    break;
                case 5:
                    window.click(a % 3 == 0   ? Control::BitBtn3
                                 : a % 3 == 1 ? Control::BitBtn4
                                              : Control::BitBtn5);
                    break;
                case 6:
                    form.SetMark(Control::CheckBox1, a % 2 != 0);
                    if (a % 2 != 0) {
                        form.SetMark(Control::CheckBox3, true);
                        form.SetMark(Control::CheckBox4, true);
                    }
                    break;
                case 7:
                    if (a % 4 == 0)
                        ended = true;
                    break;
            }
            loop.runFor(b % 64 * 16);
        }
        if (!ended)
            loop.runFor(8000);  // every chip on the line has its turn
        window.click(Control::BitBtn7);
    }
    // The oracle: each reading the next of the chips presented, those passed
    // over lost for a reason (the line went with them, garbage in front);
    // at an End before their turn, those the program had not received.
    std::size_t next = 0;
    for (const std::string& code : readings.codes) {
        const auto chip =
            std::find(reader.chips.begin() + std::ptrdiff_t(next), reader.chips.end(), code);
        Check(chip != reader.chips.end(),
              "a reading of no chip presented, or out of order, or twice");
        for (; next < std::size_t(chip - reader.chips.begin()); ++next)
            Check(reader.excused[next], "a chip lost");
        ++next;
    }
    for (; next < reader.chips.size(); ++next)
        Check(reader.excused[next] || (ended && !reader.delivered[next]),
              ended ? "a chip received whole not recorded at End" : "a chip never read");
    fakes::ResetProgramState();
    return 0;
}
