// The serial-port transport: a raw line to the board, with a receive thread
// that moves every arriving byte into a store the caller drains without ever
// blocking, and a condition variable the caller waits on for those bytes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "transport/transport_type_base.h"

class SerportTransport;

namespace RecvThreadFuncSp {
// Body of the receive thread; runs until Close. 1 on a normal end, 0 when
// started without an open transport.
int RecvThreadFunc(SerportTransport* transport);
}  // namespace RecvThreadFuncSp

class SerportTransport : public TransportTypeBase {
public:
    SerportTransport() = default;
    // Stops the receive thread and closes the port if still open.
    ~SerportTransport() override;
    SerportTransport(const SerportTransport&) = delete;
    SerportTransport& operator=(const SerportTransport&) = delete;

    bool Open(const Common::TRANSPORT_MODE_ATTR_U& attr) override;
    void Close() override;
    unsigned long Send(const unsigned char* data, unsigned long length) override;
    unsigned long Receive(unsigned char* buffer, unsigned long length) override;
    bool SetTimeout(unsigned long writeTimeout, unsigned long readTimeout) override;
    int OnAdataAvailable(std::string& text) override;
    // Discards what the driver holds and the receive thread has not taken yet;
    // the receive store keeps its bytes.
    void ClearRecvBuff() override;
    bool WaitForData(uint32_t timeoutMs) override;
    bool IsBroken() const override;
    LineStatus ApplyLineSettings(const LineSettings& settings) override;
    LineStatus CheckRate(uint32_t baudRate) const override;

    // Applies speed, stop bits and parity of attr to the open port (the name is
    // not used), so an open port can change speed.
    bool InitDcb(const Common::TRANSPORT_MODE_ATTR_U& attr);
    // Called by the receive thread: appends to the store and wakes waiters.
    void OnReceive(const unsigned char* data, unsigned long length);

    bool IsOpen() const { return m_port.IsOpen(); }
    // Bytes received and not yet consumed.
    unsigned long PendingCount() const;

private:
    friend int RecvThreadFuncSp::RecvThreadFunc(SerportTransport* transport);

    void ResetStore();
    void DropConsumedLocked();
    void MarkLineLost();
    void ReportLineLost();
    void SetError(int error);
    uint32_t SendStallMs() const;

    Platform::SerialPort m_port;
    Platform::WakeupEvent m_stopEvent;
    std::atomic<bool> m_stopRequested{false};
    std::thread m_recvThread;

    // Guard the store; the receive thread never holds the lock across a read.
    mutable std::mutex m_storeLock;
    std::condition_variable m_dataArrived;
    std::vector<unsigned char> m_recvStore;  // consumed bytes before m_readIndex
    size_t m_readIndex = 0;
    uint64_t m_recvCount = 0;  // bytes received since Open
    bool m_lineLost = false;

    std::atomic<bool> m_broken{false};
    bool m_lostReported = false;  // caller's thread only
    uint32_t m_baudRate = 0;
    unsigned long m_writeTimeout = 0;
};
