// The one receive engine beneath the protocols, over any kind of line: the
// store of received bytes, the waits for them and the lost-line state.
//
// There is no receive thread: a caller that waits for bytes reads the line
// itself as soon as the line is readable, so an answer costs one wake-up and
// no hand-off between threads. Between waits the operating system keeps
// what arrives (a tty's buffers, a socket's receive queue).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/hot_path.h"
#include "platform/serial_port.h"
#include "transport/line_device.h"
#include "transport/transport_type_base.h"

class LineTransport : public TransportTypeBase {
public:
    explicit LineTransport(std::unique_ptr<LineDevice> device);
    ~LineTransport() override;
    LineTransport(const LineTransport&) = delete;
    LineTransport& operator=(const LineTransport&) = delete;

    bool Open(const Common::TRANSPORT_MODE_ATTR_U& attr) override;
    void Close() override;
    unsigned long Send(const unsigned char* data, unsigned long length) override;
    unsigned long Receive(unsigned char* buffer, unsigned long length) override;
    bool SetTimeout(unsigned long writeTimeout, unsigned long readTimeout) override;
    int OnAdataAvailable(std::string& text) override;
    // Discards what the line holds and has not been read yet; bytes already
    // in the store stay.
    void ClearRecvBuff() override;
    bool WaitForData(uint32_t timeoutMs) override;
    HOT_PATH bool IsBroken() const override { return m_broken; }
    LineStatus ApplyLineSettings(const LineSettings& settings) override;
    LineStatus CheckRate(uint32_t baudRate) const override;
    LineStatus SetModemLine(ModemLine line, bool on) override;

    // Applies speed, stop bits and parity of attr to the open line (the name
    // is not used); a refusal keeps its reason (GetErrorStrInfo, GetErrorCode).
    bool InitDcb(const Common::TRANSPORT_MODE_ATTR_U& attr);
    bool IsOpen() const { return m_device && m_device->IsOpen(); }
    // Bytes received and not yet consumed.
    unsigned long PendingCount() const { return static_cast<unsigned long>(m_store.size() - m_readIndex); }
    const LineSettings& Settings() const { return m_settings; }

private:
    // Takes what the line holds into the store without waiting; false once
    // the line is lost.
    bool Pull();
    void Append(const uint8_t* data, size_t length);
    void DropConsumed();
    void MarkLineLost();
    void ReportLineLost();
    void SetError(int error, const std::string& text);
    uint32_t SendStallMs() const;

    std::unique_ptr<LineDevice> m_device;
    std::vector<unsigned char> m_store;  // consumed bytes before m_readIndex
    size_t m_readIndex = 0;
    LineSettings m_settings;
    bool m_broken = false;
    bool m_lostReported = false;
    unsigned long m_writeTimeout = 0;
    // One read takes at most this much of what the line holds. Kept here
    // rather than on the stack, where it would push every call below a read
    // onto pages of their own; last, so that its first bytes, the ones an
    // answer fills, share a page with the fields above.
    static constexpr size_t RECV_CHUNK_SIZE = 10240;
    std::array<uint8_t, RECV_CHUNK_SIZE> m_chunk;
};
