// The serial transport over a real pseudo-terminal; the test plays the board
// on the master side, and reads the line settings back through the master
// (which reports its slave's settings).
#include <gtest/gtest.h>

#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <future>
#include <thread>

#include "support/print_capture.h"
#include "support/pty_pair.h"
#include "platform/monotonic_clock.h"
#include "platform/serial_port.h"
#include "platform/serial_speed_linux.h"
#include "transport/serport_transport.h"

namespace {

using TestSupport::Bytes;
using TestSupport::Pattern;
using TestSupport::PrintCapture;
using TestSupport::PtyPair;

// "Must end" bounds: generous, so a loaded machine never trips them.
constexpr int MUST_END_MS = 20000;
constexpr uint32_t TEN_MINUTES = 10 * 60 * 1000;

Common::TRANSPORT_MODE_ATTR_U Attributes(const std::string& path, uint32_t baud = 115200, uint32_t stopBits = 0,
                                         uint32_t parity = 0)
{
    return {{path, baud, 8, stopBits, parity}};
}

// Runs f on another thread; false when it does not end within the bound.
template <typename F>
bool EndsInTime(F f)
{
    auto done = std::async(std::launch::async, f);
    return done.wait_for(std::chrono::milliseconds(MUST_END_MS)) == std::future_status::ready;
}

class SerportTransportTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_pty.Ok()); }
    void OpenPort() { ASSERT_TRUE(m_transport.Open(Attributes(m_pty.SlavePath()))); }

    // Waits (without sleeping blindly) until the store holds `count` bytes.
    bool WaitUntilPending(unsigned long count)
    {
        const int64_t deadline = Platform::MonotonicMs() + MUST_END_MS;
        while (m_transport.PendingCount() < count && Platform::MonotonicMs() < deadline) {
            m_transport.WaitForData(100);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return m_transport.PendingCount() >= count;
    }

    uint32_t LineSpeed() const
    {
        uint32_t baud = 0;
        EXPECT_EQ(Platform::LinuxSerialSpeed::Get(m_pty.Master(), baud), 0);
        return baud;
    }

    PtyPair m_pty;
    PrintCapture m_prints;
    SerportTransport m_transport;
};

// ---- Line settings ---------------------------------------------------------

TEST_F(SerportTransportTest, ARaw8BitLineAtAnyRateStopBitsAndParityAndARefusedRateChangeSaysWhyAndKeepsTheRate)
{
    OpenPort();
    const struct {
        uint32_t baud;
        uint32_t stopBits;
        uint32_t parity;
    } settings[] = {{115200, 2, 4}, {3000000, 2, 0}, {1234567, 0, 1}, {921600, 0, 0}};
    for (const auto& s : settings) {
        // Rates no B-constant names work; the pty drops parity flags itself (the
        // mapping is checked in the platform tests): parity 4, the last code, is accepted.
        ASSERT_TRUE(m_transport.InitDcb(Attributes(m_pty.SlavePath(), s.baud, s.stopBits, s.parity)))
            << s.baud << " " << s.parity;
        struct termios tio {};
        EXPECT_EQ(tcgetattr(m_pty.Master(), &tio), 0);
        EXPECT_EQ(LineSpeed(), s.baud);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, s.stopBits == 2);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL | CRTSCTS), static_cast<tcflag_t>(CREAD | CLOCAL));
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | INLCR | IGNCR | PARMRK | IGNPAR), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    }
    // A rate change asked for by a protocol says why it was refused.
    const LineStatus refused = m_transport.ApplyLineSettings(m_transport.Settings().WithRate(0));
    EXPECT_FALSE(refused.Ok());
    EXPECT_TRUE(TestSupport::Contains(refused.reason, "refused")) << refused.reason;
    EXPECT_FALSE(m_transport.CheckRate(0).Ok()) << "0 is never offered to a board";
    EXPECT_EQ(LineSpeed(), 921600u);
    LineStatus taken = m_transport.ApplyLineSettings(m_transport.Settings().WithRate(3000000));
    EXPECT_TRUE(taken.Ok()) << taken.reason;
    EXPECT_EQ(LineSpeed(), 3000000u);
    EXPECT_EQ(m_transport.Settings().baudRate, 3000000u);
}

// ---- Receiving and waiting --------------------------------------------------

TEST_F(SerportTransportTest, ReceiveNeverBlocksWaitForDataEndsWhenBytesArriveAndFivePendingAreReadAsThreeThenTwo)
{
    EXPECT_TRUE(EndsInTime([&] { EXPECT_FALSE(m_transport.WaitForData(TEN_MINUTES)); })) << "closed transport";
    OpenPort();
    uint8_t buffer[8] = {};
    EXPECT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 0u);
    EXPECT_FALSE(m_transport.WaitForData(30));
    // A wait far longer than the bound: only the arriving bytes can end it in time.
    std::thread board([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_pty.Write({0x10, 0x00, 0xFF, 0x0A, 0x04});
    });
    EXPECT_TRUE(EndsInTime([&] { EXPECT_TRUE(m_transport.WaitForData(TEN_MINUTES)); }));
    board.join();
    ASSERT_TRUE(WaitUntilPending(5));
    EXPECT_TRUE(m_transport.WaitForData(0)) << "true at once while bytes are pending";
    EXPECT_EQ(m_transport.Receive(buffer, 3), 3u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x10, 0x00, 0xFF}));
    EXPECT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 2u);
    EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{0x0A, 0x04}));
    EXPECT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 0u);
}

// ---- Waits that sleep in a read of the line ---------------------------------------
// A long wait is a read whose timer ends it after a tenth of a second without
// bytes; the wait goes on until its own window is over.

int64_t MsTaken(const std::function<void()>& f)
{
    const int64_t start = Platform::MonotonicMs();
    f();
    return Platform::MonotonicMs() - start;
}

TEST_F(SerportTransportTest, AQuietWaitLastsItsWholeWindowOnEitherSideOfTheOneCallWait)
{
    OpenPort();
    for (int window : {Platform::SerialPort::ONE_CALL_WAIT_MIN_MS - 1, Platform::SerialPort::ONE_CALL_WAIT_MIN_MS,
                       350}) {
        bool got = true;
        const int64_t taken = MsTaken([&] { got = m_transport.WaitForData(static_cast<uint32_t>(window)); });
        EXPECT_FALSE(got) << window;
        EXPECT_GE(taken, window) << "a read timer that ran out must not end the wait";
        EXPECT_LT(taken, MUST_END_MS) << window;
    }
    uint8_t buffer[4];
    EXPECT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 0u) << "reads still never wait";
}

TEST_F(SerportTransportTest, ADriverThatIgnoresTheReadTimerMakesTheWaitPollNotSpin)
{
    OpenPort();
    // Reads that end at once with nothing, as a driver without the timer's would.
    termios tio{};
    ASSERT_EQ(tcgetattr(m_pty.Master(), &tio), 0);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ASSERT_EQ(tcsetattr(m_pty.Master(), TCSANOW, &tio), 0);
    timespec cpuBefore{};
    timespec cpuAfter{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuBefore);
    const int64_t taken = MsTaken([&] { EXPECT_FALSE(m_transport.WaitForData(350)); });
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuAfter);
    EXPECT_GE(taken, 350);
    const int64_t cpuMs = (cpuAfter.tv_sec - cpuBefore.tv_sec) * 1000 + (cpuAfter.tv_nsec - cpuBefore.tv_nsec) / 1000000;
    EXPECT_LT(cpuMs, taken / 2) << "the wait spun on empty reads";
    std::thread board([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        m_pty.Write({0x06});
    });
    EXPECT_TRUE(EndsInTime([&] { EXPECT_TRUE(m_transport.WaitForData(TEN_MINUTES)); }));
    board.join();
}

TEST_F(SerportTransportTest, BytesAfterTheFirstReadTimerRanOutEndTheWaitAndAllOfThemArrive)
{
    OpenPort();
    std::thread board([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        m_pty.Write({0x06, 0x43});
    });
    EXPECT_TRUE(EndsInTime([&] { EXPECT_TRUE(m_transport.WaitForData(TEN_MINUTES)); }));
    board.join();
    ASSERT_TRUE(WaitUntilPending(2));
    uint8_t buffer[4];
    ASSERT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 2u);
    EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{0x06, 0x43}));
}

TEST_F(SerportTransportTest, AHangUpDuringALongWaitEndsItAndMarksTheLineLost)
{
    OpenPort();
    std::thread board([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        m_pty.CloseMaster();
    });
    EXPECT_TRUE(EndsInTime([&] { EXPECT_FALSE(m_transport.WaitForData(TEN_MINUTES)); }));
    board.join();
    EXPECT_TRUE(m_transport.IsBroken());
    EXPECT_EQ(m_prints.CountLine("error: the serial line was lost.\n"), 1);
}

// ---- Opening, sending and closing -------------------------------------------------

TEST_F(SerportTransportTest, ALongDevicePathOpensASecondOpenStartsAfreshAStalledSendAndCloseEndInTime)
{
    // A device path longer than 32 characters, as /dev/serial/by-id names them.
    TestSupport::TempDir dir("tarnwick-a-directory-name-well-beyond-thirty-two");
    const std::string link = dir.File("usb-Maker_Board_Serial_0123456789-if00-port0");
    ASSERT_EQ(symlink(m_pty.SlavePath().c_str(), link.c_str()), 0);
    ASSERT_TRUE(m_transport.Open(Attributes(link)));
    EXPECT_EQ(m_transport.GetDeviceName(), link);
    ASSERT_TRUE(m_pty.Write({1, 2, 3}));
    ASSERT_TRUE(WaitUntilPending(3));

    OpenPort();
    EXPECT_EQ(m_transport.PendingCount(), 0u);
    ASSERT_TRUE(m_pty.Write({9}));
    ASSERT_TRUE(WaitUntilPending(1)) << "the reopened line works";

    // Nobody reads the master: the pty fills and takes nothing more. A board
    // that stops reading does not hang the sender, nor the close after it.
    const Bytes sent = Pattern(4 * 1024 * 1024, 5);
    unsigned long count = 0;
    ASSERT_TRUE(EndsInTime([&] { count = m_transport.Send(sent.data(), static_cast<unsigned long>(sent.size())); }));
    EXPECT_LT(count, sent.size());
    EXPECT_EQ(m_transport.GetErrorCode(), ETIMEDOUT);
    ASSERT_TRUE(EndsInTime([&] { m_transport.Close(); }));
    EXPECT_FALSE(m_transport.IsOpen());
    m_transport.Close();  // a second close is harmless
}

TEST_F(SerportTransportTest, RefusedOpensKeepTheReason)
{
    EXPECT_FALSE(m_transport.Open(Attributes("/dev/tarnwick-no-such-port")));
    EXPECT_EQ(m_transport.GetErrorCode(), ENOENT);
    EXPECT_FALSE(m_transport.GetErrorStrInfo().empty());
    EXPECT_EQ(m_prints.CountLine("invalid handle value.\n"), 1);
    EXPECT_FALSE(m_transport.Open(Attributes("/dev/null")));
    EXPECT_FALSE(m_transport.IsOpen());
    EXPECT_EQ(m_prints.CountLine("invalid handle value.\n"), 2);
    // Settings the line refuses: the reason is kept, nothing is printed. One and a
    // half stop bits do not exist with 8-bit characters (every refused code: the
    // platform tests).
    PrintCapture::Clear();
    EXPECT_FALSE(m_transport.Open(Attributes(m_pty.SlavePath(), 115200, 1, 0)));
    EXPECT_EQ(m_prints.Text(), "");
    EXPECT_EQ(m_transport.GetErrorCode(), EINVAL);
    EXPECT_FALSE(m_transport.GetErrorStrInfo().empty());
    EXPECT_FALSE(m_transport.IsOpen());
}

// ---- A line that goes away -------------------------------------------------------

TEST_F(SerportTransportTest, PeerClosingEndsWaitsAndFailsSendsWithOneMessageButKeepsWhatArrived)
{
    OpenPort();
    ASSERT_TRUE(m_pty.Write({7, 8}));
    ASSERT_TRUE(WaitUntilPending(2));
    m_pty.CloseMaster();
    EXPECT_TRUE(m_transport.WaitForData(0));
    uint8_t buffer[4];
    EXPECT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 2u);
    EXPECT_FALSE(m_transport.IsBroken()) << "nothing has looked at the line since";

    EXPECT_TRUE(EndsInTime([&] { EXPECT_FALSE(m_transport.WaitForData(TEN_MINUTES)); }));
    EXPECT_TRUE(m_transport.IsBroken());
    EXPECT_EQ(m_transport.Send(buffer, 4), 0u);
    EXPECT_EQ(m_prints.CountLine("error: the serial line was lost.\n"), 1);
    EXPECT_TRUE(EndsInTime([&] { m_transport.Close(); }));

    PtyPair fresh;
    ASSERT_TRUE(fresh.Ok());
    ASSERT_TRUE(m_transport.Open(Attributes(fresh.SlavePath())));
    EXPECT_FALSE(m_transport.IsBroken()) << "reopening starts a fresh line";
    ASSERT_TRUE(fresh.Write({0x33}));
    EXPECT_TRUE(WaitUntilPending(1));
}

}  // namespace
