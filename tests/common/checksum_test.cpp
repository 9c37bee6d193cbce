#include "common/checksum.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Textbook bit-at-a-time CRC with the catalogue's parameters; shares no
// table or shortcut with the code under test.
struct CrcModel {
    int width;
    uint64_t poly;
    uint64_t init;
    bool reflectIn;
    bool reflectOut;
    uint64_t xorOut;

    static uint64_t Reflect(uint64_t value, int bits)
    {
        uint64_t r = 0;
        for (int i = 0; i < bits; ++i) {
            if (value & (uint64_t{1} << i)) {
                r |= uint64_t{1} << (bits - 1 - i);
            }
        }
        return r;
    }

    uint64_t Compute(const std::vector<uint8_t>& data) const
    {
        const uint64_t top = uint64_t{1} << (width - 1);
        const uint64_t mask = (top << 1) - 1;
        uint64_t crc = init;
        for (uint8_t byte : data) {
            uint64_t b = reflectIn ? Reflect(byte, 8) : byte;
            for (int bit = 7; bit >= 0; --bit) {
                bool in = ((b >> bit) & 1u) != 0;
                bool msb = (crc & top) != 0;
                crc = (crc << 1) & mask;
                if (in != msb) {
                    crc ^= poly;
                }
            }
        }
        if (reflectOut) {
            crc = Reflect(crc, width);
        }
        return (crc ^ xorOut) & mask;
    }
};

constexpr CrcModel CRC16_XMODEM{16, 0x1021, 0x0000, false, false, 0x0000};
constexpr CrcModel CRC8_SMBUS{8, 0x07, 0x00, false, false, 0x00};
constexpr CrcModel CRC16_CMS{16, 0x8005, 0xFFFF, false, false, 0x0000};
constexpr CrcModel CRC32_IEEE{32, 0x04C11DB7, 0xFFFFFFFF, true, true, 0xFFFFFFFF};

const std::vector<uint8_t> CHECK_INPUT = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        b = static_cast<uint8_t>(byte(rng));
    }
    return v;
}

uint32_t Len(const std::vector<uint8_t>& v)
{
    return static_cast<uint32_t>(v.size());
}

} // namespace

TEST(ChecksumCatalogue, CheckValuesOf123456789)
{
    const uint8_t* d = CHECK_INPUT.data();
    EXPECT_EQ(Common::SopCrc16(d, 9), 0x31C3);
    EXPECT_EQ(CommonUtil::SopCrc16(d, 9), 0x31C3);
    EXPECT_EQ(Common::CalcCrc8(d, 9), 0xF4);
    EXPECT_EQ(Common::CalcXModeCRC16(d, 9), 0xAEE7);
    EXPECT_EQ(Common::Crc32(0, d, 9), 0xCBF43926u);
    EXPECT_EQ(Common::CalculateCrc(d, 9), 0x31);
    EXPECT_EQ(Common::CalcCheckSum8(d, 9), 0xDD);
}

TEST(ChecksumCatalogue, ModelsReproduceTheCatalogue)
{
    // Guards the reference models themselves before they judge random inputs.
    EXPECT_EQ(CRC16_XMODEM.Compute(CHECK_INPUT), 0x31C3u);
    EXPECT_EQ(CRC8_SMBUS.Compute(CHECK_INPUT), 0xF4u);
    EXPECT_EQ(CRC16_CMS.Compute(CHECK_INPUT), 0xAEE7u);
    EXPECT_EQ(CRC32_IEEE.Compute(CHECK_INPUT), 0xCBF43926u);
}

TEST(ChecksumTables, MatchTheStandardTables)
{
    EXPECT_EQ(Common::CRC8_TABLE[0], 0x00);
    EXPECT_EQ(Common::CRC8_TABLE[1], 0x07);
    EXPECT_EQ(Common::CRC8_TABLE[255], 0xF3);
    EXPECT_EQ(Common::CRC_TABLE[1], 0x1021);
    EXPECT_EQ(Common::CRC_TABLE[255], 0x1EF0);
    EXPECT_EQ(Common::CRC32_TABLE[1], 0x77073096u);
    EXPECT_EQ(Common::CRC32_TABLE[255], 0x2D02EF8Du);
    for (uint32_t i = 0; i < 256; ++i) {
        std::vector<uint8_t> one = {static_cast<uint8_t>(i)};
        // A table entry is the CRC of its index with zero init and no final XOR.
        EXPECT_EQ(Common::CRC8_TABLE[i], CrcModel({8, 0x07, 0, false, false, 0}).Compute(one)) << i;
        EXPECT_EQ(Common::CRC_TABLE[i], CrcModel({16, 0x1021, 0, false, false, 0}).Compute(one)) << i;
        EXPECT_EQ(Common::CRC32_TABLE[i], CrcModel({32, 0x04C11DB7, 0, true, true, 0}).Compute(one)) << i;
    }
}

TEST(ChecksumEdges, ZeroLengthGivesTheInitialValues)
{
    const uint8_t byte = 0x55;
    EXPECT_EQ(Common::SopCrc16(&byte, 0), 0);
    EXPECT_EQ(Common::CalcCrc8(&byte, 0), 0);
    EXPECT_EQ(Common::CalcXModeCRC16(&byte, 0), 0xFFFF);
    EXPECT_EQ(Common::Crc32(0, &byte, 0), 0u);
    EXPECT_EQ(Common::CalculateCrc(&byte, 0), 0);
    EXPECT_EQ(Common::CalcCheckSum8(&byte, 0), 0);
}

TEST(ChecksumEdges, NullDataIsNeverRead)
{
    EXPECT_EQ(Common::SopCrc16(nullptr, 100), 0);
    EXPECT_EQ(CommonUtil::SopCrc16(nullptr, 100), 0);
    EXPECT_EQ(Common::CalcCrc8(nullptr, 100), 0);
    EXPECT_EQ(Common::CalcXModeCRC16(nullptr, 100), 0xFFFF);
    EXPECT_EQ(Common::Crc32(0x12345678, nullptr, 100), 0x12345678u);
    EXPECT_EQ(Common::CalculateCrc(nullptr, 100), 0);
    EXPECT_EQ(Common::CalcCheckSum8(nullptr, 100), 0);
}

TEST(ChecksumEdges, Crc32ContinuesOverConcatenatedPieces)
{
    uint32_t first = Common::Crc32(0, CHECK_INPUT.data(), 4);
    EXPECT_EQ(Common::Crc32(first, CHECK_INPUT.data() + 4, 5), 0xCBF43926u);
}

TEST(ChecksumEdges, CalcCrc8CoversAtMost255Bytes)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> data = RandomBytes(rng, 300);
    std::vector<uint8_t> head(data.begin(), data.begin() + 255);
    EXPECT_EQ(Common::CalcCrc8(data.data(), 255), CRC8_SMBUS.Compute(head));
}

TEST(ChecksumRandom, EveryFunctionAgreesWithItsModel)
{
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> length(0, 1500);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> data = RandomBytes(rng, round < 20 ? static_cast<size_t>(round) : length(rng));
        const uint8_t* d = data.data();
        uint32_t sum = 0;
        uint8_t x = 0;
        for (uint8_t b : data) {
            sum += b;
            x = static_cast<uint8_t>(x ^ b);
        }
        ASSERT_EQ(Common::SopCrc16(d, Len(data)), CRC16_XMODEM.Compute(data)) << data.size();
        ASSERT_EQ(CommonUtil::SopCrc16(d, Len(data)), CRC16_XMODEM.Compute(data));
        ASSERT_EQ(Common::CalcXModeCRC16(d, Len(data)), CRC16_CMS.Compute(data)) << data.size();
        ASSERT_EQ(Common::Crc32(0, d, Len(data)), CRC32_IEEE.Compute(data)) << data.size();
        ASSERT_EQ(Common::CalculateCrc(d, Len(data)), x);
        ASSERT_EQ(Common::CalcCheckSum8(d, Len(data)), sum % 256);
        if (data.size() <= 255) {
            ASSERT_EQ(Common::CalcCrc8(d, static_cast<uint8_t>(data.size())), CRC8_SMBUS.Compute(data));
        }
    }
}

TEST(ChecksumRandom, Crc32SplitAnywhereEqualsOneCall)
{
    std::mt19937 rng(99);
    std::vector<uint8_t> data = RandomBytes(rng, 77);
    const uint32_t whole = Common::Crc32(0, data.data(), Len(data));
    for (uint32_t cut = 0; cut <= data.size(); ++cut) {
        uint32_t head = Common::Crc32(0, data.data(), cut);
        EXPECT_EQ(Common::Crc32(head, data.data() + cut, Len(data) - cut), whole) << cut;
    }
}
