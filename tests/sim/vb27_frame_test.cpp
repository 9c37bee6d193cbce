// Reading command frames off the line: where a frame starts, when it is
// complete, and what is wrong with a broken one.
#include "sim/vb27_frame.h"
#include "vb27_test_support.h"

#include <gtest/gtest.h>

using namespace Vb27Test;
using namespace Sim::Vb27;

namespace {

TEST(Vb27FrameParse, EveryCommandOfTheLoaderParsesWithItsLength)
{
    const std::pair<uint8_t, size_t> commands[] = {{0xF0, 18}, {0x5A, 18}, {0x69, 14}, {0xC3, 14}, {0x78, 24},
                                                   {0x4B, 26}, {0xD2, 24}, {0xB4, 18}, {0x87, 12}};
    for (const auto& [code, length] : commands) {
        const Bytes frame = Command(code, Bytes(length - 10, 0x00));
        const ParseResult r = ParseCommandFrame(frame.data(), frame.size());
        EXPECT_EQ(r.status, ParseStatus::FRAME) << int(code);
        EXPECT_EQ(r.consumed, length);
        EXPECT_EQ(r.frame.code, code);
    }
}

TEST(Vb27FrameParse, ParametersAreLittleEndian)
{
    const Bytes frame = FlashImage(0x12345678, 0x9ABC, 0x10000);
    const ParseResult r = ParseCommandFrame(frame.data(), frame.size());
    ASSERT_EQ(r.status, ParseStatus::FRAME);
    EXPECT_EQ(r.frame.ParameterU32(0), 0x12345678u);
    EXPECT_EQ(r.frame.ParameterU32(4), 0x9ABCu);
    EXPECT_EQ(r.frame.ParameterU32(8), 0x10000u);
}

TEST(Vb27FrameParse, APrefixOfAFrameWaitsForMore)
{
    const Bytes frame = Handshake(115200);
    for (size_t n = 1; n < frame.size(); ++n) {
        EXPECT_EQ(ParseCommandFrame(frame.data(), n).status, ParseStatus::NEED_MORE) << n;
    }
}

TEST(Vb27FrameParse, ABytesThatStartsNoFlagIsNoFrame)
{
    const Bytes junk = {0xEF, 0xBE, 0x00};
    EXPECT_EQ(ParseCommandFrame(junk.data(), junk.size()).status, ParseStatus::NOT_A_FRAME);
    const Bytes c = {0x43};
    EXPECT_EQ(ParseCommandFrame(c.data(), c.size()).status, ParseStatus::NOT_A_FRAME);
}

TEST(Vb27FrameParse, ABadCrcGivesUpTheWholeFrame)
{
    Bytes frame = Handshake(115200);
    frame[10] ^= 0x40;
    const ParseResult r = ParseCommandFrame(frame.data(), frame.size());
    EXPECT_EQ(r.status, ParseStatus::BAD_FRAME);
    EXPECT_EQ(r.refusal, REFUSED_CRC);
    EXPECT_EQ(r.consumed, 18u);
}

TEST(Vb27FrameParse, AFrameCutShortByTheNextOneIsGivenUpUpToTheNextStart)
{
    // A truncated frame whose length field swallows the start of the next.
    Bytes cut = Handshake(115200);
    cut.resize(8);
    const Bytes next = Handshake(115200);
    cut.insert(cut.end(), next.begin(), next.end());
    const ParseResult r = ParseCommandFrame(cut.data(), cut.size());
    EXPECT_EQ(r.status, ParseStatus::BAD_FRAME);
    EXPECT_EQ(r.consumed, 8u);
    EXPECT_EQ(ParseCommandFrame(cut.data() + 8, cut.size() - 8).status, ParseStatus::FRAME);
}

TEST(Vb27FrameParse, ImpossibleLengthsAreRefusedAtOnce)
{
    for (const uint16_t n : {uint16_t{0}, uint16_t{9}, uint16_t{65}, uint16_t{0xFFFF}}) {
        const Bytes frame = {0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
        const ParseResult r = ParseCommandFrame(frame.data(), frame.size());
        EXPECT_EQ(r.status, ParseStatus::BAD_FRAME) << n;
        EXPECT_EQ(r.refusal, REFUSED_LENGTH);
        EXPECT_EQ(r.consumed, 4u);
    }
}

TEST(Vb27FrameParse, CodeComplementUnknownCodeAndWrongLengthAreTold)
{
    Bytes complement = Command(0xD2, Bytes(14, 0));
    complement[7] = 0x2C;  // ~D2 is 2D
    const uint16_t crc = Crc16(complement.data(), complement.size() - 2);
    complement[22] = static_cast<uint8_t>(crc);
    complement[23] = static_cast<uint8_t>(crc >> 8);
    EXPECT_EQ(ParseCommandFrame(complement.data(), complement.size()).refusal, REFUSED_COMPLEMENT);
    const Bytes unknown = Command(0x33, Bytes(4, 0));
    EXPECT_EQ(ParseCommandFrame(unknown.data(), unknown.size()).refusal, REFUSED_UNKNOWN_CODE);
    const Bytes longHandshake = Command(0xF0, Bytes(9, 0));
    const ParseResult r = ParseCommandFrame(longHandshake.data(), longHandshake.size());
    EXPECT_EQ(r.refusal, REFUSED_LENGTH);
    EXPECT_EQ(r.consumed, 19u);
}

TEST(Vb27FrameBuild, TheResetFrameIsTheDocumentedTwelveBytes)
{
    EXPECT_EQ(BuildCommandFrame(CODE_RESET, {0x00, 0x00}),
              (Bytes{0xEF, 0xBE, 0xAD, 0xDE, 0x0C, 0x00, 0x87, 0x78, 0x00, 0x00, 0x61, 0x94}));
}

TEST(Vb27FrameBuild, AckFramesCarryResultAndDetailUnderTheirCrc)
{
    const Bytes ok = BuildAckFrame(RESULT_SUCCESS, REFUSED_NONE);
    EXPECT_TRUE(IsAck(ok, 0x5A));
    const Bytes refused = BuildAckFrame(RESULT_FAILURE, REFUSED_PARAMETER);
    EXPECT_TRUE(IsAck(refused, 0xA5));
    EXPECT_EQ(refused[9], 0x05);
}

}  // namespace
