#include "sim/pty_line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace Sim {

namespace {

constexpr size_t READ_CHUNK = 4096;
constexpr int64_t NS_PER_10_BITS = 10000000000;  // 10 bits per byte, in ns at 1 baud

int64_t ByteTimeNs(uint32_t baud)
{
    return baud == 0 ? 0 : std::max<int64_t>(1, NS_PER_10_BITS / baud);
}

}  // namespace

PtyLine::PtyLine(const Settings& settings)
    : m_settings(settings), m_baud(settings.lineBaud != 0 ? settings.lineBaud : DEFAULT_BAUD)
{
    m_byteNs = ByteTimeNs(settings.lineBaud);
    m_txByteNs = m_byteNs;
}

PtyLine::~PtyLine()
{
    if (!m_link.empty()) {
        char target[256] = {};
        const ssize_t n = readlink(m_link.c_str(), target, sizeof target - 1);
        if (n > 0 && m_slavePath == target) {
            unlink(m_link.c_str());
        }
    }
    if (m_hold >= 0) {
        close(m_hold);
    }
    if (m_master >= 0) {
        close(m_master);
    }
}

bool PtyLine::Open(std::string& error)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(m_master);
    if (name == nullptr) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    m_slavePath = name;
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    m_opened = true;
    if (!Hold()) {
        error = std::string("cannot open ") + m_slavePath + ": " + std::strerror(errno);
        return false;
    }
    termios settings{};
    if (tcgetattr(m_hold, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(m_hold, TCSANOW, &settings);
    }
    return true;
}

bool PtyLine::MakeLink(const std::string& path, std::string& error)
{
    struct stat info{};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = path + " exists and is not a symbolic link";
            return false;
        }
        unlink(path.c_str());
    }
    if (symlink(m_slavePath.c_str(), path.c_str()) != 0) {
        error = "cannot link " + path + ": " + std::strerror(errno);
        return false;
    }
    m_link = path;
    return true;
}

bool PtyLine::Hold()
{
    // While we hold the slave, the master sees no hang-up; the tool's own
    // close is noticed once we have let go.
    m_hold = open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_hold >= 0) {
        tcflush(m_hold, TCIOFLUSH);
    }
    return m_hold >= 0;
}

void PtyLine::ReleaseHold()
{
    if (m_hold >= 0) {
        close(m_hold);
        m_hold = -1;
    }
}

void PtyLine::PullCable()
{
    ReleaseHold();
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
    m_tx.clear();
}

uint8_t PtyLine::NextNoiseByte(uint32_t& state)
{
    static const uint8_t RESERVED[] = {0x01, 0x02, 0x04, 0x06, 0x0A, 0x0B, 0x0C, 0x15, 0x18, 0x43, 0x5C, 0xEF};
    for (;;) {
        state = state * 1664525u + 1013904223u;
        const auto b = static_cast<uint8_t>(state >> 24);
        if (std::find(std::begin(RESERVED), std::end(RESERVED), b) == std::end(RESERVED)) {
            return b;
        }
    }
}

void PtyLine::Enqueue(const uint8_t* data, size_t length)
{
    if (m_master < 0) {
        return;  // the cable is off
    }
    m_tx.insert(m_tx.end(), data, data + length);
    m_queued += length;
}

void PtyLine::Write(const uint8_t* data, size_t length)
{
    for (size_t i = 0; i < m_settings.noise; ++i) {
        const uint8_t junk = NextNoiseByte(m_noiseState);
        Enqueue(&junk, 1);
    }
    Enqueue(data, length);
}

void PtyLine::WriteData(const uint8_t* data, size_t length)
{
    Enqueue(data, length);
}

void PtyLine::SetBaud(uint32_t baud)
{
    if (baud == 0) {
        return;
    }
    m_baud = baud;
    if (!Paced()) {
        return;
    }
    // The receiver follows at once; the transmitter after the bytes already queued.
    m_byteNs = ByteTimeNs(baud);
    m_txSwitches.emplace_back(m_queued, m_byteNs);
}

uint64_t PtyLine::Allowance(int64_t& freeNs, int64_t nowNs, bool busy, int64_t byteNs)
{
    // An idle line builds up no more credit than one step's worth; a busy one
    // keeps what a late wake-up owes it.
    if (!busy) {
        freeNs = std::max(freeNs, nowNs - std::max(GRANULE_NS, byteNs));
    }
    return nowNs > freeNs ? static_cast<uint64_t>((nowNs - freeNs) / byteNs) : 0;
}

uint64_t PtyLine::BytesWaiting() const
{
    int waiting = 0;
    return ioctl(m_master, FIONREAD, &waiting) == 0 && waiting > 0 ? static_cast<uint64_t>(waiting) : 0;
}

uint64_t PtyLine::RxStep() const
{
    // With bytes waiting, wait for a step's worth, or for the last of them:
    // a read per byte would wake the board every few microseconds.
    if (m_rxWaiting == 0) {
        return 1;
    }
    const uint64_t step = static_cast<uint64_t>(std::max<int64_t>(1, GRANULE_NS / m_byteNs));
    return std::min(m_rxWaiting, step);
}

short PtyLine::PollEvents(int64_t nowNs) const
{
    if (m_master < 0) {
        return 0;
    }
    short events = 0;
    int64_t rx = m_rxFreeNs;
    if (!Paced() || Allowance(rx, nowNs, m_rxBusy, m_byteNs) >= RxStep()) {
        events |= POLLIN;
    }
    int64_t tx = m_txFreeNs;
    if (!m_tx.empty() && (!Paced() || m_txByteNs == 0 || Allowance(tx, nowNs, m_txBusy, m_txByteNs) > 0)) {
        events |= POLLOUT;
    }
    return events;
}

int64_t PtyLine::PollTimeoutNs(int64_t nowNs, int64_t tickNs) const
{
    int64_t timeout = tickNs;
    if (!Paced() || m_master < 0) {
        return timeout;
    }
    int64_t rx = m_rxFreeNs;
    const uint64_t step = RxStep();
    if (Allowance(rx, nowNs, m_rxBusy, m_byteNs) < step) {
        timeout = std::min(timeout, rx + static_cast<int64_t>(step) * m_byteNs - nowNs);
    }
    int64_t tx = m_txFreeNs;
    if (!m_tx.empty() && m_txByteNs > 0 && Allowance(tx, nowNs, m_txBusy, m_txByteNs) == 0) {
        timeout = std::min(timeout, tx + std::max(m_txByteNs, GRANULE_NS) - nowNs);
    }
    return std::max<int64_t>(timeout, 0);
}

std::vector<uint8_t> PtyLine::Receive(short revents, int64_t nowNs)
{
    std::vector<uint8_t> in;
    // Bytes the pty said were waiting are read when their step is due, with
    // no second poll to learn what is known.
    const bool waiting = Paced() && m_rxWaiting > 0;
    if (m_master < 0 || ((revents & (POLLIN | POLLHUP | POLLERR)) == 0 && !waiting)) {
        return in;
    }
    // After a hang-up whatever the tool wrote last is taken at once: the
    // reset frame before its close must not be lost to pacing.
    const bool hungUp = (revents & (POLLHUP | POLLERR)) != 0;
    uint64_t allowed = (Paced() && !hungUp) ? Allowance(m_rxFreeNs, nowNs, m_rxBusy, m_byteNs) : UINT64_MAX;
    if (m_settings.closeAfter > 0) {
        allowed = std::min<uint64_t>(allowed, m_settings.closeAfter - m_received);
    }
    bool gone = false;
    while (allowed > 0) {
        uint8_t buffer[READ_CHUNK];
        const ssize_t n = read(m_master, buffer, static_cast<size_t>(std::min<uint64_t>(allowed, READ_CHUNK)));
        if (n > 0) {
            in.insert(in.end(), buffer, buffer + n);
            allowed -= static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        gone = n == 0 || errno == EIO;
        break;
    }
    if (Paced() && !hungUp) {
        m_rxFreeNs += static_cast<int64_t>(in.size()) * m_byteNs;
        m_rxBusy = allowed == 0;
        m_rxWaiting = m_rxBusy ? BytesWaiting() : 0;
    }
    m_received += in.size();
    if (!in.empty()) {
        ReleaseHold();  // the tool is on the line
    }
    if (m_settings.closeAfter > 0 && m_received >= m_settings.closeAfter) {
        PullCable();
        return in;
    }
    if (gone || (hungUp && in.empty())) {
        // The tool closed the line. Hold it again until the tool comes back,
        // and forget what was meant for the one that left.
        m_peerLeft = true;
        m_tx.clear();
        Hold();
    }
    return in;
}

void PtyLine::Flush(int64_t nowNs)
{
    for (;;) {
        const uint64_t taken = m_queued - m_tx.size();
        while (!m_txSwitches.empty() && m_txSwitches.front().first <= taken) {
            m_txByteNs = m_txSwitches.front().second;
            m_txSwitches.pop_front();
        }
        if (m_master < 0 || m_tx.empty()) {
            m_txBusy = false;
            return;
        }
        uint64_t allowed = std::min<uint64_t>(m_tx.size(), 65536);
        if (m_txByteNs > 0) {
            allowed = std::min<uint64_t>(allowed, Allowance(m_txFreeNs, nowNs, m_txBusy, m_txByteNs));
        }
        if (!m_txSwitches.empty()) {
            allowed = std::min<uint64_t>(allowed, m_txSwitches.front().first - taken);
        }
        if (allowed == 0) {
            m_txBusy = true;  // what is left goes at the next step without losing time
            return;
        }
        std::vector<uint8_t> chunk(m_tx.begin(), m_tx.begin() + static_cast<std::ptrdiff_t>(allowed));
        const ssize_t n = write(m_master, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (m_hold >= 0) {
                m_tx.clear();  // nobody reads the line: a UART would lose these too
            }
            m_txBusy = false;  // the reader is the limit now, not the line
            return;
        }
        m_tx.erase(m_tx.begin(), m_tx.begin() + n);
        m_sent += static_cast<uint64_t>(n);
        m_txFreeNs += n * m_txByteNs;
    }
}

void PtyLine::LookForTool(int64_t nowNs)
{
    constexpr int64_t LOOK_INTERVAL_NS = 50000000;
    if (m_hold < 0 || m_master < 0 || nowNs < m_nextLookNs) {
        return;
    }
    m_nextLookNs = nowNs + LOOK_INTERVAL_NS;
    ReleaseHold();
    pollfd fd{m_master, POLLIN, 0};
    if (poll(&fd, 1, 0) >= 0 && (fd.revents & POLLHUP) != 0) {
        Hold();  // nobody else there: keep the line up for the tool to come
    }
}

bool PtyLine::TakePeerLeft()
{
    const bool left = m_peerLeft;
    m_peerLeft = false;
    return left;
}

}  // namespace Sim
