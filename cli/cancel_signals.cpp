#include "cli/cancel_signals.h"

#include <signal.h>

#include "jobs/cancel_request.h"

namespace CancelSignals {

namespace {

constexpr int HANDLED_SIGNALS[] = {SIGINT, SIGTERM};

// Only async-signal-safe calls here.
void OnSignal(int signalNumber)
{
    if (!CancelRequest::IsRequested()) {
        CancelRequest::Request();
        return;
    }
    // Second signal: the user does not want to wait for the job to wind down.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signalNumber, &fallback, nullptr);
    raise(signalNumber);
}

}  // namespace

bool Install()
{
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

}  // namespace CancelSignals
