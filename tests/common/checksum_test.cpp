// Checksums against the catalogue check values and against a textbook
// bit-at-a-time model that shares no table or shortcut with the code.
#include "common/checksum.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct CrcModel {
    int width;
    uint64_t poly;
    uint64_t init;
    bool reflect; // input and output alike
    uint64_t xorOut;

    static uint64_t Reflect(uint64_t value, int bits)
    {
        uint64_t r = 0;
        for (int i = 0; i < bits; ++i) {
            r |= ((value >> i) & 1u) << (bits - 1 - i);
        }
        return r;
    }

    uint64_t operator()(const Bytes& data) const
    {
        const uint64_t top = uint64_t{1} << (width - 1);
        const uint64_t mask = (top << 1) - 1;
        uint64_t crc = init;
        for (uint8_t byte : data) {
            const uint64_t b = reflect ? Reflect(byte, 8) : byte;
            for (int bit = 7; bit >= 0; --bit) {
                const bool feedback = (((b >> bit) & 1u) != 0) != ((crc & top) != 0);
                crc = ((crc << 1) & mask) ^ (feedback ? poly : 0);
            }
        }
        return ((reflect ? Reflect(crc, width) : crc) ^ xorOut) & mask;
    }
};

constexpr CrcModel CRC16_XMODEM{16, 0x1021, 0x0000, false, 0};
constexpr CrcModel CRC16_CMS{16, 0x8005, 0xFFFF, false, 0};
constexpr CrcModel CRC32_IEEE{32, 0x04C11DB7, 0xFFFFFFFF, true, 0xFFFFFFFF};

const Bytes CHECK_INPUT = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

uint32_t Len(const Bytes& v) { return static_cast<uint32_t>(v.size()); }

} // namespace

TEST(ChecksumCatalogue, CheckValuesOf123456789)
{
    const uint8_t* d = CHECK_INPUT.data();
    EXPECT_EQ(Common::SopCrc16(d, 9), 0x31C3);
    EXPECT_EQ(Common::CalcXModeCRC16(d, 9), 0xAEE7);
    EXPECT_EQ(Common::Crc32(0, d, 9), 0xCBF43926u);
    EXPECT_EQ(Common::CalculateCrc(d, 9), 0x31);
    EXPECT_EQ(Common::CalcCheckSum8(d, 9), 0xDD);
}

// Zero lengths: the random rounds begin with them.
TEST(ChecksumEdges, NullDataGivesTheInitialValueUnread)
{
    EXPECT_EQ(Common::SopCrc16(nullptr, 100), 0);
    EXPECT_EQ(Common::CalcXModeCRC16(nullptr, 100), 0xFFFF);
    EXPECT_EQ(Common::Crc32(0x12345678, nullptr, 100), 0x12345678u);
    EXPECT_EQ(Common::CalculateCrc(nullptr, 100), 0);
    EXPECT_EQ(Common::CalcCheckSum8(nullptr, 100), 0);
}

TEST(ChecksumRandom, EveryCrcAgreesWithItsModel)
{
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> length(0, 1500);
    for (int round = 0; round < 300; ++round) {
        Bytes data(round < 20 ? static_cast<size_t>(round) : length(rng));
        for (uint8_t& b : data) {
            b = static_cast<uint8_t>(rng());
        }
        const uint8_t* d = data.data();
        ASSERT_EQ(Common::SopCrc16(d, Len(data)), CRC16_XMODEM(data)) << data.size();
        ASSERT_EQ(Common::CalcXModeCRC16(d, Len(data)), CRC16_CMS(data)) << data.size();
        ASSERT_EQ(Common::Crc32(0, d, Len(data)), CRC32_IEEE(data)) << data.size();
        // Split anywhere, the running value carries over.
        for (uint32_t cut : {0u, Len(data) / 3, Len(data)}) {
            ASSERT_EQ(Common::Crc32(Common::Crc32(0, d, cut), d + cut, Len(data) - cut), CRC32_IEEE(data)) << cut;
        }
    }
}
