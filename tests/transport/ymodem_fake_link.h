// An in-memory line for the YMODEM tests: the tool side is a ChipLink, the
// other side is driven by a scripted peer thread that plays the loader from
// the wire description alone (its own CRC, its own frame table).
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "transport/chip_link.h"

namespace YmodemTest {

constexpr int PEER_TIMEOUT_MS = 20000;  // "must end" bound of a peer read

// CRC-16, polynomial 0x1021, initial 0, MSB first, bit by bit.
inline uint16_t WireCrc16(const uint8_t* data, size_t length)
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

// Data bytes behind a head byte, as the wire description lists them.
inline size_t WireDataSize(uint8_t head)
{
    switch (head) {
        case 0x01: return 128;
        case 0x02: return 1024;
        case 0x0A: return 2048;
        case 0x0B: return 4096;
        case 0x0C: return 8192;
        default: return 0;
    }
}

// head, block, ~block, data, CRC high byte first.
inline std::vector<uint8_t> WireFrame(uint8_t head, uint8_t block, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> frame(3 + data.size() + 2);
    frame[0] = head;
    frame[1] = block;
    frame[2] = static_cast<uint8_t>(0xFF - block);
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    frame.resize(3 + data.size());
    uint16_t crc = WireCrc16(data.data(), data.size());
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

class FakeLink : public ChipLink {
public:
    // ---- tool side
    unsigned long Send(const unsigned char* data, unsigned long length) override
    {
        if (m_failSend || m_broken) {
            return 0;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_toPeer.insert(m_toPeer.end(), data, data + length);
        m_sendCalls++;
        m_peerCv.notify_all();
        return length;
    }
    unsigned long Receive(unsigned char* buffer, unsigned long length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = std::min<size_t>(length, m_toTool.size());
        std::copy(m_toTool.begin(), m_toTool.begin() + static_cast<long>(n), buffer);
        m_toTool.erase(m_toTool.begin(), m_toTool.begin() + static_cast<long>(n));
        return static_cast<unsigned long>(n);
    }
    bool WaitForData(uint32_t timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_toolCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return !m_toTool.empty() || m_broken; });
        return !m_toTool.empty();
    }
    bool CheckIsCancel() override { return m_cancel; }
    long long GetThisPtr() const override { return 0x5EED; }
    int SendCmd(unsigned char*, unsigned long, unsigned char*, int, int) override { return 0; }
    bool IsLineBroken() const override { return m_broken; }

    // ---- peer side
    void PeerWrite(const std::vector<uint8_t>& bytes)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_toTool.insert(m_toTool.end(), bytes.begin(), bytes.end());
        m_toolCv.notify_all();
    }
    void PeerWrite(uint8_t byte) { PeerWrite(std::vector<uint8_t>{byte}); }

    // Exactly count bytes, or fewer when the wait ends or the line closes.
    std::vector<uint8_t> PeerRead(size_t count, int timeoutMs = PEER_TIMEOUT_MS)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_peerCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return m_toPeer.size() >= count || m_closed; });
        size_t n = std::min(count, m_toPeer.size());
        std::vector<uint8_t> bytes(m_toPeer.begin(), m_toPeer.begin() + static_cast<long>(n));
        m_toPeer.erase(m_toPeer.begin(), m_toPeer.begin() + static_cast<long>(n));
        return bytes;
    }
    // The next byte, or -1.
    int PeerReadByte(int timeoutMs = PEER_TIMEOUT_MS)
    {
        std::vector<uint8_t> b = PeerRead(1, timeoutMs);
        return b.empty() ? -1 : b[0];
    }
    // What the tool has sent and the peer has not read.
    size_t PendingForPeer()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_toPeer.size();
    }
    // What the peer has sent and the tool has not taken.
    std::vector<uint8_t> PendingForTool()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::vector<uint8_t>(m_toTool.begin(), m_toTool.end());
    }
    // Wakes a blocked peer once the tool is done.
    void Close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_peerCv.notify_all();
    }
    void Break()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_broken = true;
        m_toolCv.notify_all();
    }
    void SetCancel(bool cancel) { m_cancel = cancel; }
    void SetFailSend(bool fail) { m_failSend = fail; }
    int SendCalls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sendCalls;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_toolCv;
    std::condition_variable m_peerCv;
    std::deque<uint8_t> m_toTool;
    std::deque<uint8_t> m_toPeer;
    int m_sendCalls = 0;
    bool m_closed = false;
    std::atomic<bool> m_broken{false};
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_failSend{false};
};

}  // namespace YmodemTest
