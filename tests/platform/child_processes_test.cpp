// Children of the station: a kill reaches every process of a child's group,
// and a child starts with no signal held back. Reaping without waiting, the
// wake pipe, and the station's own Ctrl-C read from the signal descriptor
// are relied on by the station end to end (tests/e2e/station_e2e_test.cpp).
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/child_processes.h"
#include "support/test_files.h"

namespace {

namespace Child = Platform::ChildProcesses;

constexpr int WAIT_LIMIT_MS = 10000;

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const int signalFd = Child::CatchSignals();
        m_signalFd = signalFd;
        ASSERT_GE(m_signalFd, 0);
        Child::DrainSignals(m_signalFd);
    }

    Child::Child Shell(const std::string& script)
    {
        return Child::Spawn({"/bin/sh", "-c", script}, m_dir.File("child.log"));
    }

    // Waits on the signal descriptor (never sleeping blindly) until the child is reaped.
    bool ReapWithin(Child::ProcessId pid, int& exitCode)
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_LIMIT_MS);
        double cpu = 0.0;
        while (!Child::TryReap(pid, exitCode, cpu)) {
            if (std::chrono::steady_clock::now() > giveUp) {
                return false;
            }
            if (!Child::WaitReadable({m_signalFd}, 100).empty()) {
                Child::DrainSignals(m_signalFd);
            }
        }
        return true;
    }

    TestSupport::TempDir m_dir{"tarnwick-children"};
    int m_signalFd = -1;
};

// That an ignored SIGTERM leaves the child running until the SIGKILL is the
// station's stuck-board case end to end.
TEST_F(ChildProcessTest, AKillReachesEveryProcessOfTheGroup)
{
    // The shell says on its event pipe that the sleep it waits for has started.
    const Child::Child child = Shell("sleep 30 & echo ready >&3; wait; sleep 30");
    ASSERT_GT(child.pid, 0);
    // Set on both sides of the fork: no window in which the group is missing.
    EXPECT_EQ(getpgid(child.pid), child.pid);
    ASSERT_FALSE(Child::WaitReadable({child.eventsFd}, WAIT_LIMIT_MS).empty());
    char ready[16] = {};
    ASSERT_EQ(Child::ReadSome(child.eventsFd, ready, sizeof ready), 6);
    int code = 0;
    Child::Kill(child.pid);
    ASSERT_TRUE(ReapWithin(child.pid, code));
    EXPECT_EQ(code, 128 + SIGKILL);
    // The group's sleep got SIGKILL too: nothing holds the event pipe open any more.
    ASSERT_FALSE(Child::WaitReadable({child.eventsFd}, WAIT_LIMIT_MS).empty());
    EXPECT_EQ(Child::ReadSome(child.eventsFd, ready, 1), 0);
    Child::CloseFd(child.eventsFd);
}

TEST_F(ChildProcessTest, ChildrenStartWithNoSignalHeldBack)
{
    // The tool must be reachable by the Ctrl-C the station passes on.
    const Child::Child child = Shell("exec grep SigBlk /proc/self/status >&3");
    ASSERT_GT(child.pid, 0);
    int code = -1;
    ASSERT_TRUE(ReapWithin(child.pid, code));
    EXPECT_EQ(code, 0);
    char buffer[64] = {};
    const long got = Child::ReadSome(child.eventsFd, buffer, sizeof buffer - 1);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "SigBlk:\t0000000000000000\n");
    Child::CloseFd(child.eventsFd);
}

}  // namespace
