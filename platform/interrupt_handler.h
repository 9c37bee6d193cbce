// The user's request to stop: Ctrl-C, SIGTERM, Ctrl-Break or closing the
// console window.
#pragma once

namespace Platform {

// Called on every request, possibly from a signal handler or another thread:
// it may only touch lock-free atomics. true when it took the request; false
// lets the process end at once, as if no handler were installed.
using InterruptCallback = bool (*)();

// Installs onInterrupt; false when that failed.
bool InstallInterruptHandler(InterruptCallback onInterrupt);

}  // namespace Platform
