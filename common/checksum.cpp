#include "common/checksum.h"

#include <cstddef>

#include "platform/hot_path.h"

namespace Common {

namespace {

// Slices of CRC_TABLE: SLICES[k][x] is what byte x does to the CRC when k
// more bytes follow it, so eight bytes take eight independent lookups.
struct Crc16Slices {
    std::array<std::array<uint16_t, 256>, 8> table{};
    constexpr Crc16Slices()
    {
        for (uint32_t x = 0; x < 256; ++x) {
            uint16_t crc = CRC_TABLE[x];
            table[0][x] = crc;
            for (std::size_t k = 1; k < table.size(); ++k) {
                crc = static_cast<uint16_t>((crc << 8) ^ CRC_TABLE[crc >> 8]);
                table[k][x] = crc;
            }
        }
    }
};
constexpr Crc16Slices CRC16_SLICES;

}  // namespace

HOT_PATH uint16_t SopCrc16(const uint8_t* data, uint32_t length)
{
    if (data == nullptr || length == 0) {
        return 0;
    }
    const auto& t = CRC16_SLICES.table;
    uint16_t crc = 0;
    uint32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const uint16_t top = static_cast<uint16_t>(crc ^ ((data[i] << 8) | data[i + 1]));
        crc = static_cast<uint16_t>(t[7][top >> 8] ^ t[6][top & 0xFFu] ^ t[5][data[i + 2]] ^ t[4][data[i + 3]] ^
                                    t[3][data[i + 4]] ^ t[2][data[i + 5]] ^ t[1][data[i + 6]] ^ t[0][data[i + 7]]);
    }
    for (; i < length; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ CRC_TABLE[((crc >> 8) ^ data[i]) & 0xFFu]);
    }
    return crc;
}

uint8_t CalcCrc8(const uint8_t* data, uint8_t length)
{
    uint8_t crc = 0;
    if (data == nullptr) {
        return crc;
    }
    for (uint32_t i = 0; i < length; ++i) {
        crc = CRC8_TABLE[static_cast<uint8_t>(data[i] ^ crc)];
    }
    return crc;
}

uint16_t CalcXModeCRC16(const uint8_t* data, uint32_t length)
{
    uint16_t crc = 0xFFFF;
    if (data == nullptr) {
        return crc;
    }
    for (uint32_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) ? static_cast<uint16_t>((crc << 1) ^ 0x8005u) : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

uint32_t Crc32(uint32_t start, const uint8_t* data, uint32_t length)
{
    if (data == nullptr) {
        return start;
    }
    uint32_t crc = ~start;
    auto step = [&crc](uint8_t b) { crc = (crc >> 8) ^ CRC32_TABLE[(crc ^ b) & 0xFFu]; };
    uint32_t i = 0;
    for (; length - i >= 8; i += 8) {
        step(data[i]);
        step(data[i + 1]);
        step(data[i + 2]);
        step(data[i + 3]);
        step(data[i + 4]);
        step(data[i + 5]);
        step(data[i + 6]);
        step(data[i + 7]);
    }
    for (; i < length; ++i) {
        step(data[i]);
    }
    return ~crc;
}

uint8_t CalculateCrc(const uint8_t* data, uint32_t length)
{
    uint8_t x = 0;
    if (data == nullptr) {
        return x;
    }
    for (uint32_t i = 0; i < length; ++i) {
        x ^= data[i];
    }
    return x;
}

uint8_t CalcCheckSum8(const uint8_t* data, uint32_t length)
{
    uint32_t sum = 0;
    if (data == nullptr) {
        return 0;
    }
    for (uint32_t i = 0; i < length; ++i) {
        sum += data[i];
    }
    return static_cast<uint8_t>(sum & 0xFFu);
}

} // namespace Common

namespace CommonUtil {

uint16_t SopCrc16(const uint8_t* data, uint32_t length)
{
    return Common::SopCrc16(data, length);
}

} // namespace CommonUtil
