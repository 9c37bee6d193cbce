// One kind of line to a board (a local serial port, a TCP connection to a
// serial server): the few operations the receive engine needs of it. The
// engine above owns the store, the waits and the lost-line state, so a new
// kind of line only moves bytes and applies settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/serial_port.h"
#include "transport/line_settings.h"

class LineDevice {
public:
    virtual ~LineDevice() = default;

    // Opens the line: a local port at the settings' port name, a server
    // connection at the name the line was made for. The engine applies the
    // settings with Apply right after.
    virtual LineStatus Open(const LineSettings& settings) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Applies the settings to the open line and reports whether it took them;
    // on failure the line keeps its earlier settings.
    virtual LineStatus Apply(const LineSettings& settings) = 0;
    // Whether Apply would take this rate, without touching the line.
    virtual LineStatus CheckRate(uint32_t baudRate) const = 0;

    // Takes what has arrived without waiting (count 0 when nothing has).
    virtual Platform::SerialIoResult Read(uint8_t* buffer, size_t size) = 0;
    // Hands every byte over; gives up when nothing is taken for stallMs.
    virtual Platform::SerialIoResult Write(const uint8_t* data, size_t length, uint32_t stallMs) = 0;
    // Waits until Read may have bytes or the time is over (negative: no
    // limit). READABLE may still yield no data bytes.
    virtual Platform::SerialWait Wait(int timeoutMs) = 0;
    // Wait, then Read into `taken` when READABLE. A line that can sleep in
    // the read itself does both in one system call.
    virtual Platform::SerialWait WaitAndRead(uint8_t* buffer, size_t size, int timeoutMs,
                                             Platform::SerialIoResult& taken)
    {
        taken = Platform::SerialIoResult{};
        const Platform::SerialWait event = Wait(timeoutMs);
        if (event == Platform::SerialWait::READABLE) {
            taken = Read(buffer, size);
        }
        return event;
    }
    // Drops what has arrived and not been read.
    virtual void PurgeInput() = 0;

    // Sets one modem line; a line without modem lines says why it cannot.
    virtual LineStatus SetModemLine(ModemLine line, bool on) = 0;
};
