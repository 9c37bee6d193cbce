// A local serial port (a device path, or a COM name on Windows) as a line.
#pragma once

#include "platform/serial_port.h"
#include "transport/line_device.h"

class SerialLineDevice : public LineDevice {
public:
    LineStatus Open(const LineSettings& settings) override;
    void Close() override;
    bool IsOpen() const override { return m_port.IsOpen(); }
    LineStatus Apply(const LineSettings& settings) override;
    LineStatus CheckRate(uint32_t baudRate) const override;
    Platform::SerialIoResult Read(uint8_t* buffer, size_t size) override;
    Platform::SerialIoResult Write(const uint8_t* data, size_t length, uint32_t stallMs) override;
    Platform::SerialWait Wait(int timeoutMs) override;
    Platform::SerialWait WaitAndRead(uint8_t* buffer, size_t size, int timeoutMs,
                                     Platform::SerialIoResult& taken) override;
    void PurgeInput() override;
    LineStatus SetModemLine(ModemLine line, bool on) override;

private:
    Platform::SerialPort m_port;
};
