// A Vb27/Qn4180 board driven frame by frame the way the tool drives it: the
// boot ROM handshake, the loader, image commands and their region rules,
// broken frames and injected faults. Whole runs are in sim_process_test.cpp.
#include "sim/vb27_board.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using Sim::Vb27Board;

namespace {

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

    // A YMODEM transfer as the tool makes it; true when the closing block's
    // ACK is followed by the ACK frame with this result.
    bool Transfer(const std::string& name, const Bytes& data, size_t blockSize, uint8_t result = SUCCESS)
    {
        Bytes end;
        for (const Bytes& b : YmodemFile(name, data, blockSize)) {
            end = Send(b);
        }
        return end.size() == 13 && end[0] == ACK && IsAck(end, result, 1);
    }

    void BootLoader(bool qn4180 = false)
    {
        Make(qn4180);
        ASSERT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
        ASSERT_TRUE(Transfer("loader.bin", Pattern(3000, 1), 1024));
        ASSERT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
    }

    RecordingLine line;
    Sim::Flash flash{64 * 1024};
    Sim::Report report;
    Sim::FaultPlan faults;
    std::unique_ptr<Vb27Board> board;
    int64_t now = 1000;
};

TEST_F(Vb27BoardTest, TheRomAnswersEveryHandshakeAndAsksForTheLoaderWhichIsRecordedButNotFlashed)
{
    Make();
    EXPECT_TRUE(Send(FlashImage(0, 16, 4096)).empty());  // nothing before the handshake
    EXPECT_TRUE(Mentions(report.ProtocolErrors(), "before the handshake"));
    const Bytes out = Send(Handshake(115200));
    ASSERT_EQ(out.size(), 13u);
    EXPECT_TRUE(IsAck(out, SUCCESS));
    EXPECT_EQ(out[12], C);
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER_TRANSFER);
    EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));  // handshakes still in flight
    EXPECT_TRUE(Transfer("loader.bin", Pattern(100, 1), 1024));
    ASSERT_EQ(report.Images().size(), 1u);
    EXPECT_EQ(report.Images()[0].kind, "loader");
    EXPECT_EQ(report.Images()[0].length, 100u);
    EXPECT_EQ(flash.Bytes(), Bytes(64 * 1024, 0xFF));
    // A handshake to the running loader restarts the board.
    EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER_TRANSFER);
}

TEST_F(Vb27BoardTest, ImageCommandsAreCheckedAgainstTheRegionRulesOfTheFamily)
{
    const struct {
        bool qn4180;
        Bytes frame;
        uint8_t result;
    } cases[] = {
        {false, FlashImage(0x1000, 0x100, 0x1200), FAILURE},  // a Vb27 rounds to 4096
        {false, FlashImage(0x1000, 0x100, 0x2000), SUCCESS},
        {false, FlashImage(0x1000, 0x10, 0xF0FFFFFF), SUCCESS},  // huge unrounded sizes are taken
        {false, FlashImage(0x1000, 0x1001, 0x1000), FAILURE},    // longer than its region
        {false, FlashImage(0x2000, 4, 0x1000, 5), FAILURE},      // no such format
        {true, FlashImage(0x1000, 0x100, 0x400), SUCCESS},       // a Qn4180 rounds to 512
        {true, FlashImage(0x1000, 0x100, 0x300), FAILURE},
        {true, Command(0x4B, Le32s({0x3000, 0x10, 0x400, 0})), FAILURE},  // NV/KV keeps 4096
        {false, Command(0x78, Le32s({0x4000, 8, 0x1000}, {0x00, 0x00})), FAILURE},  // factory trailer
    };
    for (const auto& c : cases) {
        BootLoader(c.qn4180);
        const Bytes out = Send(c.frame);
        EXPECT_TRUE(IsAck(out, c.result)) << testing::PrintToString(c.frame);
        if (c.result == FAILURE) {
            EXPECT_EQ(out.size(), 12u);
            EXPECT_EQ(out[9], 0x05);
            EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
        }
    }
}

// Every kind the tool sends is checked from real packages in the end-to-end
// suite; the image formats it never sends are pinned here.
TEST_F(Vb27BoardTest, RomAndEmmcFormatsAreRecordedByKindAndFlashedAtTheirAddress)
{
    BootLoader();
    const std::pair<uint8_t, const char*> formats[] = {{2, "rom"}, {3, "emmc"}};
    uint32_t address = 0x1000;
    for (const auto& [format, kind] : formats) {
        const Bytes data(8, static_cast<uint8_t>(format));
        EXPECT_TRUE(IsAck(Send(FlashImage(address, 8, 0x1000, format)), SUCCESS)) << kind;
        EXPECT_TRUE(Transfer(std::string(kind) + ".bin", data, 1024)) << kind;
        EXPECT_EQ(report.Images().back().kind, kind);
        EXPECT_EQ(flash.Read(address, 8), data) << kind;
        address += 0x1000;
    }
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

TEST_F(Vb27BoardTest, BrokenFramesGetANegativeAnswerWithTheReason)
{
    Make();
    Bytes badCrc = Handshake(115200);
    badCrc[17] ^= 0xFF;
    Bytes complement = Handshake(115200);
    complement[7] = 0x00;
    const uint16_t crc = Crc16(complement.data(), 16);
    complement[16] = static_cast<uint8_t>(crc);
    complement[17] = static_cast<uint8_t>(crc >> 8);
    const std::pair<Bytes, uint8_t> cases[] = {
        {badCrc, 0x01}, {complement, 0x03}, {Command(0x11, {0, 0}), 0x04}, {Command(0xF0, {0, 0}), 0x02}};
    for (const auto& [frame, detail] : cases) {
        const Bytes out = Send(frame);
        EXPECT_TRUE(IsAck(out, FAILURE));
        EXPECT_EQ(out.size() > 9 ? out[9] : 0, detail);
    }
    EXPECT_EQ(report.ProtocolErrors().size(), 4u);
    EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
}

// Noise may go before answers only: YMODEM bytes are data.
TEST_F(Vb27BoardTest, AnswersGoAsAnswersAndYmodemBytesAsData)
{
    Make();
    board->OnBytes(Handshake(115200).data(), 18);
    board->OnTick(now + 200);
    ASSERT_GE(line.chunks.size(), 2u);
    EXPECT_TRUE(line.chunks[0].answer);
    EXPECT_EQ(line.chunks[0].bytes.size(), 12u);
    for (size_t i = 1; i < line.chunks.size(); ++i) {
        EXPECT_FALSE(line.chunks[i].answer);
        EXPECT_EQ(line.chunks[i].bytes, Bytes{C});
    }
}

// ---- injected faults, as the tool sees them on the line ----

TEST_F(Vb27BoardTest, EachAnswerFaultHitsExactlyTheNamedFrameOrAnswer)
{
    enum Fault { NAK, DROP, CORRUPT };
    for (const Fault fault : {NAK, DROP, CORRUPT}) {
        faults = Sim::FaultPlan{};
        (fault == NAK ? faults.nakFrame : fault == DROP ? faults.dropAnswer : faults.corruptAnswer) = 1;
        Make();
        const Bytes first = Send(Handshake(115200));
        if (fault == NAK) {  // refused and not applied
            EXPECT_TRUE(IsAck(first, FAILURE));
            EXPECT_EQ(first.size() > 9 ? first[9] : 0, 0x7F);
            EXPECT_EQ(board->GetMode(), Vb27Board::Mode::ROM);
        } else if (fault == DROP) {
            EXPECT_EQ(first, Bytes{C});  // only the loader prompt
        } else {
            ASSERT_GE(first.size(), 12u);
            EXPECT_EQ(first[8], SUCCESS);
            EXPECT_FALSE(IsAck(first, SUCCESS));  // the CRC is broken
        }
        EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS)) << fault;
    }
}

TEST_F(Vb27BoardTest, ASilentBoardSendsNothingAtAll)
{
    faults.silent = true;
    Make();
    EXPECT_TRUE(Send(Handshake(115200)).empty());
    board->OnTick(now + 5000);
    EXPECT_TRUE(line.Take().empty());
}

}  // namespace
