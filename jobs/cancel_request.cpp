#include "jobs/cancel_request.h"

#include <atomic>

#include "platform/hot_path.h"

namespace CancelRequest {

namespace {
// Lock-free, so a signal handler may store it.
std::atomic<int> g_requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "the cancel flag must be settable from a signal handler");
}  // namespace

void Request() noexcept
{
    g_requested.store(1, std::memory_order_relaxed);
}

bool IsRequested() noexcept
{
    return g_requested.load(std::memory_order_relaxed) != 0;
}

HOT_PATH int CancelQuery()
{
    // Keeps answering yes: every wait of the run ends, not only the first.
    return IsRequested() ? 1 : 0;
}

}  // namespace CancelRequest
