// The command, reset and ACK frames, byte for byte as the boot ROM reads them.
// Expected frames are written out here by hand; only the check field is computed.
#include "device/vb27_frames.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/checksum.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Appends the check field (little-endian) the way the wire table describes it.
Bytes WithCrc(Bytes body)
{
    const uint16_t crc = Common::SopCrc16(body.data(), static_cast<uint32_t>(body.size()));
    body.push_back(static_cast<uint8_t>(crc & 0xFF));
    body.push_back(static_cast<uint8_t>(crc >> 8));
    return body;
}

Bytes Ack(uint8_t result)
{
    return WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x0C, 0x00, 0x00, 0x00, result, 0x00});
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(Vb27CommandFrames, HandshakeCarriesRateAndLineSettings)
{
    EXPECT_EQ(Vb27Frames::BuildShakeHandFrame(115200),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x12, 0x00, 0xF0, 0x0F, 0x00, 0xC2, 0x01, 0x00, 0x08, 0x01, 0x00,
                       0x00}));
    EXPECT_EQ(Vb27Frames::BuildShakeHandFrame(921600),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x12, 0x00, 0xF0, 0x0F, 0x00, 0x10, 0x0E, 0x00, 0x08, 0x01, 0x00,
                       0x00}));
}

TEST(Vb27CommandFrames, SwitchBaudUsesCode5A)
{
    EXPECT_EQ(Vb27Frames::BuildSwitchBaudFrame(3000000),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x12, 0x00, 0x5A, 0xA5, 0xC0, 0xC6, 0x2D, 0x00, 0x08, 0x01, 0x00,
                       0x00}));
}

TEST(Vb27CommandFrames, VersionAndOtpCarryTheImageLength)
{
    EXPECT_EQ(Vb27Frames::BuildVersionFrame(0x01020304),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x0E, 0x00, 0x69, 0x96, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(Vb27Frames::BuildOtpEfuseFrame(0x40),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x0E, 0x00, 0xC3, 0x3C, 0x40, 0x00, 0x00, 0x00}));
}

TEST(Vb27CommandFrames, FactoryEndsWith00FF)
{
    EXPECT_EQ(Vb27Frames::BuildFactoryFrame(0x00200000, 0x1234, 0x2000),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x18, 0x00, 0x78, 0x87, 0x00, 0x00, 0x20, 0x00, 0x34, 0x12, 0x00,
                       0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xFF}));
}

TEST(Vb27CommandFrames, NvKvEndsWithFourZeroBytes)
{
    EXPECT_EQ(Vb27Frames::BuildNvKvFrame(0x003F0000, 0x800, 0x1000),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x1A, 0x00, 0x4B, 0xB4, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x08, 0x00,
                       0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(Vb27CommandFrames, FlashImageCarriesFormatAndItsComplement)
{
    EXPECT_EQ(Vb27Frames::BuildFlashImageFrame(0x00010000, 0x1001, 0x2000, 0x02),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x18, 0x00, 0xD2, 0x2D, 0x00, 0x00, 0x01, 0x00, 0x01, 0x10, 0x00,
                       0x00, 0x00, 0x20, 0x00, 0x00, 0x02, 0xFD}));
}

TEST(Vb27CommandFrames, EraseAllIsAFlashImageOfTheWholeRegion)
{
    EXPECT_EQ(Vb27Frames::BuildFlashImageFrame(0, 0, 0xFFFFFFFF, 0),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x18, 0x00, 0xD2, 0x2D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                       0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF}));
}

TEST(Vb27CommandFrames, UploadCarriesLengthThenAddress)
{
    EXPECT_EQ(Vb27Frames::BuildUploadFrame(0x3000, 0x00400000),
              WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x12, 0x00, 0xB4, 0x4B, 0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x40,
                       0x00}));
}

TEST(Vb27CommandFrames, ResetFrameIsTwelveFixedBytes)
{
    const Bytes frame = Vb27Frames::BuildResetFrame();
    EXPECT_EQ(frame, WithCrc({0xEF, 0xBE, 0xAD, 0xDE, 0x0C, 0x00, 0x87, 0x78, 0x00, 0x00}));
}

TEST(Vb27RegionSize, RoundsUpToTheBlockBelowTheSpecialValues)
{
    EXPECT_EQ(Vb27Frames::RoundBurnSize(4097, 4096), 8192u);
    EXPECT_EQ(Vb27Frames::RoundBurnSize(4096, 4096), 4096u);
    EXPECT_EQ(Vb27Frames::RoundBurnSize(1, 4096), 4096u);
    EXPECT_EQ(Vb27Frames::RoundBurnSize(0, 4096), 0u);
    EXPECT_EQ(Vb27Frames::RoundBurnSize(0xF0FFFFFE, 4096), 0xF1000000u);
    EXPECT_EQ(Vb27Frames::RoundBurnSize(0xF0FFFFFF, 4096), 0xF0FFFFFFu);
    EXPECT_EQ(Vb27Frames::RoundBurnSize(0xFFFFFFFF, 4096), 0xFFFFFFFFu);
    EXPECT_EQ(Vb27Frames::RoundBurnSize(513, 512), 1024u);
    EXPECT_EQ(Vb27Frames::RoundBurnSize(512, 512), 512u);
}

TEST(Vb27RegionSize, FormatByteFollowsTheImageType)
{
    EXPECT_EQ(Vb27Frames::FormatByteForImageType(14), 0x02);
    EXPECT_EQ(Vb27Frames::FormatByteForImageType(15), 0x03);
    EXPECT_EQ(Vb27Frames::FormatByteForImageType(5), 0x00);
    EXPECT_EQ(Vb27Frames::FormatByteForImageType(1), 0x00);
}

TEST(Vb27AckScan, AcceptsAFrameAtTheStart)
{
    const Bytes ack = Ack(0x5A);
    const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(ack.data(), ack.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::ACCEPTED);
    EXPECT_EQ(scan.consumed, 12u);
}

TEST(Vb27AckScan, FindsAFrameBehindNoise)
{
    const Bytes bytes = Concat({{0x00, 0xEF, 0x41, 0xEF, 0xBE}, Ack(0x5A)});
    const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(bytes.data(), bytes.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::ACCEPTED);
    EXPECT_EQ(scan.frameOffset, 5u);
    EXPECT_EQ(scan.consumed, 17u);
}

TEST(Vb27AckScan, LeavesTheBytesBehindTheFrame)
{
    const Bytes bytes = Concat({Ack(0x5A), {'C'}});
    const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(bytes.data(), bytes.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::ACCEPTED);
    EXPECT_EQ(scan.consumed, 12u);
}

TEST(Vb27AckScan, ReportsANegativeResultAndConsumesThatFrame)
{
    const Bytes bytes = Concat({Ack(0xA5), Ack(0x5A)});
    const Vb27Frames::AckScan first = Vb27Frames::ScanAckFrame(bytes.data(), bytes.size());
    EXPECT_EQ(first.kind, Vb27Frames::AckScan::REFUSED);
    EXPECT_EQ(first.result, 0xA5);
    ASSERT_EQ(first.consumed, 12u);
    const Vb27Frames::AckScan second = Vb27Frames::ScanAckFrame(bytes.data() + 12, bytes.size() - 12);
    EXPECT_EQ(second.kind, Vb27Frames::AckScan::ACCEPTED);
}

TEST(Vb27AckScan, IgnoresAFrameWithABrokenCheck)
{
    Bytes broken = Ack(0x5A);
    broken[11] ^= 0x01;
    Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(broken.data(), broken.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::NONE);

    const Bytes bytes = Concat({broken, Ack(0x5A)});
    scan = Vb27Frames::ScanAckFrame(bytes.data(), bytes.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::ACCEPTED);
    EXPECT_EQ(scan.frameOffset, 12u);
}

TEST(Vb27AckScan, KeepsOnlyATailThatMayStillBecomeAFrame)
{
    // Noise, then the first five bytes of a frame: only those five are worth keeping.
    const Bytes partial = {0x11, 0x22, 0x33, 0xEF, 0xBE, 0xAD, 0xDE, 0x0C};
    Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(partial.data(), partial.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::NONE);
    EXPECT_EQ(scan.consumed, 3u);

    const Bytes noise = {0x11, 0x22, 0x33, 0x44};
    scan = Vb27Frames::ScanAckFrame(noise.data(), noise.size());
    EXPECT_EQ(scan.consumed, 4u);

    const Bytes lastByteMayStart = {0x11, 0x22, 0xEF};
    scan = Vb27Frames::ScanAckFrame(lastByteMayStart.data(), lastByteMayStart.size());
    EXPECT_EQ(scan.consumed, 2u);
}

TEST(Vb27AckScan, TwelveBytesOfNoiseDropAtLeastOneByte)
{
    const Bytes noise(12, 0xEF);
    const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(noise.data(), noise.size());
    EXPECT_EQ(scan.kind, Vb27Frames::AckScan::NONE);
    EXPECT_GE(scan.consumed, 1u);
}

} // namespace
