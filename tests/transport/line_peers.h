// The lines the transport tests play the board on: a real pseudo-terminal
// pair (the code under test opens the slave path like any serial device, the
// test writes and reads the master), and an in-memory ChipLink whose far side
// a scripted YMODEM peer drives from the wire description alone (its own CRC,
// its own frame table). Also the console capture.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "support/print_capture.h"
#include "support/pty_pair.h"
#include "support/test_files.h"
#include "transport/chip_link.h"

using TestSupport::Bytes;
using TestSupport::Pattern;
using TestSupport::PrintCapture;
using TestSupport::PtyPair;
using TestSupport::ReadFile;

// Threads of this process, from /proc.
inline int ThreadCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count;
}

// --- YMODEM, as the wire description lays it out ------------------------------------

constexpr int PEER_TIMEOUT_MS = 20000;  // "must end" bound of a peer read
constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;

// Data bytes behind a head byte.
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
inline Bytes WireFrame(uint8_t head, uint8_t block, const Bytes& data)
{
    const uint16_t crc = TestSupport::Crc16(data.data(), data.size());
    Bytes frame(3 + data.size() + 2);
    frame[0] = head;
    frame[1] = block;
    frame[2] = static_cast<uint8_t>(0xFF - block);
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    frame[3 + data.size()] = static_cast<uint8_t>(crc >> 8);
    frame[4 + data.size()] = static_cast<uint8_t>(crc & 0xFF);
    return frame;
}

// Block 0: name, NUL, size as "0x..." text, zeros.
inline Bytes StartBlock(const std::string& name, size_t size)
{
    Bytes data(128, 0);
    std::copy(name.begin(), name.end(), data.begin());
    char* text = reinterpret_cast<char*>(data.data()) + name.size() + 1;
    std::snprintf(text, data.size() - name.size() - 1, "0x%zx", size);
    return WireFrame(SOH, 0, data);
}

// Frames of dataSize bytes under head, the last one padded with zeros.
inline std::vector<Bytes> Frames(const Bytes& data, size_t dataSize, uint8_t head)
{
    std::vector<Bytes> frames;
    for (size_t offset = 0, block = 1; offset < data.size(); offset += dataSize, ++block) {
        Bytes chunk(data.begin() + static_cast<long>(offset),
                    data.begin() + static_cast<long>(std::min(data.size(), offset + dataSize)));
        chunk.resize(dataSize, 0x00);
        frames.push_back(WireFrame(head, static_cast<uint8_t>(block & 0xFF), chunk));
    }
    return frames;
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
        m_peerCv.notify_all();
        return length;
    }
    unsigned long Receive(unsigned char* buffer, unsigned long length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const size_t n = std::min<size_t>(length, m_toTool.size());
        std::copy(m_toTool.begin(), m_toTool.begin() + static_cast<long>(n), buffer);
        m_toTool.erase(m_toTool.begin(), m_toTool.begin() + static_cast<long>(n));
        return static_cast<unsigned long>(n);
    }
    bool WaitForData(uint32_t timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_toolCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_toTool.empty() || m_broken; });
        return !m_toTool.empty();
    }
    bool CheckIsCancel() override { return m_cancel; }
    long long GetThisPtr() const override { return 0x5EED; }
    int SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize, int timeout) override
    {
        command.assign(reinterpret_cast<const char*>(cmd), length);
        replyZeroed = std::all_of(reply, reply + replySize, [](unsigned char b) { return b == 0; });
        commandReplySize = replySize;
        commandTimeout = timeout;
        ++commands;
        return commandAnswer;
    }
    bool IsLineBroken() const override { return m_broken; }

    // What SendCmd was given, and what it answers.
    std::string command;
    bool replyZeroed = false;
    int commandReplySize = 0;
    int commandTimeout = 0;
    int commands = 0;
    int commandAnswer = 1;

    // ---- peer side
    void PeerWrite(const Bytes& bytes)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_toTool.insert(m_toTool.end(), bytes.begin(), bytes.end());
        m_toolCv.notify_all();
    }

    // Exactly count bytes, or fewer when the wait ends or the line closes.
    Bytes PeerRead(size_t count, int timeoutMs = PEER_TIMEOUT_MS)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_peerCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return m_toPeer.size() >= count || m_closed; });
        const size_t n = std::min(count, m_toPeer.size());
        Bytes bytes(m_toPeer.begin(), m_toPeer.begin() + static_cast<long>(n));
        m_toPeer.erase(m_toPeer.begin(), m_toPeer.begin() + static_cast<long>(n));
        return bytes;
    }
    // The next byte, or -1.
    int PeerReadByte()
    {
        const Bytes b = PeerRead(1);
        return b.empty() ? -1 : b[0];
    }
    // What the tool has sent and the peer has not read.
    size_t PendingForPeer()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_toPeer.size();
    }
    // What the peer has sent and the tool has not taken.
    Bytes PendingForTool()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return Bytes(m_toTool.begin(), m_toTool.end());
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

private:
    std::mutex m_mutex;
    std::condition_variable m_toolCv;
    std::condition_variable m_peerCv;
    std::deque<uint8_t> m_toTool;
    std::deque<uint8_t> m_toPeer;
    bool m_closed = false;
    std::atomic<bool> m_broken{false};
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_failSend{false};
};
