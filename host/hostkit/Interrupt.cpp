#include "hostkit/Interrupt.h"

#include <atomic>
#include <csignal>
#include <string>

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace zarvik::host {
namespace {

std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void OnInterrupt(int signal) { g_signal.store(signal); }

}  // namespace

#if defined(_WIN32)
void CatchInterrupts() {
    for (const int signal : {SIGINT, SIGTERM, SIGBREAK})
        if (std::signal(signal, OnInterrupt) == SIG_IGN) std::signal(signal, SIG_IGN);
}
#else
void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored when the host started stays ignored: nohup's
        // SIGHUP, a background job's SIGINT.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}
#endif

int InterruptSignal() { return g_signal.load(); }

void ClearInterrupt() { g_signal.store(0); }

std::string SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
#if !defined(_WIN32)
        case SIGHUP:
            return "SIGHUP";
#else
        case SIGBREAK:
            return "SIGBREAK";
#endif
    }
    return "signal " + std::to_string(signal);
}

}  // namespace zarvik::host
