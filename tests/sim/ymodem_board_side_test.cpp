// The board side of the tool's YMODEM variant at its boundaries, as scripts of
// what the tool sends and what the board must answer. Whole transfers of every
// block size, and blocks the board asks for again or whose ACK it loses (a
// repeat is acknowledged and discarded), are driven end to end.
#include "sim/ymodem_receiver.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using Sim::YmodemReceiver;
using State = YmodemReceiver::State;

namespace {

TEST(YmodemReceiverScript, BrokenBlocksAndSizesGetTheDocumentedAnswersAndKeepOnlyTheFile)
{
    const Bytes data = Pattern(2048, 5);
    const auto blocks = DataBlocks(data, 1024);
    const Bytes header = HeaderBlock("f.bin", "0x800");
    Bytes broken = blocks[0];
    broken[100] ^= 0x01;
    const struct {
        const char* what;
        std::vector<std::pair<Bytes, Bytes>> script;  // the tool's bytes, the board's answer
        State state;
        Bytes data;
    } cases[] = {
        {"a bad CRC is asked for again with C",
         {{header, {ACK, C}}, {broken, {C}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}, {{EOT}, {ACK}},
          {ClosingBlock(), {ACK}}}, State::DONE, data},
        {"an out-of-sequence block cancels", {{header, {ACK, C}}, {blocks[1], {CAN, CAN}}}, State::FAILED, {}},
        {"a size beyond the limit cancels", {{HeaderBlock("big.bin", "0x100001"), {CAN, CAN}}}, State::FAILED, {}},
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
        EXPECT_EQ(r.TakeErrors().size(), 1u) << "each refusal is reported";
    }
}

}  // namespace
