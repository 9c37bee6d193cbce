// The serial transport over a real pseudo-terminal; the test plays the board
// on the master side.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "platform/monotonic_clock.h"
#include "pty_pair.h"
#include "transport/serport_transport.h"

namespace {

// "Must end" bounds: generous, so a loaded machine never trips them.
constexpr int MUST_END_MS = 20000;

Common::TRANSPORT_MODE_ATTR_U Attributes(const std::string& path, uint32_t baud = 115200)
{
    Common::TRANSPORT_MODE_ATTR_U attr;
    attr.serial.portName = path;
    attr.serial.baudRate = baud;
    return attr;
}

std::vector<uint8_t> Pattern(size_t length, uint32_t seed = 1)
{
    std::vector<uint8_t> bytes(length);
    uint32_t x = seed;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// Waits (without sleeping blindly) until the store holds `count` bytes.
bool WaitUntilPending(SerportTransport& transport, unsigned long count)
{
    int64_t deadline = Platform::MonotonicMs() + MUST_END_MS;
    while (transport.PendingCount() < count) {
        if (Platform::MonotonicMs() > deadline) {
            return false;
        }
        transport.WaitForData(100);
        if (transport.PendingCount() < count) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

class SerportTransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.Ok());
        m_threadsBefore = ThreadCount();
    }
    void OpenPort() { ASSERT_TRUE(m_transport.Open(Attributes(m_pty.SlavePath()))); }

    PtyPair m_pty;
    PrintCapture m_prints;
    SerportTransport m_transport;
    int m_threadsBefore = 0;
};

// ---- Receiving -------------------------------------------------------------

using SerportReceiveTest = SerportTransportTest;

TEST_F(SerportReceiveTest, ReceiveWithNothingPendingReturnsZero)
{
    OpenPort();
    uint8_t buffer[16];
    EXPECT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 0u);
}

TEST_F(SerportReceiveTest, FivePendingBytesAreReadAsThreeThenTwo)
{
    OpenPort();
    ASSERT_TRUE(m_pty.Write({0x10, 0x00, 0xFF, 0x0A, 0x04}));
    ASSERT_TRUE(WaitUntilPending(m_transport, 5));

    uint8_t buffer[8] = {};
    ASSERT_EQ(m_transport.Receive(buffer, 3), 3u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 3), (std::vector<uint8_t>{0x10, 0x00, 0xFF}));
    ASSERT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 2u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 2), (std::vector<uint8_t>{0x0A, 0x04}));
    EXPECT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 0u);
}

TEST_F(SerportReceiveTest, RawLineKeepsControlBytesUntranslated)
{
    OpenPort();
    // CR, LF, XON, XOFF, ^C, ^D, DEL: a cooked line would eat or change them.
    std::vector<uint8_t> control = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x04, 0x7F, 0x1A, 0x00};
    ASSERT_TRUE(m_pty.Write(control));
    ASSERT_TRUE(WaitUntilPending(m_transport, control.size()));
    std::vector<uint8_t> got(control.size());
    ASSERT_EQ(m_transport.Receive(got.data(), static_cast<unsigned long>(got.size())), control.size());
    EXPECT_EQ(got, control);

    ASSERT_EQ(m_transport.Send(control.data(), static_cast<unsigned long>(control.size())), control.size());
    EXPECT_EQ(m_pty.Read(control.size()), control);
}

TEST_F(SerportReceiveTest, ReceiveIntoNullBufferFails)
{
    OpenPort();
    EXPECT_EQ(m_transport.Receive(nullptr, 4), 0u);
    EXPECT_EQ(m_prints.Count("data is null.\n"), 1);
}

TEST_F(SerportReceiveTest, OnAdataAvailableOnEmptyStoreLeavesTextUnchanged)
{
    OpenPort();
    std::string text = "kept";
    EXPECT_EQ(m_transport.OnAdataAvailable(text), 0);
    EXPECT_EQ(text, "kept");
}

TEST_F(SerportReceiveTest, OnAdataAvailableAppendsAndConsumesEveryPendingByte)
{
    OpenPort();
    ASSERT_TRUE(m_pty.Write({'o', 'k', 0x00, 0x80}));
    ASSERT_TRUE(WaitUntilPending(m_transport, 4));
    std::string text = ">";
    EXPECT_EQ(m_transport.OnAdataAvailable(text), 4);
    EXPECT_EQ(text, std::string(">ok\0\x80", 5));
    uint8_t byte;
    EXPECT_EQ(m_transport.Receive(&byte, 1), 0u);
}

TEST_F(SerportReceiveTest, ClearRecvBuffKeepsBytesAlreadyStored)
{
    OpenPort();
    ASSERT_TRUE(m_pty.Write({1, 2, 3, 4}));
    ASSERT_TRUE(WaitUntilPending(m_transport, 4));
    m_transport.ClearRecvBuff();
    EXPECT_EQ(m_transport.PendingCount(), 4u);
}

TEST_F(SerportReceiveTest, LongInboundStreamArrivesInOrderWhileConsumedInPieces)
{
    OpenPort();
    // Large enough to make the store drop consumed bytes several times.
    const std::vector<uint8_t> sent = Pattern(600 * 1024, 7);
    std::thread board([&] { m_pty.Write(sent); });
    std::vector<uint8_t> got;
    uint8_t piece[1000];
    int64_t deadline = Platform::MonotonicMs() + MUST_END_MS;
    while (got.size() < sent.size() && Platform::MonotonicMs() < deadline) {
        m_transport.WaitForData(100);
        unsigned long n = m_transport.Receive(piece, sizeof(piece));
        got.insert(got.end(), piece, piece + n);
    }
    board.join();
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
}

// ---- Waiting for bytes -----------------------------------------------------

using SerportWaitTest = SerportTransportTest;

TEST_F(SerportWaitTest, WaitForDataWakesWhenBytesArrive)
{
    OpenPort();
    std::thread board([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_pty.Write({0xAA});
    });
    // A wait far longer than the bound: only the arriving byte can end it in time.
    auto wait = std::async(std::launch::async, [&] { return m_transport.WaitForData(10 * 60 * 1000); });
    bool ended = wait.wait_for(std::chrono::milliseconds(MUST_END_MS)) == std::future_status::ready;
    board.join();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(wait.get());
    EXPECT_EQ(m_transport.PendingCount(), 1u);
}

TEST_F(SerportWaitTest, WaitForDataGivesFalseAfterItsTimeoutWithNothingPending)
{
    OpenPort();
    EXPECT_FALSE(m_transport.WaitForData(30));
}

TEST_F(SerportWaitTest, WaitForDataIsTrueAtOnceWhileBytesArePending)
{
    OpenPort();
    ASSERT_TRUE(m_pty.Write({1}));
    ASSERT_TRUE(WaitUntilPending(m_transport, 1));
    EXPECT_TRUE(m_transport.WaitForData(0));
}

TEST_F(SerportWaitTest, WaitForDataOnAClosedTransportEndsWithFalse)
{
    auto wait = std::async(std::launch::async, [&] { return m_transport.WaitForData(10 * 60 * 1000); });
    ASSERT_EQ(wait.wait_for(std::chrono::milliseconds(MUST_END_MS)), std::future_status::ready);
    EXPECT_FALSE(wait.get());
}

// ---- Sending -----------------------------------------------------------------

using SerportSendTest = SerportTransportTest;

TEST_F(SerportSendTest, OneMebibyteArrivesWholeAndInOrder)
{
    OpenPort();
    const std::vector<uint8_t> sent = Pattern(1024 * 1024, 3);
    std::vector<uint8_t> got;
    std::thread board([&] { got = m_pty.Read(sent.size()); });
    unsigned long count = m_transport.Send(sent.data(), static_cast<unsigned long>(sent.size()));
    board.join();
    EXPECT_EQ(count, sent.size());
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
}

TEST_F(SerportSendTest, HeadFrameFollowedAtOnceByDataFrameArrivesWhole)
{
    OpenPort();
    // A command head frame followed at once by its data frame: nothing of the
    // first may be dropped to make room for the second.
    const std::vector<uint8_t> head = Pattern(14, 11);
    const std::vector<uint8_t> data = Pattern(4096 + 5, 12);
    ASSERT_EQ(m_transport.Send(head.data(), 14), 14u);
    ASSERT_EQ(m_transport.Send(data.data(), static_cast<unsigned long>(data.size())), data.size());
    std::vector<uint8_t> expected = head;
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(m_pty.Read(expected.size()), expected);
}

TEST_F(SerportSendTest, NullDataIsRefused)
{
    OpenPort();
    EXPECT_EQ(m_transport.Send(nullptr, 3), 0u);
    EXPECT_EQ(m_prints.Count("data is null.\n"), 1);
}

TEST_F(SerportSendTest, SendOnAClosedPortIsRefused)
{
    const uint8_t byte = 0x55;
    EXPECT_EQ(m_transport.Send(&byte, 1), 0u);
    EXPECT_EQ(m_prints.Count("invalid handle value.\n"), 1);
}

TEST_F(SerportSendTest, ABoardThatStopsReadingDoesNotHangTheSender)
{
    OpenPort();
    // Nobody reads the master: the pty fills and takes nothing more.
    const std::vector<uint8_t> sent = Pattern(4 * 1024 * 1024, 5);
    auto send = std::async(std::launch::async,
                           [&] { return m_transport.Send(sent.data(), static_cast<unsigned long>(sent.size())); });
    ASSERT_EQ(send.wait_for(std::chrono::milliseconds(MUST_END_MS)), std::future_status::ready);
    unsigned long count = send.get();
    EXPECT_LT(count, sent.size());
    EXPECT_EQ(m_transport.GetErrorCode(), ETIMEDOUT);
}

// ---- Opening and closing -------------------------------------------------------

using SerportLifecycleTest = SerportTransportTest;

TEST_F(SerportLifecycleTest, OpenStartsOneReceiveThreadAndCloseEndsIt)
{
    OpenPort();
    EXPECT_EQ(ThreadCount(), m_threadsBefore + 1);
    EXPECT_TRUE(m_transport.IsOpen());

    auto closing = std::async(std::launch::async, [&] { m_transport.Close(); });
    ASSERT_EQ(closing.wait_for(std::chrono::milliseconds(MUST_END_MS)), std::future_status::ready);
    closing.get();
    EXPECT_FALSE(m_transport.IsOpen());
    EXPECT_EQ(ThreadCount(), m_threadsBefore);
}

TEST_F(SerportLifecycleTest, SecondOpenLeavesOneThreadAndAnEmptyStore)
{
    OpenPort();
    ASSERT_TRUE(m_pty.Write({1, 2, 3}));
    ASSERT_TRUE(WaitUntilPending(m_transport, 3));

    OpenPort();
    EXPECT_EQ(ThreadCount(), m_threadsBefore + 1);
    EXPECT_EQ(m_transport.PendingCount(), 0u);
    // And the reopened line works.
    ASSERT_TRUE(m_pty.Write({9}));
    ASSERT_TRUE(WaitUntilPending(m_transport, 1));
}

TEST_F(SerportLifecycleTest, CloseTwiceAndDestroyAfterCloseAreHarmless)
{
    m_transport.Close();
    OpenPort();
    m_transport.Close();
    m_transport.Close();
    EXPECT_EQ(ThreadCount(), m_threadsBefore);
}

TEST_F(SerportLifecycleTest, DestroyingAnOpenTransportStopsItsThread)
{
    {
        SerportTransport other;
        ASSERT_TRUE(other.Open(Attributes(m_pty.SlavePath())));
        EXPECT_EQ(ThreadCount(), m_threadsBefore + 1);
    }
    EXPECT_EQ(ThreadCount(), m_threadsBefore);
}

TEST_F(SerportLifecycleTest, DevicePathLongerThanThirtyTwoCharactersWorks)
{
    char dirTemplate[] = "/tmp/tarnwick-a-directory-name-well-beyond-thirty-two-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    std::string link = std::string(dirTemplate) + "/usb-Maker_Board_Serial_0123456789-if00-port0";
    ASSERT_GT(link.size(), 32u);
    ASSERT_EQ(symlink(m_pty.SlavePath().c_str(), link.c_str()), 0);

    bool opened = m_transport.Open(Attributes(link));
    EXPECT_TRUE(opened);
    if (opened) {
        EXPECT_EQ(m_transport.GetDeviceName(), link);
        const uint8_t ping[] = {0x5A, 0xA5};
        EXPECT_EQ(m_transport.Send(ping, 2), 2u);
        EXPECT_EQ(m_pty.Read(2), (std::vector<uint8_t>{0x5A, 0xA5}));
        ASSERT_TRUE(m_pty.Write({0x42}));
        EXPECT_TRUE(WaitUntilPending(m_transport, 1));
    }
    m_transport.Close();
    unlink(link.c_str());
    rmdir(dirTemplate);
}

TEST_F(SerportLifecycleTest, MissingDeviceFailsAndKeepsTheReason)
{
    EXPECT_FALSE(m_transport.Open(Attributes("/dev/tarnwick-no-such-port")));
    EXPECT_EQ(m_prints.Count("invalid handle value.\n"), 1);
    EXPECT_EQ(m_transport.GetErrorCode(), ENOENT);
    EXPECT_FALSE(m_transport.GetErrorStrInfo().empty());
    EXPECT_EQ(ThreadCount(), m_threadsBefore);
}

TEST_F(SerportLifecycleTest, EmptyNameAndNonTerminalAreRefused)
{
    EXPECT_FALSE(m_transport.Open(Attributes("")));
    EXPECT_FALSE(m_transport.Open(Attributes("/dev/null")));
    EXPECT_EQ(m_prints.Count("invalid handle value.\n"), 2);
    EXPECT_FALSE(m_transport.IsOpen());
}

TEST_F(SerportLifecycleTest, PermissionDeniedKeepsErrnoForTheCaller)
{
    char dirTemplate[] = "/tmp/tarnwick-perm-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    ASSERT_EQ(chmod(dirTemplate, 0755), 0);
    std::string path = std::string(dirTemplate) + "/ttyLocked";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0);
    ASSERT_GE(fd, 0);
    close(fd);

    // Root is never denied: try as an unprivileged user in a child process.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(2);
        }
        SerportTransport transport;
        bool opened = transport.Open(Attributes(path));
        _exit(!opened && transport.GetErrorCode() == EACCES && !transport.GetErrorStrInfo().empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    unlink(path.c_str());
    rmdir(dirTemplate);
}

TEST_F(SerportLifecycleTest, UnsupportedLineSettingsFailTheOpen)
{
    Common::TRANSPORT_MODE_ATTR_U attr = Attributes(m_pty.SlavePath());
    attr.serial.parity = 5;
    EXPECT_FALSE(m_transport.Open(attr));
    EXPECT_EQ(m_prints.Count("SetCommState failed.\n"), 1);
    EXPECT_FALSE(m_transport.IsOpen());
    EXPECT_EQ(ThreadCount(), m_threadsBefore);
}

// ---- A line that goes away -------------------------------------------------------

using SerportLostLineTest = SerportTransportTest;

TEST_F(SerportLostLineTest, PeerClosingEndsWaitsAndFailsSendsWithOneMessage)
{
    OpenPort();
    m_pty.CloseMaster();

    auto wait = std::async(std::launch::async, [&] { return m_transport.WaitForData(10 * 60 * 1000); });
    ASSERT_EQ(wait.wait_for(std::chrono::milliseconds(MUST_END_MS)), std::future_status::ready);
    EXPECT_FALSE(wait.get());
    EXPECT_TRUE(m_transport.IsBroken());

    const uint8_t frame[4] = {1, 2, 3, 4};
    EXPECT_EQ(m_transport.Send(frame, 4), 0u);
    EXPECT_FALSE(m_transport.WaitForData(10 * 60 * 1000));
    EXPECT_EQ(m_prints.Count("error: the serial line was lost.\n"), 1);

    auto closing = std::async(std::launch::async, [&] { m_transport.Close(); });
    ASSERT_EQ(closing.wait_for(std::chrono::milliseconds(MUST_END_MS)), std::future_status::ready);
    EXPECT_EQ(ThreadCount(), m_threadsBefore);
}

TEST_F(SerportLostLineTest, BytesThatArrivedBeforeTheLossCanStillBeRead)
{
    OpenPort();
    ASSERT_TRUE(m_pty.Write({7, 8}));
    ASSERT_TRUE(WaitUntilPending(m_transport, 2));
    m_pty.CloseMaster();

    int64_t deadline = Platform::MonotonicMs() + MUST_END_MS;
    while (!m_transport.IsBroken() && Platform::MonotonicMs() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(m_transport.IsBroken());
    EXPECT_TRUE(m_transport.WaitForData(0));
    uint8_t buffer[4];
    EXPECT_EQ(m_transport.Receive(buffer, sizeof(buffer)), 2u);
    EXPECT_FALSE(m_transport.WaitForData(1000));
}

TEST_F(SerportLostLineTest, ReopeningAfterALossStartsAFreshLine)
{
    OpenPort();
    m_pty.CloseMaster();
    EXPECT_FALSE(m_transport.WaitForData(MUST_END_MS));
    ASSERT_TRUE(m_transport.IsBroken());

    PtyPair fresh;
    ASSERT_TRUE(fresh.Ok());
    ASSERT_TRUE(m_transport.Open(Attributes(fresh.SlavePath())));
    EXPECT_FALSE(m_transport.IsBroken());
    ASSERT_TRUE(fresh.Write({0x33}));
    EXPECT_TRUE(WaitUntilPending(m_transport, 1));
}

// ---- Timeouts and cancel ---------------------------------------------------------

TEST(SerportTimeoutTest, SetTimeoutNeedsAnOpenPort)
{
    PrintCapture prints;
    SerportTransport transport;
    EXPECT_FALSE(transport.SetTimeout(500, 500));
    EXPECT_EQ(prints.Count("get timeouts failed.\n"), 1);

    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(transport.Open(Attributes(pty.SlavePath())));
    EXPECT_TRUE(transport.SetTimeout(6000, 500));
}

int g_cancelAnswer = 0;
int CancelQuery()
{
    return g_cancelAnswer;
}

class TransportCancelTest : public ::testing::Test {
protected:
    void TearDown() override { g_isCancelled = nullptr; }
    PrintCapture m_prints;
    SerportTransport m_transport;
};

TEST_F(TransportCancelTest, CancelFlagIsReportedOnceThenCleared)
{
    EXPECT_FALSE(m_transport.IsCancel());
    m_transport.SetIsCancel(true);
    EXPECT_TRUE(m_transport.IsCancel());
    EXPECT_FALSE(m_transport.IsCancel());
    EXPECT_EQ(m_prints.Count("\nUser Cancelled!\n"), 1);
}

TEST_F(TransportCancelTest, GlobalCancelQueryKeepsAnsweringYes)
{
    g_cancelAnswer = 1;
    g_isCancelled = &CancelQuery;
    EXPECT_TRUE(m_transport.IsCancel());
    EXPECT_TRUE(m_transport.IsCancel());
    g_cancelAnswer = 0;
    EXPECT_FALSE(m_transport.IsCancel());
    EXPECT_EQ(m_prints.Count("\nUser Cancelled!\n"), 2);
}

}  // namespace
