// A line to a serial server that passes bytes as they are (socket://): the
// server's port runs at a rate fixed in its own configuration, which this
// side can neither see nor change.
#pragma once

#include <utility>

#include "platform/tcp_socket.h"
#include "transport/line_device.h"
#include "transport/port_name.h"

class RawSocketLine : public LineDevice {
public:
    // The server named; lookup finds its addresses (the system's resolver
    // unless a test holds it).
    explicit RawSocketLine(PortName name, Platform::HostLookup lookup = Platform::SystemHostLookup)
        : m_name(std::move(name)), m_lookup(std::move(lookup))
    {
    }

    // Connects; the settings' rate is taken as the one the server runs at.
    LineStatus Open(const LineSettings& settings) override;
    void Close() override;
    bool IsOpen() const override { return m_socket.IsOpen(); }

    // Only the settings the line was opened with; any other is refused.
    LineStatus Apply(const LineSettings& settings) override;
    LineStatus CheckRate(uint32_t baudRate) const override;

    Platform::SerialIoResult Read(uint8_t* buffer, size_t size) override;
    Platform::SerialIoResult Write(const uint8_t* data, size_t length, uint32_t stallMs) override;
    Platform::SerialWait Wait(int timeoutMs) override;
    void PurgeInput() override;
    LineStatus SetModemLine(ModemLine line, bool on) override;

private:
    const PortName m_name;
    const Platform::HostLookup m_lookup;
    Platform::TcpSocket m_socket;
    LineSettings m_settings;
};
