// The platform serial port on a real pseudo-terminal. Settings read back,
// queued reads, bulk writes and a lost peer are pinned one layer up, through
// the transport on the same kind of line (tests/transport).
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "platform/serial_port.h"
#include "platform/serial_termios.h"
#include "support/pty_pair.h"

namespace {

using Platform::SerialPort;
using Platform::SerialWait;
using TestSupport::PtyPair;

constexpr int MUST_END_MS = 20000;

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Ok());
        ASSERT_EQ(m_port.Open(m_pty.SlavePath()), 0);
        ASSERT_EQ(m_wake.Create(), 0);
    }
    PtyPair m_pty;
    SerialPort m_port;
    Platform::WakeupEvent m_wake;
};

TEST(SerialPortOpenTest, ReportsWhyAnOpenFailed)
{
    SerialPort port;
    EXPECT_EQ(port.Open("/dev/tarnwick-missing"), ENOENT);
    EXPECT_EQ(port.Open("/dev/null"), ENOTTY);
    EXPECT_FALSE(port.IsOpen());
    Platform::SerialLineSettings line;
    line.baudRate = 115200;
    EXPECT_EQ(port.ApplyLineSettings(line), EBADF);
    uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1).error, EBADF);
    EXPECT_EQ(port.Write(&byte, 1, 10).error, EBADF);
    EXPECT_EQ(port.Wait(-1, 0), SerialWait::FAILED);
}

// A pty clears the parity flags itself, so the mapping is checked here.
TEST(SerialTermiosTest, ParityAndStopCodesBecomeControlFlags)
{
    struct Case {
        uint32_t stopBits;
        uint32_t parity;
        tcflag_t expected;
    };
    const Case cases[] = {
        {0, 0, 0},
        {0, 1, PARENB | PARODD},
        {0, 2, PARENB},
        {0, 3, PARENB | PARODD | CMSPAR},  // mark
        {0, 4, PARENB | CMSPAR},           // space
        {2, 0, CSTOPB},
        {2, 2, CSTOPB | PARENB},
    };
    const tcflag_t relevant = PARENB | PARODD | CMSPAR | CSTOPB;
    for (const Case& c : cases) {
        // Start from every flag set: stale bits must be cleared.
        tcflag_t cflag = relevant | CS8 | CREAD;
        ASSERT_EQ(Platform::ComposeControlFlags(c.stopBits, c.parity, cflag), 0) << c.parity;
        EXPECT_EQ(cflag & relevant, c.expected) << c.stopBits << "/" << c.parity;
        EXPECT_EQ(cflag & (CS8 | CREAD), static_cast<tcflag_t>(CS8 | CREAD));
    }
    tcflag_t cflag = 0;
    EXPECT_EQ(Platform::ComposeControlFlags(1, 0, cflag), EINVAL);  // 1.5 needs 5-bit characters
    EXPECT_EQ(Platform::ComposeControlFlags(3, 0, cflag), EINVAL);
    EXPECT_EQ(Platform::ComposeControlFlags(0, 5, cflag), EINVAL);
}

TEST_F(SerialPortTest, WaitEndsOnWakeUpOrTimeout)
{
    EXPECT_EQ(m_port.Wait(m_wake.Fd(), 20), SerialWait::TIMEOUT);

    auto waiting = std::async(std::launch::async, [&] { return m_port.Wait(m_wake.Fd(), -1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    m_wake.Signal();
    ASSERT_EQ(waiting.wait_for(std::chrono::milliseconds(MUST_END_MS)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), SerialWait::WOKEN);

    // Cleared, the event no longer ends a wait.
    m_wake.Clear();
    EXPECT_EQ(m_port.Wait(m_wake.Fd(), 20), SerialWait::TIMEOUT);
    EXPECT_FALSE(m_wake.Wait(0));
    m_wake.Signal();
    m_wake.Signal();
    EXPECT_TRUE(m_wake.Wait(0));
    m_wake.Clear();
    EXPECT_FALSE(m_wake.Wait(0));
}

TEST_F(SerialPortTest, PurgeDropsInputTheReaderHasNotTakenAndAClosedPortOpensAgain)
{
    ASSERT_TRUE(m_pty.Write({9, 9, 9}));
    ASSERT_EQ(m_port.Wait(m_wake.Fd(), MUST_END_MS), SerialWait::READABLE);
    EXPECT_EQ(m_port.Purge(true, false), 0);
    uint8_t buffer[4];
    EXPECT_EQ(m_port.Read(buffer, sizeof(buffer)).count, 0u);
    m_port.Close();
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.Open(m_pty.SlavePath()), 0);
    EXPECT_TRUE(m_port.IsOpen());
}

}  // namespace
