// What the faults a plan injects do on a Vb27 board: a negative answer means
// the board did not do the thing answered (a command not carried out, an
// image not programmed), a garbled or dropped answer changes only the bytes on
// the line, and a bad flash cell spoils the flash while the transfer is clean.
#include "sim/fault_schedule.h"
#include "sim/vb27_board.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using Sim::Vb27Board;

namespace {

constexpr uint8_t SUCCESS = 0x5A;
constexpr uint8_t FAILURE = 0xA5;
constexpr uint8_t INJECTED = 0x7F;  // the detail byte of a refusal the plan asked for
constexpr uint32_t IMAGE_ADDRESS = 0x4000;
constexpr uint32_t IMAGE_REGION = 0x2000;

class Vb27BoardFaults : public ::testing::Test {
protected:
    void Make()
    {
        flash.SetBadCells(plan.badCells);
        schedule = std::make_unique<Sim::FaultSchedule>(plan, report);
        board = std::make_unique<Vb27Board>(Sim::BoardEnv{line, flash, report, *schedule}, false);
        board->OnTick(1000);
    }

    Bytes Send(const Bytes& bytes)
    {
        line.Take();
        board->OnBytes(bytes.data(), bytes.size());
        return line.Take();
    }

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

    void BootLoader()
    {
        Make();
        ASSERT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
        ASSERT_TRUE(ClosedWith(Transfer("loader.bin", Pattern(3000, 1)), SUCCESS));
    }

    bool FlashIs(uint32_t address, const Bytes& data) const
    {
        return flash.Read(address, data.size()) == data;
    }

    RecordingLine line;
    Sim::Flash flash{64 * 1024};
    Sim::Report report;
    Sim::FaultPlan plan;
    std::unique_ptr<Sim::FaultSchedule> schedule;
    std::unique_ptr<Vb27Board> board;
};

Sim::AnswerFault Fault(Sim::AnswerFault::Kind kind, const std::string& which, Sim::Garble garble = Sim::Garble::CHECK)
{
    Sim::AnswerFault fault;
    fault.kind = kind;
    fault.garble = garble;
    std::string error;
    EXPECT_TRUE(Sim::ParseAnswerSelector(which, fault.which, error)) << error;
    return fault;
}

TEST_F(Vb27BoardFaults, ANegativeClosingAckLeavesTheImageOutOfItsErasedRegionAndTheLoaderTakesTheNextImage)
{
    plan.answers = {Fault(Sim::AnswerFault::Kind::NEGATIVE, "close@2")};
    BootLoader();
    flash.Write(IMAGE_ADDRESS, Bytes(IMAGE_REGION, 0x00).data(), IMAGE_REGION);  // an older image
    const Bytes image = Pattern(5000, 2);
    ASSERT_TRUE(IsAck(Send(FlashImage(IMAGE_ADDRESS, 5000, IMAGE_REGION)), SUCCESS));
    const Bytes end = Transfer("app.bin", image);
    ASSERT_TRUE(ClosedWith(end, FAILURE));
    EXPECT_EQ(end[10], INJECTED);
    EXPECT_TRUE(FlashIs(IMAGE_ADDRESS, Bytes(IMAGE_REGION, 0xFF))) << "the board erased before programming failed";
    EXPECT_EQ(report.Images().size(), 1u) << "only the loader was taken";
    EXPECT_EQ(report.Faults().at(0).where, std::vector<std::string>{"answer 4, closing ACK 2"});
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER);

    ASSERT_TRUE(IsAck(Send(FlashImage(IMAGE_ADDRESS, 5000, IMAGE_REGION)), SUCCESS));
    ASSERT_TRUE(ClosedWith(Transfer("app.bin", image), SUCCESS));
    EXPECT_TRUE(FlashIs(IMAGE_ADDRESS, image));
}

TEST_F(Vb27BoardFaults, ALoaderWhoseClosingAckIsNegativeNeverRunsAndTheRomWantsAHandshakeAgain)
{
    plan.answers = {Fault(Sim::AnswerFault::Kind::NEGATIVE, "close@1")};
    Make();
    ASSERT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
    ASSERT_TRUE(ClosedWith(Transfer("loader.bin", Pattern(3000, 1)), FAILURE));
    EXPECT_EQ(board->GetMode(), Vb27Board::Mode::ROM);
    EXPECT_TRUE(Send(FlashImage(IMAGE_ADDRESS, 16, IMAGE_REGION)).empty()) << "the ROM answers no loader command";
    EXPECT_TRUE(IsAck(Send(Handshake(115200)), SUCCESS));
}

TEST_F(Vb27BoardFaults, ACommandWhoseAnswerIsNegativeIsNotCarriedOutAndItsRepeatIs)
{
    plan.answers = {Fault(Sim::AnswerFault::Kind::NEGATIVE, "D2@1")};
    BootLoader();
    const Bytes kept = Pattern(IMAGE_REGION, 3);
    flash.Write(IMAGE_ADDRESS, kept.data(), kept.size());
    const Bytes eraseAll = FlashImage(0, 0, 0xFFFFFFFF);
    const Bytes refused = Send(eraseAll);
    ASSERT_TRUE(IsAck(refused, FAILURE));
    EXPECT_EQ(refused[9], INJECTED);
    EXPECT_TRUE(FlashIs(IMAGE_ADDRESS, kept)) << "the refused erase did not happen";
    ASSERT_TRUE(IsAck(Send(eraseAll), SUCCESS));
    EXPECT_TRUE(FlashIs(IMAGE_ADDRESS, Bytes(IMAGE_REGION, 0xFF)));
}

// A broken check and a dropped answer are the fault matrix's
// (Vb27BrokenAnswerCheck, Vb27DroppedAnswer); these change the bytes.
TEST_F(Vb27BoardFaults, AFlippedBitOrACutAnswerChangesOnlyWhatReachesTheLine)
{
    const Bytes good = [] {
        Sim::Report r;
        Sim::FaultPlan none;
        Sim::FaultSchedule s(none, r);
        RecordingLine l;
        Sim::Flash f{4096};
        Vb27Board b(Sim::BoardEnv{l, f, r, s}, false);
        const Bytes hs = Handshake(115200);
        b.OnBytes(hs.data(), hs.size());
        return Bytes(l.sent.begin(), l.sent.begin() + 12);
    }();
    ASSERT_TRUE(IsAck(good, SUCCESS));
    const struct {
        const char* what;
        Sim::AnswerFault fault;
        Bytes expected;
    } cases[] = {
        {"flipped bit", Fault(Sim::AnswerFault::Kind::GARBLED, "F0@1", Sim::Garble::BIT),
         [&] { Bytes b = good; b[6] ^= 0x01; return b; }()},
        {"cut short", Fault(Sim::AnswerFault::Kind::GARBLED, "1", Sim::Garble::CUT),
         Bytes(good.begin(), good.begin() + 6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        line.Take();
        report = Sim::Report();
        plan.answers = {c.fault};
        Make();
        const Bytes out = Send(Handshake(115200));
        // The handshake was carried out all the same: the board waits for the loader.
        ASSERT_GE(out.size(), c.expected.size());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(c.expected.size())), c.expected);
        EXPECT_EQ(board->GetMode(), Vb27Board::Mode::LOADER_TRANSFER);
        EXPECT_EQ(report.Faults().at(0).fired, 1u);
    }
}

TEST_F(Vb27BoardFaults, ABadCellSpoilsOneBitOfTheFlashWhileTheTransferAndTheReportedDigestStayClean)
{
    plan.badCells = {{IMAGE_ADDRESS + 5, 2}, {0xF000, 0}};
    BootLoader();
    const Bytes image = Pattern(5000, 4);
    ASSERT_TRUE(IsAck(Send(FlashImage(IMAGE_ADDRESS, 5000, IMAGE_REGION)), SUCCESS));
    ASSERT_TRUE(ClosedWith(Transfer("app.bin", image), SUCCESS));
    Bytes expected = image;
    expected[5] ^= 0x04;
    EXPECT_TRUE(FlashIs(IMAGE_ADDRESS, expected));
    ASSERT_EQ(report.Images().size(), 2u);
    EXPECT_EQ(report.Images()[1].sha256, TestSupport::Sha256Hex(image)) << "the bytes received were right";
    EXPECT_EQ(report.Faults().at(0).where, std::vector<std::string>{"flash image app.bin at 0x00004000"});
    EXPECT_EQ(report.Faults().at(1).fired, 0u) << "no image reached 0xF000";
}

}  // namespace
