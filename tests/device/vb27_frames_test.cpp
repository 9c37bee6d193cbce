// The Vb27 region sizes, the ACK scan and the package table check; the frames
// themselves are checked end to end by the simulator, which decodes them from
// its own tables.
#include "device/vb27_frames.h"

#include <gtest/gtest.h>

#include <tuple>

#include "device/burn_vb27_chip.h"
#include "pty_board.h"

namespace {

TEST(Vb27RegionSize, RoundsUpToTheBlockBelowTheSpecialValuesAndFormatFollowsTheType)
{
    // The Qn4180's 512-byte blocks: Vb27Burn.Qn4180TakesTheSamePackage (e2e).
    const uint32_t rounding[][3] = {{4097, 4096, 8192},
                                    {4096, 4096, 4096},
                                    {0, 4096, 0},
                                    {0xF0FFFFFE, 4096, 0xF1000000},
                                    {0xF0FFFFFF, 4096, 0xF0FFFFFF},
                                    {0xFFFFFFFF, 4096, 0xFFFFFFFF}};
    for (const auto& row : rounding) {
        EXPECT_EQ(Vb27Frames::RoundBurnSize(row[0], row[1]), row[2]) << row[0] << " in blocks of " << row[1];
    }
    const std::pair<uint32_t, uint8_t> formats[] = {{14, 0x02}, {15, 0x03}, {5, 0x00}, {1, 0x00}};
    for (const auto& format : formats) {
        EXPECT_EQ(Vb27Frames::FormatByteForImageType(format.first), format.second) << format.first;
    }
}

// --- the ACK scan -----------------------------------------------------------------------

using Scan = Vb27Frames::AckScan;

std::tuple<Scan::Kind, uint8_t, size_t, size_t, bool> Fields(const Scan& s)
{
    return {s.kind, s.result, s.frameOffset, s.consumed, s.begun};
}

// The first valid frame wins, behind noise or a broken frame, and the bytes
// behind it are left. A frame whose flag and length field came is known to be
// one: whole and failing its check it is garbled, dropped whole; short of its
// end it is begun. Without the length field it could be junk.
TEST(Vb27AckScan, FindsTheFirstValidFrameAndConsumesOnlyUpToItsEndOrTheJunkBeforeAFrame)
{
    const Bytes ack = ShakeReply(12, 0x5A);
    Bytes badCheck = ack;
    badCheck[11] ^= 0x01;
    Bytes badFree = ack;
    badFree[6] ^= 0x01;
    Bytes otherLength = ShakeReply(10, 0x5A);
    otherLength[11] ^= 0x01;
    const struct {
        const char* what;
        Bytes bytes;
        Scan expected;
    } cases[] = {
        {"behind noise", Concat({{0x00, 0xEF, 0x41, 0xEF, 0xBE}, ack}), {Scan::ACCEPTED, 0x5A, 5, 17, false}},
        {"before a C", Concat({ack, {'C'}}), {Scan::ACCEPTED, 0x5A, 0, 12, false}},
        {"noise, then a flag", {0x11, 0x22, 0x33, 0xEF, 0xBE, 0xAD, 0xDE, 0x0C}, {Scan::NONE, 0, 0, 3, false}},
        {"noise only", {0x11, 0x22, 0x33, 0x44}, {Scan::NONE, 0, 0, 4, false}},
        {"noise, then a flag byte", {0x11, 0x22, 0xEF}, {Scan::NONE, 0, 0, 2, false}},
        {"negative", Concat({ShakeReply(12, 0xA5), ack}), {Scan::REFUSED, 0xA5, 0, 12, false}},
        {"behind a broken frame", Concat({badCheck, ack}), {Scan::ACCEPTED, 0x5A, 12, 24, false}},
        // No result is read from a spoiled frame.
        {"garbled", Concat({{0x11}, badFree, {'C'}}), {Scan::GARBLED, 0, 1, 13, false}},
        {"flag and length only", Bytes(badFree.begin(), badFree.begin() + 6), {Scan::NONE, 0, 0, 0, true}},
        {"flag only", Bytes(badFree.begin(), badFree.begin() + 5), {Scan::NONE, 0, 0, 0, false}},
        {"valid with another length", ShakeReply(10, 0x5A), {Scan::ACCEPTED, 0x5A, 0, 12, false}},
        {"broken with another length: junk", otherLength, {Scan::NONE, 0, 0, 12, false}},
        {"twelve flag bytes: all but a last possible flag", Bytes(12, 0xEF), {Scan::NONE, 0, 0, 11, false}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Fields(Vb27Frames::ScanAckFrame(c.bytes.data(), c.bytes.size())), Fields(c.expected))
            << c.what << ": " << Hex(c.bytes);
    }
}

// The table-length check must cover the whole table, the last entry included.
TEST(Vb27PackageCheck, TableLongerThanTheFileIsRefusedAnd255EntriesAreFine)
{
    PrintCapture messages;
    BurnVb27ChipSp::BurnVb27Chip chip;
    std::vector<PackageImage> images(255, {"img", 1, 0, 0, Bytes(1, 0)});
    images[0].type = 0;
    const Bytes package = BuildPackage(images);
    EXPECT_TRUE(chip.CheckFwpkgHeadData(package.data(), static_cast<uint32_t>(package.size()))) << messages.Messages();
    EXPECT_FALSE(chip.CheckFwpkgHeadData(package.data(), 12 + 52));
    EXPECT_EQ(messages.Take(), "too many image or the header data length is greater than the file length!\n");
}

} // namespace
