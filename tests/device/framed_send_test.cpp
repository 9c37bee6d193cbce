// Sends answered by a reply frame, a handshake reply or a single-byte ACK,
// whole files cut into frames, and the frames that expect no answer, each
// against a scripted board on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
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
        {"reply behind three noise bytes", false, {{8, Concat({{0x00, 0xCB, 0x13}, ReplyFrame(0x42, 0x00)})}}, 5000,
         20000, 1, {}, nullptr, 1},
        {"reply in pieces", false, {{8, ReplyFrame(0x42, 0x00), 2}}, 5000, 20000, 1, {}, nullptr, 1},
        {"rejected, then accepted on the resend", false, {{8, ReplyFrame(0x42, 0xA5)}, {8, ReplyFrame(0x42, 0x00)}},
         100, 20000, 1, {}, nullptr, 2},
        {"rejected every time", false, {{8, ReplyFrame(0x42, 0xA5)}, {8, ReplyFrame(0x42, 0xA5)}, {8, ReplyFrame(0x42, 0xA5)}},
         300, 700, 0, {"ack error.\n", "send frame timeout error: "}, nullptr, 0},
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
        if (!c.printed.empty() && c.printed[0] == "ack error.\n") {
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

// --- whole files -------------------------------------------------------------

// The board's side of a file transfer, from the frame tables: the head frame
// tells the length, data frames carry 1024 bytes except the last, the tail
// frame ends it. Every frame is checked and acknowledged.
struct FileReceiver {
    bool framesOk = true;
    uint32_t length = 0;
    uint32_t target = 0;
    std::vector<uint8_t> sequences;
    Bytes content;
    int tailCount = -1;

    void Play(PtyBoard& b)
    {
        const Bytes head = b.Read(14);
        if (head.empty()) {
            framesOk = false;
            return;
        }
        framesOk = Bytes(head.begin(), head.begin() + 4) == Bytes{0xFE, 0x00, 0xFF, 0x01} && CrcBeOk(head);
        length = Be32(head, 4);
        target = Be32(head, 8);
        b.Write(Bytes{0xAA});
        for (;;) {
            Bytes frame = b.Read(3);
            const size_t n = frame.empty() || frame[0] == 0xED ? 0 : std::min<size_t>(length - content.size(), 1024);
            const Bytes rest = frame.empty() ? Bytes{} : b.Read(n + 2);
            frame.insert(frame.end(), rest.begin(), rest.end());
            if (frame.size() != n + 5 || uint8_t(frame[1] + frame[2]) != 0xFF || !CrcBeOk(frame)) {
                framesOk = false;
                return;
            }
            b.Write(Bytes{0xAA});
            if (frame[0] == 0xED) {
                tailCount = frame[1];
                return;
            }
            framesOk = framesOk && frame[0] == 0xDA;
            sequences.push_back(frame[1]);
            content.insert(content.end(), frame.begin() + 3, frame.end() - 2);
        }
    }
};

TEST_F(FramedSend, FilesAreCutIntoKilobyteFramesWithWrappingSequenceAndTailCount)
{
    const struct {
        size_t size;
        size_t frames;
        int tailCount;
    } cases[] = {{0, 0, 1}, {3 * 1024, 3, 4}, {1025, 2, 3}, {257 * 1024, 257, 258 % 256}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        FileReceiver received;  // outlives the board thread that fills it
        ChipOnLine line;
        ASSERT_TRUE(line.Open());
        messages.Take();
        line.board.Play([&received](PtyBoard& b) { received.Play(b); });
        const Bytes content = Pattern(c.size, static_cast<uint32_t>(c.size));
        BurnChipBase::DataInfo info;
        info.target = 0x80001234;
        info.length = static_cast<uint32_t>(content.size());
        info.data = content.data();
        ASSERT_EQ(line.chip.SendDataInfo(info, false), 1);
        line.board.Join();
        EXPECT_TRUE(received.framesOk);
        EXPECT_EQ(received.length, c.size);
        EXPECT_EQ(received.target, 0x80001234u);
        ASSERT_EQ(received.sequences.size(), c.frames);
        for (size_t i = 0; i < c.frames; ++i) {
            EXPECT_EQ(received.sequences[i], static_cast<uint8_t>(i + 1));
        }
        EXPECT_EQ(received.tailCount, c.tailCount);
        EXPECT_EQ(received.content, content);
        const std::string text = messages.Messages();
        EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '#')), c.frames);
    }
}

// --- frames without a framed answer -------------------------------------------

TEST_F(FramedSend, CommandOf125BytesIsOneHeadAndOne128ByteDataFrame126IsRefusedAfterItsHead)
{
    const std::string cmd(126, 'k');
    ASSERT_EQ(chip.SendCmdAndNoReply(cmd.c_str(), 125, 1000), 1);
    EXPECT_EQ(chip.SendCmdAndNoReply(cmd.c_str(), 126, 1000), 0);
    EXPECT_TRUE(messages.Has("Failed to send the command data: the length of command is too long!\n"));
    board.Play([](PtyBoard& b) { b.Drain(300); });
    board.Join();
    EXPECT_EQ(board.Log(), Concat({WithCrcBe({0xAB, 0x00, 125}), WithCrcBe(Concat({{0xCD}, Bytes(125, 'k')})),
                                   WithCrcBe({0xAB, 0x00, 126})}));
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
