// A Vb27/Qn4180 board frame by frame: the frames it refuses and how it
// answers them, and what the faults a plan injects do to it: a negative answer
// means the board did not do the thing answered (a command not carried out, an
// image not programmed). Whole runs, read-backs, bad flash cells and garbled
// answers are in the end-to-end suite.
#include "sim/vb27_board.h"
#include "sim/vb27_frame.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <tuple>

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
        {"length 9", {0xEF, 0xBE, 0xAD, 0xDE, 9, 0}, ParseStatus::BAD_FRAME, REFUSED_LENGTH, 4},  // a flag and a length
        {"length 65", {0xEF, 0xBE, 0xAD, 0xDE, 65, 0}, ParseStatus::BAD_FRAME, REFUSED_LENGTH, 4},
        {"wrong complement", Command(0xD2, Bytes(14, 0), 0x2C), ParseStatus::BAD_FRAME, REFUSED_COMPLEMENT, 24},
        {"unknown code", Command(0x33, Bytes(4, 0)), ParseStatus::BAD_FRAME, REFUSED_UNKNOWN_CODE, 14},
    };
    for (const auto& c : cases) {
        const ParseResult r = ParseCommandFrame(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(std::tie(r.status, r.refusal, r.consumed), std::tie(c.status, c.refusal, c.consumed)) << c.what;
    }
    EXPECT_EQ(ParseCommandFrame(cut.data() + 8, cut.size() - 8).status, ParseStatus::FRAME);
    for (size_t n = 1; n < next.size(); ++n) {
        EXPECT_EQ(ParseCommandFrame(next.data(), n).status, ParseStatus::NEED_MORE) << n;
    }
}

constexpr uint8_t SUCCESS = 0x5A;
constexpr uint8_t FAILURE = 0xA5;
constexpr uint8_t INJECTED = 0x7F;  // the detail byte of a refusal the plan asked for
constexpr uint32_t IMAGE_ADDRESS = 0x4000;
constexpr uint32_t IMAGE_REGION = 0x2000;

class Vb27BoardOnLine : public BoardOnLine {
protected:
    void Make(bool qn4180 = false)
    {
        board = std::make_unique<Vb27Board>(Env(), qn4180);
        board->OnTick(1000);
    }

    Bytes Send(const Bytes& bytes) { return Feed(*board, bytes); }

    // A whole YMODEM transfer; what the board sent after the closing block.
    Bytes Transfer(const std::string& name, const Bytes& data)
    {
        Bytes end;
        for (const Bytes& b : YmodemFile(name, data, 1024)) {
            end = Send(b);
        }
        return end;
    }

    // The closing block's ACK followed by an ACK frame with this result.
    static bool ClosedWith(const Bytes& end, uint8_t result)
    {
        return end.size() == 13 && end[0] == ACK && IsAck(end, result, 1);
    }

    void BootLoader(bool qn4180 = false)
    {
        Make(qn4180);
        ASSERT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
        ASSERT_TRUE(ClosedWith(Transfer("loader.bin", Pattern(3000, 1)), SUCCESS));
        ASSERT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
    }

    std::unique_ptr<Vb27Board> board;
};

TEST_F(Vb27BoardOnLine, BrokenOrRefusedFramesGetANegativeAnswerWithTheReasonAndTheBoardGoesOn)
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
        EXPECT_TRUE(c.result == 0 ? out.empty() : IsAck(out, c.result));
        // Every refusal, answered or not, is reported.
        EXPECT_EQ(report.ProtocolErrors().size(), errors + (c.result == SUCCESS ? 0 : 1));
        if (c.result == FAILURE) {
            EXPECT_EQ(out.size(), 12u);
            EXPECT_EQ(out.size() > 9 ? out[9] : 0, c.detail);
            EXPECT_EQ(board->GetMode(), c.inLoader ? Vb27Board::Mode::LOADER : Vb27Board::Mode::ROM);
        }
        EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
    }
}

// One run with a negative answer at each step: the loader's closing ACK, an
// erase command, an image's closing ACK. Each time the board did not do what
// it answered, and takes the tool's repeat.
TEST_F(Vb27BoardOnLine, ANegativeAnswerMeansWhatItAnswersWasNotDoneAndTheRepeatIs)
{
    plan.answers = {AnswerFaultAt(Sim::AnswerFault::Kind::NEGATIVE, "close@1"),
                    AnswerFaultAt(Sim::AnswerFault::Kind::NEGATIVE, "D2@1"),
                    AnswerFaultAt(Sim::AnswerFault::Kind::NEGATIVE, "close@3")};
    Make();
    ASSERT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
    ASSERT_TRUE(ClosedWith(Transfer("loader.bin", Pattern(3000, 1)), FAILURE));
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::ROM) << "the loader never ran";
    EXPECT_TRUE(Send(FlashImage(IMAGE_ADDRESS, 16, IMAGE_REGION)).empty()) << "the ROM answers no loader command";
    ASSERT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
    ASSERT_TRUE(ClosedWith(Transfer("loader.bin", Pattern(3000, 1)), SUCCESS));

    const Bytes kept = Pattern(IMAGE_REGION, 3);
    flash.Write(IMAGE_ADDRESS, kept.data(), kept.size());
    const Bytes eraseAll = FlashImage(0, 0, 0xFFFFFFFF);
    const Bytes refused = Send(eraseAll);
    ASSERT_TRUE(IsAck(refused, FAILURE));
    EXPECT_EQ(refused[9], INJECTED);
    EXPECT_EQ(flash.Read(IMAGE_ADDRESS, IMAGE_REGION), kept) << "the refused erase did not happen";
    ASSERT_TRUE(IsAck(Send(eraseAll), SUCCESS));
    EXPECT_EQ(flash.Read(IMAGE_ADDRESS, IMAGE_REGION), Bytes(IMAGE_REGION, 0xFF));

    flash.Write(IMAGE_ADDRESS, Bytes(IMAGE_REGION, 0x00).data(), IMAGE_REGION);  // an older image
    const Bytes image = Pattern(5000, 2);
    ASSERT_TRUE(IsAck(Send(FlashImage(IMAGE_ADDRESS, 5000, IMAGE_REGION)), SUCCESS));
    const Bytes end = Transfer("app.bin", image);
    ASSERT_TRUE(ClosedWith(end, FAILURE));
    EXPECT_EQ(end[10], INJECTED);
    EXPECT_EQ(flash.Read(IMAGE_ADDRESS, IMAGE_REGION), Bytes(IMAGE_REGION, 0xFF)) << "erased before programming failed";
    EXPECT_EQ(report.Images().size(), 1u) << "only the loader was taken";
    EXPECT_EQ(report.Faults().at(2).where, std::vector<std::string>{"answer 8, closing ACK 3"});
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);
    ASSERT_TRUE(IsAck(Send(FlashImage(IMAGE_ADDRESS, 5000, IMAGE_REGION)), SUCCESS));
    ASSERT_TRUE(ClosedWith(Transfer("app.bin", image), SUCCESS));
    EXPECT_EQ(flash.Read(IMAGE_ADDRESS, image.size()), image);
}

}  // namespace
