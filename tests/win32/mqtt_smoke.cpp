// Publishes numbered readings to an MQTT broker with the Windows build of
// libmosquitto, the way the program publishes: the main thread publishes with
// QoS 1 while a second thread runs mosquitto_loop and reconnects whenever the
// connection is lost. tests/win32/mqtt-smoke runs it under Wine and kills and
// restarts the broker while it runs.
//   mqtt_smoke PORT [COUNT [PAUSE_MS]]
// Publishes the payloads "1" to "COUNT" to chipreader/smoke/readings on
// 127.0.0.1:PORT, one every PAUSE_MS, with a will on chipreader/smoke/status.
// Writes a line per event ("connected N", "disconnected RC", "published N",
// "acked N") and exits with 0 once every message was acknowledged (PUBACK),
// 1 when not all were within a minute, 2 on a wrong start.
#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::atomic<int> connections{0};
std::atomic<int> acknowledged{0};

// Lines from both threads; each flushed, as the script reads them as they come.
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void onConnect(mosquitto*, void*, int result) {
    if (result == 0) {
        say("connected %d\n", ++connections);
    } else {
        say("refused %d\n", result);
    }
}

void onDisconnect(mosquitto*, void*, int result) {
    say("disconnected %d\n", result);
}

// For QoS 1 the library calls this when the broker's PUBACK arrives.
void onPublish(mosquitto*, void*, int mid) {
    say("acked %d (mid %d)\n", ++acknowledged, mid);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: mqtt_smoke PORT [COUNT [PAUSE_MS]]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 50;
    const auto pause = std::chrono::milliseconds(argc > 3 ? std::atoi(argv[3]) : 200);
    const char* topic = "chipreader/smoke/readings";

    mosquitto_lib_init();
    mosquitto* mosq = mosquitto_new("chipreader-smoke", true, nullptr);
    if (mosq == nullptr) {
        say("mosquitto_new failed\n");
        return 2;
    }
    // Calls from this thread while the other runs the loop.
    mosquitto_threaded_set(mosq, true);
    const std::string will = "offline";
    mosquitto_will_set(mosq, "chipreader/smoke/status", static_cast<int>(will.size()), will.data(),
                       1, false);
    mosquitto_connect_callback_set(mosq, onConnect);
    mosquitto_disconnect_callback_set(mosq, onDisconnect);
    mosquitto_publish_callback_set(mosq, onPublish);
    int rc = mosquitto_connect(mosq, "127.0.0.1", port, 10);
    if (rc != MOSQ_ERR_SUCCESS) {
        say("connect failed: %s\n", mosquitto_strerror(rc));
        return 2;
    }

    std::atomic<bool> leaving{false};
    std::thread loop([&] {
        for (;;) {
            if (mosquitto_loop(mosq, 100, 1) == MOSQ_ERR_SUCCESS) {
                continue;
            }
            if (leaving) {
                return;  // the DISCONNECT went out and the library closed the socket
            }
            // Connection lost: tried again until the broker answers. Refused while
            // it is down; the next mosquitto_loop then fails at once, and we wait.
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            mosquitto_reconnect(mosq);
        }
    });

    bool ok = true;
    for (int i = 1; i <= count; ++i) {
        const std::string payload = std::to_string(i);
        int mid = 0;
        rc = mosquitto_publish(mosq, &mid, topic, static_cast<int>(payload.size()), payload.data(),
                               1, false);
        // MOSQ_ERR_NO_CONN while disconnected: the message is queued all the same
        // and goes out after the next CONNACK.
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
            say("publish %d failed: %s\n", i, mosquitto_strerror(rc));
            ok = false;
        }
        say("published %d (mid %d, %s)\n", i, mid, rc == MOSQ_ERR_SUCCESS ? "sent" : "queued");
        std::this_thread::sleep_for(pause);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (acknowledged < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    leaving = true;
    mosquitto_disconnect(mosq);
    loop.join();
    mosquitto_destroy(mosq);
    mosquitto_lib_cleanup();
    say("published %d, acked %d, connections %d\n", count, acknowledged.load(), connections.load());
    return ok && acknowledged == count ? 0 : 1;
}
