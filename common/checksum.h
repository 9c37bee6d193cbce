#ifndef TARNWICK_COMMON_CHECKSUM_H
#define TARNWICK_COMMON_CHECKSUM_H

// Checksums of the board frame protocols. Pure functions; this unit links
// nothing else of the project because the simulator shares it.

#include <array>
#include <cstdint>

namespace Common {

namespace Detail {
constexpr std::array<uint8_t, 256> MakeCrc8Table()
{
    std::array<uint8_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80u) ? ((crc << 1) ^ 0x07u) : (crc << 1);
        }
        table[i] = static_cast<uint8_t>(crc & 0xFFu);
    }
    return table;
}

// x^16 + x^12 + x^5 + 1, without the x^16 term.
constexpr uint32_t CRC16_POLY = 0x1021u;

constexpr std::array<uint16_t, 256> MakeCrc16Table()
{
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) ? ((crc << 1) ^ CRC16_POLY) : (crc << 1);
        }
        table[i] = static_cast<uint16_t>(crc & 0xFFFFu);
    }
    return table;
}

constexpr std::array<uint32_t, 256> MakeCrc32Table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? ((crc >> 1) ^ 0xEDB88320u) : (crc >> 1);
        }
        table[i] = crc;
    }
    return table;
}
} // namespace Detail

// CRC-8, polynomial 0x07, MSB first.
inline constexpr std::array<uint8_t, 256> CRC8_TABLE = Detail::MakeCrc8Table();
// CRC-16, polynomial 0x1021, MSB first (CRC-16/XMODEM).
inline constexpr std::array<uint16_t, 256> CRC_TABLE = Detail::MakeCrc16Table();
// CRC-32, reflected polynomial 0xEDB88320 (IEEE 802.3).
inline constexpr std::array<uint32_t, 256> CRC32_TABLE = Detail::MakeCrc32Table();

// CRC-16/XMODEM of the boot-ROM, command, reset, YMODEM and package frames.
// Null data or length 0 gives 0.
uint16_t SopCrc16(const uint8_t* data, uint32_t length);

// SopCrc16 of `source`, copied to `destination` on the way: a frame's data
// read once, and no call into the C library's copy for it. The two must not
// overlap. Null source or length 0 gives 0 and copies nothing.
uint16_t SopCrc16Copy(uint8_t* destination, const uint8_t* source, uint32_t length);

// SopCrc16's two ways, each for non-null data: the portable one, and on x86-64
// with carry-less multiplication (which SopCrc16 takes when the CPU has it)
// the folding one.
#if defined(__x86_64__) && defined(__GNUC__)
#define CRC16_CAN_FOLD 1
#else
#define CRC16_CAN_FOLD 0
#endif
namespace Detail {
uint16_t SopCrc16Sliced(const uint8_t* data, uint32_t length);
uint16_t SopCrc16SlicedCopy(uint8_t* destination, const uint8_t* source, uint32_t length);
#if CRC16_CAN_FOLD
uint16_t SopCrc16Folded(const uint8_t* data, uint32_t length);
uint16_t SopCrc16FoldedCopy(uint8_t* destination, const uint8_t* source, uint32_t length);
// Whether this CPU has what SopCrc16Folded needs.
bool CpuFoldsCrc16();
#endif
} // namespace Detail

// CRC-8/SMBUS; one call covers at most 255 bytes.
uint8_t CalcCrc8(const uint8_t* data, uint8_t length);

// CRC-16/CMS (poly 0x8005, init 0xFFFF), bitwise. Not XMODEM despite the name.
uint16_t CalcXModeCRC16(const uint8_t* data, uint32_t length);

// CRC-32 (IEEE). Start 0 begins a CRC; a previous result as start continues it.
uint32_t Crc32(uint32_t start, const uint8_t* data, uint32_t length);

// XOR of all bytes (block check character of the TypeSix frames).
uint8_t CalculateCrc(const uint8_t* data, uint32_t length);

// Sum of all bytes modulo 256 (YMODEM checksum mode).
uint8_t CalcCheckSum8(const uint8_t* data, uint32_t length);

} // namespace Common

namespace CommonUtil {
// Same value as Common::SopCrc16.
uint16_t SopCrc16(const uint8_t* data, uint32_t length);
} // namespace CommonUtil

#endif
