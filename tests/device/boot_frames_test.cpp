// The boot-ROM frames byte for byte, and the scans that find an answer in
// whatever the line delivered.
#include <gtest/gtest.h>

#include <cstring>

#include "device/boot_frames.h"
#include "pty_board.h"

namespace {

Bytes ToBytes(const uint8_t* data, size_t n) { return Bytes(data, data + n); }

TEST(BootFrameLayout, HeadFrameCarriesLengthAndTargetBigEndian)
{
    auto frame = BootFrame::BuildHeadFrame(0x01020304, 0xA0B0C0D0);
    const Bytes expected = WithCrcBe({0xFE, 0x00, 0xFF, 0x01, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0});
    EXPECT_EQ(ToBytes(frame.data(), frame.size()), expected);
}

TEST(BootFrameLayout, DataFrameIsMarkSequenceComplementPayloadCrc)
{
    const uint8_t payload[] = {0x10, 0x20, 0x30};
    const Bytes frame = BootFrame::BuildDataFrame(0x05, payload, 3);
    EXPECT_EQ(frame, WithCrcBe({0xDA, 0x05, 0xFA, 0x10, 0x20, 0x30}));
}

TEST(BootFrameLayout, DataFrameHoldsAtMost1027PayloadBytes)
{
    const Bytes payload(1028, 0x11);
    EXPECT_EQ(BootFrame::BuildDataFrame(1, payload.data(), 1027).size(), 1032u);
    EXPECT_TRUE(BootFrame::BuildDataFrame(1, payload.data(), 1028).empty());
}

TEST(BootFrameLayout, TailFrameCarriesCountAndComplement)
{
    auto frame = BootFrame::BuildTailFrame(4);
    EXPECT_EQ(ToBytes(frame.data(), frame.size()), WithCrcBe({0xED, 0x04, 0xFB}));
}

TEST(BootFrameLayout, StartFrameCarriesBothTimesBigEndian)
{
    auto frame = BootFrame::BuildStartFrame(0x11223344, 0x55667788);
    EXPECT_EQ(ToBytes(frame.data(), frame.size()),
              (Bytes{0xFE, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
}

TEST(BootFrameLayout, CommandFramesFrameTheLengthAndTheText)
{
    auto head = BootFrame::BuildCmdHeadFrame(0x017D);
    EXPECT_EQ(ToBytes(head.data(), head.size()), WithCrcBe({0xAB, 0x01, 0x7D}));

    std::array<uint8_t, BootFrame::CMD_FRAME_BUFFER_SIZE> data{};
    const uint8_t cmd[] = {'l', 's'};
    ASSERT_EQ(BootFrame::BuildCmdDataFrame(cmd, 2, data), 5u);
    EXPECT_EQ(ToBytes(data.data(), 5), WithCrcBe({0xCD, 'l', 's'}));
}

TEST(BootFrameLayout, CommandDataFrameFitsAt125BytesOnly)
{
    std::array<uint8_t, BootFrame::CMD_FRAME_BUFFER_SIZE> data{};
    const Bytes cmd(126, 'x');
    EXPECT_EQ(BootFrame::BuildCmdDataFrame(cmd.data(), 125, data), 128u);
    EXPECT_TRUE(CrcBeOk(Bytes(data.begin(), data.end())));
    EXPECT_EQ(BootFrame::BuildCmdDataFrame(cmd.data(), 126, data), 0u);
}

TEST(BootFrameLayout, BoardFrameRepeatsTheTimeAndChecksBigEndian)
{
    auto frame = BootFrame::BuildBoardFrame(0x0A0B0C0D);
    EXPECT_EQ(ToBytes(frame.data(), frame.size()),
              WithCrcBe({0xCE, 0x00, 0xFF, 0x01, 0x0A, 0x0B, 0x0C, 0x0D, 0x0A, 0x0B, 0x0C, 0x0D}));
}

TEST(BootFrameLayout, BoardReplyNeedsFlagCrcAndTrailingAck)
{
    Bytes reply = BoardReply(0x42, 0xDEADBEEF);
    EXPECT_TRUE(BootFrame::CheckBoardReply(0xCE, reply.data(), 11, true));
    EXPECT_EQ(BootFrame::BoardReplyValueA(reply.data()), 0xDEADBEEFu);
    EXPECT_EQ(BootFrame::BoardReplyValueB(reply.data()), 0x42);
    EXPECT_FALSE(BootFrame::CheckBoardReply(0xCF, reply.data(), 11, true));
    reply[10] = 0x55;
    EXPECT_FALSE(BootFrame::CheckBoardReply(0xCE, reply.data(), 11, true));
    reply[10] = 0xAA;
    reply[5] ^= 0x01;
    EXPECT_FALSE(BootFrame::CheckBoardReply(0xCE, reply.data(), 11, true));
}

// --- what the chip makes of a reply ------------------------------------------

class ReplyScan : public ::testing::Test {
protected:
    // A frame that is neither a data nor a tail frame: the complement counts.
    const Bytes commandFrame = {0x12, 0x07, 0x00, 0x00};
    const Bytes dataFrame = BootFrame::BuildDataFrame(0x09, nullptr, 0);
    PlainChip chip;

    bool Scan(const Bytes& received, const Bytes& sent)
    {
        return chip.CheckReplyFrameValidity(received.data(), static_cast<int>(received.size()), sent.data());
    }
};

TEST_F(ReplyScan, FindsReplyBehindThreeNoiseBytes)
{
    Bytes received = {0x00, 0xCB, 0x7F};
    const Bytes reply = ReplyFrame(0x07, 0x00);
    received.insert(received.end(), reply.begin(), reply.end());
    EXPECT_TRUE(Scan(received, commandFrame));
}

TEST_F(ReplyScan, RejectedStatusLeavesAckError)
{
    EXPECT_FALSE(Scan(ReplyFrame(0x07, 0xA5), commandFrame));
    EXPECT_EQ(chip.GetErrorInfo(), "ack error.\n");
}

TEST_F(ReplyScan, EachRejectionSaysWhy)
{
    Bytes badCrc = ReplyFrame(0x07, 0x00);
    badCrc[5] ^= 0xFF;
    EXPECT_FALSE(Scan(badCrc, commandFrame));
    EXPECT_EQ(chip.GetErrorInfo(), "crc check error.\n");

    EXPECT_FALSE(Scan({0x11, 0x07, 0xF8, 0x00, 0x00, 0x00}, commandFrame));
    EXPECT_EQ(chip.GetErrorInfo(), "flag is not equal to 0xCB.\n");

    EXPECT_FALSE(Scan(ReplyFrame(0x08, 0x00), dataFrame));
    EXPECT_EQ(chip.GetErrorInfo(), "index error.\n");

    EXPECT_FALSE(Scan({0xCB, 0x01}, commandFrame));
    EXPECT_EQ(chip.GetErrorInfo(), "check response frame failed.\n");
}

TEST_F(ReplyScan, ComplementIsCheckedOnlyForFramesOtherThanDataAndTail)
{
    Bytes reply = WithCrcBe({0xCB, 0x09, 0x00, 0x00});  // wrong complement, right sequence
    EXPECT_TRUE(Scan(reply, dataFrame));
    EXPECT_FALSE(Scan(reply, commandFrame));
}

TEST(ShakeReplyScan, LengthFieldMustLieBetween2And12)
{
    PlainChip chip;
    for (int length : {1, 13, 0, 0xFFFF}) {
        const Bytes reply = ShakeReply(static_cast<uint16_t>(length), 0x00);
        EXPECT_FALSE(chip.CheckRecvFrame(reply.data(), 12)) << "length " << length;
    }
    for (int length : {2, 12}) {
        const Bytes reply = ShakeReply(static_cast<uint16_t>(length), 0x00);
        EXPECT_TRUE(chip.CheckRecvFrame(reply.data(), 12)) << "length " << length;
    }
}

TEST(ShakeReplyScan, RejectedBadCrcOrShortRepliesAreIgnored)
{
    PlainChip chip;
    EXPECT_FALSE(chip.CheckRecvFrame(ShakeReply(12, 0xA5).data(), 12));
    Bytes broken = ShakeReply(12, 0x00);
    broken[10] ^= 0x01;
    EXPECT_FALSE(chip.CheckRecvFrame(broken.data(), 12));
    EXPECT_FALSE(chip.CheckRecvFrame(ShakeReply(12, 0x00).data(), 11));
    EXPECT_FALSE(chip.CheckRecvFrame(nullptr, 12));
}

TEST(ShakeReplyScan, FindsReplyAtAnyOffset)
{
    PlainChip chip;
    Bytes received = {0xEF, 0xBE, 0x00, 0x01, 0x02};
    const Bytes reply = ShakeReply(12, 0x00);
    received.insert(received.end(), reply.begin(), reply.end());
    EXPECT_TRUE(chip.CheckRecvFrame(received.data(), static_cast<int>(received.size())));
}

// --- small helpers of the chip ---------------------------------------------

TEST(TransferTimeout, ThirtySecondsPerStartedMegabyteAtLeastThirty)
{
    PlainChip chip;
    EXPECT_EQ(chip.CalculationTimeout(0), 30000);
    EXPECT_EQ(chip.CalculationTimeout(1048576), 30000);
    EXPECT_EQ(chip.CalculationTimeout(1048577), 60000);
    EXPECT_EQ(chip.CalculationTimeout(10ul * 1048576), 300000);
    EXPECT_GT(chip.CalculationTimeout(~0ul), 0);
}

TEST(HeaderBuilder, WritesTypeSequenceAndValueLittleEndianAndCounts)
{
    PlainChip chip;
    uint8_t first[9] = {};
    uint8_t second[9] = {};
    chip.InitHead(first, 0, 0x11223344, 0x7E);
    chip.InitHead(second, 0, -1, 0x01);
    EXPECT_EQ(ToBytes(first, 9), (Bytes{0x7E, 0x01, 0x00, 0x00, 0x00, 0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(ToBytes(second, 9), (Bytes{0x01, 0x02, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(chip.GetHeadSequence(), 3u);
}

TEST(BoardText, FirstTextByteIsControlWhitespaceOrPrintable)
{
    PlainChip chip;
    const uint8_t none[] = {0x00, 0x07, 0x0E, 0x1F, 0x7F, 0xFF};
    EXPECT_EQ(chip.CheckAsciiTextPos(none, sizeof(none)), -1);
    const uint8_t tab[] = {0x00, 0x80, 0x09, 'A'};
    EXPECT_EQ(chip.CheckAsciiTextPos(tab, sizeof(tab)), 2);
    const uint8_t tilde[] = {0x1F, 0x7E};
    EXPECT_EQ(chip.CheckAsciiTextPos(tilde, sizeof(tilde)), 1);
}

TEST(FrameFrequency, FollowsTheBaudTable)
{
    const std::pair<unsigned int, uint32_t> table[] = {
        {2400, 5000}, {4800, 2500}, {9600, 2000}, {38400, 400}, {57600, 300}, {115200, 500}, {19200, 500}};
    for (const auto& row : table) {
        BurnChipBase::SetFrameFrequency(row.first);
        EXPECT_EQ(BurnChipBase::m_typeframeFrequency, row.second) << row.first;
    }
}

TEST(SendCmdWithoutPort, FailsWithFrameFormatNull)
{
    MessageCapture messages;
    PlainChip chip;
    uint8_t cmd[] = "version";
    EXPECT_EQ(chip.SendCmd(cmd, 7, nullptr, 0, 100), 0);
    EXPECT_EQ(messages.Get(), "frame format object is null.\n");
    EXPECT_TRUE(chip.InitBeforeBurn());  // nothing to bind to yet
    EXPECT_EQ(chip.SendCmd(cmd, 7, nullptr, 0, 100), 0);
}

} // namespace

namespace {

long long g_progressHandle = 0;
int g_progressPercent = -1;

TEST(ChipCallbacks, ProgressReachesTheCallbackWithTheChipAsHandle)
{
    PlainChip chip;
    chip.SetProgress(40);  // no callback: nothing happens
    g_setProgress = [](long long handle, int percent) {
        g_progressHandle = handle;
        g_progressPercent = percent;
    };
    chip.SetProgress(55);
    g_setProgress = nullptr;
    EXPECT_EQ(g_progressHandle, reinterpret_cast<long long>(&chip));
    EXPECT_EQ(g_progressPercent, 55);
}

TEST(ChipCallbacks, RegisteredCancelQueryStopsAFramedSend)
{
    PtyBoard board;
    ASSERT_TRUE(board.Ok());
    MessageCapture messages;
    PlainChip chip;
    ASSERT_EQ(chip.OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0), 1);
    g_isCancelled = [] { return 1; };
    Bytes frame = {1, 2, 3};
    const bool sent = chip.SendFrame(frame.data(), frame.size(), 100, 20000, true);
    g_isCancelled = nullptr;
    EXPECT_FALSE(sent);
    EXPECT_TRUE(messages.Has("\nUser Cancelled!\n"));
    EXPECT_FALSE(messages.Has("send frame timeout error"));
}

} // namespace
