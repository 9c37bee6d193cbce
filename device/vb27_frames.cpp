#include "device/vb27_frames.h"

#include "common/checksum.h"
#include "common/chip_family.h"

namespace Vb27Frames {

namespace {

void PutU16Le(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value & 0xFFu);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutU32Le(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFFu);
    }
}

uint16_t GetU16Le(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t GetU32Le(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// Parameters are appended in wire order; u32 values little-endian.
class Params {
public:
    Params& U32(uint32_t value)
    {
        uint8_t le[4];
        PutU32Le(le, value);
        m_bytes.insert(m_bytes.end(), le, le + 4);
        return *this;
    }
    Params& U8(uint8_t value)
    {
        m_bytes.push_back(value);
        return *this;
    }
    std::vector<uint8_t> Frame(uint8_t code) const { return BuildCommandFrame(code, m_bytes.data(), m_bytes.size()); }

private:
    std::vector<uint8_t> m_bytes;
};

std::vector<uint8_t> LineSettingsFrame(uint8_t code, uint32_t baudRate)
{
    return Params()
        .U32(baudRate)
        .U8(LINE_DATA_BITS)
        .U8(LINE_STOP_BITS)
        .U8(LINE_PARITY)
        .U8(LINE_FLOW_CONTROL)
        .Frame(code);
}

// True when the bytes present match the start flag as far as they go.
bool MayBeginFrame(const uint8_t* at, size_t available)
{
    uint8_t flag[4];
    PutU32Le(flag, START_FLAG);
    for (size_t i = 0; i < 4 && i < available; ++i) {
        if (at[i] != flag[i]) {
            return false;
        }
    }
    return true;
}

bool IsValidAckWindow(const uint8_t* at)
{
    return GetU32Le(at + OFFSET_FLAG) == START_FLAG &&
           Common::SopCrc16(at, ACK_OFFSET_CRC) == GetU16Le(at + ACK_OFFSET_CRC);
}

} // namespace

uint32_t RoundBurnSize(uint32_t burnSize, uint32_t block)
{
    if (burnSize % block == 0 || burnSize >= UNROUNDED_SIZE_LIMIT) {
        return burnSize;
    }
    return (burnSize + block - 1) & ~(block - 1);
}

uint8_t FormatByteForImageType(uint32_t imageType)
{
    switch (Common::Vb27FormatForImageType(imageType)) {
        case Common::Vb27ImageFormat::ROM:
            return FORMAT_TYPE_ROM;
        case Common::Vb27ImageFormat::EMMC:
            return FORMAT_TYPE_EMMC;
        default:
            return FORMAT_TYPE_NORMAL;
    }
}

std::vector<uint8_t> BuildCommandFrame(uint8_t code, const uint8_t* params, size_t paramLength)
{
    const size_t length = paramLength + FRAME_OVERHEAD;
    std::vector<uint8_t> frame(length, 0);
    PutU32Le(&frame[OFFSET_FLAG], START_FLAG);
    PutU16Le(&frame[OFFSET_LENGTH], static_cast<uint16_t>(length));
    frame[OFFSET_CODE] = code;
    frame[OFFSET_CODE_INVERSE] = static_cast<uint8_t>(~code);
    for (size_t i = 0; i < paramLength; ++i) {
        frame[OFFSET_PARAMS + i] = params[i];
    }
    const size_t crcAt = length - CRC_LEN;
    PutU16Le(&frame[crcAt], Common::SopCrc16(frame.data(), static_cast<uint32_t>(crcAt)));
    return frame;
}

std::vector<uint8_t> BuildShakeHandFrame(uint32_t baudRate)
{
    return LineSettingsFrame(CMD_SHAKEHAND, baudRate);
}

std::vector<uint8_t> BuildSwitchBaudFrame(uint32_t baudRate)
{
    return LineSettingsFrame(CMD_SWITCH_BAUD, baudRate);
}

std::vector<uint8_t> BuildVersionFrame(uint32_t imageLength)
{
    return Params().U32(imageLength).Frame(CMD_VERSION);
}

std::vector<uint8_t> BuildOtpEfuseFrame(uint32_t imageLength)
{
    return Params().U32(imageLength).Frame(CMD_OTP_EFUSE);
}

std::vector<uint8_t> BuildFactoryFrame(uint32_t burnAddress, uint32_t imageLength, uint32_t burnSize)
{
    return Params().U32(burnAddress).U32(imageLength).U32(burnSize).U8(0x00).U8(0xFF).Frame(CMD_FACTORY);
}

std::vector<uint8_t> BuildNvKvFrame(uint32_t burnAddress, uint32_t imageLength, uint32_t burnSize)
{
    return Params().U32(burnAddress).U32(imageLength).U32(burnSize).U32(0).Frame(CMD_NV_KV);
}

std::vector<uint8_t> BuildFlashImageFrame(uint32_t burnAddress, uint32_t imageLength, uint32_t burnSize,
                                          uint8_t format)
{
    return Params()
        .U32(burnAddress)
        .U32(imageLength)
        .U32(burnSize)
        .U8(format)
        .U8(static_cast<uint8_t>(~format))
        .Frame(CMD_FLASH_IMAGE);
}

std::vector<uint8_t> BuildUploadFrame(uint32_t length, uint32_t flashAddress)
{
    return Params().U32(length).U32(flashAddress).Frame(CMD_UPLOAD);
}

std::vector<uint8_t> BuildResetFrame()
{
    const uint8_t reserved[2] = {0x00, 0x00};
    return BuildCommandFrame(CMD_RESET, reserved, sizeof(reserved));
}

AckScan ScanAckFrame(const uint8_t* buf, size_t length)
{
    AckScan scan;
    if (buf == nullptr) {
        return scan;
    }
    for (size_t offset = 0; offset + ACK_FRAME_LEN <= length; ++offset) {
        if (IsValidAckWindow(buf + offset)) {
            scan.result = buf[offset + ACK_OFFSET_RESULT];
            scan.kind = (scan.result == ACK_SUCCESS) ? AckScan::ACCEPTED : AckScan::REFUSED;
            scan.frameOffset = offset;
            scan.consumed = offset + ACK_FRAME_LEN;
            return scan;
        }
    }
    // No frame: keep the tail that may still grow into one.
    size_t keepFrom = (length >= ACK_FRAME_LEN) ? length - ACK_FRAME_LEN + 1 : 0;
    while (keepFrom < length && !MayBeginFrame(buf + keepFrom, length - keepFrom)) {
        ++keepFrom;
    }
    scan.consumed = keepFrom;
    return scan;
}

} // namespace Vb27Frames
