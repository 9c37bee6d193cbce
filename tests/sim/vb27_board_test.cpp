// A Vb27/Qn4180 board frame by frame: the frames it refuses and how it answers
// them, and the read-back it sends. Whole runs and injected faults are in the
// end-to-end suite.
#include "sim/fault_schedule.h"
#include "sim/vb27_board.h"
#include "sim/vb27_frame.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using namespace Sim::Vb27;
using Sim::Vb27Board;

namespace {

// A frame's bounds on the byte stream: where a broken frame ends (the parser
// must find the next one behind it) and that every prefix waits for more.
TEST(Vb27FrameParse, BrokenFramesAreToldAndConsumedOnlyAsFarAsTheyGoAndEveryPrefixWaitsForMore)
{
    Bytes badCrc = Handshake(115200);
    badCrc[10] ^= 0x40;
    // A truncated frame whose length field swallows the start of the next.
    Bytes cut(badCrc.begin(), badCrc.begin() + 8);
    const Bytes next = Handshake(115200);
    cut.insert(cut.end(), next.begin(), next.end());
    const auto lengthOnly = [](uint16_t n) {
        return Bytes{0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
    };
    const struct {
        const char* what;
        Bytes bytes;
        ParseStatus status;
        Refusal refusal;
        size_t consumed;
    } cases[] = {
        {"no flag", {0xEF, 0xBE, 0x00}, ParseStatus::NOT_A_FRAME, REFUSED_NONE, 0},
        {"bad CRC", badCrc, ParseStatus::BAD_FRAME, REFUSED_CRC, 18},
        {"cut short by the next frame", cut, ParseStatus::BAD_FRAME, REFUSED_CRC, 8},
        {"length 9", lengthOnly(9), ParseStatus::BAD_FRAME, REFUSED_LENGTH, 4},
        {"length 65", lengthOnly(65), ParseStatus::BAD_FRAME, REFUSED_LENGTH, 4},
        {"wrong complement", Command(0xD2, Bytes(14, 0), 0x2C), ParseStatus::BAD_FRAME, REFUSED_COMPLEMENT, 24},
        {"unknown code", Command(0x33, Bytes(4, 0)), ParseStatus::BAD_FRAME, REFUSED_UNKNOWN_CODE, 14},
    };
    for (const auto& c : cases) {
        const ParseResult r = ParseCommandFrame(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.status, c.status) << c.what;
        if (c.status == ParseStatus::BAD_FRAME) {
            EXPECT_EQ(r.refusal, c.refusal) << c.what;
            EXPECT_EQ(r.consumed, c.consumed) << c.what;
        }
    }
    EXPECT_EQ(ParseCommandFrame(cut.data() + 8, cut.size() - 8).status, ParseStatus::FRAME);
    for (size_t n = 1; n < next.size(); ++n) {
        EXPECT_EQ(ParseCommandFrame(next.data(), n).status, ParseStatus::NEED_MORE) << n;
    }
}

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
    bool Transfer(const std::string& name, const Bytes& data, size_t blockSize = 1024)
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
        ASSERT_TRUE(Transfer("loader.bin", Pattern(3000, 1)));
        ASSERT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
    }

    RecordingLine line;
    Sim::Flash flash{64 * 1024};
    Sim::Report report;
    Sim::FaultPlan plan;
    Sim::FaultSchedule faults{plan, report};
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

// The read-back goes out in blocks of the size the tool's last transfer
// used, 1 KiB while only the loader came: block 0, the data blocks of the
// flash range with the last one padded, EOT, the closing block 0.
TEST_F(Vb27BoardTest, AReadBackComesInTheBlockSizeOfTheToolsLastTransfer)
{
    constexpr uint32_t ADDRESS = 0x4000;
    const Bytes image = Pattern(20000, 3);
    for (size_t imageBlock : {size_t{0}, size_t{2048}, size_t{8192}}) {
        SCOPED_TRACE(imageBlock);
        BootLoader(false);
        if (imageBlock != 0) {
            ASSERT_TRUE(IsAck(Send(FlashImage(ADDRESS, 20000, 0x5000)), SUCCESS));
            ASSERT_TRUE(Transfer("app.bin", image, imageBlock));
        } else {
            flash.Write(ADDRESS, image.data(), image.size());
        }
        const size_t readBlock = imageBlock != 0 ? imageBlock : 1024;
        ASSERT_TRUE(IsAck(Send(Command(0xB4, Le32s({20000, ADDRESS}))), SUCCESS));
        EXPECT_EQ(Send({C}), HeaderBlock("flash.bin", "0x4e20"));
        std::vector<Bytes> blocks = {Send({ACK, C})};
        while (blocks.size() < DataBlocks(image, readBlock).size()) {
            blocks.push_back(Send({ACK}));
        }
        EXPECT_EQ(blocks, DataBlocks(image, readBlock));
        EXPECT_EQ(Send({ACK}), Bytes{EOT});
        EXPECT_TRUE(Send({ACK}).empty());
        EXPECT_EQ(Send({C}), ClosingBlock());
        EXPECT_TRUE(Send({ACK, C}).empty()) << "the receiver's last C is no command";
        EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
        EXPECT_TRUE(report.ProtocolErrors().empty()) << testing::PrintToString(report.ProtocolErrors());
    }
}

}  // namespace
