#include "platform/interrupt_handler.h"

#include <signal.h>

#include <atomic>

namespace Platform {

namespace {

constexpr int HANDLED_SIGNALS[] = {SIGINT, SIGTERM};

std::atomic<InterruptCallback> g_onInterrupt{nullptr};

// Only async-signal-safe calls here.
void OnSignal(int signalNumber)
{
    InterruptCallback callback = g_onInterrupt.load();
    if (callback != nullptr && callback()) {
        return;
    }
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signalNumber, &fallback, nullptr);
    raise(signalNumber);
}

}  // namespace

bool InstallInterruptHandler(InterruptCallback onInterrupt)
{
    g_onInterrupt.store(onInterrupt);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : HANDLED_SIGNALS) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    // Restarted system calls: a read or write of the port must not fail just
    // because the signal arrived; the waits see the flag on their next pass.
    action.sa_flags = SA_RESTART;
    bool installed = true;
    for (int signalNumber : HANDLED_SIGNALS) {
        installed = sigaction(signalNumber, &action, nullptr) == 0 && installed;
    }
    return installed;
}

}  // namespace Platform
