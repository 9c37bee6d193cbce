// The simulated TypeSix board given frames no board could parse (each is
// reported and left unanswered, so the tool sends it again), and what the
// faults of a plan do to it: a negative answer means a command not carried
// out, a garbled or dropped one changes only the line, and the digest check
// of a flash image covers what the flash holds. Whole loads, the speed switch
// and every command are driven end to end.
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace SimTest;

namespace {

class TypeSixBoard : public BoardOnLine {};

TEST_F(TypeSixBoard, BadCheckTooShortAndUnterminatedFramesAreReportedAndLeftUnanswered)
{
    const std::unique_ptr<Sim::Board> board = Sim::MakeTypeSixBoard(Env());
    const auto feed = [&](const Bytes& wire) { return Payloads(Feed(*board, wire)); };

    Bytes init{0x00, 0x01, 0x01};  // seq 0, init, check
    init.back() ^= 0x01;
    EXPECT_TRUE(feed(Wire(init)).empty());
    EXPECT_TRUE(feed({0x5C, 0x73, 0x01, 0x01, 0x5C, 0x65}).empty());  // a payload of 2 bytes
    EXPECT_TRUE(feed({0x5C, 0x73, 0x00, 0x01}).empty());  // no end marker: ended by the next frame's start
    init.back() ^= 0x01;  // the tool's resend with a good check
    const std::vector<Bytes> answers = feed(Wire(init));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(Positive(answers.front()));
    EXPECT_EQ(report.ProtocolErrors().size(), 3u) << testing::PrintToString(report.ProtocolErrors());
}

constexpr uint8_t BIN_HEAD = 0x36;
constexpr uint8_t DATA = 0x04;
constexpr uint8_t END_PAGE = 0x05;
constexpr uint8_t DIGEST = 0x37;
constexpr uint32_t IMAGE_ADDRESS = 0x1000;
constexpr uint32_t IMAGE_REGION = 0x2000;
constexpr size_t PACKET = 1024;

Bytes Be32(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

// seq, code, parameters, XOR check.
Bytes Payload(uint8_t seq, uint8_t code, const Bytes& parameters)
{
    return WithXor(Concat({{seq, code}, parameters}));
}

Bytes BinHead(uint8_t seq)
{
    return Payload(seq, BIN_HEAD, Concat({{0x00}, Be32(IMAGE_ADDRESS), Be32(IMAGE_REGION)}));  // file code: flash
}

// An ssb already runs: the board takes images at once.
class TypeSixBoardFaults : public BoardOnLine {
protected:
    void Make()
    {
        plan.ssbRunning = true;
        board = Sim::MakeTypeSixBoard(Env());
    }

    // The wire bytes the board answered a payload with.
    Bytes Send(const Bytes& payload) { return Feed(*board, Wire(payload)); }

    // A flash image as the tool sends it; the answer to its digest frame.
    std::vector<Bytes> Burn(const Bytes& image)
    {
        uint8_t seq = 0;
        EXPECT_EQ(Payloads(Send(BinHead(seq++))).size(), 1u);
        for (size_t offset = 0; offset < image.size(); offset += PACKET) {
            Bytes packet(image.begin() + static_cast<long>(offset),
                         image.begin() + static_cast<long>(std::min(image.size(), offset + PACKET)));
            packet.resize(PACKET, 0xFF);
            EXPECT_TRUE(Positive(Payloads(Send(Payload(seq++, DATA, packet))).at(0)));
        }
        EXPECT_TRUE(Positive(Payloads(Send(Payload(seq++, END_PAGE, {}))).at(0)));
        const Bytes where = Concat({Be32(IMAGE_ADDRESS), Be32(static_cast<uint32_t>(image.size()))});
        return Payloads(Send(Payload(seq, DIGEST, Concat({where, TestSupport::Sha256(image)}))));
    }

    std::unique_ptr<Sim::Board> board;
};

// The digest frame names the flash address and length: the board hashes what
// its flash holds there, so a cell that stored a bit wrong fails the image.
TEST_F(TypeSixBoardFaults, TheDigestCheckOfAFlashImageCoversWhatTheFlashHoldsAndNothingBehindIt)
{
    const Bytes image = Pattern(3000, 7);
    const struct {
        const char* what;
        std::vector<Sim::BadCell> cells;
        bool positive;
    } cases[] = {
        {"a sound flash", {}, true},
        {"a bad cell inside the image", {{IMAGE_ADDRESS + 2999, 7}}, false},
        {"a bad cell in the padding behind it", {{IMAGE_ADDRESS + 3050, 0}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        plan.badCells = c.cells;
        Make();
        const std::vector<Bytes> answers = Burn(image);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(Positive(answers[0]), c.positive);
        EXPECT_EQ(answers[0][3], c.positive ? 0x01 : 0x00) << "a refusal, not a broken answer";
        ASSERT_EQ(report.Images().size(), 1u);
        EXPECT_EQ(report.Images()[0].digestMatched, c.positive ? 1 : 0);
        EXPECT_EQ(report.Images()[0].sha256, TestSupport::Sha256Hex(image)) << "the bytes received were right";
        if (!c.cells.empty()) {
            EXPECT_EQ(report.Faults().at(0).fired, 1u);
        }
    }
}

// A broken check and a dropped answer are the fault matrix's
// (TypeSixBrokenAnswerCheck, TypeSixDroppedAnswer). A negative answer is a
// well-formed refusal of a bin head not carried out; a flipped bit or a cut
// changes only the bytes on the line. The tool's repeat is answered in full.
TEST_F(TypeSixBoardFaults, ANegativeAnswerRefusesWhatWasNotDoneAndAGarbledOneChangesOnlyTheLine)
{
    Make();
    const Bytes good = Send(BinHead(0));
    ASSERT_EQ(Payloads(good).size(), 1u);
    Bytes refusal = Payloads(good)[0];
    refusal[3] = 0x00;
    refusal.pop_back();
    Bytes flipped = good;
    flipped[flipped.size() / 2] ^= 0x01;
    const Bytes older(IMAGE_REGION, 0x00), erased(IMAGE_REGION, 0xFF);
    const struct {
        const char* what;
        Sim::AnswerFault fault;
        Bytes expected;
        bool carriedOut;
    } cases[] = {
        {"negative", AnswerFaultAt(Sim::AnswerFault::Kind::NEGATIVE, "0x36@1"), Wire(WithXor(refusal)), false},
        {"flipped bit", AnswerFaultAt(Sim::AnswerFault::Kind::GARBLED, "36@1", Sim::Garble::BIT), flipped, true},
        {"cut short", AnswerFaultAt(Sim::AnswerFault::Kind::GARBLED, "36@1", Sim::Garble::CUT),
         Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        plan.answers = {c.fault};
        Make();
        flash.Write(IMAGE_ADDRESS, older.data(), older.size());
        EXPECT_EQ(Send(BinHead(0)), c.expected);
        EXPECT_EQ(flash.Read(IMAGE_ADDRESS, IMAGE_REGION), c.carriedOut ? erased : older);
        EXPECT_EQ(report.Faults().at(0).fired, 1u);
        EXPECT_EQ(Send(BinHead(0)), good) << "the repeat";
        EXPECT_EQ(flash.Read(IMAGE_ADDRESS, IMAGE_REGION), erased);
    }
}

}  // namespace
