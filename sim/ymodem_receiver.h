// Board side of the tool's YMODEM variant, receiving one file: block 0 names
// the file and gives its size ("0x..." hex, or decimal from textbook senders),
// data blocks of 128/1024/2048/4096/8192 bytes follow (heads 01/02/0A/0B/0C),
// then EOT and an all-zero closing block 0.
#pragma once

#include "sim/fault_schedule.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Sim {

namespace Ymodem {
constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t CAN = 0x18;
constexpr uint8_t C = 0x43;
constexpr uint8_t HEAD_2K = 0x0A;
constexpr uint8_t HEAD_4K = 0x0B;
constexpr uint8_t HEAD_8K = 0x0C;
constexpr size_t HEAD_LEN = 3;  // head, block number, its complement
constexpr size_t CRC_LEN = 2;   // CRC-16 of the data, high byte first

// Data bytes of a block with this head byte; 0 when the byte heads no block.
size_t DataSizeOfHead(uint8_t head);
// Head byte of a data block of this many bytes; 0 for a size no head announces.
uint8_t HeadOfDataSize(size_t size);
// One block as it goes on the line: head, number, complement, data padded with
// zeros to the block size, CRC.
std::vector<uint8_t> BuildBlock(uint8_t head, uint8_t number, const uint8_t* data, size_t length);
}  // namespace Ymodem

class YmodemReceiver {
public:
    using SendFn = std::function<void(const std::vector<uint8_t>&)>;
    enum class State { WAIT_HEADER, DATA, WAIT_CLOSING, DONE, FAILED };

    // Asking again for block 0 while nothing comes, giving up on a half block
    // or asking again for a block that does not come, prompting for the
    // closing block, giving up on a silent sender.
    static constexpr int64_t HEADER_PROMPT_MS = 100;
    static constexpr int64_t BLOCK_GAP_MS = 1000;
    static constexpr int64_t CLOSING_PROMPT_MS = 1000;
    static constexpr int64_t SILENCE_LIMIT_MS = 60000;

    // faults, when given, decides the fate of every intact data block.
    YmodemReceiver(SendFn send, uint64_t maxLength, FaultSchedule* faults = nullptr);

    void Start(int64_t nowMs);  // asks for block 0 at once
    void Feed(const uint8_t* data, size_t length, int64_t nowMs);
    void Tick(int64_t nowMs);

    State GetState() const { return m_state; }
    bool Finished() const { return m_state == State::DONE || m_state == State::FAILED; }
    // Nothing of the file has arrived yet and no block is half in: bytes that
    // are no block may still be a repeated command frame.
    bool Idle() const { return m_state == State::WAIT_HEADER && m_pending.empty(); }

    // Bytes that arrived after the transfer ended; they belong to whatever follows.
    std::vector<uint8_t> TakeLeftover();
    std::vector<std::string> TakeErrors();

    const std::string& FileName() const { return m_name; }
    bool HasFile() const { return m_hasFile; }
    bool HasSize() const { return m_hasSize; }
    uint64_t AnnouncedSize() const { return m_size; }
    // All data received, padding cut off when the size was announced.
    const std::vector<uint8_t>& Data() const { return m_data; }
    // The sender delivered fewer bytes than it announced.
    bool Short() const { return m_short; }
    size_t RepeatedBlocks() const { return m_repeated; }
    // Data bytes of the largest data block taken; 0 when none came.
    size_t BlockSize() const { return m_blockSize; }

private:
    void Process();
    void HandleEot();
    void HandleBlock(uint8_t number, const uint8_t* data, size_t size);
    void HandleHeader(const uint8_t* data, size_t size);
    void HandleDataBlock(uint8_t number, const uint8_t* data, size_t size);
    void HandleRepeatedBlock(uint8_t number);
    BlockFate Fate(uint64_t number, bool repeat);
    void Finish();
    void Fail(const std::string& why);
    void Error(const std::string& text) { m_errors.push_back(text); }
    void SendByte(uint8_t b);
    void ReportSkipped();

    SendFn m_send;
    uint64_t m_maxLength;
    FaultSchedule* m_faults;
    State m_state = State::WAIT_HEADER;
    std::vector<uint8_t> m_pending;
    std::vector<uint8_t> m_data;
    std::vector<std::string> m_errors;
    std::string m_name;
    bool m_hasFile = false;
    bool m_hasSize = false;
    bool m_short = false;
    uint64_t m_size = 0;
    uint64_t m_nextBlock = 1;  // counts on past 255; the line carries it modulo 256
    size_t m_repeated = 0;
    size_t m_blockSize = 0;
    size_t m_skipped = 0;
    int64_t m_now = 0;
    int64_t m_lastByteMs = 0;
    int64_t m_lastPromptMs = 0;
};

}  // namespace Sim
