// The platform serial port on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "platform/serial_port.h"
#include "platform/serial_termios.h"
#include "pty_pair.h"

namespace {

using Platform::SerialLineSettings;
using Platform::SerialPort;
using Platform::SerialWait;
using Platform::WakeupEvent;

constexpr int MUST_END_MS = 20000;

SerialLineSettings Line(uint32_t baud, uint32_t stopBits = 0, uint32_t parity = 0)
{
    SerialLineSettings s;
    s.baudRate = baud;
    s.stopBits = stopBits;
    s.parity = parity;
    return s;
}

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
    WakeupEvent m_wake;
};

TEST(SerialPortOpenTest, ReportsWhyAnOpenFailed)
{
    SerialPort port;
    EXPECT_EQ(port.Open("/dev/tarnwick-missing"), ENOENT);
    EXPECT_EQ(port.Open("/dev/null"), ENOTTY);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.ApplyLineSettings(Line(115200)), EBADF);
    uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1).error, EBADF);
    EXPECT_EQ(port.Write(&byte, 1, 10).error, EBADF);
    EXPECT_EQ(port.Wait(-1, 0), SerialWait::FAILED);
}

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

// A pty keeps speed and stop bits but clears the parity flags itself, so
// parity is checked above and only accepted here.
TEST_F(SerialPortTest, SettingsReadBackAsAppliedAndCodesTheLineCannotDoChangeNothing)
{
    const SerialLineSettings cases[] = {
        Line(9600, 0, 0),    Line(115200, 2, 1), Line(921600, 0, 2),
        Line(1500000, 2, 3), Line(2000000, 0, 4), Line(3000000, 0, 0), Line(57600, 2, 1),
    };
    SerialLineSettings got;
    for (const SerialLineSettings& want : cases) {
        ASSERT_EQ(m_port.ApplyLineSettings(want), 0) << want.baudRate;
        got = Line(1, 9, 9);
        ASSERT_EQ(m_port.ReadLineSettings(got), 0);
        EXPECT_EQ(got.baudRate, want.baudRate);
        EXPECT_EQ(got.stopBits, want.stopBits) << want.baudRate;
    }
    for (const SerialLineSettings& bad : {Line(115200, 1, 0), Line(115200, 3, 0), Line(115200, 0, 5), Line(0, 0, 0)}) {
        EXPECT_EQ(m_port.ApplyLineSettings(bad), EINVAL) << bad.baudRate << "/" << bad.stopBits << "/" << bad.parity;
    }
    ASSERT_EQ(m_port.ReadLineSettings(got), 0);
    EXPECT_EQ(got.baudRate, 57600u);
    EXPECT_EQ(got.stopBits, 2u);
}

TEST_F(SerialPortTest, ReadTakesWhatIsQueuedWithoutWaiting)
{
    uint8_t buffer[8];
    Platform::SerialIoResult none = m_port.Read(buffer, sizeof(buffer));
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(none.error, 0);
    EXPECT_FALSE(none.lineLost);

    ASSERT_TRUE(m_pty.Write({1, 2, 3}));
    ASSERT_EQ(m_port.Wait(m_wake.Fd(), MUST_END_MS), SerialWait::READABLE);
    // The pty may deliver in pieces; gather until all three are in.
    size_t total = 0;
    while (total < 3 && m_port.Wait(m_wake.Fd(), MUST_END_MS) == SerialWait::READABLE) {
        total += m_port.Read(buffer + total, sizeof(buffer) - total).count;
    }
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(buffer[2], 3);
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

TEST_F(SerialPortTest, PeerGoneShowsAsALostLine)
{
    m_pty.CloseMaster();
    SerialWait event = m_port.Wait(m_wake.Fd(), MUST_END_MS);
    ASSERT_TRUE(event == SerialWait::LINE_LOST || event == SerialWait::READABLE);
    uint8_t buffer[4];
    Platform::SerialIoResult read = m_port.Read(buffer, sizeof(buffer));
    EXPECT_TRUE(read.lineLost);
    Platform::SerialIoResult write = m_port.Write(buffer, sizeof(buffer), MUST_END_MS);
    EXPECT_TRUE(write.lineLost);
    EXPECT_EQ(write.count, 0u);
}

TEST_F(SerialPortTest, WriteHandsOverEveryByteThroughAFullQueue)
{
    std::vector<uint8_t> sent(256 * 1024);
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    std::vector<uint8_t> got;
    std::thread board([&] { got = m_pty.Read(sent.size()); });
    Platform::SerialIoResult r = m_port.Write(sent.data(), sent.size(), MUST_END_MS);
    board.join();
    EXPECT_EQ(r.count, sent.size());
    EXPECT_EQ(r.error, 0);
    EXPECT_TRUE(got == sent);
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
