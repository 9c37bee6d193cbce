#include "platform/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/hot_path.h"
#include "platform/text_win32.h"

namespace Platform {

namespace {

constexpr DWORD DRIVER_QUEUE_SIZE = 10240;
constexpr char XON_CHAR = 0x11;
constexpr char XOFF_CHAR = 0x13;
constexpr char EOF_CHAR = 0x04;
constexpr uint32_t MAX_PARITY_CODE = 4;
constexpr uint32_t MAX_STOP_BITS_CODE = 2;
const wchar_t DEVICE_NAMESPACE[] = L"\\\\.\\";
// How long a wait that cannot be armed pauses before the caller looks again.
constexpr DWORD UNARMED_PAUSE_MS = 1;

// What an unplugged USB adapter answers to every call on its handle, what a
// closed handle answers, and what wine answers for a pty whose other side
// closed (not ready). An aborted call is none of these: wine ends a pending
// receive-event wait on a pty as aborted a millisecond after it began (it
// polls modem lines that a pty lacks), and new settings, purges and
// cancelled I/O abort calls on a port that is still there.
bool IsGoneError(DWORD error)
{
    return error == ERROR_BAD_COMMAND || error == ERROR_ACCESS_DENIED || error == ERROR_DEVICE_NOT_CONNECTED ||
           error == ERROR_GEN_FAILURE || error == ERROR_INVALID_HANDLE || error == ERROR_NOT_READY;
}

// Whether the port still answers a status query.
bool PortAnswers(HANDLE port)
{
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(port, &errors, &status) != 0;
}

// A call on the port failed with error: the line is lost only when the port
// is gone, by that answer or by its silence to a status query.
bool PortIsGone(HANDLE port, DWORD error)
{
    return IsGoneError(error) || !PortAnswers(port);
}

SerialIoResult Failure(HANDLE port, DWORD error)
{
    SerialIoResult result;
    result.error = ErrnoFromWin32(error);
    result.lineLost = PortIsGone(port, error);
    return result;
}

DWORD ToMs(int timeoutMs)
{
    return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
}

// COM10 and above open only through the device namespace; it serves COM1 too.
std::wstring DevicePath(const std::string& name)
{
    std::wstring wide = WidenUtf8(name);
    if (wide.compare(0, 4, DEVICE_NAMESPACE) == 0) {
        return wide;
    }
    return DEVICE_NAMESPACE + wide;
}

// The table of the line: raw 8 bits, no flow control, no parity checking,
// DTR and RTS asserted.
void FillDcb(DCB& dcb, const SerialLineSettings& settings)
{
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = static_cast<BYTE>(settings.parity);
    dcb.StopBits = static_cast<BYTE>(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonChar = XON_CHAR;
    dcb.XoffChar = XOFF_CHAR;
    dcb.ErrorChar = 0;
    dcb.EofChar = EOF_CHAR;
}

bool WaitWhileDriverTakes(HANDLE port, HANDLE event, uint32_t stallMs)
{
    // A long write may take longer than stallMs in all; it only stalls when
    // the output queue stops shrinking.
    DWORD lastQueued = MAXDWORD;
    for (;;) {
        if (WaitForSingleObject(event, stallMs) == WAIT_OBJECT_0) {
            return true;
        }
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port, &errors, &status) || status.cbOutQue >= lastQueued) {
            return false;
        }
        lastQueued = status.cbOutQue;
    }
}

}  // namespace

// The open handle and the overlapped records that outlive one call: a
// receive-event wait stays pending between Waits, so no character event is
// lost between two of them.
struct SerialPortWin32State {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED commWait{};
    DWORD commEvents = 0;
    bool commWaitPending = false;
    HANDLE ioEvent = nullptr;  // reads and writes, one at a time
};

// ---- SerialPort -----------------------------------------------------------

SerialPort::~SerialPort()
{
    Close();
}

HOT_PATH bool SerialPort::IsOpen() const
{
    return m_state != nullptr;
}

int SerialPort::Open(const std::string& path)
{
    Close();
    // No sharing: another program on the same port would steal the answers.
    HANDLE port = CreateFileW(DevicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return ErrnoFromWin32(GetLastError());
    }
    // Reads return at once with what is queued; writes have no driver limit
    // (Write bounds them itself).
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    SerialLineSettings current;
    bool ready = GetCommState(port, &dcb) && SetupComm(port, DRIVER_QUEUE_SIZE, DRIVER_QUEUE_SIZE) &&
                 SetCommTimeouts(port, &timeouts) && SetCommMask(port, EV_RXCHAR);
    if (ready) {
        current.baudRate = dcb.BaudRate;
        current.parity = NOPARITY;
        current.stopBits = ONESTOPBIT;
        FillDcb(dcb, current);
        ready = SetCommState(port, &dcb) != 0;
    }
    HANDLE ioEvent = ready ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    HANDLE waitEvent = ioEvent != nullptr ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    if (waitEvent == nullptr) {
        DWORD error = GetLastError();
        if (ioEvent != nullptr) {
            CloseHandle(ioEvent);
        }
        CloseHandle(port);
        return ErrnoFromWin32(error);
    }
    PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    m_state = new SerialPortWin32State();
    m_state->port = port;
    m_state->ioEvent = ioEvent;
    m_state->commWait.hEvent = waitEvent;
    return 0;
}

void SerialPort::Close()
{
    if (m_state == nullptr) {
        return;
    }
    if (m_state->commWaitPending) {
        // The record must not go away while the driver may still write it.
        // A new event mask ends the wait where cancelling does not (wine
        // polls for it on a thread of its own until the mask changes).
        SetCommMask(m_state->port, 0);
        CancelIo(m_state->port);
        DWORD ignored = 0;
        GetOverlappedResult(m_state->port, &m_state->commWait, &ignored, TRUE);
    }
    CloseHandle(m_state->commWait.hEvent);
    CloseHandle(m_state->ioEvent);
    CloseHandle(m_state->port);
    delete m_state;
    m_state = nullptr;
}

int SerialPort::ApplyLineSettings(const SerialLineSettings& settings)
{
    if (m_state == nullptr) {
        return EBADF;
    }
    if (settings.baudRate == 0 || settings.parity > MAX_PARITY_CODE || settings.stopBits > MAX_STOP_BITS_CODE) {
        return EINVAL;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(m_state->port, &dcb)) {
        return ErrnoFromWin32(GetLastError());
    }
    const DCB old = dcb;
    // A frame still in the queue must leave at the old speed.
    FlushFileBuffers(m_state->port);
    FillDcb(dcb, settings);
    if (!SetCommState(m_state->port, &dcb)) {
        DWORD error = GetLastError();
        DCB restore = old;
        SetCommState(m_state->port, &restore);
        return error == ERROR_INVALID_PARAMETER ? EINVAL : ErrnoFromWin32(error);
    }
    return 0;
}

HOT_PATH SerialIoResult SerialPort::Read(uint8_t* buffer, size_t size)
{
    if (m_state == nullptr) {
        SerialIoResult result;
        result.error = EBADF;
        return result;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_state->ioEvent;
    ResetEvent(overlapped.hEvent);
    const DWORD asked = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    DWORD got = 0;
    // The time-outs make the read complete at once; pending is only a formality.
    if (!ReadFile(m_state->port, buffer, asked, &got, &overlapped)) {
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING || !GetOverlappedResult(m_state->port, &overlapped, &got, TRUE)) {
            error = error != ERROR_IO_PENDING ? error : GetLastError();
            // Aborted on a port that is still there: nothing read.
            return PortIsGone(m_state->port, error) ? Failure(m_state->port, error) : SerialIoResult();
        }
    }
    SerialIoResult result;
    result.count = got;
    return result;
}

HOT_PATH SerialIoResult SerialPort::Write(const uint8_t* data, size_t length, uint32_t stallMs)
{
    SerialIoResult result;
    if (m_state == nullptr) {
        result.error = EBADF;
        return result;
    }
    while (result.count < length) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_state->ioEvent;
        ResetEvent(overlapped.hEvent);
        const size_t left = length - result.count;
        const DWORD chunk = left > MAXDWORD ? MAXDWORD : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(m_state->port, data + result.count, chunk, &written, &overlapped)) {
            DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                SerialIoResult failed = Failure(m_state->port, error);
                failed.count = result.count;
                return failed;
            }
            if (!WaitWhileDriverTakes(m_state->port, overlapped.hEvent, stallMs)) {
                CancelIo(m_state->port);
                GetOverlappedResult(m_state->port, &overlapped, &written, TRUE);
                result.count += written;
                result.error = ETIMEDOUT;
                return result;
            }
            if (!GetOverlappedResult(m_state->port, &overlapped, &written, FALSE)) {
                SerialIoResult failed = Failure(m_state->port, GetLastError());
                failed.count = result.count;
                return failed;
            }
        }
        result.count += written;
        if (written == 0) {
            result.error = ETIMEDOUT;
            break;
        }
    }
    return result;
}

int SerialPort::Purge(bool input, bool output)
{
    if (m_state == nullptr) {
        return EBADF;
    }
    DWORD flags = (input ? PURGE_RXCLEAR : 0u) | (output ? PURGE_TXCLEAR | PURGE_TXABORT : 0u);
    if (flags == 0) {
        return 0;
    }
    return PurgeComm(m_state->port, flags) ? 0 : ErrnoFromWin32(GetLastError());
}

int SerialPort::SetModemLine(bool dtr, bool on)
{
    if (m_state == nullptr) {
        return EBADF;
    }
    DWORD function = dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
    return EscapeCommFunction(m_state->port, function) ? 0 : ErrnoFromWin32(GetLastError());
}

// A read here never waits, so a wait and a read it stays.
HOT_PATH SerialWait SerialPort::WaitAndRead(uint8_t* buffer, size_t size, int timeoutMs, SerialIoResult& taken)
{
    return WaitThenRead(buffer, size, timeoutMs, taken);
}

HOT_PATH SerialWait SerialPort::Wait(int timeoutMs)
{
    if (m_state == nullptr) {
        return SerialWait::FAILED;
    }
    const HANDLE port = m_state->port;
    // Arm the character event first, then look at the queue: a byte that
    // arrives in between fires the armed wait.
    if (!m_state->commWaitPending) {
        ResetEvent(m_state->commWait.hEvent);
        m_state->commEvents = 0;
        if (WaitCommEvent(port, &m_state->commEvents, &m_state->commWait)) {
            return SerialWait::READABLE;
        }
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return WaitUnarmed(timeoutMs, error);
        }
        m_state->commWaitPending = true;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status)) {
        return SerialWait::LINE_LOST;  // the port no longer answers
    }
    if (status.cbInQue > 0) {
        return SerialWait::READABLE;
    }
    DWORD which = WaitForSingleObject(m_state->commWait.hEvent, ToMs(timeoutMs));
    if (which == WAIT_TIMEOUT) {
        return SerialWait::TIMEOUT;
    }
    if (which != WAIT_OBJECT_0) {
        // The wait itself failed, which says nothing about the port: ask it.
        return WaitUnarmed(timeoutMs, NO_ERROR);
    }
    m_state->commWaitPending = false;
    DWORD ignored = 0;
    if (!GetOverlappedResult(port, &m_state->commWait, &ignored, FALSE)) {
        // Ended early (aborted, say) on a port that is still there: the
        // caller looks at the line and waits again.
        return PortIsGone(port, GetLastError()) ? SerialWait::LINE_LOST : SerialWait::READABLE;
    }
    return SerialWait::READABLE;
}

SerialWait SerialPort::WaitUnarmed(int timeoutMs, unsigned long error)
{
    const HANDLE port = m_state->port;
    if (PortIsGone(port, error)) {
        return SerialWait::LINE_LOST;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(port, &errors, &status) && status.cbInQue > 0) {
        return SerialWait::READABLE;
    }
    // Nothing to wait on: pause as long as wine polls a port, so that the
    // caller looking again does not spin while the wait cannot be armed.
    const DWORD pause = timeoutMs < 0 ? UNARMED_PAUSE_MS : std::min(UNARMED_PAUSE_MS, static_cast<DWORD>(timeoutMs));
    Sleep(pause);
    return SerialWait::READABLE;
}

}  // namespace Platform
