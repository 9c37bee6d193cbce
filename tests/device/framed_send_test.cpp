// Sends answered by a reply frame or a handshake reply, and the frames that
// expect no answer, each against a scripted board on a pseudo-terminal.
#include <gtest/gtest.h>

#include <ctime>

#include "device/boot_frames.h"
#include "pty_board.h"

namespace {

class FramedSend : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.Ok());
        ASSERT_EQ(chip.OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0), 1);
    }

    PtyBoard board;
    MessageCapture messages;
    PlainChip chip;
    // Neither a data nor a tail frame, so the reply's complement is checked.
    Bytes command = {0x5A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
};

TEST_F(FramedSend, ReplyBehindThreeNoiseBytesIsAccepted)
{
    board.Play([this](PtyBoard& b) {
        if (b.Read(command.size()).empty()) {
            return;
        }
        Bytes answer = {0x00, 0xCB, 0x13};
        const Bytes reply = ReplyFrame(0x42, 0x00);
        answer.insert(answer.end(), reply.begin(), reply.end());
        b.Write(answer);
    });
    EXPECT_TRUE(chip.SendFrame(command.data(), command.size(), 5000, 20000, true));
    board.Join();
    EXPECT_EQ(board.Log(), command);
}

TEST_F(FramedSend, ReplyArrivingInPiecesIsAccepted)
{
    board.Play([this](PtyBoard& b) {
        if (b.Read(command.size()).empty()) {
            return;
        }
        const Bytes reply = ReplyFrame(0x42, 0x00);
        b.Write(Bytes(reply.begin(), reply.begin() + 2));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.Write(Bytes(reply.begin() + 2, reply.end()));
    });
    EXPECT_TRUE(chip.SendFrame(command.data(), command.size(), 5000, 20000, false));
}

TEST_F(FramedSend, RejectedReplyFailsWithAckErrorAfterTheWindow)
{
    board.Play([this](PtyBoard& b) {
        while (!b.Read(command.size(), 2000).empty()) {
            b.Write(ReplyFrame(0x42, 0xA5));
        }
    });
    EXPECT_FALSE(chip.SendFrame(command.data(), command.size(), 300, 700, true));
    EXPECT_EQ(chip.GetErrorInfo(), "ack error.\n");
    EXPECT_TRUE(messages.Has("ack error.\n"));
    EXPECT_TRUE(messages.Has("send frame timeout error: "));
}

TEST_F(FramedSend, RejectionThenAcceptanceOnTheResendSucceeds)
{
    board.Play([this](PtyBoard& b) {
        if (b.Read(command.size()).empty()) {
            return;
        }
        b.Write(ReplyFrame(0x42, 0xA5));
        if (!b.Read(command.size()).empty()) {
            b.Write(ReplyFrame(0x42, 0x00));
        }
    });
    EXPECT_TRUE(chip.SendFrame(command.data(), command.size(), 100, 20000, true));
}

TEST_F(FramedSend, DataFrameReplyMustEchoItsSequence)
{
    const Bytes data = BootFrame::BuildDataFrame(0x07, command.data(), 4);
    board.Play([&data](PtyBoard& b) {
        if (!b.Read(data.size()).empty()) {
            b.Write(ReplyFrame(0x08, 0x00));
        }
        b.Drain(500);
    });
    Bytes sent = data;
    EXPECT_FALSE(chip.SendFrame(sent.data(), sent.size(), 100, 250, false));
    EXPECT_EQ(chip.GetErrorInfo(), "index error.\n");
}

// --- handshake ---------------------------------------------------------------

class Handshake : public FramedSend {
protected:
    Bytes shake = Bytes(BootFrame::SHAKE_PACKET_SIZE, 0x00);

    void SetUp() override
    {
        FramedSend::SetUp();
        for (size_t i = 0; i < shake.size(); ++i) {
            shake[i] = static_cast<uint8_t>(0xF0 + i);
        }
    }
};

TEST_F(Handshake, FrameGoesOutWholeAndAValidReplyEndsIt)
{
    board.Play([this](PtyBoard& b) {
        if (!b.Read(shake.size()).empty()) {
            b.Write(ShakeReply(12, 0x00));
        }
    });
    EXPECT_EQ(chip.SendShakeHandFrame(shake.data(), shake.size(), 5000, 20000), 1);
    board.Join();
    EXPECT_EQ(board.Log(), shake);
}

TEST_F(Handshake, RepliesWithLength1Or13AreIgnored)
{
    board.Play([this](PtyBoard& b) {
        while (!b.Read(shake.size(), 2000).empty()) {
            Bytes answer = ShakeReply(1, 0x00);
            const Bytes other = ShakeReply(13, 0x00);
            answer.insert(answer.end(), other.begin(), other.end());
            b.Write(answer);
        }
    });
    EXPECT_EQ(chip.SendShakeHandFrame(shake.data(), shake.size(), 100, 350), 0);
    EXPECT_TRUE(messages.Has("Timeout error.\n"));
}

TEST_F(Handshake, ReplyCutAfterNoiseIsStillFound)
{
    board.Play([this](PtyBoard& b) {
        if (b.Read(shake.size()).empty()) {
            return;
        }
        const Bytes reply = ShakeReply(12, 0x00);
        Bytes first(13, 0x20);  // board text, then the start of the reply
        first.insert(first.end(), reply.begin(), reply.begin() + 5);
        b.Write(first);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        b.Write(Bytes(reply.begin() + 5, reply.end()));
    });
    EXPECT_EQ(chip.SendShakeHandFrame(shake.data(), shake.size(), 3000, 3000), 1);
}

// --- frames without a framed answer -------------------------------------------

TEST_F(FramedSend, CommandOf125BytesIsOneHeadAndOne128ByteDataFrame)
{
    const std::string cmd(125, 'k');
    ASSERT_EQ(chip.SendCmdAndNoReply(cmd.c_str(), cmd.size(), 1000), 1);
    board.Play([](PtyBoard& b) { b.Read(5 + 128); });
    board.Join();
    const Bytes& wire = board.Log();
    ASSERT_EQ(wire.size(), 133u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 5), WithCrcBe({0xAB, 0x00, 125}));
    Bytes expectedData = {0xCD};
    expectedData.insert(expectedData.end(), cmd.begin(), cmd.end());
    EXPECT_EQ(Bytes(wire.begin() + 5, wire.end()), WithCrcBe(expectedData));
}

TEST_F(FramedSend, CommandOf126BytesIsRefusedAfterItsHeadFrame)
{
    const std::string cmd(126, 'k');
    EXPECT_EQ(chip.SendCmdAndNoReply(cmd.c_str(), cmd.size(), 1000), 0);
    EXPECT_TRUE(messages.Has("Failed to send the command data: the length of command is too long!\n"));
    board.Play([](PtyBoard& b) { b.Drain(200); });
    board.Join();
    EXPECT_EQ(board.Log(), WithCrcBe({0xAB, 0x00, 126}));
}

TEST_F(FramedSend, StartFrameCarriesTheTimeAndTakesATwoByteAck)
{
    const uint32_t before = static_cast<uint32_t>(time(nullptr));
    board.Play([](PtyBoard& b) {
        if (!b.Read(9).empty()) {
            b.Write(Bytes{0xAA, 0x01});
        }
    });
    EXPECT_EQ(chip.SendStartFrame(), 1);
    board.Join();
    const Bytes& wire = board.Log();
    ASSERT_EQ(wire.size(), 9u);
    EXPECT_EQ(wire[0], 0xFE);
    const uint32_t t1 = (uint32_t(wire[1]) << 24) | (uint32_t(wire[2]) << 16) | (uint32_t(wire[3]) << 8) | wire[4];
    const uint32_t t2 = (uint32_t(wire[5]) << 24) | (uint32_t(wire[6]) << 16) | (uint32_t(wire[7]) << 8) | wire[8];
    EXPECT_GE(t1, before);
    EXPECT_GE(t2, t1);
}

TEST_F(FramedSend, StartFrameAnswerOtherThanTwoBytesFails)
{
    board.Play([](PtyBoard& b) {
        if (!b.Read(9).empty()) {
            b.Write(Bytes{0xAA, 0x01, 0x02});
        }
    });
    EXPECT_EQ(chip.SendStartFrame(), 0);
    EXPECT_TRUE(messages.Has("recv bytes failed.\n"));
}

TEST_F(FramedSend, NoReplySendGivesUpOnlyWhenTheWindowIsZero)
{
    Bytes bytes = {1, 2, 3};
    EXPECT_EQ(chip.SendFrameNoReply(bytes.data(), bytes.size(), 0), 0);
    EXPECT_EQ(chip.SendFrameNoReply(bytes.data(), bytes.size(), 1000), 1);
    board.Play([](PtyBoard& b) { b.Read(3); });
    board.Join();
    EXPECT_EQ(board.Log(), bytes);
}

} // namespace
