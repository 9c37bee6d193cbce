// The clock every window is measured with. Where the installation is found is
// pinned by running the installed programs from another directory (e2e).
#include "platform/monotonic_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(MonotonicClock, NeverGoesBackwardsAdvancesAsFarAsASleepAndBothResolutionsAgree)
{
    int64_t lastMs = Platform::MonotonicMs();
    int64_t lastUs = Platform::MonotonicUs();
    for (int i = 0; i < 200000; ++i) {
        const int64_t ms = Platform::MonotonicMs();
        const int64_t us = Platform::MonotonicUs();
        ASSERT_GE(ms, lastMs);
        ASSERT_GE(us, lastUs);
        lastMs = ms;
        lastUs = us;
    }
    const int64_t startUs = Platform::MonotonicUs();
    const int64_t startMs = Platform::MonotonicMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const int64_t endMs = Platform::MonotonicMs();
    const int64_t endUs = Platform::MonotonicUs();
    EXPECT_GE(endMs - startMs, 30);
    EXPECT_GE(endUs - startUs, 30000);
    // Milliseconds taken between two microsecond readings lie between them.
    EXPECT_GE(startMs, startUs / 1000);
    EXPECT_LE(endMs, endUs / 1000);
}
