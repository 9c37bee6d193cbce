// Sends answered by a reply frame or a single-byte ACK against a scripted
// board on a pseudo-terminal: what ends them, what they print, and the
// failure they leave for the job to take.
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

} // namespace
