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
    // The exit frames with 5C as check or sequence byte end the 83- and 89-packet
    // loaders of TypeSixBoard.LoadersFollowWhatTheBoardRuns... (e2e).
    EXPECT_EQ(Wrap(Init(0x5D)), (Bytes{0x5C, 0x73, 0x5D, 0x01, 0x5C, 0x5C, 0x5C, 0x65})) << "init, check 5C";
    EXPECT_EQ(Wrap(EraseAllExit(0x54)), (Bytes{0x5C, 0x73, 0x54, 0x08, 0x5C, 0x5C, 0x5C, 0x65}))
        << "erase-all exit, check 5C";
}

TEST(TypeSixFraming, UnwrapFindsTheFirstWholeFrameInWhatArrived)
{
    const auto unwrap = [](const Bytes& received) {
        std::pair<bool, Bytes> found;
        found.first = UnwrapFirstFrame(received.data(), received.size(), found.second);
        return found;
    };
    // seq | 02 | code | result | data | XOR check; an escaped 5C 65 in the data is data, not an end mark.
    const Bytes escaped = WithXor({0x5C, 0x02, 0x21, 0x01, 0x5C, 0x65, 0x5C});
    EXPECT_EQ(unwrap(Concat({{'b', 'o', 'o', 't', 0x5C, 0x65, 0x00}, Wire(escaped)})), std::make_pair(true, escaped))
        << "behind text and a stray end mark";
    const Bytes plain = WithXor({0x07, 0x02, 0x05, 0x01});
    const Bytes wire = Wire(plain);
    EXPECT_EQ(unwrap(Concat({{0x5C, 0x73, 0x01, 0x02, 0x03}, wire})), std::make_pair(true, plain))
        << "a new start mark drops a frame that lost its end";
    // Its end mark cut after the escape byte.
    EXPECT_FALSE(unwrap(Bytes(wire.begin(), wire.end() - 1)).first) << "one byte short";
}

}  // namespace
