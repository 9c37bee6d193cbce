// TypeSix frames byte for byte against the wire tables: command payloads and
// the escaped framing in both directions.
#include <gtest/gtest.h>

#include "device/typesix/typesix_frames.h"
#include "pty_board.h"

namespace {

using namespace TypeSixFrames;

// --- command payloads: seq | code | fields, big-endian | XOR check ---------------

Bytes WithXor(Bytes body)
{
    body.push_back(Xor(body));
    return body;
}

TEST(TypeSixCommandPayload, EveryCommandMatchesItsTable)
{
    const Bytes digest(32, 0xAB);
    const Bytes sec = {0xAA, 0xBB, 0xCC};
    const Bytes image = Pattern(10000, 1);
    const Bytes tail(image.begin() + 8192, image.end());  // the last 1808 bytes
    const Bytes full(16, 0x11);
    const struct {
        const char* command;
        Bytes built;
        Bytes expected;
    } cases[] = {
        {"bin head eMMC", BinHead(0x07, EMMC_BIN_TYPE, 0x00200000, 0x1000),
         WithXor({0x07, 0x36, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00})},
        {"erase ssb init", EraseSsbInit(), Bytes{0x00, 0x01, 0x01}},
        {"erase ssb", EraseSsb(), Bytes{0x01, 0x0F, 0x0E}},
        {"init", Init(0x05), Bytes{0x05, 0x01, 0x04}},
        {"version", ReadVersion(0x01), Bytes{0x01, 0x25, 0x24}},
        {"erase all", EraseAll(0x01), Bytes{0x01, 0x10, 0x11}},
        {"reset", ResetPayload(0x00), Bytes{0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C}},
        {"flash limits", FlashLimits(0x00),
         WithXor({0x00, 0x11, 0x01, 0x10, 0x01, 0x30, 0x00, 0xA0, 0x00, 0x18, 0x01, 0x00})},
        {"kv key", KvKey(0x00), Bytes{0x00, 0x1E, 0x00, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00, 0x1B}},
        {"start flashing", StartFlashing(0x03, 2), Bytes{0x03, 0x03, 0x02, 0x00, 0x00, 0x02}},
        {"erase core", EraseCore(0x00, 4), Bytes{0x00, 0x07, 0x04, 0x03}},
        {"set speed: rate and reset delay", SetSpeed(0x01, 921600),
         WithXor({0x01, 0x0D, 0x00, 0x0E, 0x10, 0x00, 0x00, 0x00, 0x70, 0x00})},
        {"memory config", MemoryConfig(0x02, 2, 0x01020304),
         WithXor({0x02, 0x06, 0x02, 0x01, 0x02, 0x03, 0x04, 0x00, 0x04, 0x00, 0x00})},
        {"data request", DataRequest(0x09, 0x00123456, 4096),
         WithXor({0x09, 0x21, 0x00, 0x12, 0x34, 0x56, 0x00, 0x00, 0x10, 0x00})},
        {"ssb digest", SsbDigest(0x04, 10000, digest.data(), digest.size()),
         WithXor(Concat({{0x04, 0xFD, 0x00, 0x00, 0x27, 0x10}, digest}))},
        {"image digest", Sha(0x05, 0x00200000, 0, digest.data(), digest.size()),
         WithXor(Concat({{0x05, 0x37, 0x00, 0x20, 0x00, 0x00, 0, 0, 0, 0}, digest}))},
        {"image digest, none given: still sent", Sha(0x05, 0, 0, nullptr, 0),
         WithXor({0x05, 0x37, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"app digest", AppSha(0x06, 2, digest.data(), digest.size()), WithXor(Concat({{0x06, 0x02, 0x02}, digest}))},
        {"key store", KeyStore(1, sec.data(), 3), WithXor({0x01, 0x13, 0x01, 0x00, 0x03, 0xAA, 0xBB, 0xCC})},
        {"certificate", Certificate(1, sec.data(), 3), WithXor({0x01, 0x14, 0x00, 0x03, 0xAA, 0xBB, 0xCC})},
        {"signature", Signature(1, sec.data(), 3), WithXor({0x01, 0x15, 0x02, 0x02, 0x00, 0x03, 0xAA, 0xBB, 0xCC})},
        // The packet number is little-endian; a short last packet has its check
        // right behind its data, then FF up to the packet size.
        {"ssb packet, short last", SsbPacket(0x2A, 2, tail.data(), tail.size(), 4096),
         Concat({WithXor(Concat({{0x2A, 0xFC, 0x02, 0x00, 0x00, 0x00}, tail})), Bytes(4096 - 1808, 0xFF)})},
        {"ssb packet, full, number FFFF", SsbPacket(0, 0xFFFF, full.data(), 16, 16),
         WithXor(Concat({{0x00, 0xFC, 0xFF, 0xFF, 0x00, 0x00}, full}))},
        // An image data frame pads the short chunk to the packet size before its check.
        {"image data, short last", Data(0x10, tail.data(), tail.size(), 4096),
         WithXor(Concat({{0x10, 0x04}, tail, Bytes(4096 - 1808, 0xFF)}))},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built, c.expected) << c.command;
    }
    EXPECT_TRUE(SsbPacket(0, 0, full.data(), 16, 15).empty()) << "more data than a packet holds";
    const Bytes tooLong(MAX_SECURITY_DATA + 1, 0x00);
    EXPECT_TRUE(KeyStore(1, tooLong.data(), tooLong.size()).empty()) << "a 16-bit length cannot carry it";
}

// --- framing ------------------------------------------------------------------------------

TEST(TypeSixFraming, EveryFrameIsWrappedWithDoubled5CAndTheCheckOverTheUndoubledPayload)
{
    const struct {
        const char* frame;
        Bytes built;
        Bytes expected;
    } cases[] = {
        {"init, check 5C", Wrap(Init(0x5D)), Bytes{0x5C, 0x73, 0x5D, 0x01, 0x5C, 0x5C, 0x5C, 0x65}},
        // After init, version and 83 ssb packets the exit frame's check is 5C; after 89 its sequence.
        {"exit, check 5C", Wrap(Exit(0x56)), Bytes{0x5C, 0x73, 0x56, 0x0A, 0x5C, 0x5C, 0x5C, 0x65}},
        {"exit, sequence 5C", Wrap(Exit(0x5C)), Bytes{0x5C, 0x73, 0x5C, 0x5C, 0x0A, 0x56, 0x5C, 0x65}},
        {"erase-all exit, check 5C", Wrap(EraseAllExit(0x54)), Bytes{0x5C, 0x73, 0x54, 0x08, 0x5C, 0x5C, 0x5C, 0x65}},
        {"reset", Wrap(ResetPayload(0x00)), Bytes{0x5C, 0x73, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x5C, 0x65}},
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
        {"a lone escape at the end", {0x5C, 0x73, 0x01, 0x5C}, false, {}},
        {"one byte short", Bytes(wire.begin(), wire.end() - 1), false, {}},
        {"start mark only", Bytes(wire.begin(), wire.begin() + 2), false, {}},
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
