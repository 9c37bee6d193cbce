// The boot-ROM frames byte for byte, and why the reply scan rejects what it
// rejects: the reason of the last rejection is what a failed send reports.
#include <gtest/gtest.h>

#include "device/boot_frames.h"
#include "pty_board.h"

namespace {

template <typename Frame>
Bytes ToBytes(const Frame& frame)
{
    return Bytes(frame.begin(), frame.end());
}

TEST(BootFrameLayout, EveryFrameMatchesItsTable)
{
    const uint8_t payload[] = {0x10, 0x20, 0x30};
    std::array<uint8_t, BootFrame::CMD_FRAME_BUFFER_SIZE> cmdData{};
    const uint8_t cmd[] = {'l', 's'};
    ASSERT_EQ(BootFrame::BuildCmdDataFrame(cmd, 2, cmdData), 5u);
    const struct {
        const char* frame;
        Bytes built;
        Bytes expected;
    } cases[] = {
        {"head", ToBytes(BootFrame::BuildHeadFrame(0x01020304, 0xA0B0C0D0)),
         WithCrcBe({0xFE, 0x00, 0xFF, 0x01, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0})},
        {"data", BootFrame::BuildDataFrame(0x05, payload, 3), WithCrcBe({0xDA, 0x05, 0xFA, 0x10, 0x20, 0x30})},
        {"tail", ToBytes(BootFrame::BuildTailFrame(4)), WithCrcBe({0xED, 0x04, 0xFB})},
        {"start", ToBytes(BootFrame::BuildStartFrame(0x11223344, 0x55667788)),
         Bytes{0xFE, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
        {"command head", ToBytes(BootFrame::BuildCmdHeadFrame(0x017D)), WithCrcBe({0xAB, 0x01, 0x7D})},
        {"command data", Bytes(cmdData.begin(), cmdData.begin() + 5), WithCrcBe({0xCD, 'l', 's'})},
        {"board", ToBytes(BootFrame::BuildBoardFrame(0x0A0B0C0D)),
         WithCrcBe({0xCE, 0x00, 0xFF, 0x01, 0x0A, 0x0B, 0x0C, 0x0D, 0x0A, 0x0B, 0x0C, 0x0D})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built, c.expected) << c.frame;
    }
}

TEST(BootFrameLayout, TheBaudHandshakeIsWrittenOnlyIntoANineByteBuffer)
{
    Bytes frame(Common::SHAKE_HAND_FRAME_LENGTH + 1, 0x77);
    ASSERT_TRUE(Common::InitShakeHandCmd(frame.data(), Common::SHAKE_HAND_FRAME_LENGTH, 921600));
    EXPECT_EQ(Bytes(frame.begin(), frame.end() - 1), WithCrcBe({0xBE, 0x00, 0xFF, 0x00, 0x0E, 0x10, 0x00}));
    EXPECT_EQ(frame.back(), 0x77);
    Bytes untouched(16, 0x77);
    EXPECT_FALSE(Common::InitShakeHandCmd(untouched.data(), 16, 921600));
    EXPECT_FALSE(Common::InitShakeHandCmd(untouched.data(), 8, 921600));
    EXPECT_EQ(untouched, Bytes(16, 0x77));
}

// --- what the chip makes of a reply ------------------------------------------

TEST(ReplyScan, EachRejectionSaysWhyAndTheComplementCountsOnlyForOtherFrames)
{
    PlainChip chip;
    const Bytes commandFrame = {0x12, 0x07, 0x00, 0x00};  // neither data nor tail frame
    const Bytes dataFrame = BootFrame::BuildDataFrame(0x09, nullptr, 0);
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
        EXPECT_EQ(chip.CheckReplyFrameValidity(c.received.data(), static_cast<int>(c.received.size()), c.sent.data()),
                  c.accepted)
            << Hex(c.received);
        if (!c.accepted && c.error != nullptr) {
            EXPECT_EQ(chip.GetErrorInfo(), c.error) << Hex(c.received);
        }
    }
}

} // namespace
