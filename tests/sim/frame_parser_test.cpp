// The board's frame parsers at their boundaries: Vb27 command frames (where a
// frame starts, when it is complete, what is wrong with a broken one) and the
// TypeSix line framing (escaped 0x5C, frames in any pieces, broken frames).
#include "sim/typesix_frame.h"
#include "sim/vb27_frame.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using namespace Sim::Vb27;

namespace {

// ---- Vb27 command frames ----

TEST(Vb27FrameParse, BrokenFramesAreToldAndConsumedOnlyAsFarAsTheyGoAndEveryPrefixWaitsForMore)
{
    Bytes badCrc = Handshake(115200);
    badCrc[10] ^= 0x40;
    // A truncated frame whose length field swallows the start of the next.
    Bytes cut(badCrc.begin(), badCrc.begin() + 8);
    const Bytes next = Handshake(115200);
    cut.insert(cut.end(), next.begin(), next.end());
    const auto lengthOnly = [](uint16_t n) {
        return Bytes{0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
    };
    const struct {
        const char* what;
        Bytes bytes;
        ParseStatus status;
        Refusal refusal;
        size_t consumed;
    } cases[] = {
        {"no flag", {0xEF, 0xBE, 0x00}, ParseStatus::NOT_A_FRAME, REFUSED_NONE, 0},
        {"bad CRC", badCrc, ParseStatus::BAD_FRAME, REFUSED_CRC, 18},
        {"cut short by the next frame", cut, ParseStatus::BAD_FRAME, REFUSED_CRC, 8},
        {"length 9", lengthOnly(9), ParseStatus::BAD_FRAME, REFUSED_LENGTH, 4},
        {"length 65", lengthOnly(65), ParseStatus::BAD_FRAME, REFUSED_LENGTH, 4},
        {"wrong complement", Command(0xD2, Bytes(14, 0), 0x2C), ParseStatus::BAD_FRAME, REFUSED_COMPLEMENT, 24},
        {"unknown code", Command(0x33, Bytes(4, 0)), ParseStatus::BAD_FRAME, REFUSED_UNKNOWN_CODE, 14},
        {"handshake one byte long", Command(0xF0, Bytes(9, 0)), ParseStatus::BAD_FRAME, REFUSED_LENGTH, 19},
    };
    for (const auto& c : cases) {
        const ParseResult r = ParseCommandFrame(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.status, c.status) << c.what;
        if (c.status == ParseStatus::BAD_FRAME) {
            EXPECT_EQ(r.refusal, c.refusal) << c.what;
            EXPECT_EQ(r.consumed, c.consumed) << c.what;
        }
    }
    EXPECT_EQ(ParseCommandFrame(cut.data() + 8, cut.size() - 8).status, ParseStatus::FRAME);
    for (size_t n = 1; n < next.size(); ++n) {
        EXPECT_EQ(ParseCommandFrame(next.data(), n).status, ParseStatus::NEED_MORE) << n;
    }
}

// ---- TypeSix line framing ----

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

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(TypeSixFrameRead, EachUnitOffTheLineIsAFrameOrSaysWhatIsWrong)
{
    const struct {
        const char* what;
        Bytes wire;
        std::vector<std::pair<std::string, Bytes>> units;  // problem, payload
    } cases[] = {
        {"bytes outside a frame", Bytes{'x', 'y', 0x5C, 0x5C} + Wrap({7, 8, 9}),
         {{"4 bytes outside a frame", {}}, {"", {7, 8, 9}}}},
        // An escape written without doubling before 'e' never ends the frame;
        // the next start marker does.
        {"lost end", Bytes{0x5C, 0x73, 0x56, 0x0A, 0x5C, 0x5C, 0x65} + Wrap({0x00, 0x01, 0x01}),
         {{"frame without end marker (4 payload bytes) dropped", {}}, {"", {0x00, 0x01, 0x01}}}},
        {"escape before an ordinary byte", {0x5C, 0x73, 0x01, 0x5C, 0x02, 0x03, 0x5C, 0x65},
         {{"0x5C followed by 0x02 inside a frame", {}}}},
        {"longer than the limit", Wrap(Bytes(200, 0x11)), {{"frame longer than 64 bytes", Bytes(64, 0x11)}}},
        // Escaped bytes and markers inside the payload, fed one byte at a time below.
        {"one byte at a time", Wrap({0x5C, 0x5C, 0x73, 0x65, 0x00, 0x5C}),
         {{"", {0x5C, 0x5C, 0x73, 0x65, 0x00, 0x5C}}}},
        // Clear forgets a partial frame: its tail is bytes outside a frame.
        {"cleared", Bytes{0x5C, 0x73, 0x01, 0x02, 0x03, 0x5C, 0x65} + Wrap({4, 5, 6}),
         {{"3 bytes outside a frame", {}}, {"", {4, 5, 6}}}},
    };
    for (const auto& c : cases) {
        Sim::TypeSixFrameReader reader(64);
        std::vector<Sim::TypeSixFrame> frames;
        if (std::string(c.what) == "cleared") {
            ReadAll(reader, Bytes(c.wire.begin(), c.wire.begin() + 4));
            reader.Clear();
            frames = ReadAll(reader, Bytes(c.wire.begin() + 4, c.wire.end()));
        } else {
            const bool oneByOne = std::string(c.what) == "one byte at a time";
            for (size_t at = 0, step = oneByOne ? 1 : c.wire.size(); at < c.wire.size(); at += step) {
                for (auto& frame : ReadAll(reader, Bytes(c.wire.begin() + at, c.wire.begin() + at + step))) {
                    frames.push_back(frame);
                }
            }
        }
        ASSERT_EQ(frames.size(), c.units.size()) << c.what;
        for (size_t i = 0; i < frames.size(); ++i) {
            const auto& [problem, payload] = c.units[i];
            EXPECT_EQ(frames[i].problem, problem) << c.what;
            EXPECT_EQ(frames[i].Broken(), !problem.empty()) << c.what;
            if (problem.find("without end") != std::string::npos) {
                EXPECT_EQ(frames[i].wire, Bytes(c.wire.begin(), c.wire.begin() + 7));
            } else if (!payload.empty()) {
                EXPECT_EQ(frames[i].payload, payload) << c.what;
                EXPECT_TRUE(!problem.empty() || frames.size() > 1 || frames[i].wire == c.wire) << c.what;
            }
        }
    }
}

}  // namespace
