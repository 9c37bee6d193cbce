// The telnet layer as the server's bytes reach it: cut at any point by TCP,
// with 0xFF doubled in data and in subnegotiations, options and commands
// between data bytes, and options nobody asked for. The data must come out
// whole and in order, and every command exactly once.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "transport/telnet_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Telnet::Command;

struct Decoded {
    Bytes data;
    std::vector<Command> commands;
};

// Feeds the stream cut at the given offsets, decoding in place as a line does.
Decoded FeedInPieces(const Bytes& stream, const std::vector<size_t>& cuts)
{
    Telnet::Decoder decoder;
    Decoded out;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(stream.size());
    for (size_t end : ends) {
        Bytes piece(stream.begin() + static_cast<long>(from), stream.begin() + static_cast<long>(end));
        size_t n = decoder.Feed(piece.data(), piece.size(), piece.data(), out.commands);
        out.data.insert(out.data.end(), piece.begin(), piece.begin() + static_cast<long>(n));
        from = end;
    }
    return out;
}

// Data 01 FF 02, DO COM-PORT, data FF FF, the baud answer 921600 (no FF), a NOP,
// an answer whose value holds FF (doubled), WILL of an unknown option, data 03.
const Bytes STREAM{0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xFD, 0x2C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFA, 0x2C,
                   0x65, 0x00, 0x0E, 0x10, 0x00, 0xFF, 0xF0, 0xFF, 0xF1, 0xFF, 0xFA, 0x2C, 0x65, 0xFF,
                   0xFF, 0x00, 0x00, 0x01, 0xFF, 0xF0, 0xFF, 0xFB, 0x99, 0x03};
const Bytes STREAM_DATA{0x01, 0xFF, 0x02, 0xFF, 0xFF, 0x03};

// Every field of every command, to compare them whole.
using Fields = std::tuple<Command::Kind, uint8_t, uint8_t, Bytes, bool>;

std::vector<Fields> AllFields(const std::vector<Command>& commands)
{
    std::vector<Fields> all;
    for (const Command& c : commands) {
        all.emplace_back(c.kind, c.verb, c.option, c.payload, c.truncated);
    }
    return all;
}

constexpr auto SB = Command::Kind::SUBNEGOTIATION;
constexpr uint8_t COM_PORT = Telnet::OPTION_COM_PORT;

void ExpectStreamDecoded(const Decoded& d)
{
    EXPECT_EQ(d.data, STREAM_DATA);
    EXPECT_EQ(AllFields(d.commands), (std::vector<Fields>{{Command::Kind::OPTION, Telnet::DO, COM_PORT, {}, false},
                                                           {SB, 0, COM_PORT, {0x65, 0x00, 0x0E, 0x10, 0x00}, false},
                                                           {Command::Kind::OTHER, 0xF1, 0, {}, false},
                                                           {SB, 0, COM_PORT, {0x65, 0xFF, 0x00, 0x00, 0x01}, false},
                                                           {Command::Kind::OPTION, Telnet::WILL, 0x99, {}, false}}));
}

TEST(TelnetDecoder, SeparatesDataFromCommandsWhereverTheStreamIsCut)
{
    ExpectStreamDecoded(FeedInPieces(STREAM, {}));
    for (size_t cut = 1; cut < STREAM.size(); ++cut) {
        SCOPED_TRACE(cut);
        ExpectStreamDecoded(FeedInPieces(STREAM, {cut}));
    }
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < STREAM.size(); ++i) {
        everyByte.push_back(i);
    }
    ExpectStreamDecoded(FeedInPieces(STREAM, everyByte));
}

TEST(TelnetDecoder, AnOverlongSubnegotiationIsCutWithoutLosingTheDataBehindIt)
{
    Bytes stream{0xFF, 0xFA, 0x2C};
    stream.insert(stream.end(), 10000, 0x42);
    stream.insert(stream.end(), {0xFF, 0xF0, 0x07, 0x08});
    const Decoded d = FeedInPieces(stream, {5000});
    EXPECT_EQ(d.data, (Bytes{0x07, 0x08}));
    ASSERT_EQ(d.commands.size(), 1u);
    EXPECT_TRUE(d.commands[0].truncated);
    EXPECT_EQ(d.commands[0].payload.size(), Telnet::Decoder::MAX_PAYLOAD);
}

TEST(TelnetDecoder, ASubnegotiationBrokenOffByAnotherCommandEndsThere)
{
    // IAC SB 2C 65 then IAC WILL 01 instead of IAC SE, then data.
    const Decoded d = FeedInPieces({0xFF, 0xFA, 0x2C, 0x65, 0xFF, 0xFB, 0x01, 0x55}, {5});
    EXPECT_EQ(d.data, (Bytes{0x55}));
    EXPECT_EQ(AllFields(d.commands),
              (std::vector<Fields>{{SB, 0, COM_PORT, {0x65}, false}, {Command::Kind::OPTION, Telnet::WILL, 0x01, {}, false}}));
}

TEST(TelnetEncoder, DoublesEveryIacInDataAndInSubnegotiations)
{
    Bytes out;
    const Bytes data{0xFF, 0x00, 0xFF, 0xFF};
    Telnet::AppendData(out, data.data(), data.size());
    EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    out.clear();
    Telnet::AppendSubnegotiation(out, Telnet::OPTION_COM_PORT, {0x01, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}));
    // What the encoder writes, the decoder reads back as it was.
    const Decoded back = FeedInPieces(out, {4});
    ASSERT_EQ(back.commands.size(), 1u);
    EXPECT_EQ(back.commands[0].payload, (Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF}));
}

}  // namespace
