#ifndef TARNWICK_COMMON_SHA256_UTIL_H
#define TARNWICK_COMMON_SHA256_UTIL_H

// SHA-256 (FIPS 180-4) of a memory block or a file, self-contained.

#include <cstdint>
#include <string>

class Sha256Util {
public:
    static constexpr unsigned DIGEST_LENGTH = 32;
    static constexpr unsigned BLOCK_LENGTH = 64;

    // Incremental digest: init, update any number of times, final.
    class Context {
    public:
        Context() { init(); }
        void init();
        void update(const unsigned char* data, unsigned long long length);
        void final(unsigned char* digest);
        void processBlock(const unsigned char* block);

    private:
        uint32_t m_state[8];
        unsigned char m_buffer[BLOCK_LENGTH];
        uint64_t m_count;
    };

    static void sha256(const unsigned char* data, unsigned long long length, unsigned char* digest);
    // A file that cannot be opened or read gives 32 zero bytes.
    static void sha256File(const std::string& path, unsigned char* digest);
};

#endif
