// The station publishing to a real broker (Debian's mosquitto on a free
// loopback port): what arrives, the broker away at the start and killed
// mid-shift, the station killed before its readings were acknowledged, a
// wrong password, a certificate the CA did not sign, and the site file's bad
// cases at the program's start.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "LocalBroker.h"
#include "Message.h"
#include "Outbox.h"
#include "Station.h"
#include "fakes/ProgramState.h"
#include "fakes/TempDir.h"

// A name server that never answers NeverAnswers: its lookup waits until the
// test lets it go, and fails. Other names go to the C library's lookup.
namespace slowname {
constexpr const char* NeverAnswers = "never-answers.test";
std::mutex m;
std::condition_variable cv;
bool waiting = false, letGo = false;
}  // namespace slowname

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** res) {
    if (node == nullptr || std::string(node) != slowname::NeverAnswers)
        return reinterpret_cast<decltype(&getaddrinfo)>(::dlsym(RTLD_NEXT, "getaddrinfo"))(
            node, service, hints, res);
    std::unique_lock lock(slowname::m);
    slowname::waiting = true;
    slowname::cv.notify_all();
    slowname::cv.wait(lock, [] { return slowname::letGo; });
    return EAI_AGAIN;
}

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// What the station said on the status line.
struct Said {
    std::mutex m;
    std::vector<std::string> texts;
    site::Notify notify() {
        return [this](const std::string& t) {
            std::lock_guard lock(m);
            if (!t.empty())
                texts.push_back(t);
        };
    }
    int count(const std::string& part) {
        std::lock_guard lock(m);
        int n = 0;
        for (const auto& t : texts)
            n += t.find(part) != std::string::npos ? 1 : 0;
        return n;
    }
    std::string all() {
        std::lock_guard lock(m);
        std::string s;
        for (const auto& t : texts)
            s += t + "\n";
        return s;
    }
};

struct Folder : fakes::TempFolder {
    fs::path outbox() const { return path() / site::OutboxFileName; }
};

site::SiteConfig ConfigFor(const sim::LocalBroker& broker) {
    site::SiteConfig c;
    c.host = "127.0.0.1";
    c.port = broker.port();
    c.station = "desk-1";
    c.prefix = "test";
    return c;
}

site::PublishedReading ReadingNumber(std::uint32_t order) {
    site::PublishedReading r;
    r.order = order;
    r.at = {2026, 12, 9, 10, 0, 0, int(order % 1000), 60};
    r.code = "0A1B2C3D4E" + std::to_string(order);
    r.reader = "V1.2";
    r.port = "COM1";
    return r;
}

// The order numbers that arrived, first time each; and whether every repeat
// is of a number that came before (what a consumer drops by the rule).
std::vector<int> Orders(const std::vector<sim::Arrival>& arrivals, bool& repeatsOnlyOfEarlier) {
    std::vector<int> firsts;
    std::set<int> seen;
    repeatsOnlyOfEarlier = true;
    for (const auto& a : arrivals) {
        const int order = std::stoi(sim::JsonField(a.payload, "order"));
        if (seen.insert(order).second)
            firsts.push_back(order);
        else if (order > firsts.back())
            repeatsOnlyOfEarlier = false;
    }
    return firsts;
}

std::vector<int> OneTo(int n) {
    std::vector<int> v;
    for (int i = 1; i <= n; ++i)
        v.push_back(i);
    return v;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The broker up, the test's subscriber's session in its database: what the
// station sends while the subscriber is away (a restart) waits for it.
void StartWithSubscriber(sim::LocalBroker& broker, std::unique_ptr<sim::Subscriber>& sub) {
    ASSERT_TRUE(broker.start()) << broker.log();
    sub = std::make_unique<sim::Subscriber>(broker.port(), "test/#");
    ASSERT_TRUE(sub->subscribed(10s));
    ASSERT_TRUE(broker.save()) << broker.log();
}

TEST(Broker, ReadingsArriveWithTheirFieldsAndTheStationsState) {
    sim::LocalBroker broker;
    std::unique_ptr<sim::Subscriber> sub;
    StartWithSubscriber(broker, sub);
    Folder folder;
    Said said;
    {
        site::Station station(ConfigFor(broker), folder.outbox(), said.notify());
        site::PublishedReading demo;
        demo.order = 3;
        demo.demo = true;
        demo.code = "7 000 123 456 789";
        demo.at = {2026, 12, 9, 8, 30, 0, 250, -300};
        station.recorded(ReadingNumber(1));
        station.recorded(ReadingNumber(2));
        station.recorded(demo);
        ASSERT_TRUE(sub->waitFor("/reading", 3, 10s));
        EXPECT_TRUE(WaitUntil([&] { return station.waiting() == 0; }, 10s));
    }
    const auto readings = sub->arrivals("test/desk-1/reading");
    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[0].payload, site::ReadingMessage("desk-1", ReadingNumber(1)));
    EXPECT_FALSE(readings[0].retained);
    EXPECT_EQ(sim::JsonField(readings[1].payload, "order"), "2");
    EXPECT_EQ(sim::JsonField(readings[2].payload, "demo"), "true");
    EXPECT_EQ(sim::JsonField(readings[2].payload, "reader"), "null");
    EXPECT_EQ(sim::JsonField(readings[2].payload, "time"), "\"2026-12-09T08:30:00.250-05:00\"");
    EXPECT_EQ(sim::JsonField(readings[2].payload, "code"), "\"7 000 123 456 789\"");

    // "online" while connected, "offline" at the end; the outbox holds nothing.
    ASSERT_TRUE(sub->waitFor("/state", 2, 5s));
    const auto states = sub->arrivals("test/desk-1/state");
    EXPECT_EQ(states.front().payload, "online");
    EXPECT_EQ(states.back().payload, "offline");
    std::ifstream in(folder.outbox());
    const std::string rest((std::istreambuf_iterator<char>(in)), {});
    EXPECT_TRUE(site::ReadOutbox(rest).waiting.empty()) << rest;
    EXPECT_EQ(said.all(), "");
}

TEST(Broker, ReadingsHeldWhileTheBrokerIsAwayArriveInOrderWhenItIsBack) {
    sim::LocalBroker broker;
    std::unique_ptr<sim::Subscriber> sub;
    StartWithSubscriber(broker, sub);
    broker.kill();  // away before the station starts
    Folder folder;
    Said said;
    site::Station station(ConfigFor(broker), folder.outbox(), said.notify());
    int order = 0;
    for (; order < 5; ++order)
        station.recorded(ReadingNumber(order + 1));
    EXPECT_EQ(station.waiting(), 5u);
    EXPECT_TRUE(WaitUntil([&] { return said.count("held back") == 1; }, 5s)) << said.all();

    // Back: the five arrive; then the broker is killed mid-shift while
    // readings keep coming, and started again.
    ASSERT_TRUE(broker.start()) << broker.log();
    for (; order < 12; ++order) {
        station.recorded(ReadingNumber(order + 1));
        std::this_thread::sleep_for(30ms);
    }
    ASSERT_TRUE(sub->waitFor("/reading", 12, 15s)) << said.all();
    EXPECT_TRUE(WaitUntil([&] { return station.waiting() == 0; }, 5s));
    EXPECT_EQ(said.count("held readings are sent"), 1) << said.all();
    for (int round = 0; round < 2; ++round) {
        // What the broker acknowledged is the broker's: a broker killed
        // before it passed a message on loses it, whatever the station does.
        // So the kill comes when the subscriber has all there was.
        ASSERT_TRUE(sub->waitFor("/reading", std::size_t(order), 15s));
        broker.kill();
        for (int i = 0; i < 6; ++i) {
            station.recorded(ReadingNumber(++order));
            std::this_thread::sleep_for(15ms);
        }
        ASSERT_TRUE(broker.start()) << broker.log();
        for (int i = 0; i < 6; ++i) {
            station.recorded(ReadingNumber(++order));
            std::this_thread::sleep_for(15ms);
        }
        // Said once a round: held back, then sent.
        EXPECT_TRUE(
            WaitUntil([&] { return said.count("held readings are sent") == round + 2; }, 15s))
            << said.all();
    }
    ASSERT_TRUE(sub->waitFor("/reading", std::size_t(order), 20s)) << said.all();
    EXPECT_TRUE(WaitUntil([&] { return station.waiting() == 0; }, 10s));
    bool repeatsOnlyOfEarlier = false;
    EXPECT_EQ(Orders(sub->arrivals("/reading"), repeatsOnlyOfEarlier), OneTo(order));
    EXPECT_TRUE(repeatsOnlyOfEarlier);
    EXPECT_EQ(said.count("held back"), 3) << said.all();
    EXPECT_EQ(said.count("held readings are sent"), 3) << said.all();
}

TEST(Broker, ReadingsOfAStationKilledBeforeTheBrokerHadThemArriveAfterItsNextStart) {
    sim::LocalBroker broker;
    std::unique_ptr<sim::Subscriber> sub;
    StartWithSubscriber(broker, sub);
    broker.kill();
    Folder folder;

    // A station, in a process of its own, records five readings while the
    // broker is away and is killed.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        site::Station station(ConfigFor(broker), folder.outbox(), {});
        for (std::uint32_t order = 1; order <= 5; ++order)
            station.recorded(ReadingNumber(order));
        (void)::write(ready[1], "k", 1);
        ::pause();
        ::_exit(0);
    }
    char k = 0;
    ASSERT_EQ(::read(ready[0], &k, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    // The power went as the sixth was written: its line is cut off.
    {
        std::ofstream out(folder.outbox(), std::ios::app | std::ios::binary);
        out << site::RecordLine(6, site::ReadingMessage("desk-1", ReadingNumber(6))).substr(0, 30);
    }
    ASSERT_TRUE(broker.start()) << broker.log();
    Said said;
    site::Station station(ConfigFor(broker), folder.outbox(), said.notify());
    station.recorded(ReadingNumber(7));
    ASSERT_TRUE(sub->waitFor("/reading", 6, 10s)) << said.all();
    bool repeatsOnlyOfEarlier = false;
    EXPECT_EQ(Orders(sub->arrivals("/reading"), repeatsOnlyOfEarlier),
              (std::vector<int>{1, 2, 3, 4, 5, 7}));
    EXPECT_EQ(said.count("1 damaged line(s) of the outbox dropped"), 1) << said.all();
}

TEST(Broker, AWrongPasswordIsSaidOnceAndTheReadingsWait) {
    sim::LocalBroker probe;  // for its folder
    const fs::path passwords = probe.folder() / "passwords";
    ASSERT_EQ(
        std::system(
            ("mosquitto_passwd -c -b " + passwords.string() + " desk right >/dev/null").c_str()),
        0);
    sim::LocalBroker broker("allow_anonymous false\npassword_file " + passwords.string());
    ASSERT_TRUE(broker.start()) << broker.log();
    Folder folder;
    Said said;
    site::SiteConfig config = ConfigFor(broker);
    config.user = "desk";
    config.password = "wrong";
    {
        site::Station station(config, folder.outbox(), said.notify());
        station.recorded(ReadingNumber(1));
        // Several tries in 2.5 s (0.5, 1, 2 s apart), one notice.
        std::this_thread::sleep_for(2500ms);
        EXPECT_EQ(station.waiting(), 1u);
        EXPECT_FALSE(station.connected());
    }
    EXPECT_EQ(said.count("Publishing: the broker refused the user name or password"), 1)
        << said.all();
    EXPECT_EQ(site::ReadOutbox([&] {
                  std::ifstream in(folder.outbox());
                  return std::string((std::istreambuf_iterator<char>(in)), {});
              }())
                  .waiting.size(),
              1u);

    // With the right one, the kept reading arrives.
    config.password = "right";
    site::Station station(config, folder.outbox(), said.notify());
    EXPECT_TRUE(WaitUntil([&] { return station.waiting() == 0; }, 10s)) << said.all();
}

// A CA and a server certificate for 127.0.0.1 signed by it, made with openssl.
bool MakeCertificates(const fs::path& dir, const std::string& ca) {
    const std::string d = dir.string() + "/";
    const std::string cmd =
        "cd " + d + " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + ca +
        " -keyout " + ca + ".key -out " + ca + ".pem 2>/dev/null && " +
        "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key -out "
        "server.csr "
        "2>/dev/null && printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext && "
        "openssl x509 -req -in server.csr -CA " +
        ca + ".pem -CAkey " + ca +
        ".key -CAcreateserial -days 2 -extfile san.ext -out server.pem "
        "2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

TEST(Broker, TlsToABrokerWhoseCertificateTheCaSignedAndNotToAnother) {
    sim::LocalBroker broker;
    const fs::path dir = broker.folder();
    ASSERT_TRUE(MakeCertificates(dir, "siteca"));
    // Another CA, which signed nothing of the broker's.
    ASSERT_EQ(std::system(("cd " + dir.string() +
                           " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other "
                           "-keyout other.key -out other.pem 2>/dev/null")
                              .c_str()),
              0);
    sim::LocalBroker tls("certfile " + (dir / "server.pem").string() + "\nkeyfile " +
                         (dir / "server.key").string());
    ASSERT_TRUE(tls.start()) << tls.log();
    Folder folder;
    site::SiteConfig config = ConfigFor(tls);
    config.tls = true;
    Said said;
    {
        config.caFile = (dir / "other.pem").string();
        site::Station station(config, folder.outbox(), said.notify());
        station.recorded(ReadingNumber(1));
        std::this_thread::sleep_for(2500ms);
        EXPECT_EQ(station.waiting(), 1u);
    }
    EXPECT_EQ(said.count("Publishing: no trusted connection to the broker 127.0.0.1:" +
                         std::to_string(tls.port())),
              1)
        << said.all();
    EXPECT_EQ(said.count("certificate verify failed"), 1) << said.all();

    config.caFile = (dir / "siteca.pem").string();
    site::Station station(config, folder.outbox(), said.notify());
    EXPECT_TRUE(WaitUntil([&] { return station.waiting() == 0; }, 10s)) << said.all();
}

TEST(Broker, ASiteFileThatMakesNoSenseIsSaidOnStandardErrorAndTheStatusLine) {
    Folder folder;
    Said said;
    EXPECT_EQ(site::StartSite(folder.path(), said.notify()).publishing, nullptr);  // no file: off
    const struct {
        std::string text, said;
    } cases[] = {
        {"[broker]\nurl = mqtt://127.0.0.1:1\n[station]\nnmae = x\n",
         "Publishing off: site.ini line 4: unknown key \"nmae\" in [station]"},
        {"[broker]\nurl = mqtt://127.0.0.1:1\nuser = u\npassword_file = /nonexistent/pw\n",
         "Publishing off: site.ini password_file /nonexistent/pw cannot be read"},
        {"[broker]\nurl = mqtt://a\n[station]\nname = d\xC2\x85\n",  // NEL: no topic has it
         "Publishing off: the topic chipreader/d\xC2\x85/reading cannot be published to "
         "(Malformed UTF-8)"},
        {"[broker]\nurl = mqtt://a\n" + std::string(64 * 1024, ';'),
         "Publishing off: site.ini is longer than 64 KiB: it is not read"},
    };
    for (const auto& c : cases) {
        std::ofstream(folder.path() / site::SiteFileName) << c.text;
        testing::internal::CaptureStderr();
        const site::Site site = site::StartSite(folder.path(), said.notify());
        const auto& off = site.publishing;
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_NE(off, nullptr);
        off->recorded(ReadingNumber(1));  // nothing: no outbox either
        EXPECT_EQ(said.count(c.said), 1) << said.all();
        EXPECT_EQ(err.rfind(std::string("chipreader: ") + c.said, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_FALSE(fs::exists(folder.outbox()));
        // A file too long to be read may set the typing as well.
        EXPECT_EQ(site.rules.typingRefused, c.text.size() > 64 * 1024);
    }
    // The site's typing alone: nothing published, nothing said, the rules
    // given; refused, they hold the typing.
    std::ofstream(folder.path() / site::SiteFileName) << "[typing]\nend = tab\n";
    const site::Site typing = site::StartSite(folder.path(), said.notify());
    EXPECT_EQ(typing.publishing, nullptr);
    EXPECT_EQ(typing.rules.typing.end, TypingRules::End::Tab);
    std::ofstream(folder.path() / site::SiteFileName) << "[typing]\nend = tabs\n";
    EXPECT_TRUE(site::StartSite(folder.path(), said.notify()).rules.typingRefused);
    EXPECT_EQ(said.count("Publishing off: site.ini line 2: end must be"), 1) << said.all();
    EXPECT_EQ(said.count("Publishing"), 5) << said.all();
}

TEST(Broker, ReadingsTheBrokersRulesRefuseStayInTheOutboxUntilTheRulesAllowThem) {
    sim::LocalBroker probe;  // for its folder
    const fs::path acl = probe.folder() / "acl";
    fakes::WriteFile(acl, "topic read test/#\n");  // the station may not write
    // A queue limit: mosquitto 2.0.11 takes 0 (none) as a full queue after a
    // refused publish, and drops the connection.
    sim::LocalBroker broker("acl_file " + acl.string() + "\nmax_queued_messages 100000");
    ASSERT_TRUE(broker.start()) << broker.log();
    Folder folder;
    Said said;
    const std::string refused = "refuses readings on test/desk-1/reading: not authorized";
    {
        site::Station station(ConfigFor(broker), folder.outbox(), said.notify());
        for (std::uint32_t order = 1; order <= 3; ++order)
            station.recorded(ReadingNumber(order));
        ASSERT_TRUE(WaitUntil([&] { return said.count(refused) == 1; }, 10s)) << said.all();
        station.recorded(ReadingNumber(4));
        EXPECT_EQ(station.waiting(), 4u);
    }
    EXPECT_EQ(said.count(refused), 1) << said.all();
    // The rules mended and the broker started again: the four kept arrive.
    fakes::WriteFile(acl, "topic readwrite test/#\n");
    broker.kill();
    ASSERT_TRUE(broker.start()) << broker.log();
    sim::Subscriber sub(broker.port(), "test/#");
    ASSERT_TRUE(sub.subscribed(10s));
    site::Station station(ConfigFor(broker), folder.outbox(), said.notify());
    ASSERT_TRUE(sub.waitFor("/reading", 4, 15s)) << said.all();
    bool repeatsOnlyOfEarlier = false;
    EXPECT_EQ(Orders(sub.arrivals("/reading"), repeatsOnlyOfEarlier), OneTo(4));
}

TEST(Broker, ASecondProgramInTheFolderPublishesNothingAndTheFirstGoesOn) {
    sim::LocalBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log();
    sim::Subscriber sub(broker.port(), "test/#");
    ASSERT_TRUE(sub.subscribed(10s));
    Folder folder;
    Said first, second;
    site::Station station(ConfigFor(broker), folder.outbox(), first.notify());
    site::Station(ConfigFor(broker), folder.outbox(), second.notify()).recorded(ReadingNumber(9));
    EXPECT_EQ(second.all(), "Publishing off: another program publishes from this folder\n");
    station.recorded(ReadingNumber(1));
    ASSERT_TRUE(sub.waitFor("/reading", 1, 10s)) << first.all();
    EXPECT_EQ(sim::JsonField(sub.arrivals("/reading").front().payload, "order"), "1");
}

TEST(Broker, EndDuringALookupThatNeverAnswersSaysNothingMoreToTheWindow) {
    Folder folder;
    site::SiteConfig config;
    config.host = slowname::NeverAnswers;
    std::atomic<int> windowGone{0}, saidAfter{0};
    const fs::path err = folder.path() / "stderr";  // to see the worker's last word
    const int saved = ::dup(2);
    ::close(2);
    ASSERT_EQ(::open(err.c_str(), O_WRONLY | O_CREAT, 0600), 2);
    {
        site::Station station(config, folder.outbox(),
                              [&](const std::string&) { saidAfter += windowGone; });
        station.recorded(ReadingNumber(1));
        std::unique_lock lock(slowname::m);
        slowname::cv.wait(lock, [] { return slowname::waiting; });
    }  // End lets the worker go after two seconds
    windowGone = 1;
    {
        std::lock_guard lock(slowname::m);
        slowname::letGo = true;
    }
    slowname::cv.notify_all();  // the lookup fails: "held back", said after End
    const bool held =
        WaitUntil([&] { return fakes::ReadFile(err).find("held back") != std::string::npos; }, 10s);
    ::dup2(saved, 2);
    ::close(saved);
    EXPECT_TRUE(held);
    EXPECT_EQ(saidAfter, 0);
}

TEST(Broker, APasswordOthersMayReadIsSaidOnce) {
    Folder folder;
    const fs::path ini = folder.path() / site::SiteFileName, pw = folder.path() / "pw";
    const auto own = fs::perms(0600), all = fs::perms(0644);
    const struct {
        std::string key;
        fs::perms iniMode, pwMode;
        std::string said;
    } cases[] = {
        {"password = p", all, own, "in site.ini (chmod 600 site.ini)\n"},
        {"password = p", own, all, ""},
        {"password_file = " + pw.string(), all, all,
         "in " + pw.string() + " (chmod 600 " + pw.string() + ")\n"},
    };
    for (const auto& c : cases) {
        fakes::WriteFile(ini, "[broker]\nurl = mqtt://127.0.0.1:1\nuser = u\n" + c.key);
        fakes::WriteFile(pw, "p\n");
        fs::permissions(ini, c.iniMode);
        fs::permissions(pw, c.pwMode);
        Said said;
        site::StartSite(folder.path(), said.notify());
        EXPECT_EQ(said.all(), c.said.empty() ? c.said
                                             : "Publishing: other users may read the broker's "
                                               "password " +
                                                   c.said);
    }
}

}  // namespace
