// The text command frames byte for byte, and why the reply scan rejects what
// it rejects: the reason of the last rejection is what a failed send reports.
#include <gtest/gtest.h>

#include "device/boot_frames.h"
#include "pty_board.h"

namespace {

template <typename Frame>
Bytes ToBytes(const Frame& frame)
{
    return Bytes(frame.begin(), frame.end());
}

TEST(BootFrameLayout, TheTextCommandFramesMatchTheirTable)
{
    std::array<uint8_t, BootFrame::CMD_FRAME_BUFFER_SIZE> cmdData{};
    const uint8_t cmd[] = {'l', 's'};
    ASSERT_EQ(BootFrame::BuildCmdDataFrame(cmd, 2, cmdData), 5u);
    EXPECT_EQ(Bytes(cmdData.begin(), cmdData.begin() + 5), WithCrcBe({0xCD, 'l', 's'}));
    EXPECT_EQ(ToBytes(BootFrame::BuildCmdHeadFrame(0x017D)), WithCrcBe({0xAB, 0x01, 0x7D}));
    const Bytes longest(BootFrame::MAX_CMD_LENGTH, 'x');
    EXPECT_EQ(BootFrame::BuildCmdDataFrame(longest.data(), BootFrame::MAX_CMD_LENGTH, cmdData),
              BootFrame::CMD_FRAME_BUFFER_SIZE);
    EXPECT_EQ(BootFrame::BuildCmdDataFrame(longest.data(), BootFrame::MAX_CMD_LENGTH + 1, cmdData), 0u)
        << "one character more does not fit the frame";
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
