// What the device tests share: a board at the far end of a real
// pseudo-terminal (the chip object opens the slave path like any serial
// device, a scripted peer thread answers on the master side), the board's view
// of every wire format written from the frame tables (never from the tool's
// frame code; only the checksum functions are shared), fwpkg packages,
// tarnwick-sim as a child process with its report, and the console capture.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/checksum.h"
#include "device/burn_chip_base.h"
#include "support/fwpkg_builder.h"
#include "support/print_capture.h"
#include "support/pty_pair.h"
#include "support/sim_launcher.h"
#include "support/test_files.h"

using TestSupport::BuildPackage;
using TestSupport::Bytes;
using TestSupport::Field;
using TestSupport::Hex;
using TestSupport::PackageImage;
using TestSupport::Pattern;
using TestSupport::PtyPair;
using TestSupport::ReadFile;
using TestSupport::ReadSimReport;
using TestSupport::Sha256;
using TestSupport::SimPath;
using TestSupport::SimProcess;
using TestSupport::SimReport;
using TestSupport::TempDir;

// Generous bound for anything the peer waits for: a loaded machine or a
// sanitizer build may be slow, and the tool always answers much sooner.
constexpr int PEER_READ_TIMEOUT_MS = 10000;

class PtyBoard {
public:
    ~PtyBoard()
    {
        m_pty.StopReads();
        Join();
    }

    bool Ok() const { return m_pty.Ok(); }
    const std::string& SlavePath() const { return m_pty.SlavePath(); }

    // Plays the board in a thread of its own until the script returns.
    void Play(std::function<void(PtyBoard&)> script)
    {
        m_peer = std::thread([this, script] { script(*this); });
    }

    void Join()
    {
        if (m_peer.joinable()) {
            m_peer.join();
        }
    }

    // --- used by the script, on the peer thread ----------------------------

    // Exactly n bytes from the tool; an empty result when they do not come.
    Bytes Read(size_t n, int timeoutMs = PEER_READ_TIMEOUT_MS)
    {
        Bytes out = m_pty.ReadFor(n, timeoutMs);
        if (out.size() < n) {
            out.clear();
        }
        m_log.insert(m_log.end(), out.begin(), out.end());
        return out;
    }

    // Whatever the tool sends within ms milliseconds.
    Bytes Drain(int ms)
    {
        const Bytes out = m_pty.ReadFor(SIZE_MAX, ms);
        m_log.insert(m_log.end(), out.begin(), out.end());
        return out;
    }

    void Write(const Bytes& bytes) { m_pty.Write(bytes); }
    void Write(const std::string& text) { m_pty.Write(Bytes(text.begin(), text.end())); }

    // Writes in two pieces with a pause between, cut after `cut` bytes.
    void WriteSplit(const Bytes& bytes, size_t cut, int pauseMs = 30)
    {
        Write(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        Write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end()));
    }

    // The board's end goes away, like a pulled cable.
    void CloseLine() { m_pty.CloseMaster(); }

    // Everything the peer read, for checks after Join.
    const Bytes& Log() const { return m_log; }

private:
    PtyPair m_pty;
    std::thread m_peer;
    Bytes m_log;
};

// One exchange of a scripted board: take `read` bytes from the tool (none:
// answer at once), then write the answer, in two pieces when `cut` is set.
struct Step {
    size_t read;
    Bytes write;
    size_t cut = 0;
};

inline std::function<void(PtyBoard&)> Script(std::vector<Step> steps)
{
    return [steps](PtyBoard& b) {
        for (const Step& step : steps) {
            if (step.read != 0 && b.Read(step.read).empty()) {
                return;
            }
            if (step.cut != 0) {
                b.WriteSplit(step.write, step.cut);
            } else {
                b.Write(step.write);
            }
        }
    };
}

using MessageCapture = TestSupport::PrintCapture;

// The chip base needs a family for its two pure operations; nothing else changes.
class PlainChip : public BurnChipBase {
public:
    void SetOnlyBurnNames(const std::vector<std::string>& names) override { m_names = names; }
    std::vector<std::string> GetOnlyBurnNames() const override { return m_names; }

private:
    std::vector<std::string> m_names;
};

// A chip whose port is open on a scripted board, with its messages captured.
class ChipOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.Ok());
        ASSERT_EQ(chip.OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0), 1);
    }

    PtyBoard board;
    MessageCapture messages;
    PlainChip chip;
};

// --- boot ROM frames --------------------------------------------------------------

inline uint16_t Crc(const Bytes& bytes, size_t count)
{
    return Common::SopCrc16(bytes.data(), static_cast<uint32_t>(count));
}

// Appends the CRC of everything so far, high byte first.
inline Bytes WithCrcBe(Bytes bytes)
{
    const uint16_t crc = Crc(bytes, bytes.size());
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    bytes.push_back(static_cast<uint8_t>(crc));
    return bytes;
}

// Appends the CRC of everything so far, low byte first.
inline Bytes WithCrcLe(Bytes bytes)
{
    const uint16_t crc = Crc(bytes, bytes.size());
    bytes.push_back(static_cast<uint8_t>(crc));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    return bytes;
}

inline bool CrcBeOk(const Bytes& frame)
{
    return frame.size() >= 2 && WithCrcBe(Bytes(frame.begin(), frame.end() - 2)) == frame;
}

inline uint32_t Be32(const Bytes& p, size_t at)
{
    return (uint32_t(p[at]) << 24) | (uint32_t(p[at + 1]) << 16) | (uint32_t(p[at + 2]) << 8) | p[at + 3];
}

// CB | index | ~index | status | CRC BE
inline Bytes ReplyFrame(uint8_t index, uint8_t status)
{
    return WithCrcBe({0xCB, index, static_cast<uint8_t>(~index), status});
}

// EF BE AD DE | length LE | 2 free | status | free | CRC LE. With length 12
// it is also the Vb27 boot ROM's ACK frame.
inline Bytes ShakeReply(uint16_t length, uint8_t status)
{
    return WithCrcLe({0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0x00,
                      0x00, status, 0x00});
}

// CE | B | 2 free | A BE | CRC BE | AA
inline Bytes BoardReply(uint8_t b, uint32_t a)
{
    Bytes reply = WithCrcBe({0xCE, b, 0x00, 0x00, static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                             static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)});
    reply.push_back(0xAA);
    return reply;
}

// --- Vb27 boot ROM: command frames in, YMODEM images in ---------------------------------

inline Bytes Vb27Ack(uint8_t result)
{
    return ShakeReply(12, result);
}

struct Vb27Command {
    uint8_t code = 0;
    Bytes params;  // bytes 8 .. n-3
    Bytes raw;
    uint32_t U32(size_t at) const
    {
        return params[at] | (uint32_t(params[at + 1]) << 8) | (uint32_t(params[at + 2]) << 16) |
               (uint32_t(params[at + 3]) << 24);
    }
};

// EF BE AD DE | length LE | code | ~code | params | CRC LE; the next frame
// must come now. Handshake frames (F0) are passed over unless asked for.
inline bool NextVb27Command(PtyBoard& board, Vb27Command& command, bool skipHandshakes = true)
{
    for (;;) {
        Bytes raw = board.Read(6);
        if (raw.size() != 6 || Be32(raw, 0) != 0xEFBEADDE) {
            ADD_FAILURE() << "no command frame";
            return false;
        }
        const size_t length = raw[4] | (raw[5] << 8);
        const Bytes rest = length >= 10 ? board.Read(length - 6) : Bytes{};
        raw.insert(raw.end(), rest.begin(), rest.end());
        if (raw.size() != length || WithCrcLe(Bytes(raw.begin(), raw.end() - 2)) != raw ||
            static_cast<uint8_t>(~raw[6]) != raw[7]) {
            ADD_FAILURE() << "broken command frame";
            return false;
        }
        if (!skipHandshakes || raw[6] != 0xF0) {
            command = {raw[6], Bytes(raw.begin() + 8, raw.end() - 2), raw};
            return true;
        }
    }
}

struct YmodemFile {
    std::string name;
    size_t frameDataSize = 0;  // data bytes of the first data frame
    Bytes data;                // cut to the announced size
};

// The loader's YMODEM receiver after the board's 'C': block 0 (name, "0x"
// size), data frames of the head's size, EOT, an all-zero block 0. Handshake
// frames still on their way when the ACK went out are passed over.
inline bool ReceiveYmodemFile(PtyBoard& board, YmodemFile& file)
{
    Bytes block0 = board.Read(1);
    while (!block0.empty() && block0[0] == 0xEF) {
        const Bytes rest = board.Read(17);  // the rest of an 18-byte handshake frame
        block0 = rest.size() == 17 ? board.Read(1) : Bytes{};
    }
    const Bytes rest0 = board.Read(132);
    block0.insert(block0.end(), rest0.begin(), rest0.end());
    if (block0.size() != 133 || block0[0] != 0x01 || block0[1] != 0x00 || block0[2] != 0xFF ||
        WithCrcBe(Bytes(block0.begin() + 3, block0.begin() + 131)) != Bytes(block0.begin() + 3, block0.end())) {
        ADD_FAILURE() << "bad block 0";
        return false;
    }
    file.name = reinterpret_cast<const char*>(&block0[3]);
    const char* sizeText = reinterpret_cast<const char*>(&block0[3 + file.name.size() + 1]);
    EXPECT_EQ(std::strncmp(sizeText, "0x", 2), 0) << "the size is written as 0x...";
    const size_t announced = std::strtoul(sizeText, nullptr, 16);
    board.Write(Bytes{0x06});
    for (uint8_t block = 1;; ++block) {
        const Bytes head = board.Read(1);
        if (head.empty()) {
            return false;
        }
        if (head[0] == 0x04) {
            board.Write(Bytes{0x06});
            break;
        }
        const size_t size = head[0] == 0x02 ? 1024 : head[0] == 0x0A ? 2048 : head[0] == 0x0B ? 4096
                                                   : head[0] == 0x0C ? 8192 : 0;
        const Bytes rest = size != 0 ? board.Read(size + 4) : Bytes{};
        if (rest.size() != size + 4 || rest[0] != block || rest[1] != 0xFF - block ||
            WithCrcBe(Bytes(rest.begin() + 2, rest.end() - 2)) != Bytes(rest.begin() + 2, rest.end())) {
            ADD_FAILURE() << "bad data frame " << int(block);
            return false;
        }
        file.frameDataSize = file.frameDataSize == 0 ? size : file.frameDataSize;
        file.data.insert(file.data.end(), rest.begin() + 2, rest.end() - 2);
        board.Write(Bytes{0x06});
    }
    Bytes finish = {0x01, 0x00, 0xFF};
    finish.resize(133, 0x00);
    if (board.Read(133) != finish || file.data.size() < announced) {
        ADD_FAILURE() << "bad finish frame or fewer bytes than announced";
        return false;
    }
    board.Write(Bytes{0x06});
    file.data.resize(announced);
    return true;
}

// --- TypeSix: escaped frames -------------------------------------------------------------

inline uint8_t Xor(const Bytes& bytes, size_t count)
{
    uint8_t x = 0;
    for (size_t i = 0; i < count && i < bytes.size(); ++i) {
        x = static_cast<uint8_t>(x ^ bytes[i]);
    }
    return x;
}

// 5C 73 | payload, every 5C doubled | 5C 65
inline Bytes Wire(const Bytes& payload)
{
    Bytes wire = {0x5C, 0x73};
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

// seq | 02 | code | result | data | XOR check
inline Bytes AnswerPayload(uint8_t seq, uint8_t code, uint8_t result = 0x01, const Bytes& data = {})
{
    Bytes payload = {seq, 0x02, code, result};
    payload.insert(payload.end(), data.begin(), data.end());
    payload.push_back(Xor(payload, payload.size()));
    return payload;
}

inline Bytes Answer(uint8_t seq, uint8_t code, uint8_t result = 0x01, const Bytes& data = {})
{
    return Wire(AnswerPayload(seq, code, result, data));
}

// The next complete TypeSix frame off the line: its payload (un-escaped) and
// its bytes as sent from the start mark on.
inline bool NextTypeSixFrame(PtyBoard& board, Bytes& payload, Bytes* wire = nullptr)
{
    payload.clear();
    Bytes raw;
    bool inFrame = false;
    for (;;) {
        const Bytes one = board.Read(1);
        const Bytes next = (!one.empty() && one[0] == 0x5C) ? board.Read(1) : Bytes{};
        if (one.empty() || (one[0] == 0x5C && next.empty())) {
            return false;
        }
        raw.insert(raw.end(), one.begin(), one.end());
        raw.insert(raw.end(), next.begin(), next.end());
        if (one[0] == 0x5C && next[0] == 0x73) {
            inFrame = true;
            payload.clear();
            raw = {0x5C, 0x73};
        } else if (one[0] == 0x5C && next[0] == 0x65 && inFrame) {
            if (wire != nullptr) {
                *wire = raw;
            }
            return true;
        } else if (inFrame) {
            payload.push_back(next.empty() ? one[0] : next[0]);
        }
    }
}

// --- files and packages ------------------------------------------------------------------

// Writes the file and gives its path back.
inline std::string WriteFile(const std::string& path, const Bytes& bytes)
{
    TestSupport::WriteFile(path, bytes);
    return path;
}

