// Bytes, files and digests every suite needs: test data, a throw-away
// directory, whole-file reads and writes, hex and SHA-256 texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport {

using Bytes = std::vector<uint8_t>;

// Bytes that look like an image, with 0x5C sprinkled in so that escaping matters.
Bytes Pattern(size_t length, uint32_t seed);
std::string Hex(const Bytes& bytes);
Bytes Sha256(const Bytes& data);
std::string Sha256Hex(const Bytes& data);
// CRC-16/XMODEM bit by bit, apart from the tool's table-driven one.
uint16_t Crc16(const uint8_t* data, size_t length);
// Little-endian value of `width` bytes at `at`.
void PutLe(Bytes& bytes, size_t at, uint32_t value, int width);

Bytes ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const Bytes& bytes);
bool WriteText(const std::string& path, const std::string& text);  // creates missing directories
bool Contains(const std::string& text, const std::string& part);
size_t CountOf(const std::string& text, const std::string& part);
// Every part is somewhere in text; a missing one fails the test naming it.
void ExpectHolds(const std::string& text, const std::vector<std::string>& parts);

// A fresh directory under the temporary directory, removed with the object.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "tarnwick-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool Ok() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

}  // namespace TestSupport
