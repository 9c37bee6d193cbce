#include "sim/ymodem_receiver.h"

#include "common/checksum.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Sim {

namespace Ymodem {

size_t DataSizeOfHead(uint8_t head)
{
    switch (head) {
    case SOH: return 128;
    case STX: return 1024;
    case HEAD_2K: return 2048;
    case HEAD_4K: return 4096;
    case HEAD_8K: return 8192;
    default: return 0;
    }
}

uint8_t HeadOfDataSize(size_t size)
{
    for (uint8_t head : {STX, HEAD_2K, HEAD_4K, HEAD_8K}) {
        if (DataSizeOfHead(head) == size) {
            return head;
        }
    }
    return 0;
}

std::vector<uint8_t> BuildBlock(uint8_t head, uint8_t number, const uint8_t* data, size_t length)
{
    const size_t size = DataSizeOfHead(head);
    std::vector<uint8_t> block(HEAD_LEN + size + CRC_LEN, 0x00);
    block[0] = head;
    block[1] = number;
    block[2] = static_cast<uint8_t>(0xFF - number);
    if (length > 0) {
        std::memcpy(&block[HEAD_LEN], data, std::min(length, size));
    }
    const uint16_t crc = Common::SopCrc16(&block[HEAD_LEN], static_cast<uint32_t>(size));
    block[HEAD_LEN + size] = static_cast<uint8_t>(crc >> 8);
    block[HEAD_LEN + size + 1] = static_cast<uint8_t>(crc & 0xFF);
    return block;
}

}  // namespace Ymodem

namespace {

std::string Format(const char* format, unsigned long long a, unsigned long long b = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

YmodemReceiver::YmodemReceiver(SendFn send, uint64_t maxLength, FaultSchedule* faults)
    : m_send(std::move(send)), m_maxLength(maxLength), m_faults(faults)
{
}

void YmodemReceiver::Start(int64_t nowMs)
{
    m_now = nowMs;
    m_lastByteMs = nowMs;
    SendByte(Ymodem::C);
}

void YmodemReceiver::Feed(const uint8_t* data, size_t length, int64_t nowMs)
{
    m_now = nowMs;
    if (length == 0) {
        return;
    }
    m_lastByteMs = nowMs;
    m_pending.insert(m_pending.end(), data, data + length);
    if (!Finished()) {
        Process();
    }
}

void YmodemReceiver::Tick(int64_t nowMs)
{
    m_now = nowMs;
    if (Finished()) {
        return;
    }
    const int64_t quiet = nowMs - m_lastByteMs;
    if (quiet >= SILENCE_LIMIT_MS) {
        Fail("the sender went silent");
        return;
    }
    if (!m_pending.empty()) {
        if (quiet >= BLOCK_GAP_MS) {
            Error(Format("incomplete block dropped after %llu bytes", m_pending.size()));
            m_pending.clear();
            SendByte(Ymodem::C);
        }
        return;
    }
    const int64_t sincePrompt = nowMs - m_lastPromptMs;
    if (m_state == State::WAIT_HEADER && sincePrompt >= HEADER_PROMPT_MS) {
        SendByte(Ymodem::C);
    } else if (m_state == State::DATA && quiet >= BLOCK_GAP_MS && sincePrompt >= BLOCK_GAP_MS) {
        // The next block does not come: our ACK may have been lost. Ask
        // again; a block the tool sends again is taken once only.
        SendByte(Ymodem::C);
    } else if (m_state == State::WAIT_CLOSING && quiet >= CLOSING_PROMPT_MS && sincePrompt >= CLOSING_PROMPT_MS) {
        // A textbook sender waits for this before its closing block 0.
        SendByte(Ymodem::C);
    }
}

std::vector<uint8_t> YmodemReceiver::TakeLeftover()
{
    std::vector<uint8_t> rest;
    if (Finished()) {
        rest.swap(m_pending);
    }
    return rest;
}

std::vector<std::string> YmodemReceiver::TakeErrors()
{
    std::vector<std::string> errors;
    errors.swap(m_errors);
    return errors;
}

void YmodemReceiver::Process()
{
    size_t at = 0;
    while (!Finished() && at < m_pending.size()) {
        const uint8_t head = m_pending[at];
        if (head == Ymodem::EOT) {
            ++at;
            HandleEot();
            continue;
        }
        if (head == Ymodem::CAN) {
            if (at + 1 >= m_pending.size()) {
                break;
            }
            if (m_pending[at + 1] == Ymodem::CAN) {
                at += 2;
                Fail("the sender cancelled the transfer");
                break;
            }
        }
        const size_t dataSize = Ymodem::DataSizeOfHead(head);
        if (dataSize == 0) {
            ++m_skipped;
            ++at;
            continue;
        }
        if (m_pending.size() - at < Ymodem::HEAD_LEN) {
            break;
        }
        const uint8_t number = m_pending[at + 1];
        if (static_cast<uint8_t>(number + m_pending[at + 2]) != 0xFF) {
            ++m_skipped;  // a head byte inside junk, not a block
            ++at;
            continue;
        }
        const size_t frameSize = Ymodem::HEAD_LEN + dataSize + Ymodem::CRC_LEN;
        if (m_pending.size() - at < frameSize) {
            break;
        }
        const uint8_t* payload = &m_pending[at + Ymodem::HEAD_LEN];
        const uint16_t expected = Common::SopCrc16(payload, static_cast<uint32_t>(dataSize));
        const uint16_t carried = static_cast<uint16_t>((payload[dataSize] << 8) | payload[dataSize + 1]);
        ReportSkipped();
        if (expected != carried) {
            Error(Format("block %llu: CRC 0x%04llx does not match the data", number, carried));
            // The rest of the input belongs to the broken block; ask for it again.
            at = m_pending.size();
            SendByte(Ymodem::C);
            break;
        }
        HandleBlock(number, payload, dataSize);
        at += frameSize;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(at));
}

void YmodemReceiver::ReportSkipped()
{
    if (m_skipped > 0) {
        Error(Format("%llu bytes outside any block ignored", m_skipped));
        m_skipped = 0;
    }
}

void YmodemReceiver::HandleEot()
{
    ReportSkipped();
    if (m_state == State::DATA || m_state == State::WAIT_CLOSING) {
        // The first EOT is acknowledged at once: the tool's sender takes no NAK here.
        m_state = State::WAIT_CLOSING;
        m_lastPromptMs = m_now;
        SendByte(Ymodem::ACK);
    } else {
        Error("EOT before block 0 ignored");
    }
}

void YmodemReceiver::HandleBlock(uint8_t number, const uint8_t* data, size_t size)
{
    switch (m_state) {
    case State::WAIT_HEADER:
        if (number != 0) {
            Error(Format("data block %llu before block 0 ignored", number));
            return;
        }
        HandleHeader(data, size);
        return;
    case State::DATA:
        HandleDataBlock(number, data, size);
        return;
    case State::WAIT_CLOSING: {
        const bool empty = std::all_of(data, data + size, [](uint8_t b) { return b == 0; });
        if (number == 0 && empty) {
            SendByte(Ymodem::ACK);
            Finish();
        } else if (number == static_cast<uint8_t>(m_nextBlock - 1)) {
            HandleRepeatedBlock(number);
        } else if (number == 0) {
            SendByte(Ymodem::CAN);
            SendByte(Ymodem::CAN);
            Fail("a second file in one transfer");
        } else {
            Error(Format("block %llu after EOT ignored", number));
        }
        return;
    }
    default:
        return;
    }
}

void YmodemReceiver::HandleHeader(const uint8_t* data, size_t size)
{
    const auto* nameEnd = std::find(data, data + size, uint8_t{0});
    m_name.assign(data, nameEnd);
    if (m_name.empty()) {
        // An empty batch: the sender had nothing to send.
        SendByte(Ymodem::ACK);
        Finish();
        return;
    }
    m_hasFile = true;
    std::string sizeText;
    if (nameEnd != data + size) {
        const auto* textEnd = std::find(nameEnd + 1, data + size, uint8_t{0});
        sizeText.assign(nameEnd + 1, textEnd);
    }
    // The tool writes "0x..." hex; textbook senders write decimal followed by
    // the modification time.
    const char* text = sizeText.c_str();
    char* end = nullptr;
    const bool hex = sizeText.size() > 2 && sizeText[0] == '0' && (sizeText[1] == 'x' || sizeText[1] == 'X');
    const unsigned long long value = std::strtoull(hex ? text + 2 : text, &end, hex ? 16 : 10);
    m_hasSize = end != nullptr && end != (hex ? text + 2 : text) && (*end == '\0' || *end == ' ');
    m_size = m_hasSize ? value : 0;
    if (!m_hasSize) {
        Error("block 0 of " + m_name + " carries no readable size: \"" + sizeText + "\"");
    } else if (m_size > m_maxLength) {
        SendByte(Ymodem::CAN);
        SendByte(Ymodem::CAN);
        Fail(Format("announced size %llu exceeds the %llu bytes the board can take", m_size, m_maxLength));
        return;
    }
    m_state = State::DATA;
    m_nextBlock = 1;
    if (m_faults != nullptr) {
        m_faults->TransferStarted();
    }
    SendByte(Ymodem::ACK);
    SendByte(Ymodem::C);  // textbook: ask for the first data block
}

void YmodemReceiver::HandleDataBlock(uint8_t number, const uint8_t* data, size_t size)
{
    const auto expected = static_cast<uint8_t>(m_nextBlock);
    if (number == expected) {
        const bool beyond = m_hasSize ? m_data.size() >= m_size : m_data.size() >= m_maxLength;
        if (beyond) {
            SendByte(Ymodem::CAN);
            SendByte(Ymodem::CAN);
            Fail(Format("block %llu lies beyond the announced size %llu", number, m_size));
            return;
        }
        const BlockFate fate = Fate(m_nextBlock, false);
        if (fate == BlockFate::ASK_AGAIN) {
            SendByte(Ymodem::C);  // dropped as a broken block would be
            return;
        }
        m_data.insert(m_data.end(), data, data + size);
        m_blockSize = std::max(m_blockSize, size);
        ++m_nextBlock;
        if (fate == BlockFate::TAKE) {
            SendByte(Ymodem::ACK);
        }
        return;
    }
    if (number == static_cast<uint8_t>(m_nextBlock - 1)) {
        HandleRepeatedBlock(number);
        return;
    }
    SendByte(Ymodem::CAN);
    SendByte(Ymodem::CAN);
    Fail(Format("block %llu out of sequence, expected %llu", number, expected));
}

void YmodemReceiver::HandleRepeatedBlock(uint8_t number)
{
    // Our ACK was lost or the sender answered a 'C': take it once only.
    ++m_repeated;
    const BlockFate fate = number == 0 ? BlockFate::TAKE : Fate(m_nextBlock - 1, true);
    if (fate == BlockFate::ASK_AGAIN) {
        SendByte(Ymodem::C);
        return;
    }
    if (fate == BlockFate::TAKE) {
        SendByte(Ymodem::ACK);
    }
    if (number == 0) {
        SendByte(Ymodem::C);
    }
}

BlockFate YmodemReceiver::Fate(uint64_t number, bool repeat)
{
    return m_faults == nullptr ? BlockFate::TAKE : m_faults->TakeBlock(number, repeat);
}

void YmodemReceiver::Finish()
{
    ReportSkipped();
    if (m_hasFile && m_hasSize) {
        if (m_data.size() < m_size) {
            m_short = true;
            Error(Format("received %llu bytes of the %llu announced", m_data.size(), m_size));
        } else {
            const bool zeros = std::all_of(m_data.begin() + static_cast<std::ptrdiff_t>(m_size), m_data.end(),
                                           [](uint8_t b) { return b == 0; });
            if (!zeros) {
                Error("padding of the last block is not zero");
            }
            m_data.resize(static_cast<size_t>(m_size));
        }
    }
    m_state = State::DONE;
}

void YmodemReceiver::Fail(const std::string& why)
{
    ReportSkipped();
    Error(why);
    m_state = State::FAILED;
}

void YmodemReceiver::SendByte(uint8_t b)
{
    if (b == Ymodem::C) {
        m_lastPromptMs = m_now;
    }
    m_send(std::vector<uint8_t>{b});
}

}  // namespace Sim
