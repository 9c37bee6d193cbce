// Sends answered by a reply frame, a handshake reply or a single-byte ACK,
// and the start frame, each against a scripted board on a pseudo-terminal.
#include <gtest/gtest.h>

#include <ctime>

#include "device/boot_frames.h"
#include "pty_board.h"

namespace {

// Neither a data nor a tail frame, so the reply's complement is checked.
Bytes g_command = {0x5A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};

class FramedSend : public ChipOnPty {};

// --- answered sends --------------------------------------------------------------

struct AnsweredCase {
    const char* what;
    bool ackByte;  // single-byte ACK (3-byte frame), else a reply frame (8-byte command)
    std::vector<Step> board;
    unsigned long attemptMs;
    unsigned long totalMs;
    int result;
    std::vector<std::string> printed;  // must appear
    const char* absent;                // must not appear
    size_t framesOnWire;    // 0: not checked
};

TEST_F(FramedSend, EachAnswerEndsTheSendAsItsWindowsAndMessagesSay)
{
    const char* timeoutLines = "Timeout error.\n1. Check whether the serial port connection is normal.\n"
                               "2. The U-Boot is faulty.\n";
    const AnsweredCase cases[] = {
        // The last window's own reason is reported, not a generic one.
        {"rejected every time", false,
         {{8, ReplyFrame(0x42, 0xA5)}, {8, ReplyFrame(0x42, 0xA5)}, {8, ReplyFrame(0x42, 0xA5)}}, 300, 700, 0,
         {"ack error.\n", "send frame timeout error: "}, nullptr, 0},
        {"NAK then silence", true, {{3, {0x55}}}, 100, 400, 0,
         {"Nack error(The serial port transmission may be unstable.).\n"}, "Timeout error.\n", 0},
        {"silence", true, {}, 100, 300, 0, {timeoutLines}, "Nack error", 0},
        {"NAK then ACK", true, {{3, {0x55, 0xAA}, 1}}, 5000, 20000, 1, {}, nullptr, 1},
        {"ACK after two silent windows", true, {{3, {}}, {3, {}}, {3, {0xAA}}}, 50, 20000, 1, {}, nullptr, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ChipOnLine line;
        ASSERT_TRUE(line.Open());
        messages.Take();
        line.board.Play(Script(c.board));
        const size_t size = c.ackByte ? 3 : g_command.size();
        PlainChip& sender = line.chip;
        const int result = c.ackByte ? sender.SendFrameBySerial(g_command.data(), size, c.attemptMs, c.totalMs)
                                     : sender.SendFrame(g_command.data(), size, c.attemptMs, c.totalMs, true) ? 1 : 0;
        EXPECT_EQ(result, c.result);
        for (const std::string& message : c.printed) {
            EXPECT_TRUE(messages.Has(message)) << messages.Messages();
        }
        if (!c.ackByte) {
            EXPECT_EQ(sender.GetErrorInfo(), c.printed[0]);
        }
        if (c.absent != nullptr) {
            EXPECT_FALSE(messages.Has(c.absent)) << messages.Messages();
        }
        if (c.framesOnWire != 0) {
            line.board.Join();
            Bytes expected;
            for (size_t i = 0; i < c.framesOnWire; ++i) {
                expected = Concat({expected, Bytes(g_command.begin(), g_command.begin() + static_cast<long>(size))});
            }
            EXPECT_EQ(line.board.Log(), expected) << "an answered frame is not sent again";
        }
    }
}

TEST_F(FramedSend, HandshakeGoesOutWholeAndItsReplyIsFoundBehindTextInPieces)
{
    Bytes shake(BootFrame::SHAKE_PACKET_SIZE);
    for (size_t i = 0; i < shake.size(); ++i) {
        shake[i] = static_cast<uint8_t>(0xF0 + i);
    }
    board.Play(Script({{shake.size(), Concat({Bytes(13, 0x20), ShakeReply(12, 0x00)}), 18}}));
    EXPECT_EQ(chip.SendShakeHandFrame(shake.data(), shake.size(), 3000, 3000), 1);
    board.Join();
    EXPECT_EQ(board.Log(), shake);
}

TEST_F(FramedSend, AckRightBehindBoardTextIsTakenAndWhatFollowsIsKept)
{
    board.Play(Script({{3, {'b', 'o', 'o', 't', '>', ' ', 0xAA, 'C'}}}));
    EXPECT_EQ(chip.SendFrameBySerial(g_command.data(), 3, 5000, 20000), 1);
    board.Join();
    EXPECT_EQ(board.Log().size(), 3u) << "an accepted frame must not be sent again";
    EXPECT_NE(chip.GetRecvText().find("boot> "), std::string::npos);
    uint8_t next = 0;
    ASSERT_TRUE(chip.WaitForData(5000));
    EXPECT_EQ(chip.Receive(&next, 1), 1u);
    EXPECT_EQ(next, 'C') << "what follows the ACK belongs to the next reader";
}

TEST_F(FramedSend, StartFrameCarriesTheTimeAndTakesATwoByteAckOnly)
{
    const uint32_t before = static_cast<uint32_t>(time(nullptr));
    board.Play(Script({{9, {0xAA, 0x01}}, {9, {0xAA, 0x01, 0x02}}}));
    EXPECT_EQ(chip.SendStartFrame(), 1);
    EXPECT_EQ(chip.SendStartFrame(), 0);
    EXPECT_TRUE(messages.Has("recv bytes failed.\n"));
    board.Join();
    const Bytes& wire = board.Log();
    ASSERT_EQ(wire.size(), 18u);
    EXPECT_EQ(wire[0], 0xFE);
    EXPECT_GE(Be32(wire, 1), before);
    EXPECT_GE(Be32(wire, 5), Be32(wire, 1));
}

} // namespace
