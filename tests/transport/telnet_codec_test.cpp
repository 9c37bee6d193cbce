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
Decoded FeedInPieces(const Bytes& stream, std::vector<size_t> cuts)
{
    Telnet::Decoder decoder;
    Decoded out;
    size_t from = 0;
    cuts.push_back(stream.size());
    for (size_t end : cuts) {
        Bytes piece(stream.begin() + static_cast<long>(from), stream.begin() + static_cast<long>(end));
        size_t n = decoder.Feed(piece.data(), piece.size(), piece.data(), out.commands);
        out.data.insert(out.data.end(), piece.begin(), piece.begin() + static_cast<long>(n));
        from = end;
    }
    return out;
}

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
constexpr auto OPTION = Command::Kind::OPTION;
constexpr uint8_t COM_PORT = Telnet::OPTION_COM_PORT;

TEST(TelnetDecoder, SeparatesDataFromCommandsWhereverTheStreamIsCut)
{
    Bytes overlong{0xFF, 0xFA, 0x2C};
    overlong.insert(overlong.end(), 1000, 0x42);
    overlong.insert(overlong.end(), {0xFF, 0xF0, 0x07, 0x08});
    const struct {
        const char* what;
        Bytes stream;
        Bytes data;
        std::vector<Fields> commands;
    } cases[] = {
        // Data 01 FF 02, DO COM-PORT, data FF FF, the baud answer 921600 (no FF), a NOP,
        // an answer whose value holds FF (doubled), WILL of an unknown option, data 03.
        {"commands between data",
         {0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xFD, 0x2C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x0E, 0x10, 0x00,
          0xFF, 0xF0, 0xFF, 0xF1, 0xFF, 0xFA, 0x2C, 0x65, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0xFF, 0xF0, 0xFF, 0xFB, 0x99, 0x03},
         {0x01, 0xFF, 0x02, 0xFF, 0xFF, 0x03},
         {{OPTION, Telnet::DO, COM_PORT, {}, false},
          {SB, 0, COM_PORT, {0x65, 0x00, 0x0E, 0x10, 0x00}, false},
          {Command::Kind::OTHER, 0xF1, 0, {}, false},
          {SB, 0, COM_PORT, {0x65, 0xFF, 0x00, 0x00, 0x01}, false},
          {OPTION, Telnet::WILL, 0x99, {}, false}}},
        // Cut without losing the data behind it.
        {"an overlong subnegotiation", overlong, {0x07, 0x08},
         {{SB, 0, COM_PORT, Bytes(Telnet::Decoder::MAX_PAYLOAD, 0x42), true}}},
        // IAC SB 2C 65 then IAC WILL 01 instead of IAC SE: the subnegotiation ends there.
        {"a subnegotiation broken off", {0xFF, 0xFA, 0x2C, 0x65, 0xFF, 0xFB, 0x01, 0x55}, {0x55},
         {{SB, 0, COM_PORT, {0x65}, false}, {OPTION, Telnet::WILL, 0x01, {}, false}}},
    };
    for (const auto& c : cases) {
        std::vector<std::vector<size_t>> cutSets{{}, {}};  // whole, and at every byte
        for (size_t cut = 1; cut < c.stream.size(); ++cut) {
            cutSets[1].push_back(cut);
            cutSets.push_back({cut});
        }
        for (const std::vector<size_t>& cuts : cutSets) {
            const std::string where = cuts.size() == 1 ? std::to_string(cuts[0]) : "every byte or none";
            SCOPED_TRACE(std::string(c.what) + ", cut at " + where);
            const Decoded d = FeedInPieces(c.stream, cuts);
            EXPECT_EQ(d.data, c.data);
            EXPECT_EQ(AllFields(d.commands), c.commands);
        }
    }
}

// Data written through a line is doubled too: Rfc2217Session in network_line_test.cpp.
TEST(TelnetEncoder, DoublesEveryIacInSubnegotiations)
{
    Bytes out;
    Telnet::AppendSubnegotiation(out, Telnet::OPTION_COM_PORT, {0x01, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(out, (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}));
}

}  // namespace
