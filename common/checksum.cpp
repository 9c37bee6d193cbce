#include "common/checksum.h"

#include <cstddef>
#include <cstring>

#if CRC16_CAN_FOLD
#include <immintrin.h>
#endif

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

HOT_PATH uint16_t Crc16Bytewise(uint16_t crc, const uint8_t* data, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ CRC_TABLE[((crc >> 8) ^ data[i]) & 0xFFu]);
    }
    return crc;
}

#if CRC16_CAN_FOLD
// x^n modulo the CRC-16 polynomial.
constexpr uint32_t XPowerModPoly(unsigned n)
{
    constexpr uint32_t X16 = 0x10000u;
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if ((r & X16) != 0) {
            r ^= X16 | Detail::CRC16_POLY;
        }
    }
    return r;
}
constexpr uint32_t X128_MOD_POLY = XPowerModPoly(128);
constexpr uint32_t X192_MOD_POLY = XPowerModPoly(192);

// Read once at start-up; a call before that takes the portable path.
const bool CPU_CAN_FOLD = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
}();
#endif

}  // namespace

namespace Detail {

HOT_PATH uint16_t SopCrc16Sliced(const uint8_t* data, uint32_t length)
{
    const auto& t = CRC16_SLICES.table;
    uint16_t crc = 0;
    uint32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const uint16_t top = static_cast<uint16_t>(crc ^ ((data[i] << 8) | data[i + 1]));
        crc = static_cast<uint16_t>(t[7][top >> 8] ^ t[6][top & 0xFFu] ^ t[5][data[i + 2]] ^ t[4][data[i + 3]] ^
                                    t[3][data[i + 4]] ^ t[2][data[i + 5]] ^ t[1][data[i + 6]] ^ t[0][data[i + 7]]);
    }
    return Crc16Bytewise(crc, data + i, length - i);
}

uint16_t SopCrc16SlicedCopy(uint8_t* destination, const uint8_t* source, uint32_t length)
{
    std::memcpy(destination, source, length);
    return SopCrc16Sliced(destination, length);
}

#if CRC16_CAN_FOLD
// Carry-less multiplication folds the data 16 bytes at a time into a 16-byte
// value of the same CRC (the CRC of a string depends only on its polynomial
// modulo the CRC's, and S * x^128 = S_high * x^192 + S_low * x^128 is
// reduced by the two constants); the table finishes those 16 bytes and the
// tail. No 4 KiB of slices to fetch again after each wait for the board.
namespace {

#define FOLD_TARGET __attribute__((target("pclmul,ssse3"), always_inline)) inline

constexpr uint32_t FOLD = 16;

// The shuffle that reverses 16 bytes: the first byte is the polynomial's highest.
FOLD_TARGET __m128i BigEndian()
{
    return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// 16 bytes at `at`, big-endian; with COPY also stored to `destination`.
template <bool COPY>
FOLD_TARGET __m128i LoadBigEndian(uint8_t* destination, const uint8_t* data, uint32_t at)
{
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    if constexpr (COPY) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + at), raw);
    }
    return _mm_shuffle_epi8(raw, BigEndian());
}

template <bool COPY>
FOLD_TARGET uint16_t FoldCrc16(uint8_t* destination, const uint8_t* data, uint32_t length)
{
    if (length < 2 * FOLD) {
        if constexpr (COPY) {
            std::memcpy(destination, data, length);
        }
        return Crc16Bytewise(0, data, length);
    }
    const __m128i reduce =
        _mm_set_epi64x(static_cast<long long>(X192_MOD_POLY), static_cast<long long>(X128_MOD_POLY));
    __m128i folded = LoadBigEndian<COPY>(destination, data, 0);
    uint32_t i = FOLD;
    for (; i + FOLD <= length; i += FOLD) {
        const __m128i high = _mm_clmulepi64_si128(folded, reduce, 0x11);
        const __m128i low = _mm_clmulepi64_si128(folded, reduce, 0x00);
        folded = _mm_xor_si128(_mm_xor_si128(high, low), LoadBigEndian<COPY>(destination, data, i));
    }
    if constexpr (COPY) {
        if (i < length) {
            std::memcpy(destination + i, data + i, length - i);
        }
    }
    alignas(FOLD) uint8_t head[FOLD];
    _mm_store_si128(reinterpret_cast<__m128i*>(head), _mm_shuffle_epi8(folded, BigEndian()));
    return Crc16Bytewise(Crc16Bytewise(0, head, FOLD), data + i, length - i);
}

#undef FOLD_TARGET

}  // namespace

HOT_PATH __attribute__((target("pclmul,ssse3"))) uint16_t SopCrc16Folded(const uint8_t* data, uint32_t length)
{
    return FoldCrc16<false>(nullptr, data, length);
}

HOT_PATH __attribute__((target("pclmul,ssse3"))) uint16_t SopCrc16FoldedCopy(uint8_t* destination,
                                                                             const uint8_t* source, uint32_t length)
{
    return FoldCrc16<true>(destination, source, length);
}

bool CpuFoldsCrc16()
{
    return CPU_CAN_FOLD;
}
#endif

}  // namespace Detail

HOT_PATH uint16_t SopCrc16(const uint8_t* data, uint32_t length)
{
    if (data == nullptr || length == 0) {
        return 0;
    }
#if CRC16_CAN_FOLD
    if (CPU_CAN_FOLD) {
        return Detail::SopCrc16Folded(data, length);
    }
#endif
    return Detail::SopCrc16Sliced(data, length);
}

HOT_PATH uint16_t SopCrc16Copy(uint8_t* destination, const uint8_t* source, uint32_t length)
{
    if (source == nullptr || length == 0) {
        return 0;
    }
#if CRC16_CAN_FOLD
    if (CPU_CAN_FOLD) {
        return Detail::SopCrc16FoldedCopy(destination, source, length);
    }
#endif
    return Detail::SopCrc16SlicedCopy(destination, source, length);
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
