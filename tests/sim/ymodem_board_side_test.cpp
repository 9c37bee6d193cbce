// The board side of the tool's YMODEM variant at its boundaries, as scripts of
// what the tool sends and what the board must answer, with and without block
// faults. Whole transfers of every block size are driven end to end.
#include "sim/ymodem_receiver.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using Sim::YmodemReceiver;
using State = YmodemReceiver::State;

namespace {

using Script = std::vector<std::pair<Bytes, Bytes>>;  // the tool's bytes, the board's answer

Script With(Script s, const Script& tail)
{
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
}

TEST(YmodemReceiverScript, RepeatsPromptsAndBrokenBlocksGetTheDocumentedAnswersAndKeepOnlyTheFile)
{
    const Bytes data = Pattern(2048, 5);
    const auto blocks = DataBlocks(data, 1024);
    const Bytes header = HeaderBlock("f.bin", "0x800");
    Bytes broken = blocks[0];
    broken[100] ^= 0x01;
    const Script end = {{{EOT}, {ACK}}, {ClosingBlock(), {ACK}}};
    const struct {
        const char* what;
        Script script;
        State state;
        Bytes data;
        const char* error;
        size_t repeated;
    } cases[] = {
        {"a repeated block is acknowledged and discarded",
         With({{header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}, end), State::DONE, data,
         "", 1},
        // A sender that answers the C after block 0 sends it and every block twice.
        {"a sender that answers the C",
         With({{header, {ACK, C}}, {header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[0], {ACK}}, {blocks[1], {ACK}},
               {blocks[1], {ACK}}}, end),
         State::DONE, data, "", 3},
        {"a bad CRC is asked for again with C",
         With({{header, {ACK, C}}, {broken, {C}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}, end), State::DONE, data,
         "CRC", 0},
        {"an out-of-sequence block cancels", {{header, {ACK, C}}, {blocks[1], {CAN, CAN}}}, State::FAILED, {},
         "out of sequence", 0},
        {"a size beyond the limit cancels", {{HeaderBlock("big.bin", "0x100001"), {CAN, CAN}}}, State::FAILED, {},
         "exceeds", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sent;
        YmodemReceiver r([&sent](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20);
        for (size_t i = 0; i < c.script.size(); ++i) {
            sent.clear();
            r.Feed(c.script[i].first.data(), c.script[i].first.size(), 0);
            EXPECT_EQ(sent, c.script[i].second) << "step " << i;
        }
        EXPECT_EQ(r.GetState(), c.state);
        EXPECT_EQ(r.Data(), c.data);
        EXPECT_TRUE(r.HasFile());
        EXPECT_EQ(r.RepeatedBlocks(), c.repeated);
        const auto errors = r.TakeErrors();
        EXPECT_EQ(Mentions(errors, c.error), *c.error != '\0') << testing::PrintToString(errors);
    }
}

// A block asked for again is dropped and taken when it comes again; a block
// whose ACK is lost is kept, the board asks again once the line has been
// quiet, and the block sent again is acknowledged without being taken twice.
TEST(YmodemReceiverScript, BlockFaultsCostTheToolOneRepeatAndNeverABlockTwice)
{
    const Bytes data = Pattern(3000, 6);
    const auto blocks = DataBlocks(data, 1024);
    const Bytes header = HeaderBlock("f.bin", "0xbb8");
    const struct {
        const char* what;
        Sim::BlockFault::Kind kind;
        Script script;
        size_t repeated;
    } cases[] = {
        {"asked for again", Sim::BlockFault::Kind::ASK_AGAIN,
         {{header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[1], {C}}, {blocks[1], {ACK}}, {blocks[2], {ACK}}}, 0},
        {"ACK lost", Sim::BlockFault::Kind::ACK_LOST,
         {{header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[1], {}}, {{}, {C}}, {blocks[1], {ACK}}, {blocks[2], {ACK}}},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Sim::FaultPlan plan;
        Sim::BlockFault fault;
        fault.kind = c.kind;
        std::string error;
        ASSERT_TRUE(Sim::ParseBlockSelector("1:2", fault.which, error));
        plan.blocks = {fault};
        Sim::Report report;
        Sim::FaultSchedule schedule(plan, report);
        Bytes sent;
        YmodemReceiver r([&sent](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20, &schedule);
        int64_t now = 0;
        for (size_t i = 0; i < c.script.size(); ++i) {
            sent.clear();
            if (c.script[i].first.empty()) {
                // Nothing comes: just short of the gap the board keeps quiet, then it asks.
                r.Tick(now + YmodemReceiver::BLOCK_GAP_MS - 1);
                EXPECT_TRUE(sent.empty()) << "step " << i;
                now += YmodemReceiver::BLOCK_GAP_MS;
                r.Tick(now);
            } else {
                r.Feed(c.script[i].first.data(), c.script[i].first.size(), now);
            }
            EXPECT_EQ(sent, c.script[i].second) << "step " << i;
        }
        for (const auto& [bytes, answer] : Script{{{EOT}, {ACK}}, {ClosingBlock(), {ACK}}}) {
            sent.clear();
            r.Feed(bytes.data(), bytes.size(), now);
            EXPECT_EQ(sent, answer);
        }
        EXPECT_EQ(r.GetState(), State::DONE);
        EXPECT_EQ(r.Data(), data);
        EXPECT_EQ(r.RepeatedBlocks(), c.repeated);
        EXPECT_EQ(report.Faults().at(0).fired, 1u);
        EXPECT_EQ(report.GetTally().transfers, 1u);
    }
}

}  // namespace
