// The console's helper sleeps on this timer while writers keep moving its
// deadline: a moved deadline must neither end the wait early nor be lost.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/deadline_timer.h"

namespace {

constexpr uint32_t AN_HOUR_MS = 3600 * 1000;
// Long enough that a deadline which had been kept would have passed.
constexpr auto WELL_PAST = std::chrono::milliseconds(300);
// Generous: a loaded machine may be slow to run the waiter.
constexpr auto ENDS_WITHIN = std::chrono::seconds(5);

class DeadlineTimerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_timer.Valid()); }
    void TearDown() override
    {
        // Never leave a waiter blocked behind.
        m_timer.ArmIn(0);
        if (m_waiter.valid()) {
            m_waiter.wait();
        }
    }
    void StartWaiter()
    {
        m_waiter = std::async(std::launch::async, [this] { m_timer.Wait(); });
    }
    bool WaiterEndedWithin(std::chrono::milliseconds limit)
    {
        return m_waiter.wait_for(limit) == std::future_status::ready;
    }

    Platform::DeadlineTimer m_timer;
    std::future<void> m_waiter;
};

// An unarmed timer holds the wait; a deadline moved later ends none, a new one
// now ends it, and one that expired while nobody waited ends the next wait.
TEST_F(DeadlineTimerTest, AMovedDeadlineEndsTheWaitNeitherEarlyNorNever)
{
    StartWaiter();
    EXPECT_FALSE(WaiterEndedWithin(WELL_PAST)) << "an unarmed timer ended the wait";
    m_timer.ArmIn(20);
    m_timer.ArmIn(AN_HOUR_MS);
    EXPECT_FALSE(WaiterEndedWithin(WELL_PAST)) << "the replaced 20 ms deadline still fired";
    m_timer.ArmIn(0);
    EXPECT_TRUE(WaiterEndedWithin(ENDS_WITHIN));
    m_timer.ArmIn(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    StartWaiter();
    EXPECT_TRUE(WaiterEndedWithin(ENDS_WITHIN)) << "a deadline passed before the wait was lost";
}

}  // namespace
