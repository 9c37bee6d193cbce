// Checksums against the catalogue check values and against a textbook
// bit-at-a-time model that shares no table or shortcut with the code; SHA-256
// against the FIPS 180-4 example vectors and against OpenSSL.
#include "common/checksum.h"
#include "common/sha256_util.h"
#include "support/test_files.h"

#ifdef TARNWICK_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
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

// Null data gives the initial value unread; zero lengths: the random rounds begin with them.
TEST(ChecksumCatalogue, CheckValuesOf123456789AndTheInitialValueForNullData)
{
    const uint8_t* d = CHECK_INPUT.data();
    EXPECT_EQ(Common::SopCrc16(d, 9), 0x31C3);
    EXPECT_EQ(Common::CalcXModeCRC16(d, 9), 0xAEE7);
    EXPECT_EQ(Common::Crc32(0, d, 9), 0xCBF43926u);
    EXPECT_EQ(Common::CalculateCrc(d, 9), 0x31);
    EXPECT_EQ(Common::CalcCheckSum8(d, 9), 0xDD);
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

// Both ways of the CRC-16, whichever the CPU picks: every length around the
// fold's 16 and 32 bytes, every alignment of the start, and the block sizes.
TEST(ChecksumRandom, BothWaysOfTheFrameCrcAgreeWithTheModelAtEveryLengthAndAlignment)
{
    std::mt19937 rng(7);
    Bytes buffer(8192 + 64);
    for (uint8_t& b : buffer) {
        b = static_cast<uint8_t>(rng());
    }
    std::vector<uint32_t> lengths;
    for (uint32_t n = 1; n <= 80; ++n) {
        lengths.push_back(n);
    }
    for (uint32_t n : {128u, 1024u, 1029u, 8192u}) {
        lengths.push_back(n);
    }
    for (uint32_t offset = 0; offset < 16; ++offset) {
        for (uint32_t n : lengths) {
            const uint8_t* d = buffer.data() + offset;
            const uint64_t expected = CRC16_XMODEM(Bytes(d, d + n));
            ASSERT_EQ(Common::Detail::SopCrc16Sliced(d, n), expected) << offset << " " << n;
#if CRC16_CAN_FOLD
            if (Common::Detail::CpuFoldsCrc16()) {
                ASSERT_EQ(Common::Detail::SopCrc16Folded(d, n), expected) << offset << " " << n;
            }
#endif
            ASSERT_EQ(Common::SopCrc16(d, n), expected) << offset << " " << n;
        }
    }
}

// The copying CRC that builds a frame: the same CRC as the model, and the
// destination holds exactly the source, with nothing written past its end.
TEST(ChecksumRandom, TheCopyingFrameCrcCopiesExactlyAndAgreesWithTheModel)
{
    constexpr uint8_t GUARD = 0xA5;
    constexpr size_t SLACK = 32;
    std::mt19937 rng(11);
    Bytes source(8192 + 16);
    for (uint8_t& b : source) {
        b = static_cast<uint8_t>(rng());
    }
    using CopyingCrc = uint16_t (*)(uint8_t*, const uint8_t*, uint32_t);
    std::vector<std::pair<const char*, CopyingCrc>> ways{{"sliced", Common::Detail::SopCrc16SlicedCopy},
                                                         {"chosen", Common::SopCrc16Copy}};
#if CRC16_CAN_FOLD
    if (Common::Detail::CpuFoldsCrc16()) {
        ways.emplace_back("folded", Common::Detail::SopCrc16FoldedCopy);
    }
#endif
    for (uint32_t n : {1u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 48u, 1023u, 1024u, 1025u, 8192u}) {
        for (uint32_t offset : {0u, 3u}) {
            const uint8_t* from = source.data() + offset;
            const uint64_t expected = CRC16_XMODEM(Bytes(from, from + n));
            for (const auto& [name, crc] : ways) {
                Bytes destination(n + SLACK, GUARD);
                ASSERT_EQ(crc(destination.data() + 1, from, n), expected) << name << " " << n << " " << offset;
                EXPECT_EQ(destination[0], GUARD) << name << " " << n;
                EXPECT_TRUE(std::equal(from, from + n, destination.begin() + 1)) << name << " " << n;
                EXPECT_TRUE(std::all_of(destination.begin() + 1 + n, destination.end(),
                                        [](uint8_t b) { return b == GUARD; }))
                    << name << " " << n;
            }
        }
    }
    uint8_t untouched = GUARD;
    EXPECT_EQ(Common::SopCrc16Copy(&untouched, nullptr, 1), 0);
    EXPECT_EQ(Common::SopCrc16Copy(&untouched, source.data(), 0), 0);
    EXPECT_EQ(untouched, GUARD);
}

TEST(Sha256NistVectors, ShortMultiBlockAndOneMillionA)
{
    const std::pair<std::string, const char*> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    // The support library's digest is the one-shot Sha256Util::sha256.
    for (const auto& v : vectors) {
        EXPECT_EQ(TestSupport::Sha256Hex(Bytes(v.first.begin(), v.first.end())), v.second) << v.first.size();
    }
}

// OpenSSL as a second opinion where it is installed (not in the Windows build).
#ifdef TARNWICK_HAVE_OPENSSL
TEST(Sha256AgainstOpenSsl, EveryLengthWholeAndInRandomPieces)
{
    std::mt19937 rng(12345);
    for (size_t length = 0; length <= 200; ++length) {
        Bytes data(length);
        for (uint8_t& b : data) {
            b = static_cast<uint8_t>(rng());
        }
        unsigned char expected[EVP_MAX_MD_SIZE];
        unsigned int expectedLength = 0;
        ASSERT_EQ(EVP_Digest(data.data(), data.size(), expected, &expectedLength, EVP_sha256(), nullptr), 1);
        const Bytes wanted(expected, expected + expectedLength);
        ASSERT_EQ(TestSupport::Sha256(data), wanted) << "length " << length;
        // Pieces of up to 130 bytes, empty ones included.
        Sha256Util::Context context;
        for (size_t at = 0; at < length;) {
            const size_t n = rng() % (std::min<size_t>(length - at, 130) + 1);
            context.update(data.data() + at, n);
            at += n;
        }
        Bytes digest(Sha256Util::DIGEST_LENGTH);
        context.final(digest.data());
        ASSERT_EQ(digest, wanted) << "random pieces, length " << length;
    }
}
#endif
