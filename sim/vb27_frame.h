// Frames of the Vb27/Qn4180 boot ROM and loader, as the board reads and writes
// them. Little-endian throughout:
//   command: EF BE AD DE | length n (2) | code c | ~c | parameters | CRC16 of bytes 0..n-3 (2)
//   ACK:     EF BE AD DE | 0C 00 | E1 | 1E | result | detail | CRC16 of bytes 0..9 (2)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Sim {
namespace Vb27 {

constexpr uint8_t START_FLAG[4] = {0xEF, 0xBE, 0xAD, 0xDE};
constexpr size_t OFFSET_LENGTH = 4;
constexpr size_t OFFSET_CODE = 6;
constexpr size_t OFFSET_CODE_COMPLEMENT = 7;
constexpr size_t OFFSET_PARAMETERS = 8;
constexpr size_t FRAME_OVERHEAD = 10;  // flag, length, code, complement, CRC
constexpr size_t MAX_FRAME_LENGTH = 64;

enum Code : uint8_t {
    CODE_HANDSHAKE = 0xF0,
    CODE_SWITCH_BAUD = 0x5A,
    CODE_VERSION = 0x69,
    CODE_OTP_EFUSE = 0xC3,
    CODE_FACTORY = 0x78,
    CODE_NV_KV = 0x4B,
    CODE_FLASH_IMAGE = 0xD2,
    CODE_UPLOAD = 0xB4,
    CODE_RESET = 0x87,
};

// Frame length of a command code; 0 for a code the board does not know.
size_t FrameLengthOf(uint8_t code);

constexpr uint8_t ACK_FRAME_TYPE = 0xE1;
constexpr size_t ACK_FRAME_LENGTH = 12;
constexpr size_t ACK_OFFSET_RESULT = 8;
constexpr size_t ACK_OFFSET_DETAIL = 9;
constexpr size_t ACK_OFFSET_CRC = 10;
constexpr uint8_t RESULT_SUCCESS = 0x5A;
constexpr uint8_t RESULT_FAILURE = 0xA5;

// Why a frame was refused; the ACK frame carries it in its detail byte.
enum Refusal : uint8_t {
    REFUSED_NONE = 0x00,
    REFUSED_CRC = 0x01,
    REFUSED_LENGTH = 0x02,
    REFUSED_COMPLEMENT = 0x03,
    REFUSED_UNKNOWN_CODE = 0x04,
    REFUSED_PARAMETER = 0x05,
    REFUSED_IMAGE = 0x07,
    REFUSED_INJECTED = 0x7F,  // the --nak-frame fault
};

std::vector<uint8_t> BuildAckFrame(uint8_t result, uint8_t detail);

uint32_t ReadU32(const uint8_t* p);
uint16_t ReadU16(const uint8_t* p);

struct Frame {
    uint8_t code = 0;
    std::vector<uint8_t> bytes;  // the whole frame as received
    const uint8_t* Parameters() const { return bytes.data() + OFFSET_PARAMETERS; }
    size_t ParameterLength() const { return bytes.size() - FRAME_OVERHEAD; }
    uint32_t ParameterU32(size_t offset) const { return ReadU32(Parameters() + offset); }
};

enum class ParseStatus {
    NOT_A_FRAME,  // the first byte starts no frame: skip it
    NEED_MORE,    // a frame may start here: wait for more bytes
    FRAME,        // a good frame of `consumed` bytes
    BAD_FRAME,    // a frame start whose frame is broken; skip `consumed` bytes
};

struct ParseResult {
    ParseStatus status = ParseStatus::NOT_A_FRAME;
    size_t consumed = 0;
    Frame frame;
    Refusal refusal = REFUSED_NONE;
    std::string problem;
};

// Looks at the bytes from the start of `data` only.
ParseResult ParseCommandFrame(const uint8_t* data, size_t length);

}  // namespace Vb27
}  // namespace Sim
