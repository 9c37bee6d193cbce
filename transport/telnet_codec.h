// The telnet layer (RFC 854) under an RFC 2217 line, as pure functions: data
// with 0xFF doubled, option and subnegotiation frames, and an incremental
// decoder that splits what the server sends into data bytes and commands,
// whatever the TCP segment boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Telnet {

constexpr uint8_t IAC = 0xFF;
constexpr uint8_t DONT = 0xFE;
constexpr uint8_t DO = 0xFD;
constexpr uint8_t WONT = 0xFC;
constexpr uint8_t WILL = 0xFB;
constexpr uint8_t SB = 0xFA;
constexpr uint8_t SE = 0xF0;

constexpr uint8_t OPTION_BINARY = 0;
constexpr uint8_t OPTION_SUPPRESS_GO_AHEAD = 3;
constexpr uint8_t OPTION_COM_PORT = 44;

// Appends data with every IAC doubled.
void AppendData(std::vector<uint8_t>& out, const uint8_t* data, size_t length);
// IAC verb option (verb: WILL, WONT, DO, DONT).
void AppendOption(std::vector<uint8_t>& out, uint8_t verb, uint8_t option);
// IAC SB option payload IAC SE, with IAC doubled in the payload.
void AppendSubnegotiation(std::vector<uint8_t>& out, uint8_t option, const std::vector<uint8_t>& payload);

struct Command {
    enum class Kind { OPTION, SUBNEGOTIATION, OTHER };
    Kind kind = Kind::OTHER;
    uint8_t verb = 0;    // OPTION: WILL, WONT, DO, DONT; OTHER: the command byte
    uint8_t option = 0;  // OPTION and SUBNEGOTIATION
    std::vector<uint8_t> payload;  // SUBNEGOTIATION, IAC undoubled
    bool truncated = false;        // the payload was longer than the decoder keeps
};

class Decoder {
public:
    // A subnegotiation longer than this is cut (RFC 2217 ones are a few bytes).
    static constexpr size_t MAX_PAYLOAD = 64;

    // Consumes input; writes its data bytes to data (which may be input
    // itself: data never runs ahead of input) and appends the completed
    // commands. The number of data bytes.
    size_t Feed(const uint8_t* input, size_t length, uint8_t* data, std::vector<Command>& commands);

private:
    enum class State { DATA, IAC_SEEN, OPTION_VERB, SB_OPTION, SB_DATA, SB_IAC };

    // The byte after an IAC.
    void OnCommandByte(uint8_t byte, uint8_t* data, size_t& count, std::vector<Command>& commands);

    State m_state = State::DATA;
    Command m_pending;
};

}  // namespace Telnet
