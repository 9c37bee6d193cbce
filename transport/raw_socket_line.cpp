#include "transport/raw_socket_line.h"

#include <cerrno>

#include "transport/server_connection.h"

namespace {

// What is already in the socket when the input is purged is read away in
// pieces of this size.
constexpr size_t PURGE_CHUNK = 4096;

}  // namespace

LineStatus RawSocketLine::Open(const LineSettings& settings)
{
    m_settings = settings;
    LineStatus status = ServerConnection::Connect(m_name, m_socket, m_lookup);
    if (!status.Ok()) {
        ServerConnection::ReportOpenFailure(status);
    }
    return status;
}

void RawSocketLine::Close()
{
    m_socket.Close();
}

LineStatus RawSocketLine::Apply(const LineSettings& settings)
{
    LineStatus rate = CheckRate(settings.baudRate);
    if (!rate.Ok()) {
        return rate;
    }
    if (settings.dataBits != m_settings.dataBits || settings.stopBits != m_settings.stopBits ||
        settings.parity != m_settings.parity) {
        return LineStatus::Fail("a raw socket cannot change the character format of the line", EINVAL);
    }
    return LineStatus();
}

LineStatus RawSocketLine::CheckRate(uint32_t baudRate) const
{
    if (baudRate == m_settings.baudRate) {
        return LineStatus();
    }
    return LineStatus::Fail("a raw socket cannot change the line speed (the server keeps its port at the rate of "
                            "its own configuration; name the port rfc2217://HOST:PORT to change it)",
                            EINVAL);
}

Platform::SerialIoResult RawSocketLine::Read(uint8_t* buffer, size_t size)
{
    return m_socket.Read(buffer, size);
}

Platform::SerialIoResult RawSocketLine::Write(const uint8_t* data, size_t length, uint32_t stallMs)
{
    return m_socket.Write(data, length, stallMs);
}

Platform::SerialWait RawSocketLine::Wait(int timeoutMs)
{
    return m_socket.Wait(timeoutMs);
}

void RawSocketLine::PurgeInput()
{
    // The server's own buffer is out of reach; what has reached us goes.
    uint8_t sink[PURGE_CHUNK];
    while (m_socket.Read(sink, sizeof(sink)).count == sizeof(sink)) {
    }
}

LineStatus RawSocketLine::SetModemLine(ModemLine /*line*/, bool /*on*/)
{
    return LineStatus::Fail("a raw socket has no modem lines", EINVAL);
}
