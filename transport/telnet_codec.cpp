#include "transport/telnet_codec.h"

namespace Telnet {

void AppendData(std::vector<uint8_t>& out, const uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == IAC) {
            out.push_back(IAC);
        }
    }
}

void AppendOption(std::vector<uint8_t>& out, uint8_t verb, uint8_t option)
{
    out.push_back(IAC);
    out.push_back(verb);
    out.push_back(option);
}

void AppendSubnegotiation(std::vector<uint8_t>& out, uint8_t option, const std::vector<uint8_t>& payload)
{
    out.push_back(IAC);
    out.push_back(SB);
    out.push_back(option);
    AppendData(out, payload.data(), payload.size());
    out.push_back(IAC);
    out.push_back(SE);
}

void Decoder::OnCommandByte(uint8_t byte, uint8_t* data, size_t& count, std::vector<Command>& commands)
{
    m_pending = Command();
    m_state = State::DATA;
    if (byte == IAC) {
        data[count++] = IAC;
    } else if (byte >= WILL) {
        m_pending.kind = Command::Kind::OPTION;
        m_pending.verb = byte;
        m_state = State::OPTION_VERB;
    } else if (byte == SB) {
        m_pending.kind = Command::Kind::SUBNEGOTIATION;
        m_state = State::SB_OPTION;
    } else {
        // NOP, GA, BREAK and the like carry no data and no option.
        m_pending.verb = byte;
        commands.push_back(m_pending);
    }
}

size_t Decoder::Feed(const uint8_t* input, size_t length, uint8_t* data, std::vector<Command>& commands)
{
    size_t count = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t byte = input[i];
        switch (m_state) {
            case State::DATA:
                if (byte == IAC) {
                    m_state = State::IAC_SEEN;
                } else {
                    data[count++] = byte;
                }
                break;
            case State::IAC_SEEN:
                OnCommandByte(byte, data, count, commands);
                break;
            case State::OPTION_VERB:
                m_pending.option = byte;
                commands.push_back(m_pending);
                m_state = State::DATA;
                break;
            case State::SB_OPTION:
                m_pending.option = byte;
                m_state = State::SB_DATA;
                break;
            case State::SB_DATA:
                if (byte == IAC) {
                    m_state = State::SB_IAC;
                } else if (m_pending.payload.size() < MAX_PAYLOAD) {
                    m_pending.payload.push_back(byte);
                } else {
                    m_pending.truncated = true;
                }
                break;
            case State::SB_IAC:
                if (byte == IAC) {
                    if (m_pending.payload.size() < MAX_PAYLOAD) {
                        m_pending.payload.push_back(IAC);
                    } else {
                        m_pending.truncated = true;
                    }
                    m_state = State::SB_DATA;
                } else {
                    // SE ends it; any other command also ends a broken one
                    // rather than swallowing the data behind it.
                    commands.push_back(m_pending);
                    m_state = State::DATA;
                    if (byte != SE) {
                        OnCommandByte(byte, data, count, commands);
                    }
                }
                break;
        }
    }
    return count;
}

}  // namespace Telnet
