// A process-wide request to stop the running job: set from a signal handler,
// read by the cancel query the burn job registers with the device library.
#pragma once

namespace CancelRequest {

// Async-signal-safe: only stores a flag.
void Request() noexcept;
bool IsRequested() noexcept;

// The device library's cancel query: non-zero once a stop was requested.
int CancelQuery();

}  // namespace CancelRequest
