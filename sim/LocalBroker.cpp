// Debian's mosquitto run for a test, and a libmosquitto subscriber.
#include "LocalBroker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace sim {

namespace {

using namespace std::chrono_literals;

bool TakesConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

void Init() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

}  // namespace

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

LocalBroker::LocalBroker(std::string extraConfig) : extraConfig_(std::move(extraConfig)) {
    char pattern[] = "/tmp/chipbroker-XXXXXX";
    folder_ = ::mkdtemp(pattern) ? pattern : "/tmp";
    port_ = FreeLoopbackPort();
}

LocalBroker::~LocalBroker() {
    kill();
    std::error_code ec;
    if (folder_ != "/tmp")
        std::filesystem::remove_all(folder_, ec);
}

bool LocalBroker::start() {
    if (pid_ > 0)
        return true;
    const std::filesystem::path conf = folder_ / "mosquitto.conf";
    {
        std::ofstream out(conf);
        out << "listener " << port_ << " 127.0.0.1\n";
        // Run as root, mosquitto would become the user "mosquitto", who may
        // not read this folder.
        if (const passwd* me = ::getpwuid(::getuid()))
            out << "user " << me->pw_name << "\n";
        if (extraConfig_.find("allow_anonymous") == std::string::npos)
            out << "allow_anonymous true\n";
        out << extraConfig_ << "\n"
            << "persistence true\npersistence_location " << folder_.string() << "/\n"
            << "autosave_interval 0\n";
        // All that comes for the subscriber while it is away is kept for it,
        // unless the test says how much.
        if (extraConfig_.find("max_queued_messages") == std::string::npos)
            out << "max_queued_messages 0\n";
    }
    const std::string logFile = (folder_ / "broker.log").string();
    const std::string confText = conf.string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execlp("mosquitto", "mosquitto", "-c", confText.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0)
        return false;
    pid_ = pid;
    for (int i = 0; i < 200; ++i) {
        if (TakesConnections(port_))
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

void LocalBroker::kill() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool LocalBroker::save() {
    const std::filesystem::path db = folder_ / "mosquitto.db";
    std::error_code ec;
    std::filesystem::remove(db, ec);
    if (pid_ <= 0 || ::kill(pid_, SIGUSR1) != 0)
        return false;
    for (int i = 0; i < 200; ++i) {
        if (std::filesystem::exists(db, ec))
            return true;
        std::this_thread::sleep_for(25ms);
    }
    return false;
}

std::string LocalBroker::log() const {
    std::ifstream in(folder_ / "broker.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

void SubConnect(mosquitto*, void* s, int rc) {
    static_cast<Subscriber*>(s)->onConnect(rc);
}
void SubSubscribe(mosquitto*, void* s, int, int, const int*) {
    static_cast<Subscriber*>(s)->onSubscribe();
}
void SubMessage(mosquitto*, void* s, const mosquitto_message* m) {
    static_cast<Subscriber*>(s)->onMessage(
        m->topic, std::string(static_cast<const char*>(m->payload), std::size_t(m->payloadlen)),
        m->retain);
}

}  // namespace

Subscriber::Subscriber(int port, std::string filter, std::string clientId)
    : filter_(std::move(filter)) {
    Init();
    mosq_ = mosquitto_new(clientId.c_str(), false, this);
    mosquitto_connect_callback_set(mosq_, SubConnect);
    mosquitto_subscribe_callback_set(mosq_, SubSubscribe);
    mosquitto_message_callback_set(mosq_, SubMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    mosquitto_connect_async(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void Subscriber::onConnect(int rc) {
    if (rc == 0)
        mosquitto_subscribe(mosq_, nullptr, filter_.c_str(), 1);
}

void Subscriber::onSubscribe() {
    std::lock_guard lock(m_);
    subscribed_ = true;
    cv_.notify_all();
}

void Subscriber::onMessage(const std::string& topic, const std::string& payload, bool retained) {
    std::lock_guard lock(m_);
    arrivals_.push_back({topic, payload, retained, std::chrono::steady_clock::now()});
    cv_.notify_all();
}

bool Subscriber::subscribed(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, limit, [&] { return subscribed_; });
}

namespace {

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool Subscriber::waitFor(const std::string& suffix, std::size_t n,
                         std::chrono::milliseconds limit) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, limit, [&] {
        std::size_t count = 0;
        for (const Arrival& a : arrivals_)
            count += EndsWith(a.topic, suffix) ? 1 : 0;
        return count >= n;
    });
}

std::vector<Arrival> Subscriber::arrivals(const std::string& suffix) const {
    std::lock_guard lock(m_);
    std::vector<Arrival> found;
    for (const Arrival& a : arrivals_)
        if (EndsWith(a.topic, suffix))
            found.push_back(a);
    return found;
}

std::string JsonField(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const auto at = json.find(key);
    if (at == std::string::npos)
        return {};
    std::size_t i = at + key.size(), end = i;
    if (i < json.size() && json[i] == '"') {
        for (end = i + 1; end < json.size() && json[end] != '"'; ++end)
            if (json[end] == '\\')
                ++end;
        ++end;
    } else {
        while (end < json.size() && json[end] != ',' && json[end] != '}')
            ++end;
    }
    return json.substr(i, end - i);
}

}  // namespace sim
