#include "transport/serial_line_device.h"

#include <cerrno>
#include <system_error>

#include "platform/hot_path.h"

namespace {

constexpr uint32_t SERIAL_DATA_BITS = 8;

LineStatus FromErrno(int error, const std::string& what)
{
    if (error == 0) {
        return LineStatus();
    }
    return LineStatus::Fail(what + " (" + std::generic_category().message(error) + ")", error);
}

}  // namespace

LineStatus SerialLineDevice::Open(const LineSettings& settings)
{
    // Names are used as the system knows them: device paths of any length on
    // POSIX, COM names on Windows.
    int error = settings.portName.empty() ? ENOENT : m_port.Open(settings.portName);
    return FromErrno(error, "cannot open " + settings.portName);
}

void SerialLineDevice::Close()
{
    if (m_port.IsOpen()) {
        // Output is not purged: the last frame (a reset, say) must still
        // reach the board; closing waits for it to leave.
        m_port.Purge(true, false);
        m_port.Close();
    }
}

LineStatus SerialLineDevice::Apply(const LineSettings& settings)
{
    if (settings.dataBits != SERIAL_DATA_BITS) {
        return LineStatus::Fail("only 8 data bits are supported", EINVAL);
    }
    Platform::SerialLineSettings platform;
    platform.baudRate = settings.baudRate;
    platform.stopBits = settings.stopBits;
    platform.parity = settings.parity;
    int error = m_port.IsOpen() ? m_port.ApplyLineSettings(platform) : EBADF;
    return FromErrno(error, "the driver refused the settings");
}

LineStatus SerialLineDevice::CheckRate(uint32_t baudRate) const
{
    // Any other rate goes to the driver, which alone knows what its UART
    // can do; a refusal there fails the switch at once.
    if (baudRate == 0) {
        return LineStatus::Fail("no line runs at 0 baud", EINVAL);
    }
    return LineStatus();
}

HOT_PATH Platform::SerialIoResult SerialLineDevice::Read(uint8_t* buffer, size_t size)
{
    return m_port.Read(buffer, size);
}

HOT_PATH Platform::SerialIoResult SerialLineDevice::Write(const uint8_t* data, size_t length, uint32_t stallMs)
{
    return m_port.Write(data, length, stallMs);
}

HOT_PATH Platform::SerialWait SerialLineDevice::Wait(int timeoutMs)
{
    return m_port.Wait(timeoutMs);
}

HOT_PATH Platform::SerialWait SerialLineDevice::WaitAndRead(uint8_t* buffer, size_t size, int timeoutMs,
                                                            Platform::SerialIoResult& taken)
{
    return m_port.WaitAndRead(buffer, size, timeoutMs, taken);
}

void SerialLineDevice::PurgeInput()
{
    if (m_port.IsOpen()) {
        m_port.Purge(true, false);
    }
}

LineStatus SerialLineDevice::SetModemLine(ModemLine line, bool on)
{
    int error = m_port.SetModemLine(line == ModemLine::DTR, on);
    if (error == ENOTTY || error == EINVAL) {
        return LineStatus::Fail("this port has no modem lines", error);
    }
    return FromErrno(error, "setting a modem line failed");
}
