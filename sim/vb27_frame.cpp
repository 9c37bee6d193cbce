#include "sim/vb27_frame.h"

#include "common/checksum.h"

#include <algorithm>
#include <cstdio>

namespace Sim {
namespace Vb27 {

size_t FrameLengthOf(uint8_t code)
{
    switch (code) {
    case CODE_HANDSHAKE: return 18;
    case CODE_SWITCH_BAUD: return 18;
    case CODE_VERSION: return 14;
    case CODE_OTP_EFUSE: return 14;
    case CODE_FACTORY: return 24;
    case CODE_NV_KV: return 26;
    case CODE_FLASH_IMAGE: return 24;
    case CODE_UPLOAD: return 18;
    case CODE_RESET: return 12;
    default: return 0;
    }
}

uint32_t ReadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t ReadU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

namespace {

void AppendCrc(std::vector<uint8_t>& frame)
{
    const uint16_t crc = Common::SopCrc16(frame.data(), static_cast<uint32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

std::string Hex8(uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

ParseResult Bad(size_t consumed, Refusal refusal, std::string problem)
{
    ParseResult r;
    r.status = ParseStatus::BAD_FRAME;
    r.consumed = consumed;
    r.refusal = refusal;
    r.problem = std::move(problem);
    return r;
}

}  // namespace

std::vector<uint8_t> BuildAckFrame(uint8_t result, uint8_t detail)
{
    std::vector<uint8_t> frame(START_FLAG, START_FLAG + 4);
    frame.push_back(static_cast<uint8_t>(ACK_FRAME_LENGTH & 0xFF));
    frame.push_back(static_cast<uint8_t>(ACK_FRAME_LENGTH >> 8));
    frame.push_back(ACK_FRAME_TYPE);
    frame.push_back(static_cast<uint8_t>(~ACK_FRAME_TYPE));
    frame.push_back(result);
    frame.push_back(detail);
    AppendCrc(frame);
    return frame;
}

ParseResult ParseCommandFrame(const uint8_t* data, size_t length)
{
    ParseResult r;
    const size_t flagBytes = std::min<size_t>(length, 4);
    if (!std::equal(data, data + flagBytes, START_FLAG)) {
        return r;  // NOT_A_FRAME
    }
    r.status = ParseStatus::NEED_MORE;
    if (length < OFFSET_CODE) {
        return r;
    }
    // A frame of impossible length gives up only its flag: its end is unknown.
    const size_t n = ReadU16(data + OFFSET_LENGTH);
    if (n < FRAME_OVERHEAD || n > MAX_FRAME_LENGTH) {
        return Bad(4, REFUSED_LENGTH, "frame length " + std::to_string(n) + " is impossible");
    }
    if (length < n) {
        return r;
    }
    const uint16_t carried = ReadU16(data + n - 2);
    const uint16_t computed = Common::SopCrc16(data, static_cast<uint32_t>(n - 2));
    if (carried != computed) {
        char text[96];
        std::snprintf(text, sizeof text, "CRC 0x%04X of a %zu-byte frame, computed 0x%04X", carried, n, computed);
        // Give up the frame up to the next frame start inside it, if any.
        const uint8_t* next = std::search(data + 1, data + n, START_FLAG, START_FLAG + 4);
        return Bad(static_cast<size_t>(next - data), REFUSED_CRC, text);
    }
    const uint8_t code = data[OFFSET_CODE];
    if (data[OFFSET_CODE_COMPLEMENT] != static_cast<uint8_t>(~code)) {
        return Bad(n, REFUSED_COMPLEMENT,
                   "code " + Hex8(code) + " with complement " + Hex8(data[OFFSET_CODE_COMPLEMENT]));
    }
    const size_t expected = FrameLengthOf(code);
    if (expected == 0) {
        return Bad(n, REFUSED_UNKNOWN_CODE, "unknown command code " + Hex8(code));
    }
    if (expected != n) {
        return Bad(n, REFUSED_LENGTH,
                   "command " + Hex8(code) + " of " + std::to_string(n) + " bytes, expected " + std::to_string(expected));
    }
    r.status = ParseStatus::FRAME;
    r.consumed = n;
    r.frame.code = code;
    r.frame.bytes.assign(data, data + n);
    return r;
}

}  // namespace Vb27
}  // namespace Sim
