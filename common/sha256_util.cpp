#include "common/sha256_util.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t K[64] = {
    0x428A2F98, 0x71374491, 0xB5C0FBCF, 0xE9B5DBA5, 0x3956C25B, 0x59F111F1, 0x923F82A4, 0xAB1C5ED5,
    0xD807AA98, 0x12835B01, 0x243185BE, 0x550C7DC3, 0x72BE5D74, 0x80DEB1FE, 0x9BDC06A7, 0xC19BF174,
    0xE49B69C1, 0xEFBE4786, 0x0FC19DC6, 0x240CA1CC, 0x2DE92C6F, 0x4A7484AA, 0x5CB0A9DC, 0x76F988DA,
    0x983E5152, 0xA831C66D, 0xB00327C8, 0xBF597FC7, 0xC6E00BF3, 0xD5A79147, 0x06CA6351, 0x14292967,
    0x27B70A85, 0x2E1B2138, 0x4D2C6DFC, 0x53380D13, 0x650A7354, 0x766A0ABB, 0x81C2C92E, 0x92722C85,
    0xA2BFE8A1, 0xA81A664B, 0xC24B8B70, 0xC76C51A3, 0xD192E819, 0xD6990624, 0xF40E3585, 0x106AA070,
    0x19A4C116, 0x1E376C08, 0x2748774C, 0x34B0BCB5, 0x391C0CB3, 0x4ED8AA4A, 0x5B9CCA4F, 0x682E6FF3,
    0x748F82EE, 0x78A5636F, 0x84C87814, 0x8CC70208, 0x90BEFFFA, 0xA4506CEB, 0xBEF9A3F7, 0xC67178F2,
};

constexpr uint32_t INITIAL_STATE[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                       0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};

constexpr size_t FILE_CHUNK_SIZE = 8192;

inline uint32_t Rotr(uint32_t x, unsigned n)
{
    return (x >> n) | (x << (32 - n));
}

inline uint32_t ReadBe32(const unsigned char* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

} // namespace

void Sha256Util::Context::init()
{
    std::memcpy(m_state, INITIAL_STATE, sizeof(m_state));
    std::memset(m_buffer, 0, sizeof(m_buffer));
    m_count = 0;
}

void Sha256Util::Context::processBlock(const unsigned char* block)
{
    uint32_t w[64];
    for (unsigned t = 0; t < 16; ++t) {
        w[t] = ReadBe32(block + 4 * t);
    }
    for (unsigned t = 16; t < 64; ++t) {
        uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (unsigned t = 0; t < 64; ++t) {
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[t] + w[t];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void Sha256Util::Context::update(const unsigned char* data, unsigned long long length)
{
    if (data == nullptr || length == 0) {
        return;
    }
    size_t held = static_cast<size_t>(m_count % BLOCK_LENGTH);
    m_count += length;

    if (held > 0) {
        size_t take = BLOCK_LENGTH - held;
        if (length < take) {
            std::memcpy(m_buffer + held, data, static_cast<size_t>(length));
            return;
        }
        std::memcpy(m_buffer + held, data, take);
        processBlock(m_buffer);
        data += take;
        length -= take;
    }
    while (length >= BLOCK_LENGTH) {
        processBlock(data);
        data += BLOCK_LENGTH;
        length -= BLOCK_LENGTH;
    }
    if (length > 0) {
        std::memcpy(m_buffer, data, static_cast<size_t>(length));
    }
}

void Sha256Util::Context::final(unsigned char* digest)
{
    const uint64_t bitLength = m_count * 8;
    const size_t held = static_cast<size_t>(m_count % BLOCK_LENGTH);
    // 0x80, zeros up to 56 mod 64, then the 8-byte length: one or two blocks.
    const size_t padLength = (held < 56 ? 56 - held : 120 - held);
    unsigned char padding[BLOCK_LENGTH + 8] = {0x80};
    unsigned char lengthBytes[8];
    for (int i = 0; i < 8; ++i) {
        lengthBytes[i] = static_cast<unsigned char>((bitLength >> (56 - 8 * i)) & 0xFFu);
    }
    update(padding, padLength);
    update(lengthBytes, sizeof(lengthBytes));
    if (digest != nullptr) {
        for (int i = 0; i < 8; ++i) {
            digest[4 * i] = static_cast<unsigned char>(m_state[i] >> 24);
            digest[4 * i + 1] = static_cast<unsigned char>((m_state[i] >> 16) & 0xFFu);
            digest[4 * i + 2] = static_cast<unsigned char>((m_state[i] >> 8) & 0xFFu);
            digest[4 * i + 3] = static_cast<unsigned char>(m_state[i] & 0xFFu);
        }
    }
}

void Sha256Util::sha256(const unsigned char* data, unsigned long long length, unsigned char* digest)
{
    Context context;
    context.update(data, length);
    context.final(digest);
}

void Sha256Util::sha256File(const std::string& path, unsigned char* digest)
{
    if (digest == nullptr) {
        return;
    }
    std::memset(digest, 0, DIGEST_LENGTH);
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return;
    }
    Context context;
    unsigned char chunk[FILE_CHUNK_SIZE];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        context.update(chunk, n);
    }
    // A read error must not pass off a partial digest as the file's.
    const bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (!readFailed) {
        context.final(digest);
    }
}
