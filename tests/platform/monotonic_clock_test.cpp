#include "platform/monotonic_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(MonotonicClock, NeverGoesBackwards)
{
    int64_t lastMs = Platform::MonotonicMs();
    int64_t lastUs = Platform::MonotonicUs();
    for (int i = 0; i < 200000; ++i) {
        int64_t ms = Platform::MonotonicMs();
        int64_t us = Platform::MonotonicUs();
        ASSERT_GE(ms, lastMs);
        ASSERT_GE(us, lastUs);
        lastMs = ms;
        lastUs = us;
    }
}

TEST(MonotonicClock, AdvancesAtLeastAsFarAsASleep)
{
    int64_t startMs = Platform::MonotonicMs();
    int64_t startUs = Platform::MonotonicUs();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(Platform::MonotonicMs() - startMs, 30);
    EXPECT_GE(Platform::MonotonicUs() - startUs, 30000);
}

TEST(MonotonicClock, BothResolutionsReadTheSameClock)
{
    // Milliseconds taken between two microsecond readings lie between them.
    int64_t before = Platform::MonotonicUs();
    int64_t ms = Platform::MonotonicMs();
    int64_t after = Platform::MonotonicUs();
    EXPECT_GE(ms, before / 1000);
    EXPECT_LE(ms, after / 1000);
}
