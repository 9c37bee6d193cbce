#include "vb27_board_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "common/checksum.h"

namespace Vb27Peer {

namespace {

constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t REQUEST_C = 0x43;
constexpr size_t BLOCK0_FRAME = 133;
constexpr size_t BLOCK0_DATA = 128;
constexpr size_t READBACK_BLOCK = 1024;

uint16_t Crc(const uint8_t* data, size_t length)
{
    return Common::SopCrc16(data, static_cast<uint32_t>(length));
}

void PutLe32(Bytes& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

size_t DataSizeOfHead(uint8_t head)
{
    switch (head) {
        case STX: return 1024;
        case 0x0A: return 2048;
        case 0x0B: return 4096;
        case 0x0C: return 8192;
        default: return 0;
    }
}

// YMODEM frame: head, block, ~block, data, CRC-16 high byte first.
Bytes YmodemFrame(uint8_t head, uint8_t block, const Bytes& data)
{
    Bytes frame = {head, block, static_cast<uint8_t>(0xFF - block)};
    frame.insert(frame.end(), data.begin(), data.end());
    const uint16_t crc = Crc(data.data(), data.size());
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        return;
    }
    const char* name = ptsname(m_master);
    if (name == nullptr) {
        close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = name;
    m_slave = open(name, O_RDWR | O_NOCTTY);
}

PtyPair::~PtyPair()
{
    if (m_slave >= 0) {
        close(m_slave);
    }
    if (m_master >= 0) {
        close(m_master);
    }
}

uint32_t Command::U32(size_t paramOffset) const
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && paramOffset + i < params.size(); ++i) {
        value |= static_cast<uint32_t>(params[paramOffset + i]) << (8 * i);
    }
    return value;
}

Bytes AckFrame(uint8_t result)
{
    Bytes frame = {0xEF, 0xBE, 0xAD, 0xDE, 0x0C, 0x00, 0x00, 0x00, result, 0x00};
    const uint16_t crc = Crc(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

Bytes BuildPackage(const std::vector<PackageImage>& images)
{
    const size_t tableLength = 12 + 52 * images.size();
    Bytes package(tableLength, 0);
    package[0] = 0xDF;
    package[1] = 0xAD;
    package[2] = 0xBE;
    package[3] = 0xEF;
    package[6] = static_cast<uint8_t>(images.size() & 0xFF);
    package[7] = static_cast<uint8_t>(images.size() >> 8);
    for (size_t i = 0; i < images.size(); ++i) {
        const PackageImage& image = images[i];
        Bytes entry(32, 0);
        std::memcpy(entry.data(), image.name.data(), std::min<size_t>(image.name.size(), 32));
        PutLe32(entry, static_cast<uint32_t>(package.size()));
        PutLe32(entry, static_cast<uint32_t>(image.data.size()));
        PutLe32(entry, image.burnAddress);
        PutLe32(entry, image.burnSize);
        PutLe32(entry, image.type);
        std::copy(entry.begin(), entry.end(), package.begin() + static_cast<long>(12 + 52 * i));
        package.insert(package.end(), image.data.begin(), image.data.end());
    }
    const uint16_t crc = Crc(package.data() + 6, tableLength - 6);
    package[4] = static_cast<uint8_t>(crc & 0xFF);
    package[5] = static_cast<uint8_t>(crc >> 8);
    return package;
}

Bytes PatternBytes(size_t length, uint8_t seed)
{
    Bytes bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

void BoardPeer::Write(const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            Fail("write to the tool failed");
            return;
        }
        done += static_cast<size_t>(n);
    }
}

bool BoardPeer::Fail(const std::string& why)
{
    if (m_error.empty()) {
        m_error = why;
    }
    return false;
}

bool BoardPeer::Fill(size_t count, int timeoutMs)
{
    const int64_t end = NowMs() + timeoutMs;
    while (m_pending.size() < count) {
        const int64_t left = end - NowMs();
        if (left <= 0) {
            return Fail("timed out waiting for the tool");
        }
        pollfd fd = {m_fd, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        uint8_t chunk[4096];
        const ssize_t n = ::read(m_fd, chunk, sizeof(chunk));
        if (n <= 0) {
            return Fail("the tool closed the line");
        }
        m_pending.insert(m_pending.end(), chunk, chunk + n);
    }
    return true;
}

bool BoardPeer::Take(uint8_t* out, size_t count, int timeoutMs)
{
    if (!Fill(count, timeoutMs)) {
        return false;
    }
    std::copy(m_pending.begin(), m_pending.begin() + static_cast<long>(count), out);
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(count));
    return true;
}

Bytes BoardPeer::Drain(int windowMs)
{
    Fill(SIZE_MAX, windowMs);
    m_error.clear();
    Bytes all;
    all.swap(m_pending);
    return all;
}

bool BoardPeer::NextCommand(Command& command, bool skipHandshakes, int timeoutMs)
{
    for (;;) {
        if (!Fill(6, timeoutMs)) {
            return false;
        }
        const uint8_t flag[4] = {0xEF, 0xBE, 0xAD, 0xDE};
        if (std::memcmp(m_pending.data(), flag, 4) != 0) {
            return Fail("bytes that are no command frame");
        }
        const size_t length = m_pending[4] | (m_pending[5] << 8);
        if (length < 10 || length > 64) {
            return Fail("command frame length out of range");
        }
        Bytes raw(length);
        if (!Take(raw.data(), length, timeoutMs)) {
            return false;
        }
        const uint16_t crc = Crc(raw.data(), length - 2);
        if ((raw[length - 2] | (raw[length - 1] << 8)) != crc) {
            return Fail("command frame with a bad CRC");
        }
        if (static_cast<uint8_t>(~raw[6]) != raw[7]) {
            return Fail("command code without its complement");
        }
        if (skipHandshakes && raw[6] == 0xF0) {
            continue;
        }
        command.code = raw[6];
        command.params.assign(raw.begin() + 8, raw.end() - 2);
        command.raw = raw;
        return true;
    }
}

bool BoardPeer::ExpectByte(uint8_t wanted, int timeoutMs)
{
    for (;;) {
        uint8_t byte = 0;
        if (!Take(&byte, 1, timeoutMs)) {
            return false;
        }
        if (byte == wanted) {
            return true;
        }
        if (byte != REQUEST_C) {
            char text[64];
            std::snprintf(text, sizeof(text), "expected %02X, got %02X", wanted, byte);
            return Fail(text);
        }
    }
}

bool BoardPeer::ExpectText(const std::string& text, int timeoutMs)
{
    Bytes got(text.size());
    if (!Take(got.data(), got.size(), timeoutMs)) {
        return false;
    }
    if (std::memcmp(got.data(), text.data(), text.size()) != 0) {
        return Fail("unexpected bytes instead of " + text);
    }
    return true;
}

bool BoardPeer::SkipStaleHandshakes(int timeoutMs)
{
    for (;;) {
        if (!Fill(1, timeoutMs)) {
            return false;
        }
        if (m_pending[0] != 0xEF) {
            return true;
        }
        Command stale;
        if (!NextCommand(stale, false, timeoutMs)) {
            return false;
        }
        if (stale.code != 0xF0) {
            return Fail("a command frame where YMODEM was expected");
        }
    }
}

bool BoardPeer::ReceiveYmodemFile(ReceivedFile& file, int timeoutMs)
{
    if (!SkipStaleHandshakes(timeoutMs)) {
        return false;
    }
    Bytes block0(BLOCK0_FRAME);
    if (!Take(block0.data(), block0.size(), timeoutMs)) {
        return false;
    }
    if (block0[0] != SOH || block0[1] != 0x00 || block0[2] != 0xFF ||
        Crc(&block0[3], BLOCK0_DATA) != ((block0[131] << 8) | block0[132])) {
        return Fail("bad block 0");
    }
    file.name = reinterpret_cast<const char*>(&block0[3]);
    const char* sizeText = reinterpret_cast<const char*>(&block0[3 + file.name.size() + 1]);
    file.announcedSize = static_cast<uint32_t>(std::strtoul(sizeText, nullptr, 16));
    if (std::strncmp(sizeText, "0x", 2) != 0) {
        return Fail("block 0 size is not written as 0x...");
    }
    WriteByte(ACK);

    uint8_t expected = 1;
    for (;;) {
        uint8_t head = 0;
        if (!Take(&head, 1, timeoutMs)) {
            return false;
        }
        if (head == EOT) {
            WriteByte(ACK);
            break;
        }
        const size_t size = DataSizeOfHead(head);
        if (size == 0) {
            return Fail("unknown data frame head");
        }
        Bytes rest(2 + size + 2);
        if (!Take(rest.data(), rest.size(), timeoutMs)) {
            return false;
        }
        if (rest[0] != expected || rest[1] != static_cast<uint8_t>(0xFF - expected) ||
            Crc(&rest[2], size) != ((rest[2 + size] << 8) | rest[3 + size])) {
            return Fail("bad data frame");
        }
        if (file.frameDataSize == 0) {
            file.frameDataSize = static_cast<uint32_t>(size);
        }
        file.data.insert(file.data.end(), rest.begin() + 2, rest.begin() + 2 + static_cast<long>(size));
        ++expected;
        WriteByte(ACK);
    }

    Bytes finish(BLOCK0_FRAME);
    if (!Take(finish.data(), finish.size(), timeoutMs)) {
        return false;
    }
    for (size_t i = 3; i < finish.size(); ++i) {
        if (finish[i] != 0) {
            return Fail("finish frame is not all zero");
        }
    }
    if (finish[0] != SOH || finish[1] != 0x00 || finish[2] != 0xFF) {
        return Fail("bad finish frame head");
    }
    WriteByte(ACK);
    if (file.data.size() < file.announcedSize) {
        return Fail("fewer data bytes than announced");
    }
    file.data.resize(file.announcedSize);
    return true;
}

bool BoardPeer::SendYmodemFile(const std::string& name, const Bytes& data, int timeoutMs)
{
    if (!ExpectByte(REQUEST_C, timeoutMs)) {
        return false;
    }
    Bytes block0Data(BLOCK0_DATA, 0);
    char sizeText[16];
    std::snprintf(sizeText, sizeof(sizeText), "0x%zx", data.size());
    std::memcpy(block0Data.data(), name.c_str(), name.size());
    std::memcpy(block0Data.data() + name.size() + 1, sizeText, std::strlen(sizeText));
    Write(YmodemFrame(SOH, 0, block0Data));
    if (!ExpectByte(ACK, timeoutMs) || !ExpectByte(REQUEST_C, timeoutMs)) {
        return false;
    }
    uint8_t block = 1;
    for (size_t offset = 0; offset < data.size(); offset += READBACK_BLOCK, ++block) {
        Bytes chunk(READBACK_BLOCK, 0x1A);
        const size_t n = std::min(READBACK_BLOCK, data.size() - offset);
        std::copy(data.begin() + static_cast<long>(offset), data.begin() + static_cast<long>(offset + n),
                  chunk.begin());
        Write(YmodemFrame(STX, block, chunk));
        if (!ExpectByte(ACK, timeoutMs)) {
            return false;
        }
    }
    WriteByte(EOT);
    if (!ExpectByte(ACK, timeoutMs) || !ExpectByte(REQUEST_C, timeoutMs)) {
        return false;
    }
    Write(YmodemFrame(SOH, 0, Bytes(BLOCK0_DATA, 0)));
    return ExpectByte(ACK, timeoutMs) && ExpectByte(REQUEST_C, timeoutMs);
}

} // namespace Vb27Peer
