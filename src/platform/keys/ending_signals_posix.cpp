// The ending signals held back while keys may be down (ending_signals.h).
#include "ending_signals.h"

#include <signal.h>

#include <atomic>

namespace platform {

namespace {

// Between KeysMayGoDown() and KeysAreUp().
std::atomic<bool> typing{false};
// An ending signal that came meanwhile.
std::atomic<int> endingSignal{0};
constexpr int EndingSignals[] = {SIGTERM, SIGINT, SIGHUP};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "used in a signal handler");

// Ends the program by `signal` as if it had not been caught.
void EndBy(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
}

// Whichever of the handler and KeysAreUp() sees the other's mark last ends
// the program: the handler when no keys can be down, KeysAreUp() once they
// are up.
extern "C" void OnEndingSignal(int signal) {
    endingSignal.store(signal);
    if (!typing.load())
        EndBy(signal);
}

void GuardEndingSignals() {
    static bool guarded = false;
    if (guarded)
        return;
    guarded = true;
    for (int signal : EndingSignals) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = OnEndingSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

void KeysMayGoDown() {
    GuardEndingSignals();
    typing.store(true);
    if (const int signal = endingSignal.load())
        EndBy(signal);
}

void KeysAreUp() {
    typing.store(false);
    if (const int signal = endingSignal.load())
        EndBy(signal);
}

}  // namespace platform
