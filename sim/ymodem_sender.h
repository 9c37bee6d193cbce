// Board side of a read-back: the board sends one file with the tool's YMODEM
// variant, in data blocks of 1024 bytes (STX) or of the larger sizes the
// variant names (2048, 4096, 8192), the last one padded with zeros; block 0
// carries the size as "0x..." hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Sim {

class FaultSchedule;

class YmodemSender {
public:
    using SendFn = std::function<void(const std::vector<uint8_t>&)>;
    enum class State { WAIT_START, WAIT_HEADER_ACK, WAIT_DATA_START, WAIT_DATA_ACK, WAIT_EOT_ACK,
                       WAIT_CLOSING_START, WAIT_CLOSING_ACK, DONE, FAILED };

    static constexpr size_t DEFAULT_BLOCK_SIZE = 1024;
    static constexpr int64_t SILENCE_LIMIT_MS = 10000;

    // blockSize: data bytes per block; a size no head byte announces is taken as 1024.
    // faults, when given, may lose the receiver's ACK of a data block.
    YmodemSender(SendFn send, std::string name, std::vector<uint8_t> data, size_t blockSize = DEFAULT_BLOCK_SIZE,
                 FaultSchedule* faults = nullptr);

    void Start(int64_t nowMs);  // waits for the receiver's 'C'
    void Feed(const uint8_t* data, size_t length, int64_t nowMs);
    void Tick(int64_t nowMs);

    State GetState() const { return m_state; }
    bool Finished() const { return m_state == State::DONE || m_state == State::FAILED; }
    std::vector<uint8_t> TakeLeftover();
    std::vector<std::string> TakeErrors();
    size_t Resent() const { return m_resent; }

    // Block 0 of a file, or the closing block 0 when the name is empty.
    static std::vector<uint8_t> BuildHeader(const std::string& name, uint64_t size);

private:
    void TakeByte(uint8_t b);
    void SendHeader();
    void SendCurrentBlock();
    void SendNextOrEot();
    void Fail(const std::string& why);

    SendFn m_send;
    std::string m_name;
    std::vector<uint8_t> m_data;
    size_t m_blockSize;
    uint8_t m_head;
    FaultSchedule* m_faults;
    State m_state = State::WAIT_START;
    size_t m_block = 0;  // data blocks sent and acknowledged so far
    size_t m_resent = 0;
    bool m_sawCan = false;
    std::vector<uint8_t> m_leftover;
    std::vector<std::string> m_errors;
    int64_t m_lastByteMs = 0;
};

}  // namespace Sim
