// The tool's side of the line for the simulator tests, written from the wire
// layout on its own (bitwise CRC, XOR check, hand-built frames) so that a slip
// in the simulator's frame code cannot hide behind the same slip here.
#pragma once

#include "sim/board.h"
#include "sim/sim_sha256.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace SimTest {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t ACK = 0x06;
constexpr uint8_t C = 0x43;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t CAN = 0x18;

inline Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes out(length);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return out;
}

inline Bytes Digest(const Bytes& data)
{
    const Sim::Sha256::Digest d = Sim::Sha256::Of(data.data(), data.size());
    return Bytes(d.begin(), d.end());
}

inline std::string HexDigest(const Bytes& data)
{
    return Sim::Sha256::Hex(Sim::Sha256::Of(data.data(), data.size()));
}

inline void PutLe32(Bytes& out, uint32_t v)
{
    for (int shift = 0; shift <= 24; shift += 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

inline void PutBe32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

inline Bytes Le32s(std::initializer_list<uint32_t> values, Bytes tail = {})
{
    Bytes out;
    for (uint32_t v : values) {
        PutLe32(out, v);
    }
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// ---- Vb27 / Qn4180: command frames and ACK frames ----

using TestSupport::Crc16;

// Flag EF BE AD DE, length LE16, code, ~code, parameters, CRC LE16 of all before.
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

inline Bytes Handshake(uint32_t baud) { return Command(0xF0, Le32s({baud}, {0x08, 0x01, 0x00, 0x00})); }
inline Bytes SwitchBaud(uint32_t baud) { return Command(0x5A, Le32s({baud}, {0x08, 0x01, 0x00, 0x00})); }
inline Bytes FlashImage(uint32_t address, uint32_t length, uint32_t region, uint8_t format = 0)
{
    return Command(0xD2, Le32s({address, length, region}, {format, static_cast<uint8_t>(~format)}));
}
inline Bytes Upload(uint32_t length, uint32_t address) { return Command(0xB4, Le32s({length, address})); }
inline Bytes ResetFrame() { return Command(0x87, {0x00, 0x00}); }

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

inline std::string HexSize(size_t n)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%zx", n);
    return text;
}

inline Bytes HeaderBlock(const std::string& name, const std::string& sizeText)
{
    Bytes text(name.begin(), name.end());
    text.push_back(0);
    text.insert(text.end(), sizeText.begin(), sizeText.end());
    return Block(0x01, 0, text.data(), text.size(), 128);
}

inline Bytes ClosingBlock() { return Block(0x01, 0, nullptr, 0, 128); }

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

// Everything the tool sends for one file: block 0, data, EOT, closing block.
inline std::vector<Bytes> YmodemFile(const std::string& name, const Bytes& data, size_t size)
{
    std::vector<Bytes> all = {HeaderBlock(name, HexSize(data.size()))};
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

struct Heard {
    std::vector<Bytes> answers;  // un-escaped payloads
    std::string text;            // bytes outside frames
    size_t firstEnd = 0;         // where the first complete frame ended
};

inline Heard Unwrap(const Bytes& wire)
{
    Heard heard;
    Bytes current;
    bool inFrame = false;
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == 0x5C && i + 1 < wire.size()) {
            const uint8_t next = wire[++i];
            if (next == 0x73) {
                inFrame = true;
                current.clear();
            } else if (next == 0x65 && inFrame) {
                heard.answers.push_back(current);
                heard.firstEnd = heard.firstEnd == 0 ? i + 1 : heard.firstEnd;
                inFrame = false;
            } else if (inFrame) {
                current.push_back(next);
            }
        } else if (inFrame) {
            current.push_back(wire[i]);
        } else {
            heard.text.push_back(static_cast<char>(wire[i]));
        }
    }
    return heard;
}

inline bool Answer(const Bytes& a, bool positive)
{
    return a.size() >= 5 && a[1] == 0x02 && (a[3] == 0x01) == positive && Xor(a, a.size() - 1) == a.back();
}
inline bool Positive(const Bytes& a) { return Answer(a, true); }
inline bool Negative(const Bytes& a) { return Answer(a, false); }

const Bytes TYPESIX_RESET_FRAME{0x5C, 0x73, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x5C, 0x65};

// The tool's TypeSix conversation over any line: `exchange` sends the wire
// bytes and gives back the one answer payload (empty when none came).
class TypeSixTool {
public:
    using Exchange = std::function<Bytes(const Bytes& wire)>;
    explicit TypeSixTool(Exchange exchange) : m_exchange(std::move(exchange)) {}

    Bytes Payload(uint8_t code, const Bytes& params = {})
    {
        Bytes p{seq++, code};
        p.insert(p.end(), params.begin(), params.end());
        p.push_back(Xor(p, p.size()));
        return p;
    }
    Bytes Raw(const Bytes& payload) { return m_exchange(Wrap(payload)); }
    Bytes Command(uint8_t code, const Bytes& params = {}) { return Raw(Payload(code, params)); }

    // Init and read version, the counter starting over.
    bool Init(bool withVersion)
    {
        seq = 0;
        return Positive(Command(0x01)) && (!withVersion || Positive(Command(0x25)));
    }

    // ssb packet: seq, FC, number (LE), data, check right after the data, 0xFF up to P + 7.
    Bytes SsbPacket(uint32_t number, const uint8_t* data, size_t n, size_t packetSize)
    {
        Bytes p{seq++, 0xFC};
        PutLe32(p, number);
        p.insert(p.end(), data, data + n);
        p.push_back(Xor(p, p.size()));
        p.resize(packetSize + 7, 0xFF);
        return p;
    }

    // Packets, then the digest frame; true when every answer was positive.
    bool SendSsb(const Bytes& image, size_t packetSize, const Bytes& digest)
    {
        bool ok = true;
        for (size_t at = 0, k = 0; at < image.size(); at += packetSize, ++k) {
            const size_t n = std::min(packetSize, image.size() - at);
            ok = Positive(Raw(SsbPacket(static_cast<uint32_t>(k), image.data() + at, n, packetSize))) && ok;
        }
        Bytes params;
        PutBe32(params, static_cast<uint32_t>(image.size()));
        params.insert(params.end(), digest.begin(), digest.end());
        return Positive(Command(0xFD, params)) && ok;
    }

    Bytes ExitFrame() { return Wrap(Payload(0x0A)); }

    Bytes DataFrame(const uint8_t* data, size_t n, size_t packetSize)
    {
        Bytes p{seq++, 0x04};
        p.insert(p.end(), data, data + n);
        p.resize(2 + packetSize, 0xFF);
        p.push_back(Xor(p, p.size()));
        return p;
    }

    bool SendData(const Bytes& image, size_t packetSize)
    {
        bool ok = true;
        for (size_t at = 0; at < image.size(); at += packetSize) {
            ok = Positive(Raw(DataFrame(image.data() + at, std::min(packetSize, image.size() - at), packetSize))) && ok;
        }
        return ok;
    }

    static Bytes SpeedParams(uint32_t baud)
    {
        Bytes params;
        PutBe32(params, baud);
        PutBe32(params, 28672);
        return params;
    }

    bool Head(uint8_t fileCode, uint32_t address, uint32_t region)
    {
        Bytes head{fileCode};
        PutBe32(head, address);
        PutBe32(head, region);
        return Init(false) && Positive(Command(0x0D, SpeedParams(115200))) && Positive(Command(0x36, head));
    }

    Bytes Sha(uint32_t address, uint32_t lengthField, const Bytes& digest)
    {
        Bytes sha;
        PutBe32(sha, address);
        PutBe32(sha, lengthField);
        sha.insert(sha.end(), digest.begin(), digest.end());
        return Command(0x37, sha);
    }

    // Flash/eMMC/OTP: init, set speed, bin head, data, end page, digest; gives the digest answer.
    Bytes SendOtherImage(uint8_t fileCode, uint32_t address, uint32_t region, const Bytes& image, size_t packetSize,
                         const Bytes& digest, uint32_t lengthField)
    {
        EXPECT_TRUE(Head(fileCode, address, region) && SendData(image, packetSize) && Positive(Command(0x05)));
        return Sha(address, lengthField, digest);
    }

    // Application: init, set speed, limits, erase core, start, data, end page,
    // memory config, [digest], kv key; gives the digest answer.
    Bytes SendAppImage(uint8_t fileType, const Bytes& image, size_t packetSize, const Bytes& digest)
    {
        Bytes config{fileType};
        PutBe32(config, static_cast<uint32_t>(image.size()));
        PutBe32(config, 262144);
        EXPECT_TRUE(Init(false) && Positive(Command(0x0D, SpeedParams(115200))) &&
                    Positive(Command(0x11, {0x01, 0x10, 0x01, 0x30, 0x00, 0xA0, 0x00, 0x18, 0x01, 0x00})) &&
                    Positive(Command(0x07, {fileType})) && Positive(Command(0x03, {fileType, 0x00, 0x00})) &&
                    SendData(image, packetSize) && Positive(Command(0x05)) && Positive(Command(0x06, config)));
        Bytes shaAnswer;
        if (!digest.empty()) {
            Bytes sha{fileType};
            sha.insert(sha.end(), digest.begin(), digest.end());
            shaAnswer = Command(0x02, sha);
        }
        EXPECT_TRUE(Positive(Command(0x1E, {0x00, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00})));
        return shaAnswer;
    }

    uint8_t seq = 0;

private:
    Exchange m_exchange;
};

// ---- an in-process line ----

// Keeps what the board sends, answers (Write) apart from bulk data (WriteData),
// and the order of writes and speed changes.
class RecordingLine : public Sim::Line {
public:
    struct Chunk {
        bool answer;
        Bytes bytes;
    };
    using Sim::Line::Write;
    using Sim::Line::WriteData;
    void Write(const uint8_t* data, size_t length) override { Keep(true, data, length); }
    void WriteData(const uint8_t* data, size_t length) override { Keep(false, data, length); }
    void SetBaud(uint32_t b) override
    {
        baud = b;
        log.push_back("baud " + std::to_string(b));
    }
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
    std::vector<std::string> log;
    uint32_t baud = 115200;

private:
    void Keep(bool answer, const uint8_t* data, size_t length)
    {
        chunks.push_back({answer, Bytes(data, data + length)});
        log.push_back("write");
    }
};

inline bool Mentions(const std::vector<std::string>& errors, const std::string& text)
{
    return std::any_of(errors.begin(), errors.end(),
                       [&](const std::string& e) { return e.find(text) != std::string::npos; });
}

}  // namespace SimTest
