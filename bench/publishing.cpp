// The publishing to a site's broker, measured on Debian's mosquitto on the
// loopback address: 10,000 readings through the station's real path
// (outbox flushed to the disk, then libmosquitto), a subscriber timing each
// one's arrival; then 1,000 readings held while the broker is away, and the
// time from its return to the last of them delivered.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "LocalBroker.h"
#include "Outbox.h"
#include "Station.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long ResidentKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

site::PublishedReading ReadingNumber(std::uint32_t order) {
    site::PublishedReading r;
    r.order = order;
    r.at = {2026, 12, 9, 10, 0, 0, 0, 60};
    r.code = "0A1B2C3D4E5F";
    r.reader = "V1.2";
    r.port = "COM1";
    return r;
}

double CpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    constexpr int Readings = 10000;
    constexpr int Held = 1000;
    sim::LocalBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "publishing: mosquitto did not start:\n%s", broker.log().c_str());
        return 1;
    }
    sim::Subscriber sub(broker.port(), "bench/#");
    if (!sub.subscribed(10s) || !broker.save())
        return 1;
    char pattern[] = "/tmp/chipbench-XXXXXX";
    const std::filesystem::path folder = ::mkdtemp(pattern);
    const std::filesystem::path outbox = folder / site::OutboxFileName;
    site::SiteConfig config;
    config.host = "127.0.0.1";
    config.port = broker.port();
    config.station = "bench";
    config.prefix = "bench";

    int failures = 0;
    {
        site::Station station(config, outbox, {});
        WaitUntil([&] { return station.connected(); }, 10s);
        const long rssBefore = ResidentKb();
        std::vector<Clock::time_point> recordedAt(Readings + 1);
        const auto start = Clock::now();
        for (int i = 1; i <= Readings; ++i) {
            recordedAt[std::size_t(i)] = Clock::now();
            station.recorded(ReadingNumber(std::uint32_t(i)));
        }
        const auto recordedAll = Clock::now();
        if (!sub.waitFor("/reading", Readings, 120s))
            ++failures;
        const auto delivered = Clock::now();
        WaitUntil([&] { return station.waiting() == 0; }, 30s);
        const long rssAfter = ResidentKb();

        std::vector<double> latency;
        for (const sim::Arrival& a : sub.arrivals("/reading")) {
            const int order = std::stoi(sim::JsonField(a.payload, "order"));
            latency.push_back(Ms(a.at - recordedAt[std::size_t(order)]));
        }
        std::sort(latency.begin(), latency.end());
        std::printf(
            "publishing: in a burst, %d readings recorded in %.0f ms (%.0f a second: the outbox "
            "flushed to the disk for each)\n",
            Readings, Ms(recordedAll - start), Readings / (Ms(recordedAll - start) / 1000));
        std::printf(
            "publishing: all delivered to the subscriber after %.0f ms: %.0f readings a "
            "second end to end\n",
            Ms(delivered - start), Readings / (Ms(delivered - start) / 1000));
        if (!latency.empty())
            std::printf(
                "publishing: in the burst, recording to delivery: median %.2f ms, worst %.2f ms\n",
                latency[latency.size() / 2], latency.back());
        std::printf(
            "publishing: afterwards %zu waiting, the outbox %ju bytes; resident memory "
            "%ld kB before, %ld kB after (+%ld kB)\n",
            station.waiting(), std::filesystem::file_size(outbox), rssBefore, rssAfter,
            rssAfter - rssBefore);

        // A second burst: what stays per reading once the first has given the
        // queues their size (the subscriber keeps every message it got).
        for (int i = 1; i <= Readings; ++i)
            station.recorded(ReadingNumber(std::uint32_t(4 * Readings + i)));
        if (!sub.waitFor("/reading", 2 * Readings, 120s))
            ++failures;
        WaitUntil([&] { return station.waiting() == 0; }, 30s);
        std::printf(
            "publishing: a second burst of %d: resident memory %ld kB (+%ld kB, of which "
            "the subscriber's copies of the messages, about 250 bytes each)\n",
            Readings, ResidentKb(), ResidentKb() - rssAfter);

        // One at a time, as a reader gives them: 200 readings 20 ms apart.
        constexpr int Paced = 200;
        const std::size_t before = sub.arrivals("/reading").size();
        std::vector<Clock::time_point> pacedAt(Paced + 1);
        for (int i = 1; i <= Paced; ++i) {
            pacedAt[std::size_t(i)] = Clock::now();
            station.recorded(ReadingNumber(std::uint32_t(Readings + i)));
            std::this_thread::sleep_for(20ms);
        }
        if (!sub.waitFor("/reading", before + Paced, 30s))
            ++failures;
        latency.clear();
        for (const sim::Arrival& a : sub.arrivals("/reading")) {
            const int order = std::stoi(sim::JsonField(a.payload, "order"));
            if (order > Readings && order <= Readings + Paced)
                latency.push_back(Ms(a.at - pacedAt[std::size_t(order - Readings)]));
        }
        std::sort(latency.begin(), latency.end());
        if (!latency.empty())
            std::printf(
                "publishing: one at a time (%d, 20 ms apart), recording to delivery: "
                "median %.2f ms, worst %.2f ms\n",
                Paced, latency[latency.size() / 2], latency.back());
    }

    // 1,000 held while the broker is away; the time from its return to the
    // last delivered.
    {
        site::Station station(config, outbox, {});
        WaitUntil([&] { return station.connected(); }, 10s);
        broker.kill();
        WaitUntil([&] { return !station.connected(); }, 10s);
        for (int i = 1; i <= Held; ++i)
            station.recorded(ReadingNumber(std::uint32_t(2 * Readings + i)));
        const std::size_t before = sub.arrivals("/reading").size();
        // The station tries again 0.5 s after the loss, then 1, 2 ... 10 s
        // apart: the broker comes back just after a failed try, the worst case.
        std::this_thread::sleep_for(1200ms);
        const auto back = Clock::now();
        broker.start();
        if (!sub.waitFor("/reading", before + Held, 60s))
            ++failures;
        const auto last = sub.arrivals("/reading").back().at;
        std::printf(
            "publishing: %d held readings: the last delivered %.0f ms after the broker "
            "was back (the station's next try included)\n",
            Held, Ms(last - back));
        WaitUntil([&] { return station.waiting() == 0; }, 30s);
    }
    std::printf("publishing: outbox at the end %ju bytes\n", std::filesystem::file_size(outbox));

    // The broker away for ten seconds with a reading waiting: the station's
    // tries cost (the process's CPU time, the test's idle subscriber in it).
    {
        site::Station station(config, outbox, {});
        WaitUntil([&] { return station.connected(); }, 10s);
        broker.kill();
        station.recorded(ReadingNumber(3 * Readings));
        const double before = CpuMs();
        std::this_thread::sleep_for(10s);
        std::printf(
            "publishing: the broker away for 10 s: %.1f ms of CPU (tries 0.5, 1, 2, 4 s "
            "apart)\n",
            CpuMs() - before);
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return failures == 0 ? 0 : 1;
}
