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

std::string DigestOf(const std::string& message)
{
    unsigned char digest[32];
    Sha256Util::sha256(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest);
    return Hex(digest);
}

// Feeds data in pieces drawn from next(); next() returning 0 is allowed.
template <typename NextPiece>
std::string PiecewiseDigest(const Bytes& data, NextPiece next)
{
    Sha256Util::Context context;
    for (size_t at = 0; at < data.size();) {
        const size_t n = std::min(next(data.size() - at), data.size() - at);
        context.update(data.data() + at, n);
        at += n;
    }
    unsigned char digest[32];
    context.final(digest);
    return Hex(digest);
}

#ifdef TARNWICK_HAVE_OPENSSL
std::string OpenSslDigest(const Bytes& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr), 1);
    EXPECT_EQ(length, 32u);
    return Hex(digest);
}

#endif

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
        EXPECT_EQ(DigestOf(v.first), v.second) << v.first.size() << " bytes";
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
        const std::string expected = OpenSslDigest(data);
        unsigned char digest[32];
        Sha256Util::sha256(data.data(), data.size(), digest);
        ASSERT_EQ(Hex(digest), expected) << "length " << length;
        ASSERT_EQ(PiecewiseDigest(data, [&](size_t left) { return rng() % (std::min<size_t>(left, 130) + 1); }),
                  expected)
            << "random pieces, length " << length;
    }
}
#endif

