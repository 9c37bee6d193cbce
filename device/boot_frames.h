// The binary frames exchanged with a board's boot ROM and loader, built and
// parsed here and nowhere else; their numbers are big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Common {

inline constexpr uint8_t XDATA = 0xDA;
inline constexpr uint8_t XTAIL = 0xED;
inline constexpr uint8_t XCMD = 0xAB;
inline constexpr uint8_t XKEY = 0xCD;
inline constexpr uint8_t ACK = 0xAA;   // single-byte accept
inline constexpr uint8_t NAK = 0x55;   // single-byte reject
inline constexpr uint8_t XACK = 0xCB;  // first byte of a reply frame
inline constexpr uint8_t NACK = 0xA5;  // reply status: rejected
inline constexpr uint32_t ACK_LEN = 6;

} // namespace Common

namespace BootFrame {

inline constexpr uint32_t CMD_HEAD_FRAME_LENGTH = 5;
inline constexpr uint32_t CMD_FRAME_BUFFER_SIZE = 128;
inline constexpr uint32_t MAX_CMD_LENGTH = CMD_FRAME_BUFFER_SIZE - 3;  // 125

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

// --- text command frames --------------------------------------------------------

// AB | n high | n low | CRC(0..2) BE16
std::array<uint8_t, CMD_HEAD_FRAME_LENGTH> BuildCmdHeadFrame(uint32_t n);

// CD | n command bytes | CRC(0..n) BE16 into a 128-byte buffer; returns n + 3,
// or 0 when the command does not fit.
uint32_t BuildCmdDataFrame(const uint8_t* cmd, uint32_t n, std::array<uint8_t, CMD_FRAME_BUFFER_SIZE>& frame);

} // namespace BootFrame
