#include "platform/monotonic_clock.h"

#include <chrono>

#include "platform/hot_path.h"

namespace Platform {

namespace {

HOT_PATH std::chrono::steady_clock::duration SinceEpoch()
{
    return std::chrono::steady_clock::now().time_since_epoch();
}

} // namespace

HOT_PATH int64_t MonotonicMs()
{
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(SinceEpoch()).count());
}

int64_t MonotonicUs()
{
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::microseconds>(SinceEpoch()).count());
}

} // namespace Platform
