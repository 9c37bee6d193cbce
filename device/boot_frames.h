// The binary frames exchanged with a board's boot ROM and loader, built and
// parsed here and nowhere else. Boot-ROM frames carry big-endian numbers; the
// handshake reply and the 9-byte header are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Common {

inline constexpr uint8_t XSTART = 0xFE;
inline constexpr uint8_t XHEAD = 0xFE;
inline constexpr uint8_t XDATA = 0xDA;
inline constexpr uint8_t XTAIL = 0xED;
inline constexpr uint8_t XCMD = 0xAB;
inline constexpr uint8_t XKEY = 0xCD;
inline constexpr uint8_t ACK = 0xAA;   // single-byte accept
inline constexpr uint8_t NAK = 0x55;   // single-byte reject
inline constexpr uint8_t XACK = 0xCB;  // first byte of a reply frame
inline constexpr uint8_t NACK = 0xA5;  // reply status: rejected
inline constexpr uint32_t ACK_LEN = 6;
inline constexpr uint32_t HEADER_LEN = 9;
inline constexpr uint32_t BOARD_FRAME_SEND_LENGTH = 14;
inline constexpr uint32_t BOARD_FRAME_REPLY_LENGTH = 11;

// Baud-rate handshake frame: BE 00 FF | baud BE32 | CRC(0..6) BE16. Written
// only when length is SHAKE_HAND_FRAME_LENGTH.
inline constexpr uint32_t SHAKE_HAND_FRAME_LENGTH = 9;
inline constexpr uint8_t XHDSHK = 0xBE;
bool InitShakeHandCmd(uint8_t* buffer, uint32_t length, uint32_t baudRate);

} // namespace Common

namespace BootFrame {

inline constexpr uint32_t HEAD_FRAME_LENGTH = 14;
inline constexpr uint32_t MAX_DATA_FRAME_LENGTH = 1032;
inline constexpr uint32_t ID_LEN = 3;          // mark, sequence, complement
inline constexpr uint32_t CRC_AND_ID_LEN = 5;
inline constexpr uint32_t TAIL_FRAME_LEN = 5;
inline constexpr uint8_t DATA_MARK = 0xDA;
inline constexpr uint8_t FIEL_TAIL_MARK = 0xED;
inline constexpr uint32_t MAX_DATA_PAYLOAD = MAX_DATA_FRAME_LENGTH - CRC_AND_ID_LEN;  // 1027
inline constexpr uint32_t FILE_BLOCK_SIZE = 1024;

inline constexpr uint32_t START_FRAME_LENGTH = 9;
inline constexpr uint32_t CMD_HEAD_FRAME_LENGTH = 5;
inline constexpr uint32_t CMD_FRAME_BUFFER_SIZE = 128;
inline constexpr uint32_t MAX_CMD_LENGTH = CMD_FRAME_BUFFER_SIZE - 3;  // 125

inline constexpr uint32_t SHAKE_START_FLAG = 0xDEADBEEF;
inline constexpr uint32_t SHAKE_PACKET_SIZE = 18;
inline constexpr uint8_t SHAKE_FRAME_TYPE = 0xF0;
inline constexpr uint8_t SHAKE_TYPE_REVERSE = 0x0F;
inline constexpr uint32_t SHAKE_DATA_BITS = 8;
inline constexpr double SHAKE_DELAY_US_TIME = 180.0;
inline constexpr uint32_t SHAKE_REPLY_LENGTH = 12;

inline constexpr uint8_t BOARD_FRAME_FLAG = 0xCE;

// --- serial file transfer (answered by one ACK/NAK byte) ----------------------

// FE 00 FF 01 | length BE32 | target BE32 | CRC(0..11) BE16
std::array<uint8_t, HEAD_FRAME_LENGTH> BuildHeadFrame(uint32_t length, uint32_t target);

// DA | s | ~s | payload | CRC(0..n+2) BE16. Empty when n exceeds MAX_DATA_PAYLOAD.
std::vector<uint8_t> BuildDataFrame(uint8_t sequence, const uint8_t* payload, uint32_t n);

// ED | c | ~c | CRC(0..2) BE16
std::array<uint8_t, TAIL_FRAME_LEN> BuildTailFrame(uint8_t count);

// --- reply frame (6 bytes, answers SendFrame) ---------------------------------

enum class ReplyCheck {
    ACCEPTED,
    NOT_XACK,         // byte 0 is not CB
    BAD_COMPLEMENT,   // index and its complement do not add up to FF
    BAD_INDEX,        // index differs from the sequence byte of the data/tail frame sent
    REJECTED,         // status A5
    BAD_CRC,
};

// Checks one 6-byte window CB | i | ~i | status | CRC(0..3) BE16 against the
// frame it answers (its first two bytes are read).
ReplyCheck CheckReplyWindow(const uint8_t* window, const uint8_t* sent);

// --- handshake reply (12 bytes) -----------------------------------------------

// EF BE AD DE | length LE16 in 2..12 | -- -- | status != A5 | -- | CRC(0..9) LE16
bool IsShakeReply(const uint8_t* window);

// --- start and command frames -------------------------------------------------

// FE | t1 BE32 | t2 BE32
std::array<uint8_t, START_FRAME_LENGTH> BuildStartFrame(uint32_t t1, uint32_t t2);

// AB | n high | n low | CRC(0..2) BE16
std::array<uint8_t, CMD_HEAD_FRAME_LENGTH> BuildCmdHeadFrame(uint32_t n);

// CD | n command bytes | CRC(0..n) BE16 into a 128-byte buffer; returns n + 3,
// or 0 when the command does not fit.
uint32_t BuildCmdDataFrame(const uint8_t* cmd, uint32_t n, std::array<uint8_t, CMD_FRAME_BUFFER_SIZE>& frame);

// type | sequence LE32 | value LE32
std::array<uint8_t, Common::HEADER_LEN> BuildHeader(uint8_t type, uint32_t sequence, uint32_t value);

// --- board frame --------------------------------------------------------------

// CE 00 FF 01 | t BE32 | t BE32 | CRC(0..11) BE16
std::array<uint8_t, Common::BOARD_FRAME_SEND_LENGTH> BuildBoardFrame(uint32_t timeMs);

// With hasTail the last byte must be AA and is left out; then byte 0 must be
// the flag and the last two bytes the CRC (BE16) of everything before them.
bool CheckBoardReply(uint8_t flag, const uint8_t* frame, uint32_t length, bool hasTail);

// Board frame reply: CE | B | -- -- | A BE32 | CRC(0..7) BE16 | AA
uint32_t BoardReplyValueA(const uint8_t* reply);
uint8_t BoardReplyValueB(const uint8_t* reply);

} // namespace BootFrame
