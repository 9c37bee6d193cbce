#include "device/boot_frames.h"

#include "common/checksum.h"

namespace BootFrame {

namespace {

void PutBe16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

uint16_t GetBe16(const uint8_t* at)
{
    return static_cast<uint16_t>((at[0] << 8) | at[1]);
}

// Appends the BE16 CRC of the first `covered` bytes right behind them.
void SealBe(uint8_t* frame, uint32_t covered)
{
    PutBe16(frame + covered, Common::SopCrc16(frame, covered));
}

// Data and tail frames: mark, sequence, complement, then payload
constexpr uint32_t ID_SEQUENCE_OFFSET = 1;

// Reply frame
constexpr uint32_t REPLY_INDEX_OFFSET = 1;
constexpr uint32_t REPLY_COMPLEMENT_OFFSET = 2;
constexpr uint32_t REPLY_STATUS_OFFSET = 3;
constexpr uint32_t REPLY_CRC_OFFSET = 4;

// Command frames
constexpr uint32_t CMD_HEAD_CRC_OFFSET = 3;
constexpr uint32_t CMD_DATA_OFFSET = 1;

}  // namespace

ReplyCheck CheckReplyWindow(const uint8_t* window, const uint8_t* sent)
{
    if (window[0] != Common::XACK) {
        return ReplyCheck::NOT_XACK;
    }
    const bool answersDataOrTail = sent[0] == Common::XDATA || sent[0] == Common::XTAIL;
    if (!answersDataOrTail &&
        window[REPLY_INDEX_OFFSET] + window[REPLY_COMPLEMENT_OFFSET] != 0xFF) {
        return ReplyCheck::BAD_COMPLEMENT;
    }
    if (answersDataOrTail && window[REPLY_INDEX_OFFSET] != sent[ID_SEQUENCE_OFFSET]) {
        return ReplyCheck::BAD_INDEX;
    }
    if (window[REPLY_STATUS_OFFSET] == Common::NACK) {
        return ReplyCheck::REJECTED;
    }
    if (Common::SopCrc16(window, REPLY_CRC_OFFSET) != GetBe16(window + REPLY_CRC_OFFSET)) {
        return ReplyCheck::BAD_CRC;
    }
    return ReplyCheck::ACCEPTED;
}

std::array<uint8_t, CMD_HEAD_FRAME_LENGTH> BuildCmdHeadFrame(uint32_t n)
{
    std::array<uint8_t, CMD_HEAD_FRAME_LENGTH> frame{};
    frame[0] = Common::XCMD;
    frame[1] = static_cast<uint8_t>(n >> 8);
    frame[2] = static_cast<uint8_t>(n);
    SealBe(frame.data(), CMD_HEAD_CRC_OFFSET);
    return frame;
}

uint32_t BuildCmdDataFrame(const uint8_t* cmd, uint32_t n, std::array<uint8_t, CMD_FRAME_BUFFER_SIZE>& frame)
{
    if (n > MAX_CMD_LENGTH || (cmd == nullptr && n != 0)) {
        return 0;
    }
    frame.fill(0);
    frame[0] = Common::XKEY;
    for (uint32_t i = 0; i < n; ++i) {
        frame[CMD_DATA_OFFSET + i] = cmd[i];
    }
    SealBe(frame.data(), CMD_DATA_OFFSET + n);
    return n + 3;
}

}  // namespace BootFrame
