// A board at the far end of a real pseudo-terminal: the chip object opens the
// slave path like any serial device, a scripted peer thread on the master side
// reads what the tool sends and answers byte by byte. Also the capture of the
// console funnel and a minimal concrete chip object.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/checksum.h"
#include "common/console.h"
#include "device/burn_chip_base.h"

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
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && !m_stop && m_master >= 0) {
            uint8_t chunk[4096];
            const size_t want = std::min(n - out.size(), sizeof(chunk));
            const ssize_t got = read(m_master, chunk, want);
            if (got > 0) {
                out.insert(out.end(), chunk, chunk + got);
                continue;
            }
            if (got < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            struct pollfd pfd {m_master, POLLIN, 0};
            poll(&pfd, 1, 20);
        }
        if (out.size() < n) {
            out.clear();
        }
        m_log.insert(m_log.end(), out.begin(), out.end());
        return out;
    }

    // Whatever the tool sends within ms milliseconds.
    Bytes Drain(int ms)
    {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_stop && m_master >= 0 && std::chrono::steady_clock::now() < deadline) {
            uint8_t chunk[4096];
            const ssize_t got = read(m_master, chunk, sizeof(chunk));
            if (got > 0) {
                out.insert(out.end(), chunk, chunk + got);
                continue;
            }
            struct pollfd pfd {m_master, POLLIN, 0};
            poll(&pfd, 1, 10);
        }
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
};

// The console funnel's messages, gathered while a test runs.
class MessageCapture {
public:
    MessageCapture()
    {
        Text().clear();
        g_printInfo = &MessageCapture::OnPrint;
    }
    ~MessageCapture() { g_printInfo = nullptr; }

    std::string Get() const
    {
        std::lock_guard<std::mutex> lock(Lock());
        return Text();
    }
    bool Has(const std::string& message) const { return Get().find(message) != std::string::npos; }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(Lock());
        Text().clear();
    }

private:
    static void OnPrint(long long, const char*, const char* message, const char*, int)
    {
        std::lock_guard<std::mutex> lock(Lock());
        Text() += message;
    }
    static std::string& Text()
    {
        static std::string text;
        return text;
    }
    static std::mutex& Lock()
    {
        static std::mutex lock;
        return lock;
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

// --- the board's own view of the wire, written from the frame tables ---------

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

inline bool CrcBeOk(const Bytes& frame)
{
    if (frame.size() < 2) {
        return false;
    }
    const uint16_t crc = Crc(frame, frame.size() - 2);
    return frame[frame.size() - 2] == static_cast<uint8_t>(crc >> 8) &&
           frame[frame.size() - 1] == static_cast<uint8_t>(crc);
}

// CB | index | ~index | status | CRC BE
inline Bytes ReplyFrame(uint8_t index, uint8_t status)
{
    return WithCrcBe({0xCB, index, static_cast<uint8_t>(~index), status});
}

// EF BE AD DE | length LE | 2 free | status | free | CRC LE
inline Bytes ShakeReply(uint16_t length, uint8_t status)
{
    Bytes reply = {0xEF, 0xBE, 0xAD, 0xDE, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                   0x00, 0x00, status, 0x00};
    const uint16_t crc = Crc(reply, reply.size());
    reply.push_back(static_cast<uint8_t>(crc));
    reply.push_back(static_cast<uint8_t>(crc >> 8));
    return reply;
}

// CE | B | 2 free | A BE | CRC BE | AA
inline Bytes BoardReply(uint8_t b, uint32_t a)
{
    Bytes reply = WithCrcBe({0xCE, b, 0x00, 0x00, static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                             static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)});
    reply.push_back(0xAA);
    return reply;
}
