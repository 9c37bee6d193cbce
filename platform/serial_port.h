// The operating system's serial port, reduced to what the byte transport
// needs: a raw 8-bit line without flow control, non-blocking reads, writes
// that hand over every byte, and a wait for input.
#ifndef TARNWICK_PLATFORM_SERIAL_PORT_H
#define TARNWICK_PLATFORM_SERIAL_PORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace Platform {

// Line settings as the chip settings carry them (the Windows codes).
struct SerialLineSettings {
    uint32_t baudRate = 0;  // set by whoever applies them
    uint32_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    uint32_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
};

// Outcome of a read or write: bytes moved, and why it stopped short.
struct SerialIoResult {
    size_t count = 0;
    int error = 0;          // errno of a failure, 0 when none
    bool lineLost = false;  // the device or the pty peer went away
};

enum class SerialWait {
    READABLE,   // bytes (or an end-of-line condition) are ready to read
    TIMEOUT,
    LINE_LOST,  // hang-up or error on the line with nothing left to read
    FAILED,
};

#ifdef _WIN32
struct SerialPortWin32State;
#endif

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens an existing device for exclusive raw use; 0 on success, otherwise
    // errno (EACCES when the user lacks permission). Modem lines DTR and RTS
    // are asserted where the device has them.
    int Open(const std::string& path);
    void Close();
    bool IsOpen() const;

    // Applies speed, stop bits and parity on a raw 8-bit line without flow
    // control or parity checking, after queued output has left. 0 or errno
    // (EINVAL for codes the line cannot do); the old settings stay on failure.
    int ApplyLineSettings(const SerialLineSettings& settings);

    // Takes what is queued without waiting (count 0 when nothing is).
    SerialIoResult Read(uint8_t* buffer, size_t size);
    // Hands every byte to the driver, waiting while its queue is full; gives
    // up when it takes nothing for stallMs.
    SerialIoResult Write(const uint8_t* data, size_t length, uint32_t stallMs);

    // Sets DTR (dtr true) or RTS; 0 or errno (ENOTTY, EINVAL: no modem lines).
    int SetModemLine(bool dtr, bool on);

    // Discards what the driver holds (input, output or both); 0 or errno.
    int Purge(bool input, bool output);

    // Waits until the line is readable or timeoutMs has passed (a negative
    // timeout waits without limit). A readable answer may find nothing to read.
    SerialWait Wait(int timeoutMs);
    // Wait, then Read when the line is readable, into `taken`. Where the
    // system allows, a wait of at least ONE_CALL_WAIT_MIN_MS sleeps in a read
    // itself: an answer that comes then costs one system call, not two.
    SerialWait WaitAndRead(uint8_t* buffer, size_t size, int timeoutMs, SerialIoResult& taken);
    static constexpr int ONE_CALL_WAIT_MIN_MS = 120;

private:
    // The plain way of WaitAndRead: a wait, then a read of what came.
    SerialWait WaitThenRead(uint8_t* buffer, size_t size, int timeoutMs, SerialIoResult& taken)
    {
        taken = SerialIoResult{};
        const SerialWait event = Wait(timeoutMs);
        if (event == SerialWait::READABLE) {
            taken = Read(buffer, size);
        }
        return event;
    }
#ifdef _WIN32
    // Wait when the receive event could not be armed (error: why, or 0).
    SerialWait WaitUnarmed(int timeoutMs, unsigned long error);

    SerialPortWin32State* m_state = nullptr;  // handle and overlapped records
#else
    int m_fd = -1;
    // A second, blocking descriptor of the same device that only waits: the
    // line's read timer (VTIME) ends each of its reads after a tenth of a
    // second without bytes. -1 where the device refuses a second open.
    int m_waitFd = -1;
    bool m_readTimerSet = false;  // our line settings are applied, and the driver keeps to their timer
#endif
};

}  // namespace Platform

#endif
