// What the device tests share: a board at the far end of a real
// pseudo-terminal (the chip object opens the slave path like any serial
// device, a scripted peer thread answers on the master side), the board's view
// of every wire format written from the frame tables (never from the tool's
// frame code; only the checksum functions are shared), fwpkg packages,
// tarnwick-sim as a child process with its report, and the console capture.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/checksum.h"
#include "common/console.h"
#include "common/sha256_util.h"
#include "device/burn_chip_base.h"

extern char** environ;

using Bytes = std::vector<uint8_t>;

// Generous bound for anything the peer waits for: a loaded machine or a
// sanitizer build may be slow, and the tool always answers much sooner.
constexpr int PEER_READ_TIMEOUT_MS = 10000;

class PtyBoard {
public:
    PtyBoard()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
            ptsname_r(m_master, name, sizeof(name)) != 0) {
            CloseLine();
            return;
        }
        m_slavePath = name;
        // Holding the slave open keeps the line's settings between opens and
        // spares the master a hang-up when the tool closes its end.
        m_slaveHolder = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        struct termios tio {};
        if (m_slaveHolder >= 0 && tcgetattr(m_slaveHolder, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_slaveHolder, TCSANOW, &tio);
        }
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }

    ~PtyBoard()
    {
        m_stop = true;
        Join();
        CloseLine();
        if (m_slaveHolder >= 0) {
            close(m_slaveHolder);
        }
    }

    PtyBoard(const PtyBoard&) = delete;
    PtyBoard& operator=(const PtyBoard&) = delete;

    bool Ok() const { return m_master >= 0 && m_slaveHolder >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }

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
        Bytes out = ReadUpTo(n, timeoutMs);
        if (out.size() < n) {
            out.clear();
        }
        m_log.insert(m_log.end(), out.begin(), out.end());
        return out;
    }

    // Whatever the tool sends within ms milliseconds.
    Bytes Drain(int ms)
    {
        const Bytes out = ReadUpTo(SIZE_MAX, ms);
        m_log.insert(m_log.end(), out.begin(), out.end());
        return out;
    }

    void Write(const Bytes& bytes)
    {
        size_t done = 0;
        while (done < bytes.size() && m_master >= 0) {
            const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            struct pollfd pfd {m_master, POLLOUT, 0};
            if (poll(&pfd, 1, 1000) <= 0) {
                return;
            }
        }
    }
    void Write(const std::string& text) { Write(Bytes(text.begin(), text.end())); }

    // Writes in two pieces with a pause between, cut after `cut` bytes.
    void WriteSplit(const Bytes& bytes, size_t cut, int pauseMs = 30)
    {
        Write(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        Write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end()));
    }

    // The board's end goes away, like a pulled cable.
    void CloseLine()
    {
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }

    // Everything the peer read, for checks after Join.
    const Bytes& Log() const { return m_log; }

private:
    int m_master = -1;
    int m_slaveHolder = -1;
    std::string m_slavePath;
    std::thread m_peer;
    std::atomic<bool> m_stop{false};
    Bytes m_log;

    Bytes ReadUpTo(size_t n, int timeoutMs)
    {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && !m_stop && m_master >= 0 && std::chrono::steady_clock::now() < deadline) {
            uint8_t chunk[4096];
            const ssize_t got = read(m_master, chunk, std::min(n - out.size(), sizeof(chunk)));
            if (got > 0) {
                out.insert(out.end(), chunk, chunk + got);
            } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            } else {
                struct pollfd pfd {m_master, POLLIN, 0};
                poll(&pfd, 1, 10);
            }
        }
        return out;
    }
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

// The console funnel's messages, gathered while a test runs.
class MessageCapture {
public:
    MessageCapture()
    {
        Take();
        g_printInfo = [](long long, const char*, const char* message, const char*, int) {
            std::lock_guard<std::mutex> lock(Store().lock);
            Store().text += message;
        };
    }
    ~MessageCapture() { g_printInfo = nullptr; }

    std::string Get() const
    {
        std::lock_guard<std::mutex> lock(Store().lock);
        return Store().text;
    }
    bool Has(const std::string& message) const { return Get().find(message) != std::string::npos; }
    size_t Count(const std::string& message) const
    {
        const std::string text = Get();
        size_t n = 0;
        for (size_t at = text.find(message); at != std::string::npos; at = text.find(message, at + 1)) {
            ++n;
        }
        return n;
    }
    // What was printed since the last Take.
    std::string Take()
    {
        std::lock_guard<std::mutex> lock(Store().lock);
        std::string text;
        text.swap(Store().text);
        return text;
    }

private:
    struct Shared {
        std::mutex lock;
        std::string text;
    };
    static Shared& Store()
    {
        static Shared shared;
        return shared;
    }
};

// The chip base needs a family for its two pure operations; nothing else changes.
class PlainChip : public BurnChipBase {
public:
    void SetOnlyBurnNames(const std::vector<std::string>& names) override { m_names = names; }
    std::vector<std::string> GetOnlyBurnNames() const override { return m_names; }

private:
    std::vector<std::string> m_names;
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

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/tarnwick-device-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = made != nullptr ? made : "/tmp";
    }
    ~TempDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
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

struct PackageImage {
    std::string name;
    uint32_t type;
    Bytes data;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
};

// Normal fwpkg layout, little-endian: flag DFADBEEF | crc u16 | count u16 |
// 4 free | entries of 52 bytes (name[32], offset, length, address, size,
// type) | images. The CRC covers bytes 6 to the end of the table.
inline Bytes BuildPackage(const std::vector<PackageImage>& images)
{
    const size_t tableEnd = 12 + 52 * images.size();
    Bytes package(tableEnd, 0);
    auto put = [&package](size_t at, uint32_t value) {
        for (size_t i = 0; i < 4; ++i) {
            package[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    put(0, 0xEFBEADDF);
    package[6] = static_cast<uint8_t>(images.size());
    package[7] = static_cast<uint8_t>(images.size() >> 8);
    for (size_t i = 0; i < images.size(); ++i) {
        const size_t at = 12 + 52 * i;
        const PackageImage& image = images[i];
        std::copy(image.name.begin(), image.name.end(), package.begin() + static_cast<std::ptrdiff_t>(at));
        put(at + 32, static_cast<uint32_t>(package.size()));
        put(at + 36, static_cast<uint32_t>(image.data.size()));
        put(at + 40, image.burnAddress);
        put(at + 44, image.burnSize);
        put(at + 48, image.type);
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

// One simulated board; its report is read after Stop.
class SimBoard {
public:
    explicit SimBoard(std::vector<std::string> args)
    {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        args.insert(args.begin(), SimPath());
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
        for (char c = 0; m_pid > 0 && read(out[0], &c, 1) == 1 && c != '\n';) {
            m_ptyPath += c;
        }
        close(out[0]);
    }
    ~SimBoard() { Stop(); }

    bool Ok() const { return m_pid > 0 && !m_ptyPath.empty(); }
    const std::string& PtyPath() const { return m_ptyPath; }

    // Lets the simulator end by itself (the tool closed the line after a
    // reset), else asks it to stop; its report is written either way.
    void Stop()
    {
        int status = 0;
        for (int i = 0; m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == 0; ++i) {
            if (i == 100) {
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

// The simulator's JSON report: one list item per line.
struct SimReport {
    std::string text;

    std::vector<std::string> List(const std::string& key) const
    {
        std::vector<std::string> items;
        const std::string head = "\"" + key + "\": [";
        size_t at = text.find(head);
        if (at == std::string::npos || text.compare(at + head.size(), 1, "]") == 0) {
            return items;
        }
        for (at = text.find('\n', at) + 1; at < text.size();) {
            const size_t end = text.find('\n', at);
            std::string line = text.substr(at, end - at);
            line.erase(0, line.find_first_not_of(' '));
            if (line.empty() || line[0] == ']') {
                break;
            }
            items.push_back(line.back() == ',' ? line.substr(0, line.size() - 1) : line);
            at = end + 1;
        }
        return items;
    }
};

// The value of key in a one-line JSON object, without quotes.
inline std::string Field(const std::string& object, const std::string& key)
{
    const size_t at = object.find("\"" + key + "\": ");
    if (at == std::string::npos) {
        return "";
    }
    const size_t from = at + key.size() + 4;
    std::string value = object.substr(from, object.find_first_of(",}", from) - from);
    return value.size() >= 2 && value[0] == '"' ? value.substr(1, value.size() - 2) : value;
}

inline SimReport ReadReport(const std::string& path)
{
    const Bytes bytes = ReadFile(path);
    return {std::string(bytes.begin(), bytes.end())};
}
