#include "platform/monotonic_clock.h"

#include <chrono>
#include <thread>

namespace Platform {

namespace {
std::chrono::steady_clock::duration SinceEpoch()
{
    return std::chrono::steady_clock::now().time_since_epoch();
}
} // namespace

int64_t MonotonicMs()
{
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(SinceEpoch()).count());
}

int64_t MonotonicUs()
{
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::microseconds>(SinceEpoch()).count());
}

} // namespace Platform

namespace Common {

void DelayUs(double us)
{
    // Long waits sleep most of the way and spin only the tail, so the frame
    // loops keep their precision without burning a core.
    constexpr double SPIN_TAIL_US = 1000.0;
    const int64_t start = Platform::MonotonicUs();
    if (us > 2 * SPIN_TAIL_US && us < 1e12) {
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(us - SPIN_TAIL_US)));
    }
    while (static_cast<double>(Platform::MonotonicUs() - start) <= us) {
    }
}

uint32_t GetTime()
{
    return static_cast<uint32_t>(static_cast<uint64_t>(Platform::MonotonicMs()) & 0xFFFFFFFFu);
}

} // namespace Common
