// The TypeSix line framing as the board reads and writes it: escaped 0x5C,
// frames in arbitrary pieces, and every way a frame can be broken.
#include <gtest/gtest.h>

#include <vector>

#include "sim/typesix_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Sim::TypeSixFrame> ReadAll(Sim::TypeSixFrameReader& reader, const Bytes& wire)
{
    reader.Feed(wire.data(), wire.size());
    std::vector<Sim::TypeSixFrame> frames;
    Sim::TypeSixFrame frame;
    while (reader.Next(frame)) {
        frames.push_back(frame);
    }
    return frames;
}

TEST(TypeSixFrameWrite, DoublesEveryEscapeByteAndAppendsTheXorOfThePayload)
{
    // seq 5C, code 04, data 5C 00: check = 5C ^ 04 ^ 5C ^ 00 = 04
    const Bytes wire = Sim::WrapTypeSixFrame({0x5C, 0x04, 0x5C, 0x00});
    EXPECT_EQ(wire, (Bytes{0x5C, 0x73, 0x5C, 0x5C, 0x04, 0x5C, 0x5C, 0x00, 0x04, 0x5C, 0x65}));
}

TEST(TypeSixFrameWrite, CheckByteThatIsAnEscapeIsDoubledToo)
{
    // 0x56 ^ 0x0A = 0x5C: the frame that ends an ssb load with sequence 0x56.
    const Bytes wire = Sim::WrapTypeSixFrame({0x56, 0x0A});
    EXPECT_EQ(wire, (Bytes{0x5C, 0x73, 0x56, 0x0A, 0x5C, 0x5C, 0x5C, 0x65}));
}

class TypeSixFrameRead : public ::testing::Test {
protected:
    Sim::TypeSixFrameReader reader{64};
};

TEST_F(TypeSixFrameRead, UnescapesAFrameFedOneByteAtATime)
{
    const Bytes payload{0x5C, 0x5C, 0x73, 0x65, 0x00, 0x5C};
    const Bytes wire = Sim::WrapTypeSixPayload(payload);
    std::vector<Sim::TypeSixFrame> frames;
    for (uint8_t b : wire) {
        for (auto& frame : ReadAll(reader, Bytes{b})) {
            frames.push_back(frame);
        }
    }
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].Broken());
    EXPECT_EQ(frames[0].payload, payload);
    EXPECT_EQ(frames[0].wire, wire);
}

TEST_F(TypeSixFrameRead, ReadsBackToBackFramesFromOneChunk)
{
    Bytes wire = Sim::WrapTypeSixPayload({1, 2, 3});
    const Bytes second = Sim::WrapTypeSixPayload({4, 5, 6});
    wire.insert(wire.end(), second.begin(), second.end());
    auto frames = ReadAll(reader, wire);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(frames[1].payload, (Bytes{4, 5, 6}));
}

TEST_F(TypeSixFrameRead, ReportsBytesOutsideAFrameBeforeTheNextOne)
{
    Bytes wire{'x', 'y', 0x5C, 0x5C};
    const Bytes frame = Sim::WrapTypeSixPayload({7, 8, 9});
    wire.insert(wire.end(), frame.begin(), frame.end());
    auto frames = ReadAll(reader, wire);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].problem, "4 bytes outside a frame");
    EXPECT_FALSE(frames[1].Broken());
    EXPECT_EQ(frames[1].payload, (Bytes{7, 8, 9}));
}

TEST_F(TypeSixFrameRead, AFrameThatLostItsEndIsDroppedAndTheNextIsRead)
{
    // An escape byte written without doubling before 'e' never ends the frame.
    Bytes wire{0x5C, 0x73, 0x56, 0x0A, 0x5C, 0x5C, 0x65};
    const Bytes next = Sim::WrapTypeSixPayload({0x00, 0x01, 0x01});
    wire.insert(wire.end(), next.begin(), next.end());
    auto frames = ReadAll(reader, wire);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].Broken());
    EXPECT_NE(frames[0].problem.find("without end marker"), std::string::npos);
    EXPECT_EQ(frames[0].wire, (Bytes{0x5C, 0x73, 0x56, 0x0A, 0x5C, 0x5C, 0x65}));
    EXPECT_FALSE(frames[1].Broken());
    EXPECT_EQ(frames[1].payload, (Bytes{0x00, 0x01, 0x01}));
}

TEST_F(TypeSixFrameRead, AnEscapeBeforeAnOrdinaryByteMarksTheFrameBroken)
{
    auto frames = ReadAll(reader, Bytes{0x5C, 0x73, 0x01, 0x5C, 0x02, 0x03, 0x5C, 0x65});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].problem, "0x5C followed by 0x02 inside a frame");
}

TEST_F(TypeSixFrameRead, AFrameLongerThanTheLimitIsBrokenAndBounded)
{
    Bytes payload(200, 0x11);
    auto frames = ReadAll(reader, Sim::WrapTypeSixPayload(payload));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].problem, "frame longer than 64 bytes");
    EXPECT_EQ(frames[0].payload.size(), 64u);
}

TEST_F(TypeSixFrameRead, ClearForgetsAPartialFrame)
{
    ReadAll(reader, Bytes{0x5C, 0x73, 0x01, 0x02});
    reader.Clear();
    Bytes wire{0x03, 0x5C, 0x65};
    const Bytes next = Sim::WrapTypeSixPayload({4, 5, 6});
    wire.insert(wire.end(), next.begin(), next.end());
    auto frames = ReadAll(reader, wire);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].problem, "3 bytes outside a frame");
    EXPECT_EQ(frames[1].payload, (Bytes{4, 5, 6}));
}

}  // namespace
