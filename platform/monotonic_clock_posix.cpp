#include "platform/monotonic_clock.h"

#include <time.h>

#include "platform/hot_path.h"

namespace Platform {

namespace {

// Straight from the C library: every frame reads the clock, and the C++
// clock would add its own library's pages to what a frame touches.
HOT_PATH timespec Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

} // namespace

HOT_PATH int64_t MonotonicMs()
{
    const timespec now = Now();
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t MonotonicUs()
{
    const timespec now = Now();
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

} // namespace Platform
