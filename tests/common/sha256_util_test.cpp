#include "common/sha256_util.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const unsigned char* digest)
{
    static const char* DIGITS = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < Sha256Util::DIGEST_LENGTH; ++i) {
        text += DIGITS[digest[i] >> 4];
        text += DIGITS[digest[i] & 0x0F];
    }
    return text;
}

std::string DigestOf(const std::string& message)
{
    unsigned char digest[32];
    Sha256Util::sha256(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest);
    return Hex(digest);
}

std::string OpenSslDigest(const std::vector<unsigned char>& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr), 1);
    EXPECT_EQ(length, 32u);
    return Hex(digest);
}

} // namespace

TEST(Sha256NistVectors, ShortAndMultiBlockMessages)
{
    EXPECT_EQ(DigestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DigestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(DigestOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
                       "lmnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
}

TEST(Sha256NistVectors, OneMillionA)
{
    EXPECT_EQ(DigestOf(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Incremental, PiecesOf1And3And60GiveTheOneCallDigest)
{
    std::string message(1000, '\0');
    for (size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<char>(i * 31 + 7);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    for (size_t piece : {size_t{1}, size_t{3}, size_t{60}}) {
        Sha256Util::Context context;
        for (size_t at = 0; at < message.size(); at += piece) {
            context.update(bytes + at, std::min(piece, message.size() - at));
        }
        unsigned char digest[32];
        context.final(digest);
        EXPECT_EQ(Hex(digest), DigestOf(message)) << "piece " << piece;
    }
}

TEST(Sha256Incremental, InitStartsOver)
{
    Sha256Util::Context context;
    context.update(reinterpret_cast<const unsigned char*>("junk"), 4);
    context.init();
    context.update(reinterpret_cast<const unsigned char*>("abc"), 3);
    unsigned char digest[32];
    context.final(digest);
    EXPECT_EQ(Hex(digest), DigestOf("abc"));
}

TEST(Sha256AgainstOpenSsl, EveryLengthWholeAndInRandomPieces)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t length = 0; length <= 300; ++length) {
        std::vector<unsigned char> data(length);
        for (auto& b : data) {
            b = static_cast<unsigned char>(byte(rng));
        }
        const std::string expected = OpenSslDigest(data);

        unsigned char digest[32];
        Sha256Util::sha256(data.data(), data.size(), digest);
        ASSERT_EQ(Hex(digest), expected) << "length " << length;

        Sha256Util::Context context;
        size_t at = 0;
        while (at < length) {
            std::uniform_int_distribution<size_t> piece(0, std::min<size_t>(length - at, 130));
            size_t n = piece(rng);
            context.update(data.data() + at, n);
            at += n;
        }
        context.final(digest);
        ASSERT_EQ(Hex(digest), expected) << "pieces, length " << length;
    }
}

TEST(Sha256File, DigestOfTheContentAcrossReadChunks)
{
    std::vector<unsigned char> data(20000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>((i * 2654435761u) >> 24);
    }
    char path[] = "/tmp/tarnwick_sha_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* file = fdopen(fd, "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), file), data.size());
    fclose(file);

    unsigned char digest[32];
    Sha256Util::sha256File(path, digest);
    std::remove(path);
    EXPECT_EQ(Hex(digest), OpenSslDigest(data));
}

TEST(Sha256File, MissingFileGivesZeroBytes)
{
    unsigned char digest[32];
    std::fill(std::begin(digest), std::end(digest), 0xAB);
    Sha256Util::sha256File("/nonexistent/tarnwick/none.bin", digest);
    EXPECT_EQ(Hex(digest), std::string(64, '0'));
}

TEST(Sha256File, UnreadableFileGivesZeroBytesNotAPartialDigest)
{
    // A directory opens on this platform but every read fails.
    unsigned char digest[32];
    Sha256Util::sha256File("/tmp", digest);
    EXPECT_EQ(Hex(digest), std::string(64, '0'));
}
