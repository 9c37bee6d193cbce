#include "transport/serport_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <climits>
#include <cstring>
#include <system_error>

#include "common/console.h"

namespace {

// One read takes at most this much of what the driver holds.
constexpr size_t RECV_BUFFER_SIZE = 10240;
// Consumed bytes are dropped from the front of the store once this many
// have gathered and they make up at least half of it.
constexpr size_t STORE_TRIM_THRESHOLD = 64 * 1024;
// An emptied store gives its memory back above this capacity.
constexpr size_t STORE_KEEP_CAPACITY = 1024 * 1024;
// A send gives up when the driver takes no byte for the write time-out plus
// this margin plus the time the driver's own queue needs to drain.
constexpr uint32_t SEND_STALL_MARGIN_MS = 3000;
constexpr uint64_t DRIVER_QUEUE_BYTES = 4096;
constexpr uint64_t BITS_PER_BYTE = 10;

}  // namespace

namespace RecvThreadFuncSp {

int RecvThreadFunc(SerportTransport* transport)
{
    if (transport == nullptr || !transport->m_port.IsOpen()) {
        Common::Print("type conversion failed, serial com is null.\n");
        return 0;
    }
    std::vector<uint8_t> chunk(RECV_BUFFER_SIZE);
    bool lost = false;
    while (!transport->m_stopRequested.load() && !lost) {
        Platform::SerialWait event = transport->m_port.Wait(transport->m_stopEvent.Fd(), -1);
        switch (event) {
            case Platform::SerialWait::WOKEN:
                transport->m_stopEvent.Clear();
                break;
            case Platform::SerialWait::READABLE: {
                // Take everything the driver holds, chunk by chunk.
                Platform::SerialIoResult r;
                do {
                    r = transport->m_port.Read(chunk.data(), chunk.size());
                    if (r.count > 0) {
                        transport->OnReceive(chunk.data(), static_cast<unsigned long>(r.count));
                    }
                } while (r.count == chunk.size() && !r.lineLost);
                lost = r.lineLost;
                break;
            }
            case Platform::SerialWait::TIMEOUT:
                break;
            case Platform::SerialWait::LINE_LOST:
            case Platform::SerialWait::FAILED:
                lost = true;
                break;
        }
    }
    if (lost) {
        // A hung-up line stays readable for ever; polling it would spin.
        transport->MarkLineLost();
        while (!transport->m_stopRequested.load()) {
            transport->m_stopEvent.Wait(-1);
            transport->m_stopEvent.Clear();
        }
    }
    return 1;
}

}  // namespace RecvThreadFuncSp

SerportTransport::~SerportTransport()
{
    Close();
}

bool SerportTransport::Open(const Common::TRANSPORT_MODE_ATTR_U& attr)
{
    Close();
    ResetStore();
    m_broken.store(false);
    m_lostReported = false;
    m_errorCode = 0;
    m_errorText.clear();
    m_stopRequested.store(false);

    // POSIX names are device paths used as they stand, of any length.
    const std::string& path = attr.serial.portName;
    int error = path.empty() ? ENOENT : m_port.Open(path);
    if (error != 0) {
        SetError(error);
        Common::Print("invalid handle value.\n");
        return false;
    }
    if (!InitDcb(attr)) {
        m_port.Close();
        return false;
    }
    // The kernel sizes its own queues; there is nothing like SetupComm to call.
    SetTimeout(0, 0);
    // Flushed here rather than in the thread: an answer that arrives before
    // the thread has started must not be thrown away.
    m_port.Purge(true, true);

    error = m_stopEvent.Create();
    if (error == 0) {
        try {
            m_recvThread = std::thread(RecvThreadFuncSp::RecvThreadFunc, this);
        } catch (const std::system_error& e) {
            error = e.code().value() != 0 ? e.code().value() : EAGAIN;
        }
    }
    if (error != 0) {
        SetError(error);
        Common::Print("create receive thread failed.\n");
        m_stopEvent.Destroy();
        m_port.Close();
        return false;
    }
    m_deviceName = path;
    return true;
}

void SerportTransport::Close()
{
    if (m_recvThread.joinable()) {
        m_stopRequested.store(true);
        m_stopEvent.Signal();
        m_recvThread.join();
    }
    m_stopEvent.Destroy();
    if (m_port.IsOpen()) {
        // Output is not purged: the last frame (a reset, say) must still
        // reach the board; closing waits for it to leave.
        m_port.Purge(true, false);
        m_port.Close();
    }
    {
        std::lock_guard<std::mutex> lock(m_storeLock);
        m_recvStore.clear();
        m_recvStore.shrink_to_fit();
        m_readIndex = 0;
    }
    m_dataArrived.notify_all();
}

unsigned long SerportTransport::Send(const unsigned char* data, unsigned long length)
{
    if (data == nullptr) {
        Common::Print("data is null.\n");
        return 0;
    }
    if (!m_port.IsOpen()) {
        Common::Print("invalid handle value.\n");
        return 0;
    }
    if (m_broken.load()) {
        ReportLineLost();
        return 0;
    }
    // No purge of the output queue first: the previous frame may still be in it.
    Platform::SerialIoResult r = m_port.Write(data, length, SendStallMs());
    if (r.lineLost) {
        MarkLineLost();
        ReportLineLost();
    } else if (r.error != 0) {
        SetError(r.error);
    }
    return static_cast<unsigned long>(r.count);
}

unsigned long SerportTransport::Receive(unsigned char* buffer, unsigned long length)
{
    if (buffer == nullptr) {
        Common::Print("data is null.\n");
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_storeLock);
    size_t count = std::min<size_t>(length, m_recvStore.size() - m_readIndex);
    if (count > 0) {
        std::memcpy(buffer, m_recvStore.data() + m_readIndex, count);
        m_readIndex += count;
        DropConsumedLocked();
    }
    return static_cast<unsigned long>(count);
}

bool SerportTransport::SetTimeout(unsigned long writeTimeout, unsigned long readTimeout)
{
    (void)readTimeout;  // Receive never waits; callers wait with WaitForData
    if (!m_port.IsOpen()) {
        Common::Print("get timeouts failed.\n");
        return false;
    }
    m_writeTimeout = writeTimeout;
    return true;
}

int SerportTransport::OnAdataAvailable(std::string& text)
{
    std::lock_guard<std::mutex> lock(m_storeLock);
    size_t count = std::min<size_t>(m_recvStore.size() - m_readIndex, INT_MAX);
    if (count < 1) {
        return 0;
    }
    text.append(reinterpret_cast<const char*>(m_recvStore.data() + m_readIndex), count);
    m_readIndex += count;
    DropConsumedLocked();
    return static_cast<int>(count);
}

void SerportTransport::ClearRecvBuff()
{
    if (m_port.IsOpen()) {
        m_port.Purge(true, false);
    }
}

bool SerportTransport::WaitForData(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_storeLock);
    // Nothing can arrive on a closed port or a lost line: no point waiting.
    m_dataArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return m_readIndex < m_recvStore.size() || m_lineLost || !m_port.IsOpen();
    });
    bool pending = m_readIndex < m_recvStore.size();
    bool lost = m_lineLost;
    lock.unlock();
    if (!pending && lost) {
        ReportLineLost();
    }
    return pending;
}

bool SerportTransport::IsBroken() const
{
    return m_broken.load();
}

bool SerportTransport::InitDcb(const Common::TRANSPORT_MODE_ATTR_U& attr)
{
    Platform::SerialLineSettings settings;
    settings.baudRate = attr.serial.baudRate;
    settings.stopBits = attr.serial.stopBits;
    settings.parity = attr.serial.parity;
    int error = m_port.IsOpen() ? m_port.ApplyLineSettings(settings) : EBADF;
    if (error != 0) {
        SetError(error);
        Common::Print("SetCommState failed.\n");
        return false;
    }
    m_baudRate = settings.baudRate;
    return true;
}

void SerportTransport::OnReceive(const unsigned char* data, unsigned long length)
{
    if (data == nullptr || length == 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_storeLock);
        m_recvStore.insert(m_recvStore.end(), data, data + length);
        m_recvCount += length;
    }
    m_dataArrived.notify_all();
}

unsigned long SerportTransport::PendingCount() const
{
    std::lock_guard<std::mutex> lock(m_storeLock);
    return static_cast<unsigned long>(m_recvStore.size() - m_readIndex);
}

void SerportTransport::ResetStore()
{
    std::lock_guard<std::mutex> lock(m_storeLock);
    m_recvStore.clear();
    m_readIndex = 0;
    m_recvCount = 0;
    m_lineLost = false;
}

void SerportTransport::DropConsumedLocked()
{
    if (m_readIndex == m_recvStore.size()) {
        m_recvStore.clear();
        if (m_recvStore.capacity() > STORE_KEEP_CAPACITY) {
            m_recvStore.shrink_to_fit();
        }
        m_readIndex = 0;
    } else if (m_readIndex >= STORE_TRIM_THRESHOLD && m_readIndex * 2 >= m_recvStore.size()) {
        m_recvStore.erase(m_recvStore.begin(), m_recvStore.begin() + static_cast<std::ptrdiff_t>(m_readIndex));
        m_readIndex = 0;
    }
}

void SerportTransport::MarkLineLost()
{
    {
        std::lock_guard<std::mutex> lock(m_storeLock);
        m_lineLost = true;
    }
    m_broken.store(true);
    m_dataArrived.notify_all();
}

void SerportTransport::ReportLineLost()
{
    // Printed on the caller's thread, once: the print callback is not
    // expected to be called from the receive thread.
    if (!m_lostReported) {
        m_lostReported = true;
        Common::Print("error: the serial line was lost.\n");
    }
}

void SerportTransport::SetError(int error)
{
    m_errorCode = error;
    m_errorText = std::generic_category().message(error);
}

uint32_t SerportTransport::SendStallMs() const
{
    uint64_t drainMs = m_baudRate > 0 ? DRIVER_QUEUE_BYTES * BITS_PER_BYTE * 1000 / m_baudRate : 0;
    uint64_t total = static_cast<uint64_t>(m_writeTimeout) + SEND_STALL_MARGIN_MS + drainMs;
    return static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
}

LineStatus SerportTransport::ApplyLineSettings(const LineSettings& settings)
{
    Common::TRANSPORT_MODE_ATTR_U attr;
    attr.serial = settings;
    if (!InitDcb(attr)) {
        return LineStatus::Fail(m_errorText, m_errorCode);
    }
    return LineStatus();
}

LineStatus SerportTransport::CheckRate(uint32_t baudRate) const
{
    if (baudRate == 0) {
        return LineStatus::Fail("no such rate", EINVAL);
    }
    return LineStatus();
}
