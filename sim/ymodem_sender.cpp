#include "sim/ymodem_sender.h"

#include "sim/fault_schedule.h"
#include "sim/ymodem_receiver.h"

#include <algorithm>
#include <cstdio>

namespace Sim {

YmodemSender::YmodemSender(SendFn send, std::string name, std::vector<uint8_t> data, size_t blockSize,
                           FaultSchedule* faults)
    : m_send(std::move(send)),
      m_name(std::move(name)),
      m_data(std::move(data)),
      m_blockSize(Ymodem::HeadOfDataSize(blockSize) != 0 ? blockSize : DEFAULT_BLOCK_SIZE),
      m_head(Ymodem::HeadOfDataSize(m_blockSize)),
      m_faults(faults)
{
}

std::vector<uint8_t> YmodemSender::BuildHeader(const std::string& name, uint64_t size)
{
    std::vector<uint8_t> text(128, 0x00);
    if (!name.empty()) {
        char sizeText[24];
        std::snprintf(sizeText, sizeof sizeText, "0x%llx", static_cast<unsigned long long>(size));
        const size_t nameLength = std::min<size_t>(name.size(), 100);
        std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(nameLength), text.begin());
        std::copy(sizeText, sizeText + std::char_traits<char>::length(sizeText), text.begin() + static_cast<std::ptrdiff_t>(nameLength + 1));
    }
    return Ymodem::BuildBlock(Ymodem::SOH, 0, text.data(), text.size());
}

void YmodemSender::Start(int64_t nowMs)
{
    m_lastByteMs = nowMs;
}

void YmodemSender::Feed(const uint8_t* data, size_t length, int64_t nowMs)
{
    if (length > 0) {
        m_lastByteMs = nowMs;
    }
    for (size_t i = 0; i < length; ++i) {
        if (Finished()) {
            m_leftover.insert(m_leftover.end(), data + i, data + length);
            return;
        }
        TakeByte(data[i]);
    }
}

void YmodemSender::Tick(int64_t nowMs)
{
    if (!Finished() && nowMs - m_lastByteMs >= SILENCE_LIMIT_MS) {
        Fail("the receiver went silent");
    }
}

std::vector<uint8_t> YmodemSender::TakeLeftover()
{
    std::vector<uint8_t> rest;
    rest.swap(m_leftover);
    return rest;
}

std::vector<std::string> YmodemSender::TakeErrors()
{
    std::vector<std::string> errors;
    errors.swap(m_errors);
    return errors;
}

void YmodemSender::TakeByte(uint8_t b)
{
    if (b == Ymodem::CAN) {
        if (m_sawCan) {
            Fail("the receiver cancelled the transfer");
            return;
        }
        m_sawCan = true;
        return;
    }
    m_sawCan = false;
    // The fault plan may lose the ACK of a data block or of the EOT on the line.
    const bool lossy = m_state == State::WAIT_DATA_ACK || m_state == State::WAIT_EOT_ACK;
    const bool ack = b == Ymodem::ACK && !(lossy && m_faults != nullptr && m_faults->LoseReadBackAck());
    // 'C' and NAK both ask for the last thing again (the tool's receiver uses 'C').
    const bool again = b == Ymodem::C || b == Ymodem::NAK;
    switch (m_state) {
    case State::WAIT_START:
        if (again) {
            SendHeader();
            m_state = State::WAIT_HEADER_ACK;
        }
        break;
    case State::WAIT_HEADER_ACK:
        if (ack) {
            m_state = State::WAIT_DATA_START;
        } else if (again) {
            ++m_resent;
            SendHeader();
        }
        break;
    case State::WAIT_DATA_START:
        if (again) {
            SendNextOrEot();
        }
        break;
    case State::WAIT_DATA_ACK:
        if (ack) {
            ++m_block;
            SendNextOrEot();
        } else if (again) {
            ++m_resent;
            SendCurrentBlock();
        }
        break;
    case State::WAIT_EOT_ACK:
        if (ack) {
            m_state = State::WAIT_CLOSING_START;
        } else if (again) {
            m_send({Ymodem::EOT});
        }
        break;
    case State::WAIT_CLOSING_START:
        if (again) {
            m_send(BuildHeader("", 0));
            m_state = State::WAIT_CLOSING_ACK;
        }
        break;
    case State::WAIT_CLOSING_ACK:
        if (ack) {
            m_state = State::DONE;
        } else if (again) {
            ++m_resent;
            m_send(BuildHeader("", 0));
        }
        break;
    default:
        break;
    }
}

void YmodemSender::SendHeader()
{
    m_send(BuildHeader(m_name, m_data.size()));
}

void YmodemSender::SendCurrentBlock()
{
    const size_t offset = m_block * m_blockSize;
    const size_t chunk = std::min(m_blockSize, m_data.size() - offset);
    m_send(Ymodem::BuildBlock(m_head, static_cast<uint8_t>(m_block + 1), m_data.data() + offset, chunk));
}

void YmodemSender::SendNextOrEot()
{
    if (m_block * m_blockSize < m_data.size()) {
        SendCurrentBlock();
        m_state = State::WAIT_DATA_ACK;
    } else {
        m_send({Ymodem::EOT});
        m_state = State::WAIT_EOT_ACK;
    }
}

void YmodemSender::Fail(const std::string& why)
{
    m_errors.push_back(why);
    m_state = State::FAILED;
}

}  // namespace Sim
