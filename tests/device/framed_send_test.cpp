// Sends answered by a reply frame or a single-byte ACK against a scripted
// board on a pseudo-terminal: what ends them, what they print, and the
// failure they leave for the job to take; and why the reply scan rejects what
// it rejects, as the reason of the last rejection is what a failed send reports.
#include <gtest/gtest.h>

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
    Common::OutcomeKind failure;
    const char* kept;  // how the failure kept for the job begins
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
         Common::OutcomeKind::TRANSFER, "send frame timeout error: ", {"ack error.\n", "send frame timeout error: "},
         nullptr, 0},
        {"NAK then silence", true, {{3, {0x55}}}, 100, 400, 0, Common::OutcomeKind::COMMAND_REFUSED, "Nack error(",
         {"Nack error(The serial port transmission may be unstable.).\n"}, "Timeout error.\n", 0},
        {"silence", true, {}, 100, 300, 0, Common::OutcomeKind::TRANSFER, "Timeout error.\n", {timeoutLines},
         "Nack error", 0},
        {"NAK then ACK", true, {{3, {0x55, 0xAA}, 1}}, 5000, 20000, 1, Common::OutcomeKind::NONE, "", {}, nullptr, 1},
        {"ACK after two silent windows", true, {{3, {}}, {3, {}}, {3, {0xAA}}}, 50, 20000, 1,
         Common::OutcomeKind::NONE, "", {}, nullptr, 3},
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
        EXPECT_EQ(sender.Report().Failure().kind, c.failure);
        for (const std::string& message : c.printed) {
            EXPECT_TRUE(messages.Has(message)) << messages.Messages();
        }
        if (!c.ackByte) {
            EXPECT_EQ(sender.Frames().GetErrorInfo(), c.printed[0]);
        }
        EXPECT_EQ(sender.Report().Failure().message.rfind(c.kept, 0), 0u)
            << "the failure kept is the message that ended the send: " << sender.Report().Failure().message;
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

TEST_F(FramedSend, AckRightBehindBoardTextIsTakenAndWhatFollowsIsKept)
{
    board.Play(Script({{3, {'b', 'o', 'o', 't', '>', ' ', 0xAA, 'C'}}}));
    EXPECT_EQ(chip.SendFrameBySerial(g_command.data(), 3, 5000, 20000), 1);
    board.Join();
    EXPECT_EQ(board.Log().size(), 3u) << "an accepted frame must not be sent again";
    EXPECT_NE(chip.Line().BoardText().find("boot> "), std::string::npos);
    uint8_t next = 0;
    ASSERT_TRUE(chip.WaitForData(5000));
    EXPECT_EQ(chip.Receive(&next, 1), 1u);
    EXPECT_EQ(next, 'C') << "what follows the ACK belongs to the next reader";
}

// --- what the chip makes of a reply ------------------------------------------

TEST(ReplyScan, EachRejectionSaysWhyAndTheComplementCountsOnlyForOtherFrames)
{
    PlainChip chip;
    const Bytes commandFrame = {0x12, 0x07, 0x00, 0x00};  // neither data nor tail frame
    const Bytes dataFrame = WithCrcBe({0xDA, 0x09, 0xF6});
    Bytes badCrc = ReplyFrame(0x07, 0x00);
    badCrc[5] ^= 0xFF;
    const Bytes wrongComplement = WithCrcBe({0xCB, 0x09, 0x00, 0x00});
    const struct {
        Bytes received;
        const Bytes& sent;
        bool accepted;
        const char* error;
    } cases[] = {
        {ReplyFrame(0x07, 0xA5), commandFrame, false, "ack error.\n"},
        {badCrc, commandFrame, false, "crc check error.\n"},
        {{0x11, 0x07, 0xF8, 0x00, 0x00, 0x00}, commandFrame, false, "flag is not equal to 0xCB.\n"},
        {ReplyFrame(0x08, 0x00), dataFrame, false, "index error.\n"},
        {{0xCB, 0x01}, commandFrame, false, "check response frame failed.\n"},
        {wrongComplement, dataFrame, true, ""},
        {wrongComplement, commandFrame, false, nullptr},
    };
    for (const auto& c : cases) {
        BootFrameCommands& frames = chip.Frames();
        EXPECT_EQ(frames.CheckReplyFrameValidity(c.received.data(), static_cast<int>(c.received.size()),
                                                 c.sent.data()),
                  c.accepted)
            << Hex(c.received);
        if (!c.accepted && c.error != nullptr) {
            EXPECT_EQ(frames.GetErrorInfo(), c.error) << Hex(c.received);
        }
    }
}

} // namespace
