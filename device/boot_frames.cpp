#include "device/boot_frames.h"

#include "common/checksum.h"

namespace BootFrame {

namespace {

void PutBe16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

void PutBe32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

void PutLe32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

uint16_t GetBe16(const uint8_t* at)
{
    return static_cast<uint16_t>((at[0] << 8) | at[1]);
}

uint16_t GetLe16(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t GetBe32(const uint8_t* at)
{
    return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
           (static_cast<uint32_t>(at[2]) << 8) | at[3];
}

uint32_t GetLe32(const uint8_t* at)
{
    return at[0] | (static_cast<uint32_t>(at[1]) << 8) | (static_cast<uint32_t>(at[2]) << 16) |
           (static_cast<uint32_t>(at[3]) << 24);
}

// Appends the BE16 CRC of the first `covered` bytes right behind them.
void SealBe(uint8_t* frame, uint32_t covered)
{
    PutBe16(frame + covered, Common::SopCrc16(frame, covered));
}

// Head frame
constexpr uint32_t HEAD_LENGTH_OFFSET = 4;
constexpr uint32_t HEAD_TARGET_OFFSET = 8;
constexpr uint32_t HEAD_CRC_OFFSET = 12;

// Data and tail frames: mark, sequence, complement, then payload
constexpr uint32_t ID_SEQUENCE_OFFSET = 1;
constexpr uint32_t ID_COMPLEMENT_OFFSET = 2;

// Reply frame
constexpr uint32_t REPLY_INDEX_OFFSET = 1;
constexpr uint32_t REPLY_COMPLEMENT_OFFSET = 2;
constexpr uint32_t REPLY_STATUS_OFFSET = 3;
constexpr uint32_t REPLY_CRC_OFFSET = 4;

// Handshake reply
constexpr uint32_t SHAKE_LENGTH_OFFSET = 4;
constexpr uint32_t SHAKE_STATUS_OFFSET = 8;
constexpr uint32_t SHAKE_CRC_OFFSET = 10;
constexpr uint16_t SHAKE_MIN_LENGTH = 2;
constexpr uint16_t SHAKE_MAX_LENGTH = 12;

// Start frame
constexpr uint32_t START_T1_OFFSET = 1;
constexpr uint32_t START_T2_OFFSET = 5;

// Command frames
constexpr uint32_t CMD_HEAD_CRC_OFFSET = 3;
constexpr uint32_t CMD_DATA_OFFSET = 1;

// Header
constexpr uint32_t HEADER_SEQUENCE_OFFSET = 1;
constexpr uint32_t HEADER_VALUE_OFFSET = 5;

// Board frame and its reply
constexpr uint32_t BOARD_TIME_OFFSET = 4;
constexpr uint32_t BOARD_TIME_AGAIN_OFFSET = 8;
constexpr uint32_t BOARD_CRC_OFFSET = 12;
constexpr uint32_t BOARD_REPLY_B_OFFSET = 1;
constexpr uint32_t BOARD_REPLY_A_OFFSET = 4;

constexpr uint8_t SYNC_PREFIX[3] = {0x00, 0xFF, 0x01};  // behind FE (head) or CE (board)

} // namespace

std::array<uint8_t, HEAD_FRAME_LENGTH> BuildHeadFrame(uint32_t length, uint32_t target)
{
    std::array<uint8_t, HEAD_FRAME_LENGTH> frame{};
    frame[0] = Common::XHEAD;
    frame[1] = SYNC_PREFIX[0];
    frame[2] = SYNC_PREFIX[1];
    frame[3] = SYNC_PREFIX[2];
    PutBe32(&frame[HEAD_LENGTH_OFFSET], length);
    PutBe32(&frame[HEAD_TARGET_OFFSET], target);
    SealBe(frame.data(), HEAD_CRC_OFFSET);
    return frame;
}

std::vector<uint8_t> BuildDataFrame(uint8_t sequence, const uint8_t* payload, uint32_t n)
{
    if (n > MAX_DATA_PAYLOAD || (payload == nullptr && n != 0)) {
        return {};
    }
    std::vector<uint8_t> frame(n + CRC_AND_ID_LEN);
    frame[0] = DATA_MARK;
    frame[ID_SEQUENCE_OFFSET] = sequence;
    frame[ID_COMPLEMENT_OFFSET] = static_cast<uint8_t>(~sequence);
    for (uint32_t i = 0; i < n; ++i) {
        frame[ID_LEN + i] = payload[i];
    }
    SealBe(frame.data(), ID_LEN + n);
    return frame;
}

std::array<uint8_t, TAIL_FRAME_LEN> BuildTailFrame(uint8_t count)
{
    std::array<uint8_t, TAIL_FRAME_LEN> frame{};
    frame[0] = FIEL_TAIL_MARK;
    frame[ID_SEQUENCE_OFFSET] = count;
    frame[ID_COMPLEMENT_OFFSET] = static_cast<uint8_t>(~count);
    SealBe(frame.data(), ID_LEN);
    return frame;
}

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

bool IsShakeReply(const uint8_t* window)
{
    if (GetLe32(window) != SHAKE_START_FLAG) {
        return false;
    }
    const uint16_t length = GetLe16(window + SHAKE_LENGTH_OFFSET);
    if (length < SHAKE_MIN_LENGTH || length > SHAKE_MAX_LENGTH) {
        return false;
    }
    if (Common::SopCrc16(window, SHAKE_CRC_OFFSET) != GetLe16(window + SHAKE_CRC_OFFSET)) {
        return false;
    }
    return window[SHAKE_STATUS_OFFSET] != Common::NACK;
}

std::array<uint8_t, START_FRAME_LENGTH> BuildStartFrame(uint32_t t1, uint32_t t2)
{
    std::array<uint8_t, START_FRAME_LENGTH> frame{};
    frame[0] = Common::XSTART;
    PutBe32(&frame[START_T1_OFFSET], t1);
    PutBe32(&frame[START_T2_OFFSET], t2);
    return frame;
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

std::array<uint8_t, Common::HEADER_LEN> BuildHeader(uint8_t type, uint32_t sequence, uint32_t value)
{
    std::array<uint8_t, Common::HEADER_LEN> header{};
    header[0] = type;
    PutLe32(&header[HEADER_SEQUENCE_OFFSET], sequence);
    PutLe32(&header[HEADER_VALUE_OFFSET], value);
    return header;
}

std::array<uint8_t, Common::BOARD_FRAME_SEND_LENGTH> BuildBoardFrame(uint32_t timeMs)
{
    std::array<uint8_t, Common::BOARD_FRAME_SEND_LENGTH> frame{};
    frame[0] = BOARD_FRAME_FLAG;
    frame[1] = SYNC_PREFIX[0];
    frame[2] = SYNC_PREFIX[1];
    frame[3] = SYNC_PREFIX[2];
    PutBe32(&frame[BOARD_TIME_OFFSET], timeMs);
    PutBe32(&frame[BOARD_TIME_AGAIN_OFFSET], timeMs);
    SealBe(frame.data(), BOARD_CRC_OFFSET);
    return frame;
}

bool CheckBoardReply(uint8_t flag, const uint8_t* frame, uint32_t length, bool hasTail)
{
    if (frame == nullptr) {
        return false;
    }
    if (hasTail) {
        if (length == 0 || frame[length - 1] != Common::ACK) {
            return false;
        }
        --length;
    }
    if (length < 3 || frame[0] != flag) {
        return false;
    }
    const uint32_t crcOffset = length - 2;
    return Common::SopCrc16(frame, crcOffset) == GetBe16(frame + crcOffset);
}

uint32_t BoardReplyValueA(const uint8_t* reply)
{
    return GetBe32(reply + BOARD_REPLY_A_OFFSET);
}

uint8_t BoardReplyValueB(const uint8_t* reply)
{
    return reply[BOARD_REPLY_B_OFFSET];
}

} // namespace BootFrame

namespace Common {

bool InitShakeHandCmd(uint8_t* buffer, uint32_t length, uint32_t baudRate)
{
    constexpr uint32_t BAUD_OFFSET = 3;
    constexpr uint32_t CRC_OFFSET = 7;
    if (buffer == nullptr || length != SHAKE_HAND_FRAME_LENGTH) {
        return false;
    }
    buffer[0] = XHDSHK;
    buffer[1] = 0x00;
    buffer[2] = 0xFF;
    BootFrame::PutBe32(buffer + BAUD_OFFSET, baudRate);
    BootFrame::SealBe(buffer, CRC_OFFSET);
    return true;
}

} // namespace Common
