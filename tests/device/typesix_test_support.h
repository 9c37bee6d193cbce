// What the TypeSix tests share: the board's view of the wire written from the
// frame tables (not from the tool's frame code), a scripted board on a
// pseudo-terminal, a fwpkg package builder, and tarnwick-sim as a child
// process with its JSON report.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/checksum.h"
#include "common/sha256_util.h"
#include "pty_board.h"

extern char** environ;

namespace TypeSixTest {

// --- the wire, as the board sees it -----------------------------------------------

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

inline uint32_t Be32(const Bytes& p, size_t at)
{
    return (static_cast<uint32_t>(p[at]) << 24) | (static_cast<uint32_t>(p[at + 1]) << 16) |
           (static_cast<uint32_t>(p[at + 2]) << 8) | p[at + 3];
}

inline uint32_t Le32(const Bytes& p, size_t at)
{
    return (static_cast<uint32_t>(p[at + 3]) << 24) | (static_cast<uint32_t>(p[at + 2]) << 16) |
           (static_cast<uint32_t>(p[at + 1]) << 8) | p[at];
}

// Reads frames off a scripted board's line one byte at a time.
class FrameReader {
public:
    explicit FrameReader(PtyBoard& board) : m_board(board) {}

    // The next complete frame: its payload (un-escaped) and its bytes as sent.
    bool Next(Bytes& payload, Bytes* wire = nullptr, int timeoutMs = PEER_READ_TIMEOUT_MS)
    {
        payload.clear();
        Bytes raw;
        bool inFrame = false;
        for (;;) {
            const Bytes one = m_board.Read(1, timeoutMs);
            if (one.empty()) {
                return false;
            }
            raw.push_back(one[0]);
            if (one[0] != 0x5C) {
                if (inFrame) {
                    payload.push_back(one[0]);
                }
                continue;
            }
            const Bytes next = m_board.Read(1, timeoutMs);
            if (next.empty()) {
                return false;
            }
            raw.push_back(next[0]);
            if (next[0] == 0x73) {
                inFrame = true;
                payload.clear();
                raw.assign({0x5C, 0x73});
            } else if (next[0] == 0x65 && inFrame) {
                if (wire != nullptr) {
                    *wire = raw;
                }
                return true;
            } else if (inFrame) {
                payload.push_back(next[0]);
            }
        }
    }

private:
    PtyBoard& m_board;
};

// --- files ------------------------------------------------------------------------------

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/typesix-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = made != nullptr ? made : "/tmp";
    }
    ~TempDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes Sha256(const Bytes& data)
{
    Bytes digest(32);
    Sha256Util::sha256(data.data(), data.size(), digest.data());
    return digest;
}

inline std::string Hex(const Bytes& bytes)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += DIGITS[b >> 4];
        out += DIGITS[b & 0x0F];
    }
    return out;
}

// Bytes that look like an image, with 0x5C sprinkled in so that escaping matters.
inline Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes bytes(length);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = (i % 97 == 5) ? 0x5C : static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// --- fwpkg packages (normal layout, little-endian) ------------------------------------

struct PackageImage {
    std::string name;
    uint32_t type;
    Bytes data;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
};

inline void PutLe32(Bytes& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// flag EFBEADDF | crc u16 | count u16 | 4 free | entries of 52 bytes | images
inline Bytes BuildPackage(const std::vector<PackageImage>& images)
{
    constexpr size_t HEADER = 12;
    constexpr size_t ENTRY = 52;
    const size_t tableEnd = HEADER + ENTRY * images.size();
    Bytes package(tableEnd, 0);
    PutLe32(package, 0, 0xEFBEADDF);
    package[6] = static_cast<uint8_t>(images.size());
    package[7] = static_cast<uint8_t>(images.size() >> 8);
    for (size_t i = 0; i < images.size(); ++i) {
        const size_t at = HEADER + ENTRY * i;
        const PackageImage& image = images[i];
        std::copy(image.name.begin(), image.name.end(), package.begin() + static_cast<std::ptrdiff_t>(at));
        PutLe32(package, at + 32, static_cast<uint32_t>(package.size()));
        PutLe32(package, at + 36, static_cast<uint32_t>(image.data.size()));
        PutLe32(package, at + 40, image.burnAddress);
        PutLe32(package, at + 44, image.burnSize);
        PutLe32(package, at + 48, image.type);
        package.insert(package.end(), image.data.begin(), image.data.end());
    }
    const uint16_t crc = Common::SopCrc16(package.data() + 6, static_cast<uint32_t>(tableEnd - 6));
    package[4] = static_cast<uint8_t>(crc);
    package[5] = static_cast<uint8_t>(crc >> 8);
    return package;
}

// --- tarnwick-sim -------------------------------------------------------------------------

inline std::string SimPath()
{
    return std::string(TARNWICK_BIN_DIR) + "/tarnwick-sim";
}

inline bool SimBuilt()
{
    return access(SimPath().c_str(), X_OK) == 0;
}

// One simulated board; the report is read after Stop.
class SimBoard {
public:
    explicit SimBoard(const std::vector<std::string>& options)
    {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args = {SimPath(), "--family", "typesix"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(&arg[0]);
        }
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The first line names the pseudo-terminal.
        char c = 0;
        while (m_pid > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
            m_ptyPath += c;
        }
        close(out[0]);
    }
    ~SimBoard() { Stop(); }

    bool Ok() const { return m_pid > 0 && !m_ptyPath.empty(); }
    const std::string& PtyPath() const { return m_ptyPath; }

    // Waits for the simulator to end by itself (the tool closed the line after
    // a reset), else asks it to stop; its report is written either way.
    void Stop(int graceMs = 2000)
    {
        if (m_pid <= 0) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(m_pid, SIGTERM);
                waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    std::string m_ptyPath;
};

// The parts of the simulator's JSON report the tests look at.
struct SimImage {
    std::string kind;
    uint64_t address = 0;
    int fileType = -1;
    uint64_t length = 0;
    std::string sha256;
    int digestMatched = -1;
};

struct SimReport {
    std::vector<SimImage> images;
    std::vector<std::string> resets;
    std::vector<std::string> baudChanges;
    std::vector<std::string> protocolErrors;
    std::vector<std::string> erases;
    std::string text;
};

// Items of the list named key: one item per line between "key": [ and ].
inline std::vector<std::string> ReportList(const std::string& text, const std::string& key)
{
    std::vector<std::string> items;
    const std::string head = "\"" + key + "\": [";
    size_t at = text.find(head);
    if (at == std::string::npos || text.compare(at + head.size(), 1, "]") == 0) {
        return items;
    }
    at = text.find('\n', at) + 1;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        if (line.find_first_not_of(' ') != std::string::npos && line[line.find_first_not_of(' ')] == ']') {
            break;
        }
        line.erase(0, line.find_first_not_of(' '));
        if (!line.empty() && line.back() == ',') {
            line.pop_back();
        }
        items.push_back(line);
        at = end + 1;
    }
    return items;
}

inline SimReport ReadReport(const std::string& path)
{
    SimReport report;
    const Bytes bytes = ReadFile(path);
    report.text.assign(bytes.begin(), bytes.end());
    const std::regex image(
        "\"kind\": \"([^\"]*)\".*\"address\": (\\d+), \"fileType\": (-?\\d+), \"length\": (\\d+).*"
        "\"sha256\": \"([0-9a-f]*)\", \"digestMatched\": (-?\\d+)");
    for (const std::string& line : ReportList(report.text, "images")) {
        std::smatch m;
        if (std::regex_search(line, m, image)) {
            report.images.push_back({m[1], std::stoull(m[2]), std::stoi(m[3]), std::stoull(m[4]), m[5],
                                     std::stoi(m[6])});
        }
    }
    report.resets = ReportList(report.text, "resets");
    report.baudChanges = ReportList(report.text, "baudChanges");
    report.protocolErrors = ReportList(report.text, "protocolErrors");
    report.erases = ReportList(report.text, "erases");
    return report;
}

}  // namespace TypeSixTest
