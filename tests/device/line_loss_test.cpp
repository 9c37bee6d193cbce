// A pulled cable: the board's end of the line goes away in the middle of an
// exchange. Every wait must end with failure at once instead of running out
// its window, and the loss is reported once.
#include <gtest/gtest.h>

#include <functional>
#include <future>

#include "device/boot_frames.h"
#include "pty_board.h"

namespace {

// Far longer than any of these operations may take once the line is gone,
// far shorter than the windows they are given.
constexpr auto MUST_END_WITHIN = std::chrono::seconds(20);
constexpr unsigned long LONG_WINDOW = 120000;

class PulledCable : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.Ok());
        ASSERT_EQ(chip.OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0), 1);
    }

    // The board takes the first `bytes` the tool sends, answers with `answer`,
    // then its end goes away.
    void PullAfter(size_t bytes, Bytes answer = {})
    {
        board.Play([bytes, answer](PtyBoard& b) {
            if (b.Read(bytes).empty()) {
                return;
            }
            if (!answer.empty()) {
                b.Write(answer);
            }
            b.CloseLine();
        });
    }

    // Runs the operation and returns its result, failing the test when it
    // does not end in time.
    int MustEnd(std::function<int()> operation)
    {
        auto result = std::async(std::launch::async, operation);
        if (result.wait_for(MUST_END_WITHIN) != std::future_status::ready) {
            ADD_FAILURE() << "the operation kept waiting on a lost line";
        }
        return result.get();
    }

    size_t LossReports() const
    {
        const std::string text = messages.Get();
        const std::string report = "error: the serial line was lost.\n";
        size_t count = 0;
        for (size_t at = text.find(report); at != std::string::npos; at = text.find(report, at + 1)) {
            ++count;
        }
        return count;
    }

    PtyBoard board;
    MessageCapture messages;
    PlainChip chip;
    Bytes frame = {0x10, 0x20, 0x30, 0x40};
};

TEST_F(PulledCable, SerialAckSendFails)
{
    PullAfter(frame.size());
    EXPECT_EQ(MustEnd([this] { return chip.SendFrameBySerial(frame.data(), frame.size(), 500, LONG_WINDOW); }), 0);
    EXPECT_EQ(LossReports(), 1u);
}

TEST_F(PulledCable, FileTransferFailsAtTheDataFrame)
{
    // The line goes once the first data frame has started to arrive (a hang-up
    // discards what the tool has not read yet, so the ACK must be taken first).
    board.Play([](PtyBoard& b) {
        if (!b.Read(14).empty()) {
            b.Write(Bytes{0xAA});
            b.Read(3);
        }
        b.CloseLine();
    });
    const Bytes content(3000, 0x5A);
    BurnChipBase::DataInfo info;
    info.length = static_cast<uint32_t>(content.size());
    info.data = content.data();
    EXPECT_EQ(MustEnd([&] { return chip.SendFileBySerial(info); }), 0);
    EXPECT_TRUE(messages.Has("Failed to send the data frame.\n"));
    EXPECT_EQ(LossReports(), 1u);
}

TEST_F(PulledCable, FramedSendFails)
{
    PullAfter(frame.size());
    EXPECT_EQ(MustEnd([this] {
                  return chip.SendFrame(frame.data(), frame.size(), 500, LONG_WINDOW, true) ? 1 : 0;
              }),
              0);
    EXPECT_EQ(LossReports(), 1u);
}

TEST_F(PulledCable, HandshakeFails)
{
    Bytes shake(BootFrame::SHAKE_PACKET_SIZE, 0xF0);
    PullAfter(shake.size());
    EXPECT_EQ(MustEnd([&] { return chip.SendShakeHandFrame(shake.data(), shake.size(), 500, LONG_WINDOW); }), 0);
    EXPECT_EQ(LossReports(), 1u);
}

TEST_F(PulledCable, BoardFrameExchangeFails)
{
    PullAfter(14);
    unsigned long a = 0;
    unsigned long b = 0;
    EXPECT_EQ(MustEnd([&] { return chip.SendBoardFrame(a, b); }), 0);
    EXPECT_EQ(LossReports(), 1u);
}

TEST_F(PulledCable, FrameReceiveFails)
{
    board.Play([](PtyBoard& b) {
        b.Write(Bytes{0xCE, 0x01});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.CloseLine();
    });
    uint8_t buffer[11] = {};
    unsigned long count = 0;
    EXPECT_EQ(MustEnd([&] { return chip.RecvFrame(0xCE, LONG_WINDOW, buffer, sizeof(buffer), count); }), 0);
}

TEST_F(PulledCable, TextCommandAnswerWaitFails)
{
    board.Play([](PtyBoard& b) {
        if (b.Read(5).empty()) {
            return;
        }
        b.Write(Bytes{0xAA});
        if (b.Read(5).empty()) {
            return;
        }
        b.Write(Bytes{0xAA});
        b.Drain(100);  // the ACK is taken before the line goes
        b.CloseLine();
    });
    uint8_t cmd[] = "go";
    uint8_t reply[256] = {};
    EXPECT_EQ(MustEnd([&] { return chip.SendCmd(cmd, 2, reply, sizeof(reply), 120000); }), 0);
    EXPECT_TRUE(messages.Has("\nReceive board respond timeout: "));
    EXPECT_EQ(LossReports(), 1u);
}

TEST_F(PulledCable, EveryLaterOperationFailsAtOnceToo)
{
    PullAfter(frame.size());
    EXPECT_EQ(MustEnd([this] { return chip.SendFrameBySerial(frame.data(), frame.size(), 500, LONG_WINDOW); }), 0);
    Bytes shake(BootFrame::SHAKE_PACKET_SIZE, 0xF0);
    EXPECT_EQ(MustEnd([&] { return chip.SendShakeHandFrame(shake.data(), shake.size(), 500, LONG_WINDOW); }), 0);
    EXPECT_EQ(MustEnd([this] { return chip.SendFrameNoReply(frame.data(), frame.size(), LONG_WINDOW); }), 0);
    EXPECT_EQ(LossReports(), 1u);
}

} // namespace
