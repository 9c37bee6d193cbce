// The fault plan at run time: each selector hits exactly the answer or block
// it names, once, and the report says which faults fired and where, so that
// a fault aimed past the end of a short run shows as never fired.
#include "sim/fault_schedule.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

namespace {

using Sim::AnswerFault;
using SimTest::AnswerFaultAt;
using Sim::BlockFate;
using Sim::Tally;

Sim::BlockFault Block(Sim::BlockFault::Kind kind, const std::string& which)
{
    Sim::BlockFault fault;
    fault.kind = kind;
    std::string error;
    EXPECT_TRUE(Sim::ParseBlockSelector(which, fault.which, error)) << error;
    return fault;
}

class FaultScheduleTest : public ::testing::Test {
protected:
    const Sim::FaultRecord& Record(size_t i) const { return report.Faults().at(i); }

    Sim::FaultPlan plan;
    Sim::Report report;
};

// A Vb27 run in answers: handshake, loader closing ACK, then D2 and its
// closing ACK twice.
TEST_F(FaultScheduleTest, EachAnswerFaultHitsTheOneAnswerItNamesAndIsReportedWithItsPlace)
{
    plan.answers = {AnswerFaultAt(AnswerFault::Kind::DROPPED, "3"),
                    AnswerFaultAt(AnswerFault::Kind::NEGATIVE, "D2@2"),
                    AnswerFaultAt(AnswerFault::Kind::GARBLED, "close@2", Sim::Garble::CUT),
                    AnswerFaultAt(AnswerFault::Kind::DROPPED, "close@9")};
    Sim::FaultSchedule schedule(plan, report);
    const int run[] = {0xF0, Tally::CLOSING_ACK, 0xD2, Tally::CLOSING_ACK, 0xD2, Tally::CLOSING_ACK};
    std::vector<Sim::AnswerFate> fates;
    for (const int key : run) {
        fates.push_back(schedule.TakeAnswer(key));
    }
    EXPECT_TRUE(fates[2].dropped);
    EXPECT_TRUE(fates[3].garbled);
    EXPECT_EQ(fates[3].garble, Sim::Garble::CUT);
    EXPECT_TRUE(fates[4].negative);
    for (const size_t clean : {0u, 1u, 5u}) {
        EXPECT_FALSE(fates[clean].dropped || fates[clean].garbled || fates[clean].negative) << clean;
    }

    ASSERT_EQ(report.Faults().size(), 4u);
    EXPECT_EQ(Record(0).fault, "drop-answer");
    EXPECT_EQ(Record(0).where, std::vector<std::string>{"answer 3, answer 1 to command 0xD2"});
    EXPECT_EQ(Record(1).fault, "nak-answer");
    EXPECT_EQ(Record(1).where, std::vector<std::string>{"answer 5, answer 2 to command 0xD2"});
    EXPECT_EQ(Record(2).which, "close@2:cut");
    EXPECT_EQ(Record(2).where, std::vector<std::string>{"answer 4, closing ACK 2"});
    EXPECT_EQ(Record(3).fired, 0u) << "a closing ACK the run never reached";
    EXPECT_TRUE(Record(3).where.empty());

    const Tally& tally = report.GetTally();
    EXPECT_EQ(tally.answers, 6u);
    EXPECT_EQ(tally.answersTo.at(0xD2), 2u);
    EXPECT_EQ(tally.answersTo.at(Tally::CLOSING_ACK), 3u);
}

TEST_F(FaultScheduleTest, ANegativeAnswerIsForeseenBeforeTheCommandRunsWithoutCountingAnything)
{
    plan.answers = {AnswerFaultAt(AnswerFault::Kind::NEGATIVE, "0x36@1"),
                    AnswerFaultAt(AnswerFault::Kind::NEGATIVE, "2")};
    Sim::FaultSchedule schedule(plan, report);
    EXPECT_FALSE(schedule.NextAnswerIsNegative(0x01));
    EXPECT_FALSE(schedule.NextAnswerIsNegative(0x01)) << "asking twice counts nothing";
    schedule.TakeAnswer(0x01);
    EXPECT_TRUE(schedule.NextAnswerIsNegative(0x25)) << "answer 2 by position";
    EXPECT_TRUE(schedule.NextAnswerIsNegative(0x36));
    EXPECT_EQ(report.Faults().at(1).fired, 0u);
    EXPECT_TRUE(schedule.TakeAnswer(0x36).negative);
    EXPECT_EQ(report.Faults().at(0).fired, 1u);
    EXPECT_EQ(report.Faults().at(1).fired, 1u);
    EXPECT_FALSE(schedule.NextAnswerIsNegative(0x36)) << "the second answer to 0x36 is not named";
}

TEST_F(FaultScheduleTest, NoiseCountsEveryAnswerThatGoesOutAndKeepsOnlyTheFirstPlaces)
{
    plan.noiseBeforeAnswers = 3;
    plan.answers = {AnswerFaultAt(AnswerFault::Kind::DROPPED, "2")};
    Sim::FaultSchedule schedule(plan, report);
    for (int i = 0; i < 20; ++i) {
        schedule.TakeAnswer(0x04);
    }
    const Sim::FaultRecord& noise = report.Faults().at(1);
    EXPECT_EQ(noise.fault, "noise");
    EXPECT_EQ(noise.which, "3");
    EXPECT_EQ(noise.fired, 19u) << "a dropped answer carries no noise";
    EXPECT_EQ(noise.where.size(), Sim::Report::FAULT_PLACES_KEPT);
    EXPECT_EQ(noise.where[1], "before answer 3");
}

TEST_F(FaultScheduleTest, BlocksAndReadBackAcksAreHitByPositionRepeatsIncludedOrByTransferAndNumberOnFirstArrival)
{
    plan.blocks = {Block(Sim::BlockFault::Kind::ASK_AGAIN, "2:3"), Block(Sim::BlockFault::Kind::ACK_LOST, "4"),
                   Block(Sim::BlockFault::Kind::ASK_AGAIN, "3:1")};
    plan.lostReadBackAcks = {2, 9};
    Sim::FaultSchedule schedule(plan, report);
    schedule.TransferStarted();
    EXPECT_EQ(schedule.TakeBlock(1, false), BlockFate::TAKE);
    EXPECT_EQ(schedule.TakeBlock(2, false), BlockFate::TAKE);
    EXPECT_EQ(schedule.TakeBlock(3, false), BlockFate::TAKE) << "block 3 of transfer 1 is not named";
    EXPECT_EQ(schedule.TakeBlock(3, true), BlockFate::ACK_LOST) << "the 4th intact block, a repeat";
    schedule.TransferStarted();
    EXPECT_EQ(schedule.TakeBlock(1, false), BlockFate::TAKE);
    EXPECT_EQ(schedule.TakeBlock(2, false), BlockFate::TAKE);
    EXPECT_EQ(schedule.TakeBlock(2, true), BlockFate::TAKE);
    EXPECT_EQ(schedule.TakeBlock(3, false), BlockFate::ASK_AGAIN);
    EXPECT_EQ(schedule.TakeBlock(3, false), BlockFate::TAKE) << "the block the board asked for again is taken";

    EXPECT_EQ(report.Faults().at(0).where, std::vector<std::string>{"data block 8, block 3 of transfer 2"});
    EXPECT_EQ(report.Faults().at(1).where, std::vector<std::string>{"data block 4, block 3 of transfer 1"});
    EXPECT_EQ(report.Faults().at(2).fired, 0u);
    EXPECT_EQ(report.GetTally().transfers, 2u);
    EXPECT_EQ(report.GetTally().dataBlocks, 9u);

    EXPECT_FALSE(schedule.LoseReadBackAck());
    EXPECT_TRUE(schedule.LoseReadBackAck());
    EXPECT_FALSE(schedule.LoseReadBackAck()) << "the ACK of the block sent again is the third";
    EXPECT_EQ(report.Faults().at(3).where, std::vector<std::string>{"read-back ACK 2"});
    EXPECT_EQ(report.Faults().at(4).fault, "lose-read-ack");
    EXPECT_EQ(report.Faults().at(4).fired, 0u);
}

TEST_F(FaultScheduleTest, FlagsAndBadCellsAreListedFromTheStartAndMarkedWhereTheyFire)
{
    plan.silent = true;
    plan.closeAfterBytes = 4000;
    plan.badCells = {{0x10010, 3}, {0x20000, 0}};
    Sim::FaultSchedule schedule(plan, report);
    ASSERT_EQ(report.Faults().size(), 4u);
    for (const Sim::FaultRecord& fault : report.Faults()) {
        EXPECT_EQ(fault.fired, 0u) << fault.fault;
    }
    EXPECT_EQ(Record(0).which, "0x00010010:3");
    EXPECT_EQ(Record(3).fault, "close-after");
    EXPECT_EQ(Record(3).which, "4000");

    schedule.CellsFired({{0x10010, 3}}, "flash image app.bin at 0x00010000");
    schedule.Fired(Sim::FaultSchedule::Flag::CLOSE_AFTER, "after 4000 received bytes");
    EXPECT_EQ(Record(0).where, std::vector<std::string>{"flash image app.bin at 0x00010000"});
    EXPECT_EQ(Record(1).fired, 0u);
    EXPECT_EQ(Record(2).fired, 0u) << "silent";
    EXPECT_EQ(Record(3).fired, 1u);
}

}  // namespace
