// Tool-side helpers for the Vb27 simulator tests, written from the wire
// layout on their own (bitwise CRC, hand-built frames) so that a slip in the
// simulator's frame code cannot hide behind the same slip here.
#pragma once

#include "sim/board.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace Vb27Test {

using Bytes = std::vector<uint8_t>;

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

inline void PutU32(Bytes& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 24));
}

inline Bytes Command(uint8_t code, const Bytes& params)
{
    const size_t n = params.size() + 10;
    Bytes f = {0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), code,
               static_cast<uint8_t>(~code)};
    f.insert(f.end(), params.begin(), params.end());
    const uint16_t crc = Crc16(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

inline Bytes Handshake(uint32_t baud)
{
    Bytes p;
    PutU32(p, baud);
    p.insert(p.end(), {0x08, 0x01, 0x00, 0x00});
    return Command(0xF0, p);
}

inline Bytes SwitchBaud(uint32_t baud)
{
    Bytes p;
    PutU32(p, baud);
    p.insert(p.end(), {0x08, 0x01, 0x00, 0x00});
    return Command(0x5A, p);
}

inline Bytes FlashImage(uint32_t address, uint32_t length, uint32_t region, uint8_t format = 0)
{
    Bytes p;
    PutU32(p, address);
    PutU32(p, length);
    PutU32(p, region);
    p.push_back(format);
    p.push_back(static_cast<uint8_t>(~format));
    return Command(0xD2, p);
}

inline Bytes Upload(uint32_t length, uint32_t address)
{
    Bytes p;
    PutU32(p, length);
    PutU32(p, address);
    return Command(0xB4, p);
}

inline Bytes ResetFrame()
{
    return Command(0x87, {0x00, 0x00});
}

// An ACK frame as the tool checks it: flag, result byte, CRC of bytes 0..9.
inline bool IsAck(const Bytes& f, uint8_t result)
{
    return f.size() == 12 && f[0] == 0xEF && f[1] == 0xBE && f[2] == 0xAD && f[3] == 0xDE && f[8] == result &&
           Crc16(f.data(), 10) == static_cast<uint16_t>(f[10] | (f[11] << 8));
}

inline Bytes Block(uint8_t head, uint8_t number, const uint8_t* data, size_t length, size_t size)
{
    Bytes b = {head, number, static_cast<uint8_t>(0xFF - number)};
    b.insert(b.end(), data, data + length);
    b.resize(3 + size, 0x00);
    const uint16_t crc = Crc16(b.data() + 3, size);
    b.push_back(static_cast<uint8_t>(crc >> 8));
    b.push_back(static_cast<uint8_t>(crc));
    return b;
}

inline Bytes HeaderBlock(const std::string& name, const std::string& sizeText)
{
    Bytes text(name.begin(), name.end());
    text.push_back(0);
    text.insert(text.end(), sizeText.begin(), sizeText.end());
    return Block(0x01, 0, text.data(), text.size(), 128);
}

inline Bytes ClosingBlock()
{
    return Block(0x01, 0, nullptr, 0, 128);
}

inline uint8_t HeadFor(size_t size)
{
    switch (size) {
    case 128: return 0x01;
    case 2048: return 0x0A;
    case 4096: return 0x0B;
    case 8192: return 0x0C;
    default: return 0x02;
    }
}

// The data blocks of a file as the tool sends them: zero padding at the end.
inline std::vector<Bytes> DataBlocks(const Bytes& data, size_t size)
{
    std::vector<Bytes> blocks;
    for (size_t offset = 0, n = 1; offset < data.size(); offset += size, ++n) {
        const size_t chunk = std::min(size, data.size() - offset);
        blocks.push_back(Block(HeadFor(size), static_cast<uint8_t>(n), data.data() + offset, chunk, size));
    }
    return blocks;
}

inline Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes out(length);
    for (size_t i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(seed >> 16);
    }
    return out;
}

// A line that keeps what the board sends, answers apart from bulk data.
class RecordingLine : public Sim::Line {
public:
    struct Chunk {
        bool answer;
        Bytes bytes;
    };
    using Sim::Line::Write;
    using Sim::Line::WriteData;
    void Write(const uint8_t* data, size_t length) override { chunks.push_back({true, Bytes(data, data + length)}); }
    void WriteData(const uint8_t* data, size_t length) override
    {
        chunks.push_back({false, Bytes(data, data + length)});
    }
    void SetBaud(uint32_t b) override { baud = b; }
    uint32_t GetBaud() const override { return baud; }

    // Everything sent since the last call, in order.
    Bytes Take()
    {
        Bytes all;
        for (const Chunk& c : chunks) {
            all.insert(all.end(), c.bytes.begin(), c.bytes.end());
        }
        chunks.clear();
        return all;
    }
    std::vector<Chunk> chunks;
    uint32_t baud = 115200;
};

}  // namespace Vb27Test
