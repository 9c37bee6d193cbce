// The escaped TypeSix framing in both directions; the command payloads are
// checked end to end by the simulator, which decodes them from its own tables.
#include <gtest/gtest.h>

#include "device/typesix/typesix_frames.h"
#include "pty_board.h"

namespace {

using namespace TypeSixFrames;

// --- framing ------------------------------------------------------------------------------

TEST(TypeSixFraming, EveryFrameIsWrappedWithDoubled5CAndTheCheckOverTheUndoubledPayload)
{
    const struct {
        const char* frame;
        Bytes built;
        Bytes expected;
    } cases[] = {
        // The exit frames with 5C as check or sequence byte end the 83- and 89-packet
        // loaders of TypeSixBoard.LoadersFollowWhatTheBoardRuns... (e2e).
        {"init, check 5C", Wrap(Init(0x5D)), Bytes{0x5C, 0x73, 0x5D, 0x01, 0x5C, 0x5C, 0x5C, 0x65}},
        {"erase-all exit, check 5C", Wrap(EraseAllExit(0x54)), Bytes{0x5C, 0x73, 0x54, 0x08, 0x5C, 0x5C, 0x5C, 0x65}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built, c.expected) << c.frame;
    }
}

TEST(TypeSixFraming, UnwrapFindsTheFirstWholeFrameInWhatArrived)
{
    // seq | 02 | code | result | data | XOR check
    const Bytes escaped = WithXor({0x5C, 0x02, 0x21, 0x01, 0x5C, 0x65, 0x5C});
    const Bytes plain = WithXor({0x07, 0x02, 0x05, 0x01});
    const Bytes wire = Wire(plain);
    const struct {
        const char* what;
        Bytes received;
        bool complete;
        Bytes payload;
    } cases[] = {
        // An escaped 5C 65 in the data is data, not an end mark.
        {"behind text and a stray end mark", Concat({{'b', 'o', 'o', 't', 0x5C, 0x65, 0x00}, Wire(escaped)}), true,
         escaped},
        {"a new start mark drops a frame that lost its end", Concat({{0x5C, 0x73, 0x01, 0x02, 0x03}, wire}), true,
         plain},
        // Its end mark cut after the escape byte.
        {"one byte short", Bytes(wire.begin(), wire.end() - 1), false, {}},
    };
    for (const auto& c : cases) {
        Bytes payload;
        ASSERT_EQ(UnwrapFirstFrame(c.received.data(), c.received.size(), payload), c.complete) << c.what;
        if (c.complete) {
            EXPECT_EQ(payload, c.payload) << c.what;
        }
    }
}

}  // namespace
