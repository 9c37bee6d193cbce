// Children of the station: in a process group of their own from the moment
// Spawn returns, reaped without waiting, reached as a group by every signal,
// and their ends read from the signal descriptor, which takes the station's
// own Ctrl-C and SIGTERM in every thread. Event lines, the log, plain exit
// codes and ends seen on the descriptor are read by the station end to end
// (tests/e2e/station_e2e_test.cpp).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

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

// Kill and Terminate alternate; each end is told by its exit code.
TEST_F(ChildProcessTest, TheProcessGroupExistsWhenSpawnReturnsAndTryReapNeverWaits)
{
    for (int i = 0; i < 20; ++i) {
        const Child::Child child = Shell("exec sleep 30");
        ASSERT_GT(child.pid, 0);
        // Set on both sides of the fork: no window in which the group is missing.
        EXPECT_EQ(getpgid(child.pid), child.pid);
        int code = -2;
        double cpu = -1.0;
        EXPECT_FALSE(Child::TryReap(child.pid, code, cpu));
        const int signal = i % 2 == 0 ? SIGKILL : SIGTERM;
        signal == SIGKILL ? Child::Kill(child.pid) : Child::Terminate(child.pid);
        ASSERT_TRUE(ReapWithin(child.pid, code));
        EXPECT_EQ(code, 128 + signal);
        Child::CloseFd(child.eventsFd);
    }
}

// That an ignored SIGTERM leaves the child running until the SIGKILL is the
// station's stuck-board case end to end.
TEST_F(ChildProcessTest, AKillReachesEveryProcessOfTheGroup)
{
    // The shell says on its event pipe that the sleep it waits for has started.
    const Child::Child child = Shell("sleep 30 & echo ready >&3; wait; sleep 30");
    ASSERT_GT(child.pid, 0);
    ASSERT_FALSE(Child::WaitReadable({child.eventsFd}, WAIT_LIMIT_MS).empty());
    char ready[16] = {};
    ASSERT_EQ(Child::ReadSome(child.eventsFd, ready, sizeof ready), 6);
    int code = 0;
    Child::Kill(child.pid);
    ASSERT_TRUE(ReapWithin(child.pid, code));
    EXPECT_EQ(code, 128 + SIGKILL);
    // The group's sleep got SIGKILL too: nothing holds the event pipe open any more.
    char byte = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_LIMIT_MS);
    long got = -1;
    while ((got = Child::ReadSome(child.eventsFd, &byte, 1)) < 0 && std::chrono::steady_clock::now() < giveUp) {
        Child::WaitReadable({child.eventsFd}, 100);
    }
    EXPECT_EQ(got, 0);
    Child::CloseFd(child.eventsFd);
}

TEST_F(ChildProcessTest, ASigtermIsReadFromTheDescriptorEvenWithAThreadStartedLater)
{
    // A thread that did not hold it back would take the default action: the end of this test program.
    Child::WakePipe stop = Child::OpenWakePipe();
    std::thread waiting([&stop] { Child::WaitReadable({stop.readFd}, WAIT_LIMIT_MS); });
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    ASSERT_FALSE(Child::WaitReadable({m_signalFd}, WAIT_LIMIT_MS).empty());
    const Child::Signals signals = Child::DrainSignals(m_signalFd);
    EXPECT_EQ(signals.interrupts, 1);
    EXPECT_FALSE(signals.childEnded);
    Child::Wake(stop);
    waiting.join();
    Child::CloseWakePipe(stop);
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

// Without a descriptor to read them from, Ctrl-C and SIGTERM must not stay held back.
TEST(CatchSignals, WithNoDescriptorLeftNothingIsHeldBack)
{
    const pid_t pid = fork();
    if (pid == 0) {
        sigset_t held;
        sigemptyset(&held);  // as a station starts: nothing held back (other tests here caught signals)
        pthread_sigmask(SIG_SETMASK, &held, nullptr);
        // Every descriptor below the lowest free one is taken: with it as the limit, none is left.
        const int lowest = open("/dev/null", O_RDONLY);
        close(lowest);
        const rlimit none{static_cast<rlim_t>(lowest), static_cast<rlim_t>(lowest)};
        const bool failed = setrlimit(RLIMIT_NOFILE, &none) == 0 && Child::CatchSignals() < 0;
        pthread_sigmask(SIG_BLOCK, nullptr, &held);
        _exit(failed && !sigismember(&held, SIGINT) && !sigismember(&held, SIGTERM) ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(WakePipe, AnotherThreadWakesAWaitAndDrainingQuietsIt)
{
    Child::WakePipe wake = Child::OpenWakePipe();
    ASSERT_GE(wake.readFd, 0);
    EXPECT_TRUE(Child::WaitReadable({wake.readFd}, 0).empty());
    std::thread waker([&wake] { Child::Wake(wake); });
    EXPECT_EQ(Child::WaitReadable({wake.readFd}, WAIT_LIMIT_MS), std::vector<int>{wake.readFd});
    waker.join();
    Child::DrainWake(wake);
    EXPECT_TRUE(Child::WaitReadable({wake.readFd}, 0).empty());
    Child::CloseWakePipe(wake);
    EXPECT_EQ(wake.readFd, -1);
}

}  // namespace
