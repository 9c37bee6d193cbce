// The Vb27 command, reset and ACK frames byte for byte as the boot ROM reads
// them (expected frames written out by hand, only the check field computed),
// the ACK scan, and the package table check.
#include "device/vb27_frames.h"

#include <gtest/gtest.h>

#include "device/burn_vb27_chip.h"
#include "pty_board.h"

namespace {

Bytes Ack(uint8_t result)
{
    return ShakeReply(12, result);
}

TEST(Vb27CommandFrames, EveryFrameMatchesItsTable)
{
    const Bytes flag = {0xEF, 0xBE, 0xAD, 0xDE};
    const struct {
        const char* frame;
        Bytes built;
        Bytes body;  // behind the flag, before the check field
    } cases[] = {
        {"handshake 115200", Vb27Frames::BuildShakeHandFrame(115200),
         {0x12, 0x00, 0xF0, 0x0F, 0x00, 0xC2, 0x01, 0x00, 0x08, 0x01, 0x00, 0x00}},
        {"handshake 921600", Vb27Frames::BuildShakeHandFrame(921600),
         {0x12, 0x00, 0xF0, 0x0F, 0x00, 0x10, 0x0E, 0x00, 0x08, 0x01, 0x00, 0x00}},
        {"switch baud", Vb27Frames::BuildSwitchBaudFrame(3000000),
         {0x12, 0x00, 0x5A, 0xA5, 0xC0, 0xC6, 0x2D, 0x00, 0x08, 0x01, 0x00, 0x00}},
        {"version", Vb27Frames::BuildVersionFrame(0x01020304), {0x0E, 0x00, 0x69, 0x96, 0x04, 0x03, 0x02, 0x01}},
        {"otp/efuse", Vb27Frames::BuildOtpEfuseFrame(0x40), {0x0E, 0x00, 0xC3, 0x3C, 0x40, 0x00, 0x00, 0x00}},
        {"factory", Vb27Frames::BuildFactoryFrame(0x00200000, 0x1234, 0x2000),
         {0x18, 0x00, 0x78, 0x87, 0x00, 0x00, 0x20, 0x00, 0x34, 0x12, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xFF}},
        {"nv/kv", Vb27Frames::BuildNvKvFrame(0x003F0000, 0x800, 0x1000),
         {0x1A, 0x00, 0x4B, 0xB4, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00,
          0x00, 0x00}},
        {"flash image", Vb27Frames::BuildFlashImageFrame(0x00010000, 0x1001, 0x2000, 0x02),
         {0x18, 0x00, 0xD2, 0x2D, 0x00, 0x00, 0x01, 0x00, 0x01, 0x10, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x02, 0xFD}},
        {"erase all", Vb27Frames::BuildFlashImageFrame(0, 0, 0xFFFFFFFF, 0),
         {0x18, 0x00, 0xD2, 0x2D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF}},
        {"upload", Vb27Frames::BuildUploadFrame(0x3000, 0x00400000),
         {0x12, 0x00, 0xB4, 0x4B, 0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00}},
        {"reset", Vb27Frames::BuildResetFrame(), {0x0C, 0x00, 0x87, 0x78, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built, WithCrcLe(Concat({flag, c.body}))) << c.frame;
    }
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
