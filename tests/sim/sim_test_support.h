// The tool's side of the line for the simulator tests, written from the wire
// layout on its own (bitwise CRC, XOR check, hand-built frames) so that a slip
// in the simulator's frame code cannot hide behind the same slip here.
#pragma once

#include "sim/board.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace SimTest {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t ACK = 0x06;
constexpr uint8_t C = 0x43;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t CAN = 0x18;

using TestSupport::Crc16;
using TestSupport::Pattern;

// 32-bit little-endian words, then the tail.
inline Bytes Le32s(std::initializer_list<uint32_t> values, const Bytes& tail = {})
{
    Bytes out;
    for (uint32_t v : values) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// ---- Vb27 / Qn4180: command frames and ACK frames ----

// Flag EF BE AD DE, length LE16, code, ~code, parameters, CRC LE16 of all
// before; a complement may be given to build a broken frame.
inline Bytes Command(uint8_t code, const Bytes& params, int complement = -1)
{
    const size_t n = params.size() + 10;
    Bytes f = {0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), code,
               static_cast<uint8_t>(complement < 0 ? ~code : complement)};
    f.insert(f.end(), params.begin(), params.end());
    const uint16_t crc = Crc16(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

inline Bytes Handshake(uint32_t baud) { return Command(0xF0, Le32s({baud}, {0x08, 0x01, 0x00, 0x00})); }
inline Bytes FlashImage(uint32_t address, uint32_t length, uint32_t region, uint8_t format = 0)
{
    return Command(0xD2, Le32s({address, length, region}, {format, static_cast<uint8_t>(~format)}));
}

// An ACK frame as the tool checks it: flag, result byte, CRC of bytes 0..9.
inline bool IsAck(const Bytes& f, uint8_t result, size_t at = 0)
{
    if (f.size() < at + 12) {
        return false;
    }
    const uint8_t* a = f.data() + at;
    return a[0] == 0xEF && a[1] == 0xBE && a[2] == 0xAD && a[3] == 0xDE && a[8] == result &&
           Crc16(a, 10) == static_cast<uint16_t>(a[10] | (a[11] << 8));
}

// ---- the tool's YMODEM variant ----

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

inline Bytes ClosingBlock() { return Block(0x01, 0, nullptr, 0, 128); }

// The data blocks of a file as the tool sends them: zero padding at the end.
inline std::vector<Bytes> DataBlocks(const Bytes& data, size_t size)
{
    // SOH 128, STX 1024, and the variant's own heads for 2, 4 and 8 KiB.
    const uint8_t head = size == 128 ? 0x01 : size == 2048 ? 0x0A : size == 4096 ? 0x0B : size == 8192 ? 0x0C : 0x02;
    std::vector<Bytes> blocks;
    for (size_t offset = 0, n = 1; offset < data.size(); offset += size, ++n) {
        const size_t chunk = std::min(size, data.size() - offset);
        blocks.push_back(Block(head, static_cast<uint8_t>(n), data.data() + offset, chunk, size));
    }
    return blocks;
}

// Everything the tool sends for one file: block 0, data, EOT, closing block.
inline std::vector<Bytes> YmodemFile(const std::string& name, const Bytes& data, size_t size)
{
    std::vector<Bytes> all = {HeaderBlock(name, std::to_string(data.size()))};
    for (Bytes& b : DataBlocks(data, size)) {
        all.push_back(std::move(b));
    }
    all.push_back({EOT});
    all.push_back(ClosingBlock());
    return all;
}

// ---- TypeSix: 5C 73, payload with 5C doubled, 5C 65; XOR check last ----

inline uint8_t Xor(const Bytes& bytes, size_t count)
{
    uint8_t x = 0;
    for (size_t i = 0; i < count; ++i) {
        x = static_cast<uint8_t>(x ^ bytes[i]);
    }
    return x;
}

inline Bytes Wrap(const Bytes& payload)
{
    Bytes wire{0x5C, 0x73};
    for (uint8_t b : payload) {
        wire.push_back(b);
        if (b == 0x5C) {
            wire.push_back(0x5C);
        }
    }
    wire.push_back(0x5C);
    wire.push_back(0x65);
    return wire;
}

// The un-escaped payloads of the frames in what the board sent.
inline std::vector<Bytes> Unwrap(const Bytes& wire)
{
    std::vector<Bytes> answers;
    Bytes current;
    bool inFrame = false;
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == 0x5C && i + 1 < wire.size()) {
            const uint8_t next = wire[++i];
            if (next == 0x73) {
                inFrame = true;
                current.clear();
            } else if (next == 0x65 && inFrame) {
                answers.push_back(current);
                inFrame = false;
            } else if (inFrame) {
                current.push_back(next);
            }
        } else if (inFrame) {
            current.push_back(wire[i]);
        }
    }
    return answers;
}

// A positive answer: seq, ACK, code, OK, check.
inline bool Positive(const Bytes& a)
{
    return a.size() >= 5 && a[1] == 0x02 && a[3] == 0x01 && Xor(a, a.size() - 1) == a.back();
}

// ---- an in-process line ----

// Keeps what the board sends.
class RecordingLine : public Sim::Line {
public:
    using Sim::Line::Write;
    void Write(const uint8_t* data, size_t length) override { sent.insert(sent.end(), data, data + length); }
    void SetBaud(uint32_t b) override { baud = b; }
    uint32_t GetBaud() const override { return baud; }

    // Everything sent since the last call, in order.
    Bytes Take()
    {
        Bytes all;
        all.swap(sent);
        return all;
    }

    Bytes sent;
    uint32_t baud = 115200;
};

// ---- faults of a plan ----

inline Sim::AnswerFault AnswerFaultAt(Sim::AnswerFault::Kind kind, const std::string& which,
                                      Sim::Garble garble = Sim::Garble::CHECK)
{
    Sim::AnswerFault fault;
    fault.kind = kind;
    fault.garble = garble;
    std::string error;
    EXPECT_TRUE(Sim::ParseAnswerSelector(which, fault.which, error)) << error;
    return fault;
}

inline bool Mentions(const std::vector<std::string>& errors, const std::string& text)
{
    return std::any_of(errors.begin(), errors.end(),
                       [&](const std::string& e) { return e.find(text) != std::string::npos; });
}

}  // namespace SimTest
