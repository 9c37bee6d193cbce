// Why the reply scan rejects what it rejects: the reason of the last
// rejection is what a failed send reports.
#include <gtest/gtest.h>

#include "device/boot_frames.h"
#include "pty_board.h"

namespace {

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
