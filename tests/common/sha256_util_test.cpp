// SHA-256 against the FIPS 180-4 example vectors and against OpenSSL.
#include "common/sha256_util.h"
#include "support/test_files.h"

#ifdef TARNWICK_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const unsigned char* digest)
{
    return TestSupport::Hex(Bytes(digest, digest + Sha256Util::DIGEST_LENGTH));
}

} // namespace

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
    for (const auto& v : vectors) {
        unsigned char digest[32];
        Sha256Util::sha256(reinterpret_cast<const unsigned char*>(v.first.data()), v.first.size(), digest);
        EXPECT_EQ(Hex(digest), v.second) << v.first.size() << " bytes";
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
        ASSERT_EQ(expectedLength, 32u);
        unsigned char digest[32];
        Sha256Util::sha256(data.data(), data.size(), digest);
        ASSERT_EQ(Hex(digest), Hex(expected)) << "length " << length;
        // Pieces of up to 130 bytes, empty ones included.
        Sha256Util::Context context;
        for (size_t at = 0; at < length;) {
            const size_t n = rng() % (std::min<size_t>(length - at, 130) + 1);
            context.update(data.data() + at, n);
            at += n;
        }
        context.final(digest);
        ASSERT_EQ(Hex(digest), Hex(expected)) << "random pieces, length " << length;
    }
}
#endif

