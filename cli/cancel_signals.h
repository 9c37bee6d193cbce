// Ctrl-C (SIGINT, SIGTERM; Ctrl-Break and console close on Windows) during a
// run: the first asks the running job to stop (its
// waits end with "User Cancelled!" and the port is closed on the way out), a
// second one ends the process at once.
#pragma once

namespace CancelSignals {

// Installs the handlers for SIGINT and SIGTERM; false when that failed.
bool Install();

}  // namespace CancelSignals
