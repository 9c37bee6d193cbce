// Wire frames of the Vb27/Qn4180 boot ROM and loader: command frames, the
// ACK frame the board answers with, and the reset frame. Every byte of these
// frames is built or parsed here and nowhere else. All multi-byte fields are
// little-endian; the check field is SopCrc16 of every byte before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Vb27Frames {

// --- command frame ----------------------------------------------------------
//  0  4  START_FLAG (EF BE AD DE)
//  4  2  frame length n
//  6  1  command code c
//  7  1  ~c
//  8  .  parameters (n - 10 bytes)
// n-2 2  SopCrc16 of bytes 0..n-3
constexpr uint32_t START_FLAG = 0xDEADBEEFu;
constexpr size_t OFFSET_FLAG = 0;
constexpr size_t OFFSET_LENGTH = 4;
constexpr size_t OFFSET_CODE = 6;
constexpr size_t OFFSET_CODE_INVERSE = 7;
constexpr size_t OFFSET_PARAMS = 8;
constexpr size_t CRC_LEN = 2;
constexpr size_t FRAME_OVERHEAD = OFFSET_PARAMS + CRC_LEN;

enum CommandCode : uint8_t {
    CMD_SHAKEHAND = 0xF0,
    CMD_SWITCH_BAUD = 0x5A,
    CMD_VERSION = 0x69,
    CMD_OTP_EFUSE = 0xC3,
    CMD_FACTORY = 0x78,
    CMD_NV_KV = 0x4B,
    CMD_FLASH_IMAGE = 0xD2,
    CMD_UPLOAD = 0xB4,
    CMD_RESET = 0x87,
};

constexpr size_t SHAKEHAND_COMMAND_LENGTH = 18;
constexpr size_t SWITCH_BAUD_FRAME_LEN = 18;
constexpr size_t VERSION_CMD_FRAME_LEN = 14;
constexpr size_t OTP_EFUSE_CMD_FRAME_LEN = 14;
constexpr size_t FACTORY_CMD_FRAME_LEN = 24;
constexpr size_t KV_NV_CMD_FRAME_LEN = 26;
constexpr size_t FLASH_IMAGE_CMD_FRAME_LEN = 24;
constexpr size_t UPLOAD_DATA_CMD_FRAME_LEN = 18;
constexpr size_t RESET_FRAME_LEN = 12;

// Line settings carried by the handshake and switch-baud frames after the rate.
constexpr uint8_t LINE_DATA_BITS = 8;
constexpr uint8_t LINE_STOP_BITS = 1;
constexpr uint8_t LINE_PARITY = 0;
constexpr uint8_t LINE_FLOW_CONTROL = 0;

// Flash image format byte, chosen by the package image type.
constexpr uint8_t FORMAT_TYPE_NORMAL = 0;
constexpr uint8_t FORMAT_TYPE_ROM = 2;
constexpr uint8_t FORMAT_TYPE_EMMC = 3;

// Region sizes at or above this are special values and go out unrounded.
constexpr uint32_t UNROUNDED_SIZE_LIMIT = 0xF0FFFFFFu;
constexpr uint32_t BLOCK_SIZE = 4096;

// Rounds a region size up to a multiple of block unless it already is one or
// is a special value (>= UNROUNDED_SIZE_LIMIT). block must be a power of two.
uint32_t RoundBurnSize(uint32_t burnSize, uint32_t block);
uint8_t FormatByteForImageType(uint32_t imageType);

std::vector<uint8_t> BuildCommandFrame(uint8_t code, const uint8_t* params, size_t paramLength);
std::vector<uint8_t> BuildShakeHandFrame(uint32_t baudRate);
std::vector<uint8_t> BuildSwitchBaudFrame(uint32_t baudRate);
std::vector<uint8_t> BuildVersionFrame(uint32_t imageLength);
std::vector<uint8_t> BuildOtpEfuseFrame(uint32_t imageLength);
// burnSize is put on the wire as given: callers round it first.
std::vector<uint8_t> BuildFactoryFrame(uint32_t burnAddress, uint32_t imageLength, uint32_t burnSize);
std::vector<uint8_t> BuildNvKvFrame(uint32_t burnAddress, uint32_t imageLength, uint32_t burnSize);
std::vector<uint8_t> BuildFlashImageFrame(uint32_t burnAddress, uint32_t imageLength, uint32_t burnSize,
                                          uint8_t format);
std::vector<uint8_t> BuildUploadFrame(uint32_t length, uint32_t flashAddress);
// Restarts the board out of its loader; the board does not answer it.
std::vector<uint8_t> BuildResetFrame();

// --- ACK frame --------------------------------------------------------------
//  0  4  START_FLAG
//  4  2  frame length (12); a frame is valid whatever it holds
//  6  2  not checked
//  8  1  result, ACK_SUCCESS accepts
//  9  1  not checked
// 10  2  SopCrc16 of bytes 0..9
constexpr size_t ACK_FRAME_LEN = 12;
constexpr size_t ACK_OFFSET_RESULT = 8;
constexpr size_t ACK_OFFSET_CRC = 10;
constexpr uint8_t ACK_SUCCESS = 0x5A;
// The start flag and the length field: enough to know a frame of ACK_FRAME_LEN
// bytes is on its way.
constexpr size_t ACK_START_LEN = OFFSET_LENGTH + 2;

struct AckScan {
    // GARBLED: a frame that began with the flag and its length field arrived
    // whole but fails its check, spoiled on the line.
    enum Kind { NONE, ACCEPTED, REFUSED, GARBLED };
    Kind kind = NONE;
    uint8_t result = 0;   // result byte of the frame found
    size_t frameOffset = 0;
    // Leading bytes the caller may drop: up to the end of the frame found, or
    // else the bytes that can no longer begin a frame. Bytes behind a frame
    // are never counted: they belong to whoever reads next.
    size_t consumed = 0;
    // NONE: the bytes kept begin with the flag and length field of a frame
    // whose rest has not come yet.
    bool begun = false;
};

// Finds the first valid ACK frame (flag and check field) in buf; without one,
// the first whole frame that fails its check.
AckScan ScanAckFrame(const uint8_t* buf, size_t length);

} // namespace Vb27Frames
