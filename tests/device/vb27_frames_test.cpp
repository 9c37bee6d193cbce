// The Vb27 region sizes, the ACK scan and the package table check; the frames
// themselves are checked end to end by the simulator, which decodes them from
// its own tables.
#include "device/vb27_frames.h"

#include <gtest/gtest.h>

#include "device/burn_vb27_chip.h"
#include "pty_board.h"

namespace {

Bytes Ack(uint8_t result)
{
    return ShakeReply(12, result);
}

TEST(Vb27RegionSize, RoundsUpToTheBlockBelowTheSpecialValuesAndFormatFollowsTheType)
{
    const uint32_t rounding[][3] = {{4097, 4096, 8192},
                                    {4096, 4096, 4096},
                                    {1, 4096, 4096},
                                    {0, 4096, 0},
                                    {0xF0FFFFFE, 4096, 0xF1000000},
                                    {0xF0FFFFFF, 4096, 0xF0FFFFFF},
                                    {0xFFFFFFFF, 4096, 0xFFFFFFFF},
                                    {513, 512, 1024},
                                    {512, 512, 512}};
    for (const auto& row : rounding) {
        EXPECT_EQ(Vb27Frames::RoundBurnSize(row[0], row[1]), row[2]) << row[0] << " in blocks of " << row[1];
    }
    const std::pair<uint32_t, uint8_t> formats[] = {{14, 0x02}, {15, 0x03}, {5, 0x00}, {1, 0x00}};
    for (const auto& format : formats) {
        EXPECT_EQ(Vb27Frames::FormatByteForImageType(format.first), format.second) << format.first;
    }
}

// --- the ACK scan -----------------------------------------------------------------------

TEST(Vb27AckScan, FindsAFrameBehindNoiseAndLeavesTheBytesBehindIt)
{
    const struct {
        Bytes bytes;
        Vb27Frames::AckScan::Kind kind;
        size_t frameOffset;
        size_t consumed;
    } cases[] = {
        {Ack(0x5A), Vb27Frames::AckScan::ACCEPTED, 0, 12},
        {Concat({{0x00, 0xEF, 0x41, 0xEF, 0xBE}, Ack(0x5A)}), Vb27Frames::AckScan::ACCEPTED, 5, 17},
        {Concat({Ack(0x5A), {'C'}}), Vb27Frames::AckScan::ACCEPTED, 0, 12},
        // Noise, then the first five bytes of a frame: only those are worth keeping.
        {{0x11, 0x22, 0x33, 0xEF, 0xBE, 0xAD, 0xDE, 0x0C}, Vb27Frames::AckScan::NONE, 0, 3},
        {{0x11, 0x22, 0x33, 0x44}, Vb27Frames::AckScan::NONE, 0, 4},
        {{0x11, 0x22, 0xEF}, Vb27Frames::AckScan::NONE, 0, 2},
    };
    for (const auto& c : cases) {
        const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(scan.kind, c.kind) << Hex(c.bytes);
        if (c.kind == Vb27Frames::AckScan::ACCEPTED) {
            EXPECT_EQ(scan.frameOffset, c.frameOffset) << Hex(c.bytes);
        }
        EXPECT_EQ(scan.consumed, c.consumed) << Hex(c.bytes);
    }
    const Bytes noise(12, 0xEF);
    const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(noise.data(), noise.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::NONE);
    EXPECT_GE(scan.consumed, 1u) << "twelve bytes of noise drop at least one";
}

TEST(Vb27AckScan, ANegativeResultConsumesItsFrameAndABrokenCheckIsPassedOver)
{
    const Bytes bytes = Concat({Ack(0xA5), Ack(0x5A)});
    const Vb27Frames::AckScan first = Vb27Frames::ScanAckFrame(bytes.data(), bytes.size());
    EXPECT_EQ(first.kind, Vb27Frames::AckScan::REFUSED);
    EXPECT_EQ(first.result, 0xA5);
    ASSERT_EQ(first.consumed, 12u);
    EXPECT_EQ(Vb27Frames::ScanAckFrame(bytes.data() + 12, bytes.size() - 12).kind, Vb27Frames::AckScan::ACCEPTED);

    Bytes broken = Ack(0x5A);
    broken[11] ^= 0x01;
    EXPECT_EQ(Vb27Frames::ScanAckFrame(broken.data(), broken.size()).kind, Vb27Frames::AckScan::NONE);
    const Bytes behind = Concat({broken, Ack(0x5A)});
    const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(behind.data(), behind.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::ACCEPTED);
    EXPECT_EQ(scan.frameOffset, 12u);
}

// The table-length check must cover the whole table, the last entry included.
TEST(Vb27PackageCheck, TableLongerThanTheFileIsRefusedAnd255EntriesAreFine)
{
    MessageCapture messages;
    BurnVb27ChipSp::BurnVb27Chip chip;
    std::vector<PackageImage> images(255, {"img", 1, 0, 0, Bytes(1, 0)});
    images[0].type = 0;
    const Bytes package = BuildPackage(images);
    EXPECT_TRUE(chip.CheckFwpkgHeadData(package.data(), static_cast<uint32_t>(package.size()))) << messages.Messages();
    EXPECT_FALSE(chip.CheckFwpkgHeadData(package.data(), 12 + 52));
    EXPECT_EQ(messages.Take(), "too many image or the header data length is greater than the file length!\n");
}

} // namespace
