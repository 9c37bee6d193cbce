// The frames of the boards' wire formats as the test side builds and reads
// them, written from the wire layout on its own (bitwise CRC, hand-made
// frames) so that a slip in the tool's or the simulator's frame code cannot
// hide behind the same slip here. Shared by the transport, device and
// simulator tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "support/test_files.h"

namespace TestWire {

using TestSupport::Bytes;
using TestSupport::Crc16;

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// 32-bit little-endian words, then the tail.
inline Bytes Le32s(std::initializer_list<uint32_t> values, const Bytes& tail = {})
{
    Bytes out(4 * values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        TestSupport::PutLe(out, 4 * i, values.begin()[i], 4);
    }
    return Concat({out, tail});
}

// Appends the CRC of everything so far, high byte first or low byte first.
inline Bytes WithCrc(Bytes bytes, bool highFirst)
{
    const uint16_t crc = Crc16(bytes.data(), bytes.size());
    bytes.push_back(static_cast<uint8_t>(highFirst ? crc >> 8 : crc));
    bytes.push_back(static_cast<uint8_t>(highFirst ? crc : crc >> 8));
    return bytes;
}
inline Bytes WithCrcBe(Bytes bytes) { return WithCrc(std::move(bytes), true); }
inline Bytes WithCrcLe(Bytes bytes) { return WithCrc(std::move(bytes), false); }

inline bool CrcBeOk(const Bytes& frame)
{
    return frame.size() >= 2 && WithCrcBe(Bytes(frame.begin(), frame.end() - 2)) == frame;
}

// ---- boot ROM reply: CB | index | ~index | status | CRC BE ----

inline Bytes ReplyFrame(uint8_t index, uint8_t status)
{
    return WithCrcBe({0xCB, index, static_cast<uint8_t>(~index), status});
}

// ---- Vb27 / Qn4180: command frames and ACK frames ----

// Flag EF BE AD DE, length LE16, code, ~code, parameters, CRC LE16 of all
// before; a complement may be given to build a broken frame.
inline Bytes Command(uint8_t code, const Bytes& params, int complement = -1)
{
    const size_t n = params.size() + 10;
    return WithCrcLe(Concat({{0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), code,
                              static_cast<uint8_t>(complement < 0 ? ~code : complement)},
                             params}));
}

inline Bytes Handshake(uint32_t baud) { return Command(0xF0, Le32s({baud}, {0x08, 0x01, 0x00, 0x00})); }
inline Bytes FlashImage(uint32_t address, uint32_t length, uint32_t region, uint8_t format = 0)
{
    return Command(0xD2, Le32s({address, length, region}, {format, static_cast<uint8_t>(~format)}));
}

// Flag | length LE | 2 free | status | free | CRC LE. With length 12 it is
// the ACK frame of the Vb27 boot ROM and loader.
inline Bytes ShakeReply(uint16_t length, uint8_t status)
{
    return WithCrcLe({0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0x00,
                      0x00, status, 0x00});
}

// An ACK frame as the tool checks it: flag, result byte, CRC of bytes 0..9.
inline bool IsAck(const Bytes& f, uint8_t result, size_t at = 0)
{
    const auto a = f.begin() + static_cast<long>(std::min(at, f.size()));
    return f.size() >= at + 12 && Bytes(a, a + 4) == Bytes{0xEF, 0xBE, 0xAD, 0xDE} && a[8] == result &&
           WithCrcLe(Bytes(a, a + 10)) == Bytes(a, a + 12);
}

// ---- the tool's YMODEM variant ----

constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t CAN = 0x18;
constexpr uint8_t C = 0x43;

// head, number, ~number, data padded with zeros to size, CRC high byte first.
inline Bytes Block(uint8_t head, uint8_t number, const Bytes& data, size_t size)
{
    Bytes body = data;
    body.resize(size, 0x00);
    return Concat({{head, number, static_cast<uint8_t>(0xFF - number)}, WithCrcBe(body)});
}

// Block 0: name, NUL, the size as text.
inline Bytes HeaderBlock(const std::string& name, const std::string& sizeText)
{
    return Block(SOH, 0, Concat({Bytes(name.begin(), name.end()), {0}, Bytes(sizeText.begin(), sizeText.end())}),
                 128);
}

inline Bytes ClosingBlock() { return Block(SOH, 0, {}, 128); }

// The data blocks of a file as the tool sends them: zero padding at the end.
inline std::vector<Bytes> DataBlocks(const Bytes& data, size_t size)
{
    // SOH 128, STX 1024, and the variant's own heads for 2, 4 and 8 KiB.
    const uint8_t head = size == 128 ? SOH : size == 2048 ? 0x0A : size == 4096 ? 0x0B : size == 8192 ? 0x0C : STX;
    std::vector<Bytes> blocks;
    for (size_t offset = 0, n = 1; offset < data.size(); offset += size, ++n) {
        const auto from = data.begin() + static_cast<long>(offset);
        const Bytes chunk(from, from + static_cast<long>(std::min(size, data.size() - offset)));
        blocks.push_back(Block(head, static_cast<uint8_t>(n), chunk, size));
    }
    return blocks;
}

// Everything the tool sends for one file: block 0, data, EOT, closing block.
inline std::vector<Bytes> YmodemFile(const std::string& name, const Bytes& data, size_t size)
{
    std::vector<Bytes> all = DataBlocks(data, size);
    all.insert(all.begin(), HeaderBlock(name, std::to_string(data.size())));
    all.push_back({EOT});
    all.push_back(ClosingBlock());
    return all;
}

// ---- TypeSix: 5C 73, payload with 5C doubled, 5C 65; XOR check last ----

// Appends the XOR check of everything so far.
inline Bytes WithXor(Bytes body)
{
    body.push_back(std::accumulate(body.begin(), body.end(), uint8_t{0}, std::bit_xor<uint8_t>()));
    return body;
}

inline Bytes Wire(const Bytes& payload)
{
    Bytes wire = {0x5C, 0x73};
    for (uint8_t b : payload) {
        wire.insert(wire.end(), b == 0x5C ? 2 : 1, b);
    }
    return Concat({wire, {0x5C, 0x65}});
}

// The un-escaped payloads of the whole frames in what was sent.
inline std::vector<Bytes> Payloads(const Bytes& wire)
{
    std::vector<Bytes> payloads;
    Bytes current;
    bool inFrame = false;
    for (size_t i = 0; i < wire.size(); ++i) {
        const bool escaped = wire[i] == 0x5C && i + 1 < wire.size();
        const uint8_t b = escaped ? wire[++i] : wire[i];
        if (escaped && b == 0x73) {
            inFrame = true;
            current.clear();
        } else if (escaped && b == 0x65 && inFrame) {
            payloads.push_back(current);
            inFrame = false;
        } else if (inFrame) {
            current.push_back(b);
        }
    }
    return payloads;
}

// A positive answer: seq, ACK, code, OK, check.
inline bool Positive(const Bytes& a)
{
    return a.size() >= 5 && a[1] == 0x02 && a[3] == 0x01 && WithXor(Bytes(a.begin(), a.end() - 1)) == a;
}

}  // namespace TestWire
