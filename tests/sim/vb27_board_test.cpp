// A Vb27/Qn4180 board driven frame by frame: the answers to frames the tool
// never sends or sends broken. Whole runs and injected faults are in the
// end-to-end suite.
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
    bool Transfer(const std::string& name, const Bytes& data)
    {
        Bytes end;
        for (const Bytes& b : YmodemFile(name, data, 1024)) {
            end = Send(b);
        }
        return end.size() == 13 && end[0] == ACK && IsAck(end, SUCCESS, 1);
    }

    void BootLoader(bool qn4180)
    {
        Make(qn4180);
        ASSERT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
        ASSERT_TRUE(Transfer("loader.bin", Pattern(3000, 1)));
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
    const struct {
        bool inLoader, qn4180;
        Bytes frame;
        uint8_t result;  // 0: no answer at all
        uint8_t detail;
    } cases[] = {
        {false, false, FlashImage(0, 16, 4096), 0, 0},  // nothing before the handshake
        {false, false, badCrc, FAILURE, 0x01},
        {false, false, Command(0xF0, Le32s({115200}, {0x08, 0x01, 0x00, 0x00}), 0x00), FAILURE, 0x03},
        {false, false, Command(0x11, {0, 0}), FAILURE, 0x04},
        {false, false, Command(0xF0, {0, 0}), FAILURE, 0x02},
        {true, false, FlashImage(0x1000, 0x100, 0x1200), FAILURE, 0x05},  // a Vb27 rounds to 4096
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

// The tool sends these for image types 14 and 15, which no end-to-end package holds.
TEST_F(Vb27BoardTest, RomAndEmmcFormatsAreRecordedByKindAndFlashedAtTheirAddress)
{
    BootLoader(false);
    for (const auto& [format, kind] : {std::pair<uint8_t, std::string>{2, "rom"}, {3, "emmc"}}) {
        const uint32_t address = 0x1000u * format;
        const Bytes data(8, format);
        EXPECT_TRUE(IsAck(Send(FlashImage(address, 8, 0x1000, format)), SUCCESS)) << kind;
        EXPECT_TRUE(Transfer(kind + ".bin", data)) << kind;
        EXPECT_EQ(report.Images().back().kind, kind);
        EXPECT_EQ(flash.Read(address, 8), data) << kind;
    }
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

}  // namespace
