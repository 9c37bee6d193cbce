#include "transport/line_transport.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <system_error>

#include "common/console.h"
#include "platform/hot_path.h"
#include "platform/monotonic_clock.h"
#include "transport/serial_line_device.h"
#include "transport/serport_transport.h"

namespace {

// Consumed bytes are dropped from the front of the store once this many
// have gathered and they make up at least half of it.
constexpr size_t STORE_TRIM_THRESHOLD = 64 * 1024;
// An emptied store gives its memory back above this capacity.
constexpr size_t STORE_KEEP_CAPACITY = 1024 * 1024;
// A send gives up when the line takes no byte for the write time-out plus
// this margin plus the time the driver's own queue needs to drain.
constexpr uint32_t SEND_STALL_MARGIN_MS = 3000;
constexpr uint64_t DRIVER_QUEUE_BYTES = 4096;
constexpr uint64_t BITS_PER_BYTE = 10;

}  // namespace

SerportTransport::SerportTransport() : LineTransport(std::unique_ptr<LineDevice>(new (std::nothrow) SerialLineDevice()))
{
}

LineTransport::LineTransport(std::unique_ptr<LineDevice> device) : m_device(std::move(device)) {}

LineTransport::~LineTransport()
{
    Close();
}

bool LineTransport::Open(const Common::TRANSPORT_MODE_ATTR_U& attr)
{
    Close();
    m_broken = false;
    m_lostReported = false;
    m_errorCode = 0;
    m_errorText.clear();
    if (!m_device) {
        Common::Print("invalid handle value.\n");
        return false;
    }
    LineStatus opened = m_device->Open(attr.serial);
    if (!opened.Ok()) {
        SetError(opened.error != 0 ? opened.error : EIO, opened.reason);
        Common::Print("invalid handle value.\n");
        return false;
    }
    if (!InitDcb(attr)) {
        m_device->Close();
        return false;
    }
    SetTimeout(0, 0);
    // Whatever arrived before this run is not an answer to it.
    m_device->PurgeInput();
    m_deviceName = attr.serial.portName;
    return true;
}

void LineTransport::Close()
{
    if (m_device) {
        m_device->Close();
    }
    m_store.clear();
    m_store.shrink_to_fit();
    m_readIndex = 0;
}

HOT_PATH unsigned long LineTransport::Send(const unsigned char* data, unsigned long length)
{
    if (data == nullptr) {
        Common::Print("data is null.\n");
        return 0;
    }
    if (!IsOpen()) {
        Common::Print("invalid handle value.\n");
        return 0;
    }
    if (m_broken) {
        ReportLineLost();
        return 0;
    }
    // No purge of the output queue first: the previous frame may still be in it.
    Platform::SerialIoResult r = m_device->Write(data, length, SendStallMs());
    if (r.lineLost) {
        MarkLineLost();
        ReportLineLost();
    } else if (r.error != 0) {
        SetError(r.error, std::generic_category().message(r.error));
    }
    return static_cast<unsigned long>(r.count);
}

HOT_PATH unsigned long LineTransport::Receive(unsigned char* buffer, unsigned long length)
{
    if (buffer == nullptr) {
        Common::Print("data is null.\n");
        return 0;
    }
    if (PendingCount() == 0) {
        Pull();
    }
    size_t count = std::min<size_t>(length, PendingCount());
    if (count == 0) {
        return 0;
    }
    if (count == 1) {
        // The protocols take answers a byte at a time: no call into the
        // C library's copy, whose code would be one more page per frame.
        buffer[0] = m_store[m_readIndex];
    } else {
        std::memcpy(buffer, m_store.data() + m_readIndex, count);
    }
    m_readIndex += count;
    DropConsumed();
    return static_cast<unsigned long>(count);
}

bool LineTransport::SetTimeout(unsigned long writeTimeout, unsigned long readTimeout)
{
    (void)readTimeout;  // Receive never waits; callers wait with WaitForData
    if (!IsOpen()) {
        Common::Print("get timeouts failed.\n");
        return false;
    }
    m_writeTimeout = writeTimeout;
    return true;
}

int LineTransport::OnAdataAvailable(std::string& text)
{
    if (PendingCount() == 0) {
        Pull();
    }
    size_t count = std::min<size_t>(PendingCount(), INT_MAX);
    if (count < 1) {
        return 0;
    }
    text.append(reinterpret_cast<const char*>(m_store.data() + m_readIndex), count);
    m_readIndex += count;
    DropConsumed();
    return static_cast<int>(count);
}

void LineTransport::ClearRecvBuff()
{
    if (IsOpen()) {
        m_device->PurgeInput();
    }
}

HOT_PATH bool LineTransport::WaitForData(uint32_t timeoutMs)
{
    if (PendingCount() > 0) {
        return true;
    }
    // Nothing can arrive on a closed port or a lost line: no point waiting.
    int64_t now = Platform::MonotonicMs();
    const int64_t deadline = now + timeoutMs;
    while (IsOpen() && !m_broken) {
        int64_t left = std::max<int64_t>(0, deadline - now);
        Platform::SerialIoResult taken;
        Platform::SerialWait event = m_device->WaitAndRead(m_chunk.data(), m_chunk.size(),
                                                           static_cast<int>(std::min<int64_t>(left, INT_MAX)), taken);
        if (event == Platform::SerialWait::READABLE) {
            Append(m_chunk.data(), taken.count);
            if (taken.lineLost) {
                MarkLineLost();
            } else if (taken.count == m_chunk.size()) {
                Pull();  // a full chunk: more may be queued
            }
            // A readable line may yield no data (telnet commands, say): wait on.
            if (PendingCount() > 0) {
                return true;
            }
        } else if (event == Platform::SerialWait::TIMEOUT) {
            break;
        } else {
            MarkLineLost();
        }
        if (left == 0) {
            break;
        }
        now = Platform::MonotonicMs();
    }
    if (PendingCount() == 0 && m_broken) {
        ReportLineLost();
    }
    return PendingCount() > 0;
}

LineStatus LineTransport::ApplyLineSettings(const LineSettings& settings)
{
    if (!IsOpen()) {
        return LineStatus::Fail("the port is not open", EBADF);
    }
    if (m_broken) {
        return LineStatus::Fail("the line was lost", EIO);
    }
    LineStatus status = m_device->Apply(settings);
    if (status.Ok()) {
        m_settings = settings;
        m_settings.portName = m_deviceName;
    } else {
        SetError(status.error, status.reason);
    }
    return status;
}

LineStatus LineTransport::CheckRate(uint32_t baudRate) const
{
    if (!IsOpen()) {
        return LineStatus::Fail("the port is not open", EBADF);
    }
    return m_device->CheckRate(baudRate);
}

LineStatus LineTransport::SetModemLine(ModemLine line, bool on)
{
    if (!IsOpen()) {
        return LineStatus::Fail("the port is not open", EBADF);
    }
    return m_device->SetModemLine(line, on);
}

bool LineTransport::InitDcb(const Common::TRANSPORT_MODE_ATTR_U& attr)
{
    LineStatus status = IsOpen() ? m_device->Apply(attr.serial) : LineStatus::Fail("the port is not open", EBADF);
    if (!status.Ok()) {
        SetError(status.error, status.reason);
        return false;
    }
    m_settings = attr.serial;
    return true;
}

HOT_PATH bool LineTransport::Pull()
{
    if (!IsOpen() || m_broken) {
        return false;
    }
    Platform::SerialIoResult r;
    do {
        r = m_device->Read(m_chunk.data(), m_chunk.size());
        Append(m_chunk.data(), r.count);
    } while (r.count == m_chunk.size() && !r.lineLost);
    if (r.lineLost) {
        MarkLineLost();
        return false;
    }
    return true;
}

HOT_PATH_WITH_CALLEES void LineTransport::Append(const uint8_t* data, size_t length)
{
    if (length == 1) {
        m_store.push_back(data[0]);  // an answer byte: no library copy, as in Receive
    } else if (length > 1) {
        m_store.insert(m_store.end(), data, data + length);
    }
}

HOT_PATH void LineTransport::DropConsumed()
{
    if (m_readIndex == m_store.size()) {
        m_store.clear();
        if (m_store.capacity() > STORE_KEEP_CAPACITY) {
            m_store.shrink_to_fit();
        }
        m_readIndex = 0;
    } else if (m_readIndex >= STORE_TRIM_THRESHOLD && m_readIndex * 2 >= m_store.size()) {
        m_store.erase(m_store.begin(), m_store.begin() + static_cast<std::ptrdiff_t>(m_readIndex));
        m_readIndex = 0;
    }
}

void LineTransport::MarkLineLost()
{
    m_broken = true;
}

void LineTransport::ReportLineLost()
{
    if (!m_lostReported) {
        m_lostReported = true;
        Common::Print(LINE_LOST_MESSAGE);
    }
}

void LineTransport::SetError(int error, const std::string& text)
{
    m_errorCode = error;
    m_errorText = text.empty() && error != 0 ? std::generic_category().message(error) : text;
}

uint32_t LineTransport::SendStallMs() const
{
    uint64_t drainMs = m_settings.baudRate > 0 ? DRIVER_QUEUE_BYTES * BITS_PER_BYTE * 1000 / m_settings.baudRate : 0;
    uint64_t total = static_cast<uint64_t>(m_writeTimeout) + SEND_STALL_MARGIN_MS + drainMs;
    return static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
}
