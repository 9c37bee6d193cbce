// A Vb27/Qn4180 board driven frame by frame the way the tool drives it: the
// boot ROM handshake, the loader, images, erase, read-back, baud switch, reset,
// and the board's answers to broken frames and injected faults.
#include "sim/vb27_board.h"
#include "vb27_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace Vb27Test;
using Sim::Vb27Board;

namespace {

Bytes First12(const Bytes& b)
{
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(12, b.size())));
}

constexpr uint8_t ACK = 0x06;
constexpr uint8_t C = 0x43;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t SUCCESS = 0x5A;
constexpr uint8_t FAILURE = 0xA5;

class Vb27BoardTest : public ::testing::Test {
protected:
    void Make(bool qn4180 = false)
    {
        board = std::make_unique<Vb27Board>(Sim::BoardEnv{line, flash, report, faults}, qn4180);
        board->OnTick(now);
    }

    Bytes Send(const Bytes& bytes)
    {
        line.Take();
        board->OnBytes(bytes.data(), bytes.size());
        return line.Take();
    }

    // Only the ACK frames among what the board sent.
    std::vector<Bytes> Answers()
    {
        std::vector<Bytes> out;
        for (const auto& c : line.chunks) {
            if (c.answer) {
                out.push_back(c.bytes);
            }
        }
        return out;
    }

    Bytes SendAndKeep(const Bytes& bytes)
    {
        line.chunks.clear();
        board->OnBytes(bytes.data(), bytes.size());
        Bytes all;
        for (const auto& c : line.chunks) {
            all.insert(all.end(), c.bytes.begin(), c.bytes.end());
        }
        return all;
    }

    // A YMODEM transfer as the tool makes it; returns the final ACK frame.
    Bytes Transfer(const std::string& name, const Bytes& data, size_t blockSize)
    {
        char size[32];
        std::snprintf(size, sizeof size, "0x%zx", data.size());
        Send(HeaderBlock(name, size));
        for (const Bytes& b : DataBlocks(data, blockSize)) {
            Send(b);
        }
        Send({EOT});
        const Bytes end = Send(ClosingBlock());
        EXPECT_FALSE(end.empty());
        return end.empty() ? end : Bytes(end.begin() + 1, end.end());  // after the block's ACK
    }

    void BootLoader()
    {
        const Bytes hs = Send(Handshake(115200));
        ASSERT_TRUE(IsAck(Bytes(hs.begin(), hs.begin() + 12), SUCCESS));
        ASSERT_TRUE(IsAck(Transfer("loader.bin", Pattern(3000, 1), 1024), SUCCESS));
        ASSERT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
    }

    RecordingLine line;
    Sim::Flash flash{64 * 1024};
    Sim::Report report;
    Sim::FaultPlan faults;
    std::unique_ptr<Vb27Board> board;
    int64_t now = 1000;
};

TEST_F(Vb27BoardTest, TheBootRomAnswersAHandshakeWithAnAckAndAsksForTheLoader)
{
    Make();
    const Bytes out = Send(Handshake(115200));
    ASSERT_GE(out.size(), 13u);
    EXPECT_TRUE(IsAck(Bytes(out.begin(), out.begin() + 12), SUCCESS));
    EXPECT_EQ(out[12], C);
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER_TRANSFER);
}

TEST_F(Vb27BoardTest, TheAckFrameHasTheDocumentedBytes)
{
    Make();
    const Bytes out = Send(Handshake(115200));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 12),
              (Bytes{0xEF, 0xBE, 0xAD, 0xDE, 0x0C, 0x00, 0xE1, 0x1E, 0x5A, 0x00, 0x95, 0x22}));
}

TEST_F(Vb27BoardTest, TheLoaderIsRecordedButNotWrittenToFlash)
{
    Make();
    BootLoader();
    ASSERT_EQ(report.Images().size(), 1u);
    EXPECT_EQ(report.Images()[0].kind, "loader");
    EXPECT_EQ(report.Images()[0].length, 3000u);
    EXPECT_EQ(flash.Bytes(), Bytes(64 * 1024, 0xFF));
}

TEST_F(Vb27BoardTest, AHandshakeAtAnotherRateSwitchesTheLineAfterTheAck)
{
    Make();
    Send(Handshake(921600));
    EXPECT_EQ(line.baud, 921600u);
    EXPECT_NE(report.ToJson(flash).find("\"baudChanges\": [\n    921600\n  ]"), std::string::npos);
}

TEST_F(Vb27BoardTest, HandshakesStillInFlightAreEachAnsweredAgain)
{
    Make();
    Send(Handshake(115200));
    const Bytes again = Send(Handshake(115200));
    EXPECT_TRUE(IsAck(again, SUCCESS));
    EXPECT_TRUE(IsAck(Transfer("loader.bin", Pattern(100, 1), 1024), SUCCESS));
}

TEST_F(Vb27BoardTest, CommandsBeforeTheHandshakeGetNoAnswer)
{
    Make();
    EXPECT_TRUE(Send(FlashImage(0, 16, 4096)).empty());
    ASSERT_EQ(report.ProtocolErrors().size(), 1u);
    EXPECT_NE(report.ProtocolErrors()[0].find("before the handshake"), std::string::npos);
}

TEST_F(Vb27BoardTest, AFlashImageLandsAtItsAddressInsideItsErasedRegion)
{
    flash.Write(0x2000, Bytes(0x2000, 0x00).data(), 0x2000);
    Make();
    BootLoader();
    const Bytes image = Pattern(5000, 2);
    const Bytes answer = Send(FlashImage(0x2000, 5000, 0x2000));
    EXPECT_TRUE(IsAck(First12(answer), SUCCESS));
    EXPECT_EQ(answer.back(), C);
    EXPECT_TRUE(IsAck(Transfer("app.bin", image, 4096), SUCCESS));
    EXPECT_EQ(flash.Read(0x2000, 5000), image);
    EXPECT_EQ(flash.Read(0x2000 + 5000, 0x2000 - 5000), Bytes(0x2000 - 5000, 0xFF));
    const auto& rec = report.Images().back();
    EXPECT_EQ(rec.kind, "flash");
    EXPECT_EQ(rec.address, 0x2000u);
    EXPECT_EQ(rec.regionSize, 0x2000u);
    EXPECT_EQ(rec.name, "app.bin");
}

TEST_F(Vb27BoardTest, RegionSizesMustBeRoundedTo4096OnAVb27)
{
    Make();
    BootLoader();
    const Bytes out = Send(FlashImage(0x1000, 0x100, 0x1200));
    EXPECT_TRUE(IsAck(out, FAILURE));
    EXPECT_EQ(out[9], 0x05);
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
    EXPECT_TRUE(IsAck(First12(Send(FlashImage(0x1000, 0x100, 0x2000))), SUCCESS));
}

TEST_F(Vb27BoardTest, AQn4180RoundsItsFlashImageRegionTo512Only)
{
    Make(true);
    BootLoader();
    EXPECT_TRUE(IsAck(First12(Send(FlashImage(0x1000, 0x100, 0x400))), SUCCESS));
    EXPECT_TRUE(IsAck(Transfer("q.bin", Pattern(0x100, 4), 1024), SUCCESS));
    EXPECT_TRUE(IsAck(Send(FlashImage(0x1000, 0x100, 0x300)), FAILURE));
    // NV/KV keeps the 4096 rule on a Qn4180 as well.
    Bytes nv;
    PutU32(nv, 0x3000);
    PutU32(nv, 0x10);
    PutU32(nv, 0x400);
    nv.insert(nv.end(), {0, 0, 0, 0});
    EXPECT_TRUE(IsAck(Send(Command(0x4B, nv)), FAILURE));
}

TEST_F(Vb27BoardTest, UnroundedHugeRegionSizesAreTaken)
{
    Make();
    BootLoader();
    EXPECT_TRUE(IsAck(First12(Send(FlashImage(0x1000, 0x10, 0xF0FFFFFF))), SUCCESS));
}

TEST_F(Vb27BoardTest, AnImageLongerThanItsRegionIsRefused)
{
    Make();
    BootLoader();
    EXPECT_TRUE(IsAck(Send(FlashImage(0x1000, 0x1001, 0x1000)), FAILURE));
}

TEST_F(Vb27BoardTest, FormatBytesNameTheImageKind)
{
    Make();
    BootLoader();
    Send(FlashImage(0x1000, 4, 0x1000, 2));
    Transfer("rom.bin", Bytes{1, 2, 3, 4}, 1024);
    Send(FlashImage(0x2000, 4, 0x1000, 3));
    Transfer("emmc.bin", Bytes{1, 2, 3, 4}, 1024);
    EXPECT_EQ(report.Images()[1].kind, "rom");
    EXPECT_EQ(report.Images()[2].kind, "emmc");
    EXPECT_TRUE(IsAck(Send(FlashImage(0x2000, 4, 0x1000, 5)), FAILURE));
}

TEST_F(Vb27BoardTest, EraseAllIsAFlashImageCommandWithoutTransfer)
{
    flash.Write(0, Bytes(100, 0x00).data(), 100);
    Make();
    BootLoader();
    EXPECT_TRUE(IsAck(Send(FlashImage(0, 0, 0xFFFFFFFF)), SUCCESS));
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
    EXPECT_EQ(flash.Bytes(), Bytes(64 * 1024, 0xFF));
    EXPECT_NE(report.ToJson(flash).find("{\"what\": \"all\", \"address\": 0, \"length\": 65536}"),
              std::string::npos);
}

TEST_F(Vb27BoardTest, FactoryNvVersionAndOtpImagesAreRecordedAndOnlyAddressedOnesFlashed)
{
    Make();
    BootLoader();
    Bytes factory;
    PutU32(factory, 0x4000);
    PutU32(factory, 8);
    PutU32(factory, 0x1000);
    factory.insert(factory.end(), {0x00, 0xFF});
    EXPECT_TRUE(IsAck(First12(Send(Command(0x78, factory))), SUCCESS));
    Transfer("factory.bin", Bytes(8, 0x11), 1024);
    Bytes nv;
    PutU32(nv, 0x5000);
    PutU32(nv, 8);
    PutU32(nv, 0x1000);
    nv.insert(nv.end(), {0, 0, 0, 0});
    Send(Command(0x4B, nv));
    Transfer("nv.bin", Bytes(8, 0x22), 1024);
    Bytes length;
    PutU32(length, 8);
    Send(Command(0x69, length));
    Transfer("version.bin", Bytes(8, 0x33), 1024);
    Send(Command(0xC3, length));
    Transfer("otp.bin", Bytes(8, 0x44), 1024);
    ASSERT_EQ(report.Images().size(), 5u);
    EXPECT_EQ(report.Images()[1].kind, "factory");
    EXPECT_EQ(report.Images()[2].kind, "nv");
    EXPECT_EQ(report.Images()[3].kind, "version");
    EXPECT_EQ(report.Images()[4].kind, "otp");
    EXPECT_EQ(flash.Read(0x4000, 8), Bytes(8, 0x11));
    EXPECT_EQ(flash.Read(0x5000, 8), Bytes(8, 0x22));
    EXPECT_EQ(std::count(flash.Bytes().begin(), flash.Bytes().end(), uint8_t{0x33}), 0);
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

TEST_F(Vb27BoardTest, FactoryAndNvFramesWithWrongTrailingBytesAreRefused)
{
    Make();
    BootLoader();
    Bytes factory;
    PutU32(factory, 0x4000);
    PutU32(factory, 8);
    PutU32(factory, 0x1000);
    factory.insert(factory.end(), {0x00, 0x00});
    EXPECT_TRUE(IsAck(Send(Command(0x78, factory)), FAILURE));
}

TEST_F(Vb27BoardTest, AnImageWhoseSizeDiffersFromItsCommandIsRefusedAfterTheTransfer)
{
    Make();
    BootLoader();
    Send(FlashImage(0x1000, 100, 0x1000));
    EXPECT_TRUE(IsAck(Transfer("odd.bin", Pattern(99, 1), 1024), FAILURE));
    EXPECT_EQ(report.Images().size(), 1u);
    EXPECT_EQ(flash.Read(0x1000, 99), Bytes(99, 0xFF));
}

TEST_F(Vb27BoardTest, TheSameCommandRepeatedBeforeItsTransferIsAnsweredAgain)
{
    Make();
    BootLoader();
    Send(FlashImage(0x1000, 4, 0x1000));
    EXPECT_TRUE(IsAck(Send(FlashImage(0x1000, 4, 0x1000)), SUCCESS));
    EXPECT_TRUE(IsAck(Transfer("a.bin", Bytes{1, 2, 3, 4}, 1024), SUCCESS));
}

TEST_F(Vb27BoardTest, ADifferentCommandAbandonsTheAnnouncedTransfer)
{
    Make();
    BootLoader();
    Send(FlashImage(0x1000, 4, 0x1000));
    EXPECT_TRUE(IsAck(First12(Send(FlashImage(0x2000, 4, 0x1000))), SUCCESS));
    Transfer("b.bin", Bytes{5, 6, 7, 8}, 1024);
    EXPECT_EQ(flash.Read(0x2000, 4), (Bytes{5, 6, 7, 8}));
    EXPECT_EQ(report.ProtocolErrors().size(), 1u);
}

TEST_F(Vb27BoardTest, AnUploadSendsTheFlashRangeWithYmodem)
{
    const Bytes content = Pattern(1500, 8);
    flash.Write(0x3000, content.data(), content.size());
    Make();
    BootLoader();
    EXPECT_TRUE(IsAck(Send(Upload(1500, 0x3000)), SUCCESS));
    const Bytes header = Send({C});
    ASSERT_EQ(header.size(), 133u);
    EXPECT_EQ(std::string(header.begin() + 3, header.begin() + 12), "flash.bin");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header[13])), "0x5dc");
    EXPECT_TRUE(Send({ACK}).empty());
    Bytes received;
    Bytes block = Send({C});
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(block.size(), 1029u);
        EXPECT_EQ(block[1], i + 1);
        received.insert(received.end(), block.begin() + 3, block.begin() + 1027);
        block = Send({ACK});
    }
    EXPECT_EQ(block, Bytes{EOT});
    EXPECT_TRUE(Send({ACK}).empty());
    EXPECT_EQ(Send({C}), ClosingBlock());
    EXPECT_TRUE(Send({ACK, C}).empty());
    received.resize(1500);
    EXPECT_EQ(received, content);
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
    // The C that ends the tool's receive is no junk; the next command works.
    EXPECT_TRUE(IsAck(Send(FlashImage(0, 0, 0xFFFFFFFF)), SUCCESS));
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

TEST_F(Vb27BoardTest, TheBaudSwitchIsAnsweredAtTheOldRateThenRecorded)
{
    Make();
    BootLoader();
    EXPECT_TRUE(IsAck(Send(SwitchBaud(921600)), SUCCESS));
    EXPECT_EQ(line.baud, 921600u);
    EXPECT_TRUE(IsAck(Send(SwitchBaud(0)), SUCCESS));
    EXPECT_EQ(line.baud, 921600u);
    const std::string json = report.ToJson(flash);
    EXPECT_NE(json.find("\"baudChanges\": [\n    921600,\n    0\n  ]"), std::string::npos) << json;
}

TEST_F(Vb27BoardTest, TheResetFrameIsRecordedUnansweredAndTheRomTalksAgain)
{
    Make();
    BootLoader();
    Send(SwitchBaud(921600));
    EXPECT_TRUE(Send(ResetFrame()).empty());
    EXPECT_TRUE(board->WasReset());
    EXPECT_EQ(report.Resets(), 1);
    EXPECT_EQ(line.baud, 115200u);
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::ROM);
    EXPECT_NE(report.ToJson(flash).find("\"efbeadde0c00877800006194\""), std::string::npos);
}

TEST_F(Vb27BoardTest, BrokenFramesGetANegativeAnswerWithTheReason)
{
    Make();
    Bytes bad = Handshake(115200);
    bad[17] ^= 0xFF;  // CRC
    Bytes out = Send(bad);
    EXPECT_TRUE(IsAck(out, FAILURE));
    EXPECT_EQ(out[9], 0x01);
    Bytes complement = Handshake(115200);
    complement[7] = 0x00;
    const uint16_t crc = Crc16(complement.data(), 16);
    complement[16] = static_cast<uint8_t>(crc);
    complement[17] = static_cast<uint8_t>(crc >> 8);
    out = Send(complement);
    EXPECT_EQ(out[9], 0x03);
    out = Send(Command(0x11, {0, 0}));
    EXPECT_EQ(out[9], 0x04);
    out = Send(Command(0xF0, {0, 0}));
    EXPECT_EQ(out[9], 0x02);
    EXPECT_EQ(report.ProtocolErrors().size(), 4u);
    EXPECT_TRUE(IsAck(First12(Send(Handshake(115200))), SUCCESS));
}

TEST_F(Vb27BoardTest, AFrameSplitIntoSingleBytesIsStillOneFrame)
{
    Make();
    const Bytes hs = Handshake(115200);
    for (size_t i = 0; i + 1 < hs.size(); ++i) {
        EXPECT_TRUE(Send({hs[i]}).empty());
    }
    EXPECT_TRUE(IsAck(First12(Send({hs.back()})), SUCCESS));
}

TEST_F(Vb27BoardTest, JunkBetweenFramesIsSkippedAndReported)
{
    Make();
    Bytes junk = {0x00, 0xEF, 0xBE, 0x12};
    const Bytes hs = Handshake(115200);
    junk.insert(junk.end(), hs.begin(), hs.end());
    EXPECT_TRUE(IsAck(First12(Send(junk)), SUCCESS));
    ASSERT_EQ(report.ProtocolErrors().size(), 1u);
    EXPECT_NE(report.ProtocolErrors()[0].find("4 bytes"), std::string::npos);
}

TEST_F(Vb27BoardTest, AnIncompleteFrameIsDroppedAfterTheGap)
{
    Make();
    const Bytes hs = Handshake(115200);
    Send(Bytes(hs.begin(), hs.begin() + 10));
    board->OnTick(now + Vb27Board::FRAME_GAP_MS);
    EXPECT_EQ(report.ProtocolErrors().size(), 1u);
    EXPECT_TRUE(IsAck(First12(Send(hs)), SUCCESS));
}

TEST_F(Vb27BoardTest, AHandshakeToARunningLoaderRestartsTheBoard)
{
    Make();
    BootLoader();
    EXPECT_TRUE(IsAck(First12(Send(Handshake(115200))), SUCCESS));
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER_TRANSFER);
}

// --- injected faults ---

TEST_F(Vb27BoardTest, NakFrameRefusesExactlyThatFrame)
{
    faults.nakFrame = 1;
    Make();
    const Bytes first = Send(Handshake(115200));
    EXPECT_TRUE(IsAck(first, FAILURE));
    EXPECT_EQ(first[9], 0x7F);
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::ROM);
    EXPECT_TRUE(IsAck(First12(Send(Handshake(115200))), SUCCESS));
}

TEST_F(Vb27BoardTest, DropAnswerLeavesOutExactlyThatAnswer)
{
    faults.dropAnswer = 2;
    Make();
    EXPECT_TRUE(IsAck(First12(Send(Handshake(115200))), SUCCESS));
    EXPECT_TRUE(Send(Handshake(115200)).empty());  // the repeat's answer is answer 2
    EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
}

TEST_F(Vb27BoardTest, CorruptAnswerBreaksTheCrcOfThatAnswerOnly)
{
    faults.corruptAnswer = 1;
    Make();
    const Bytes first = First12(Send(Handshake(115200)));
    EXPECT_EQ(first[8], SUCCESS);
    EXPECT_FALSE(IsAck(first, SUCCESS));
    EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
}

TEST_F(Vb27BoardTest, ASilentBoardSendsNothingAtAll)
{
    faults.silent = true;
    Make();
    EXPECT_TRUE(Send(Handshake(115200)).empty());
    board->OnTick(now + 5000);
    EXPECT_TRUE(line.Take().empty());
}

TEST_F(Vb27BoardTest, AnswersGoAsAnswersAndYmodemBytesAsData)
{
    Make();
    Send(Handshake(115200));
    ASSERT_EQ(line.chunks.size(), 0u);  // Send() took them; look again
    line.chunks.clear();
    board->OnBytes(Handshake(115200).data(), 18);
    ASSERT_EQ(line.chunks.size(), 1u);
    EXPECT_TRUE(line.chunks[0].answer);
    board->OnTick(now + 200);
    ASSERT_EQ(line.chunks.size(), 2u);
    EXPECT_FALSE(line.chunks[1].answer);
    EXPECT_EQ(line.chunks[1].bytes, Bytes{C});
}

}  // namespace
