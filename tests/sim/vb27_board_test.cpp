// A Vb27/Qn4180 board driven frame by frame: the answers to frames the tool
// never sends or sends broken, and each injected fault as it shows on the
// line. Whole runs are in sim_process_test.cpp and the end-to-end suite.
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
        board->OnTick(1000);
    }

    Bytes Send(const Bytes& bytes)
    {
        line.Take();
        board->OnBytes(bytes.data(), bytes.size());
        return line.Take();
    }

    // A YMODEM transfer as the tool makes it; true when the closing block's
    // ACK is followed by the success ACK frame.
    bool Transfer(const std::string& name, const Bytes& data, size_t blockSize)
    {
        Bytes end;
        for (const Bytes& b : YmodemFile(name, data, blockSize)) {
            end = Send(b);
        }
        return end.size() == 13 && end[0] == ACK && IsAck(end, SUCCESS, 1);
    }

    void BootLoader(bool qn4180)
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
};

TEST_F(Vb27BoardTest, BrokenOrRefusedFramesGetANegativeAnswerWithTheReasonAndTheBoardGoesOn)
{
    Bytes badCrc = Handshake(115200);
    badCrc[17] ^= 0xFF;
    Bytes complement = Handshake(115200);
    complement[7] = 0x00;
    const uint16_t crc = Crc16(complement.data(), 16);
    complement[16] = static_cast<uint8_t>(crc);
    complement[17] = static_cast<uint8_t>(crc >> 8);
    const struct {
        bool inLoader, qn4180;
        Bytes frame;
        uint8_t result;  // 0: no answer at all
        uint8_t detail;
    } cases[] = {
        {false, false, FlashImage(0, 16, 4096), 0, 0},  // nothing before the handshake
        {false, false, badCrc, FAILURE, 0x01},
        {false, false, complement, FAILURE, 0x03},
        {false, false, Command(0x11, {0, 0}), FAILURE, 0x04},
        {false, false, Command(0xF0, {0, 0}), FAILURE, 0x02},
        {true, false, FlashImage(0x1000, 0x100, 0x1200), FAILURE, 0x05},  // a Vb27 rounds to 4096
        {true, false, FlashImage(0x1000, 0x100, 0x2000), SUCCESS, 0},
        {true, false, FlashImage(0x1000, 0x10, 0xF0FFFFFF), SUCCESS, 0},  // huge unrounded sizes are taken
        {true, false, FlashImage(0x1000, 0x1001, 0x1000), FAILURE, 0x05}, // longer than its region
        {true, false, FlashImage(0x2000, 4, 0x1000, 5), FAILURE, 0x05},   // no such format
        {true, true, FlashImage(0x1000, 0x100, 0x300), FAILURE, 0x05},    // a Qn4180 rounds to 512
        {true, true, Command(0x4B, Le32s({0x3000, 0x10, 0x400, 0})), FAILURE, 0x05},  // NV/KV keeps 4096
        {true, false, Command(0x78, Le32s({0x4000, 8, 0x1000}, {0x00, 0x00})), FAILURE, 0x05},  // factory trailer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.frame));
        if (c.inLoader) {
            BootLoader(c.qn4180);
        } else {
            Make();
        }
        const size_t errors = report.ProtocolErrors().size();
        const Bytes out = Send(c.frame);
        if (c.result == 0) {
            EXPECT_TRUE(out.empty());
            EXPECT_TRUE(Mentions(report.ProtocolErrors(), "before the handshake"));
        } else {
            EXPECT_TRUE(IsAck(out, c.result));
        }
        if (c.result == FAILURE) {
            EXPECT_EQ(out.size(), 12u);
            EXPECT_EQ(out.size() > 9 ? out[9] : 0, c.detail);
            EXPECT_EQ(report.ProtocolErrors().size(), errors + 1);
            EXPECT_EQ(board->GetMode(), c.inLoader ? Vb27Board::Mode::LOADER : Vb27Board::Mode::ROM);
        }
        EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
    }
}

// Every kind the tool sends is checked from real packages in the end-to-end
// suite; the image formats it never sends are pinned here.
TEST_F(Vb27BoardTest, RomAndEmmcFormatsAreRecordedByKindAndFlashedAtTheirAddress)
{
    BootLoader(false);
    for (const auto& [format, kind] : {std::pair<uint8_t, std::string>{2, "rom"}, {3, "emmc"}}) {
        const uint32_t address = 0x1000u * format;
        const Bytes data(8, format);
        EXPECT_TRUE(IsAck(Send(FlashImage(address, 8, 0x1000, format)), SUCCESS)) << kind;
        EXPECT_TRUE(Transfer(kind + ".bin", data, 1024)) << kind;
        EXPECT_EQ(report.Images().back().kind, kind);
        EXPECT_EQ(flash.Read(address, 8), data) << kind;
    }
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

// ---- injected faults, as the tool sees them on the line ----

TEST_F(Vb27BoardTest, EachFaultHitsExactlyTheNamedFrameOrAnswerAndNoiseCanOnlyGoBeforeAnswers)
{
    enum Fault { NONE, NAK, DROP, CORRUPT, SILENT };
    for (const Fault fault : {NONE, NAK, DROP, CORRUPT, SILENT}) {
        SCOPED_TRACE(fault);
        faults = Sim::FaultPlan{};
        (fault == NAK ? faults.nakFrame : fault == DROP ? faults.dropAnswer : faults.corruptAnswer) = fault == NONE ? 0 : 1;
        faults.silent = fault == SILENT;
        Make();
        line.Take();
        board->OnBytes(Handshake(115200).data(), 18);
        const std::vector<RecordingLine::Chunk> chunks = line.chunks;
        const Bytes first = line.Take();
        switch (fault) {
        case NONE:  // the line puts injected noise before answers only: the loader prompt is YMODEM data
            ASSERT_EQ(chunks.size(), 2u);
            EXPECT_TRUE(chunks[0].answer && IsAck(chunks[0].bytes, SUCCESS));
            EXPECT_FALSE(chunks[1].answer);
            EXPECT_EQ(chunks[1].bytes, Bytes{C});
            break;
        case NAK:  // refused and not applied
            EXPECT_TRUE(IsAck(first, FAILURE));
            EXPECT_EQ(first.size() > 9 ? first[9] : 0, 0x7F);
            EXPECT_EQ(board->GetMode(), Vb27Board::Mode::ROM);
            break;
        case DROP:
            EXPECT_EQ(first, Bytes{C});  // only the loader prompt
            break;
        case CORRUPT:
            ASSERT_GE(first.size(), 12u);
            EXPECT_EQ(first[8], SUCCESS);
            EXPECT_FALSE(IsAck(first, SUCCESS));  // the CRC is broken
            break;
        case SILENT:
            EXPECT_TRUE(first.empty());
            board->OnTick(6000);
            EXPECT_TRUE(line.Take().empty());
            continue;
        }
        EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
    }
}

}  // namespace
