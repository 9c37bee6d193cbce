#include "device/typesix/typesix_frames.h"

#include <algorithm>
#include <initializer_list>
#include <string>

#include "common/checksum.h"

namespace TypeSixFrames {

namespace {

// Builds a command payload field by field; Finish appends the check byte.
class Payload {
public:
    Payload(uint8_t seq, uint8_t code, size_t reserve = 16)
    {
        m_bytes.reserve(reserve);
        m_bytes.push_back(seq);
        m_bytes.push_back(code);
    }
    Payload& U8(uint8_t value)
    {
        m_bytes.push_back(value);
        return *this;
    }
    Payload& U16Be(uint16_t value)
    {
        m_bytes.push_back(static_cast<uint8_t>(value >> 8));
        m_bytes.push_back(static_cast<uint8_t>(value));
        return *this;
    }
    Payload& U32Be(uint32_t value)
    {
        m_bytes.push_back(static_cast<uint8_t>(value >> 24));
        m_bytes.push_back(static_cast<uint8_t>(value >> 16));
        m_bytes.push_back(static_cast<uint8_t>(value >> 8));
        m_bytes.push_back(static_cast<uint8_t>(value));
        return *this;
    }
    Payload& U32Le(uint32_t value)
    {
        m_bytes.push_back(static_cast<uint8_t>(value));
        m_bytes.push_back(static_cast<uint8_t>(value >> 8));
        m_bytes.push_back(static_cast<uint8_t>(value >> 16));
        m_bytes.push_back(static_cast<uint8_t>(value >> 24));
        return *this;
    }
    Payload& Bytes(const uint8_t* data, size_t n)
    {
        if (data != nullptr && n > 0) {
            m_bytes.insert(m_bytes.end(), data, data + n);
        }
        return *this;
    }
    std::vector<uint8_t> Finish()
    {
        m_bytes.push_back(Check(m_bytes.data(), m_bytes.size()));
        return std::move(m_bytes);
    }

    static uint8_t Check(const uint8_t* data, size_t n)
    {
        return Common::CalculateCrc(data, static_cast<uint32_t>(n));
    }

private:
    std::vector<uint8_t> m_bytes;
};

std::vector<uint8_t> Bare(uint8_t seq, uint8_t code)
{
    return Payload(seq, code, 3).Finish();
}

// Key store, certificate and signature: marker bytes, a 16-bit length, the data.
std::vector<uint8_t> SecurityFrame(uint8_t seq, uint8_t code, std::initializer_list<uint8_t> markers,
                                   const uint8_t* data, size_t n)
{
    if (n > MAX_SECURITY_DATA || (data == nullptr && n > 0)) {
        return {};
    }
    Payload payload(seq, code, n + 8);
    for (uint8_t marker : markers) {
        payload.U8(marker);
    }
    return payload.U16Be(static_cast<uint16_t>(n)).Bytes(data, n).Finish();
}

}  // namespace

// --- framing --------------------------------------------------------------------

std::vector<uint8_t> Wrap(const std::vector<uint8_t>& payload)
{
    return Common::GetDouble5CFrameData(payload.data(), static_cast<uint32_t>(payload.size()));
}

bool UnwrapFirstFrame(const uint8_t* bytes, size_t count, std::vector<uint8_t>& payload)
{
    payload.clear();
    bool started = false;
    for (size_t i = 0; bytes != nullptr && i < count; ++i) {
        if (bytes[i] != ESCAPE) {
            payload.push_back(bytes[i]);
            continue;
        }
        if (i + 1 >= count) {
            break;  // the byte after the escape has not come yet
        }
        const uint8_t next = bytes[++i];
        if (next == START_MARK) {
            payload.clear();
            started = true;
        } else if (next == END_MARK) {
            if (started) {
                return true;
            }
            payload.clear();
        } else {
            payload.push_back(next);
        }
    }
    payload.clear();
    return false;
}

namespace {

constexpr size_t NO_FRAME = static_cast<size_t>(-1);

// Where the payload of a frame under way begins (count when only its start
// mark has come); NO_FRAME when none is under way.
size_t OpenFramePayload(const uint8_t* bytes, size_t count)
{
    size_t payload = NO_FRAME;
    for (size_t i = 0; bytes != nullptr && i + 1 < count; ++i) {
        if (bytes[i] != ESCAPE) {
            continue;
        }
        const uint8_t next = bytes[++i];
        if (next == START_MARK) {
            payload = i + 1;
        } else if (next == END_MARK) {
            payload = NO_FRAME;
        }
    }
    return payload;
}

}  // namespace

bool FrameBegun(const uint8_t* bytes, size_t count)
{
    return OpenFramePayload(bytes, count) != NO_FRAME;
}

bool FrameCutByBoardText(const uint8_t* bytes, size_t count)
{
    const size_t payload = OpenFramePayload(bytes, count);
    if (payload == NO_FRAME) {
        return false;
    }
    const std::string after(reinterpret_cast<const char*>(bytes + payload), count - payload);
    return after.find(SSB_TEXT) != std::string::npos || after.find(ROM_TEXT) != std::string::npos;
}

// --- answers --------------------------------------------------------------------

bool ReadAnswer(const std::vector<uint8_t>& payload, Answer& answer)
{
    if (payload.size() < MIN_ANSWER_LEN) {
        return false;
    }
    const size_t checkAt = payload.size() - CHECK_LEN;
    answer.ack = payload[ACK_INDEX];
    answer.returnCode = payload[RETURN_CODE_INDEX];
    answer.check = payload[checkAt];
    answer.computedCheck = Payload::Check(payload.data(), checkAt);
    answer.data = payload.data() + VALID_DATA_INDEX;
    answer.dataLength = checkAt - VALID_DATA_INDEX;
    return true;
}

// --- boot ROM command channel -----------------------------------------------------

std::vector<uint8_t> Init(uint8_t seq)
{
    return Bare(seq, CMD_INIT);
}

std::vector<uint8_t> ReadVersion(uint8_t seq)
{
    return Bare(seq, CMD_READ_VERSION);
}

std::vector<uint8_t> EraseSsbInit()
{
    return Bare(0x00, CMD_INIT);
}

std::vector<uint8_t> EraseSsb()
{
    return Bare(0x01, CMD_ERASE_SSB);
}

std::vector<uint8_t> EraseAll(uint8_t seq)
{
    return Bare(seq, CMD_ERASE_ALL);
}

std::vector<uint8_t> SsbPacket(uint8_t seq, uint16_t number, const uint8_t* data, size_t n, size_t packetSize)
{
    if (n > packetSize || (data == nullptr && n > 0)) {
        return {};
    }
    std::vector<uint8_t> packet = Payload(seq, CMD_SSB_PACKET, packetSize + SSB_PACKET_OVERHEAD)
                                      .U32Le(number)
                                      .Bytes(data, n)
                                      .Finish();
    // The check sits right behind the data; a short last packet is padded after it.
    packet.resize(packetSize + SSB_PACKET_OVERHEAD, 0xFF);
    return packet;
}

std::vector<uint8_t> SsbDigest(uint8_t seq, uint32_t imageLength, const uint8_t* digest, size_t n)
{
    return Payload(seq, CMD_SSB_DIGEST, n + SHA_HEAD_LEN).U32Be(imageLength).Bytes(digest, n).Finish();
}

std::vector<uint8_t> KeyStore(uint8_t seq, const uint8_t* data, size_t n)
{
    return SecurityFrame(seq, CMD_KEY_STORE, {0x01}, data, n);
}

std::vector<uint8_t> Certificate(uint8_t seq, const uint8_t* data, size_t n)
{
    return SecurityFrame(seq, CMD_CERTIFICATE, {}, data, n);
}

std::vector<uint8_t> Signature(uint8_t seq, const uint8_t* data, size_t n)
{
    return SecurityFrame(seq, CMD_SIGNATURE, {0x02, 0x02}, data, n);
}

std::vector<uint8_t> Exit(uint8_t seq)
{
    return Bare(seq, CMD_EXIT);
}

std::vector<uint8_t> EraseAllExit(uint8_t seq)
{
    return Bare(seq, CMD_ERASE_ALL_EXIT);
}

std::vector<uint8_t> ResetPayload(uint8_t seq)
{
    return Payload(seq, CMD_RESET, RESET_LEN).U32Be(0).Finish();
}

// --- ssb serial protocol --------------------------------------------------------------

uint8_t FileCodeForType(int fileType)
{
    switch (fileType) {
        case EMMC_BIN_TYPE:
            return 1;
        case OTP_BIN_TYPE:
            return 2;
        default:
            return 0;
    }
}

uint8_t FileTypeByte(int fileType)
{
    return static_cast<uint8_t>(static_cast<unsigned int>(fileType) & 0xFFu);
}

std::vector<uint8_t> AppSha(uint8_t seq, int fileType, const uint8_t* sha, size_t n)
{
    return Payload(seq, CMD_APP_SHA, n + 4).U8(FileTypeByte(fileType)).Bytes(sha, n).Finish();
}

std::vector<uint8_t> StartFlashing(uint8_t seq, int fileType)
{
    return Payload(seq, CMD_START_FLASH).U8(FileTypeByte(fileType)).U8(0x00).U8(0x00).Finish();
}

std::vector<uint8_t> Data(uint8_t seq, const uint8_t* chunk, size_t chunkLength, size_t packetSize)
{
    if (chunkLength > packetSize || (chunk == nullptr && chunkLength > 0)) {
        return {};
    }
    std::vector<uint8_t> payload;
    payload.reserve(packetSize + 3);
    payload.push_back(seq);
    payload.push_back(CMD_DATA);
    payload.insert(payload.end(), chunk, chunk + chunkLength);
    payload.resize(PARAM_OFFSET + packetSize, 0xFF);
    payload.push_back(Payload::Check(payload.data(), payload.size()));
    return payload;
}

std::vector<uint8_t> EndFlashingPage(uint8_t seq)
{
    return Bare(seq, CMD_END_FLASH);
}

std::vector<uint8_t> MemoryConfig(uint8_t seq, int fileType, uint32_t length)
{
    return Payload(seq, CMD_MEMORY_CONFIG).U8(FileTypeByte(fileType)).U32Be(length).U32Be(RAM_LENGTH).Finish();
}

std::vector<uint8_t> EraseCore(uint8_t seq, int fileType)
{
    return Payload(seq, CMD_ERASE_CORE).U8(FileTypeByte(fileType)).Finish();
}

std::vector<uint8_t> SetSpeed(uint8_t seq, uint32_t baudRate)
{
    return Payload(seq, CMD_SPEED).U32Be(baudRate).U32Be(DELAY_RESET_TIME).Finish();
}

std::vector<uint8_t> FlashLimits(uint8_t seq)
{
    constexpr uint16_t BT_CODE_LEN = 272;
    constexpr uint16_t DSP_CODE_LEN = 304;
    constexpr uint16_t APPS_CODE_LEN = 160;
    constexpr uint16_t RECOVERY_CODE_LEN = 24;
    constexpr uint16_t EXTERN_CODE_LEN = 256;
    return Payload(seq, CMD_FLASH_LIMITS)
        .U16Be(BT_CODE_LEN)
        .U16Be(DSP_CODE_LEN)
        .U16Be(APPS_CODE_LEN)
        .U16Be(RECOVERY_CODE_LEN)
        .U16Be(EXTERN_CODE_LEN)
        .Finish();
}

std::vector<uint8_t> KvKey(uint8_t seq)
{
    constexpr uint8_t KV_KEY_VALUE = 0x04;
    constexpr uint8_t KEY_DATA_LEN = 0x01;
    return Payload(seq, CMD_KV_KEY)
        .U8(0x00)
        .U8(0x00)
        .U8(KV_KEY_VALUE)
        .U8(0x00)
        .U8(0x00)
        .U8(KEY_DATA_LEN)
        .U8(0x00)
        .Finish();
}

std::vector<uint8_t> DataRequest(uint8_t seq, uint32_t address, uint32_t length)
{
    return Payload(seq, CMD_DATA_REQUEST).U32Be(address).U32Be(length).Finish();
}

std::vector<uint8_t> BinHead(uint8_t seq, int fileType, uint32_t address, uint32_t length)
{
    return Payload(seq, CMD_BIN_HEAD).U8(FileCodeForType(fileType)).U32Be(address).U32Be(length).Finish();
}

std::vector<uint8_t> Sha(uint8_t seq, uint32_t address, uint32_t length, const uint8_t* sha, size_t n)
{
    return Payload(seq, CMD_SHA, n + 11).U32Be(address).U32Be(length).Bytes(sha, n).Finish();
}

Windows EraseCoreWindows(uint32_t size)
{
    constexpr unsigned long PER_2_MIB_MS = 30000;
    constexpr unsigned long MINIMUM_MS = 30000;
    const unsigned long attempt = std::max<unsigned long>((size >> 21) * PER_2_MIB_MS, MINIMUM_MS);
    return {attempt, 2 * attempt};
}

// --- the board's start text ------------------------------------------------------------

void AppendBoardText(std::string& text, const uint8_t* bytes, size_t count)
{
    // Long enough for any start text split across two reads.
    constexpr size_t KEEP_TAIL = 32;
    constexpr size_t MAX_TEXT = 4096;
    // Trimmed before the new bytes go in, so that they are all there to search.
    if (text.size() > MAX_TEXT) {
        text.erase(0, text.size() - KEEP_TAIL);
    }
    for (size_t i = 0; bytes != nullptr && i < count; ++i) {
        const uint8_t b = bytes[i];
        const bool printable = (b >= 0x20 && b <= 0x7E) || (b >= 0x08 && b <= 0x0D);
        text.push_back(printable ? static_cast<char>(b) : ' ');
    }
}

}  // namespace TypeSixFrames

namespace Common {

std::vector<uint8_t> GetDouble5CFrameData(const uint8_t* data, uint32_t length)
{
    using namespace TypeSixFrames;
    std::vector<uint8_t> frame;
    frame.reserve(HEAD_LEN + 2u * static_cast<size_t>(length) + TAIL_LEN);
    frame.push_back(ESCAPE);
    frame.push_back(START_MARK);
    for (uint32_t i = 0; data != nullptr && i < length; ++i) {
        frame.push_back(data[i]);
        if (data[i] == ESCAPE) {
            frame.push_back(ESCAPE);
        }
    }
    frame.push_back(ESCAPE);
    frame.push_back(END_MARK);
    return frame;
}

}  // namespace Common
