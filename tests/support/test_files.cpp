#include "support/test_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <gtest/gtest.h>

#include "common/sha256_util.h"

namespace TestSupport {

namespace fs = std::filesystem;

Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes bytes(length);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = (i % 97 == 5) ? 0x5C : static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

std::string Hex(const Bytes& bytes)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += DIGITS[b >> 4];
        out += DIGITS[b & 0x0F];
    }
    return out;
}

Bytes Sha256(const Bytes& data)
{
    Bytes digest(Sha256Util::DIGEST_LENGTH);
    Sha256Util::sha256(data.data(), data.size(), digest.data());
    return digest;
}

std::string Sha256Hex(const Bytes& data)
{
    return Hex(Sha256(data));
}

uint16_t Crc16(const uint8_t* data, size_t length)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1));
        }
    }
    return crc;
}

void PutLe(Bytes& bytes, size_t at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i) {
        bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(fs::u8path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::error_code ignored;
    fs::create_directories(fs::u8path(path).parent_path(), ignored);
    return WriteFile(path, Bytes(text.begin(), text.end()));
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

void ExpectHolds(const std::string& text, const std::vector<std::string>& parts)
{
    for (const std::string& part : parts) {
        EXPECT_TRUE(Contains(text, part)) << "no \"" << part << "\" in:\n" << text;
    }
}

TempDir::TempDir(const std::string& prefix)
{
    // A random name that nobody else holds: create_directory fails on an
    // existing one.
    constexpr int MAX_TRIES = 100;
    std::random_device seed;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    for (int attempt = 0; attempt < MAX_TRIES && !error; ++attempt) {
        const fs::path candidate = base / (prefix + "-" + std::to_string(seed()));
        if (fs::create_directory(candidate, error)) {
            // "/" throughout, as the tests join names with it (Windows takes both).
            m_path = candidate.generic_u8string();
            return;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (!m_path.empty()) {
        fs::remove_all(fs::u8path(m_path), ignored);
    }
}

}  // namespace TestSupport
