// Packages for tests, written byte by byte from the layout tables (not with
// the parser under test): header, entry table, then the images in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace FwpkgTest {

// Sizes from the layout tables.
constexpr uint32_t NORMAL_HEADER = 12;
constexpr uint32_t NORMAL_ENTRY = 52;
constexpr uint32_t NORMAL_NAME = 32;
constexpr uint32_t NEW_HEADER = 272;
constexpr uint32_t NEW_ENTRY = 280;
constexpr uint32_t NEW_NAME = 260;

struct Image {
    std::string name;
    std::vector<uint8_t> data;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
    uint32_t type = 0;
};

struct Options {
    bool newLayout = false;
    uint32_t flag = 0;  // 0: 0xEFBEADDF normal, 0xEFBEADD1 new
};

// CRC-16/XMODEM, bit by bit.
inline uint16_t Crc16(const uint8_t* data, size_t length)
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

inline void PutLe(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i) {
        bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline uint32_t HeaderSize(bool newLayout) { return newLayout ? NEW_HEADER : NORMAL_HEADER; }
inline uint32_t EntrySize(bool newLayout) { return newLayout ? NEW_ENTRY : NORMAL_ENTRY; }
inline uint32_t NameSize(bool newLayout) { return newLayout ? NEW_NAME : NORMAL_NAME; }

// Position of field (0 offset, 4 length, 8 address, 12 size, 16 type) of entry i.
inline size_t FieldAt(bool newLayout, size_t entry, uint32_t field)
{
    return HeaderSize(newLayout) + EntrySize(newLayout) * entry + NameSize(newLayout) + field;
}

// Stores the CRC of bytes 6 .. end of the table for the count in the header.
inline void SealCrc(std::vector<uint8_t>& bytes, bool newLayout)
{
    uint32_t count = bytes[6] | (bytes[7] << 8);
    size_t end = HeaderSize(newLayout) + static_cast<size_t>(EntrySize(newLayout)) * count;
    PutLe(bytes, 4, Crc16(bytes.data() + 6, end - 6), 2);
}

inline std::vector<uint8_t> Build(const std::vector<Image>& images, Options options = {})
{
    const bool fresh = options.newLayout;
    uint32_t flag = options.flag != 0 ? options.flag : (fresh ? 0xEFBEADD1u : 0xEFBEADDFu);
    size_t tableEnd = HeaderSize(fresh) + static_cast<size_t>(EntrySize(fresh)) * images.size();
    size_t total = tableEnd;
    for (const Image& image : images) {
        total += image.data.size();
    }
    std::vector<uint8_t> bytes(total, 0);
    PutLe(bytes, 0, flag, 4);
    PutLe(bytes, 6, static_cast<uint32_t>(images.size()), 2);
    PutLe(bytes, 8, 0x5A5A1234u, 4);  // not interpreted, but covered by the CRC
    size_t dataAt = tableEnd;
    for (size_t i = 0; i < images.size(); ++i) {
        const Image& image = images[i];
        size_t entry = HeaderSize(fresh) + EntrySize(fresh) * i;
        for (size_t c = 0; c < image.name.size() && c < NameSize(fresh); ++c) {
            bytes[entry + c] = static_cast<uint8_t>(image.name[c]);
        }
        PutLe(bytes, FieldAt(fresh, i, 0), static_cast<uint32_t>(dataAt), 4);
        PutLe(bytes, FieldAt(fresh, i, 4), static_cast<uint32_t>(image.data.size()), 4);
        PutLe(bytes, FieldAt(fresh, i, 8), image.burnAddress, 4);
        PutLe(bytes, FieldAt(fresh, i, 12), image.burnSize, 4);
        PutLe(bytes, FieldAt(fresh, i, 16), image.type, 4);
        std::copy(image.data.begin(), image.data.end(), bytes.begin() + static_cast<long>(dataAt));
        dataAt += image.data.size();
    }
    SealCrc(bytes, fresh);
    return bytes;
}

inline std::vector<uint8_t> Bytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2246822519u + 7;
    for (uint8_t& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

}  // namespace FwpkgTest
