#include "platform/serial_port.h"
#include "platform/hot_path.h"
#include "platform/serial_termios.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__

#include "platform/serial_speed_linux.h"
#endif

#include <algorithm>
#include <cerrno>

#include "platform/fd_stream_posix.h"
#include "platform/monotonic_clock.h"
#include "platform/plain_syscalls_posix.h"

namespace Platform {

namespace {

// A driver that rounds the requested rate further than this cannot talk to
// the board (a UART tolerates a few percent between both ends).
constexpr uint32_t MAX_RATE_DEVIATION_PERCENT = 3;

bool IsLineLostError(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

HOT_PATH ssize_t TtyRead(int fd, void* buffer, size_t size)
{
    return PlainSyscalls::Read(fd, buffer, size);
}

HOT_PATH ssize_t TtyWrite(int fd, const void* data, size_t length)
{
    return PlainSyscalls::Write(fd, data, length);
}

const FdStream::Calls TTY_CALLS = {TtyRead, TtyWrite, IsLineLostError, EIO};

void CloseFd(int fd)
{
    // Never retried: Linux releases the descriptor even when close reports EINTR.
    (void)close(fd);
}

#ifndef CMSPAR
#define CMSPAR 0  // no mark/space parity on this system; refused below
#endif

int ApplyParity(tcflag_t& cflag, uint32_t parity)
{
    cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    if ((parity == 3 || parity == 4) && CMSPAR == 0) {
        return EINVAL;
    }
    switch (parity) {
        case 0:
            return 0;
        case 1:
            cflag |= PARENB | PARODD;
            return 0;
        case 2:
            cflag |= PARENB;
            return 0;
        case 3:
            cflag |= PARENB | CMSPAR | PARODD;  // mark: the bit is always 1
            return 0;
        case 4:
            cflag |= PARENB | CMSPAR;  // space: the bit is always 0
            return 0;
        default:
            return EINVAL;
    }
}

int ApplyStopBits(tcflag_t& cflag, uint32_t stopBits)
{
    switch (stopBits) {
        case 0:
            cflag &= ~static_cast<tcflag_t>(CSTOPB);
            return 0;
        case 2:
            cflag |= CSTOPB;
            return 0;
        default:
            // One and a half stop bits exist only with 5-bit characters.
            return EINVAL;
    }
}

// Raw 8-bit line: no character processing, no flow control of any kind and
// no parity checking of received bytes, whatever the parity setting.
void MakeRaw(struct termios& tio)
{
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                          IXOFF | IXANY | INPCK | IGNPAR | IMAXBEL);
#ifdef IUCLC
    tio.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // A read of the waiting descriptor ends at the first bytes or after a
    // tenth of a second without any; the line's own descriptor never waits.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 1;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
}

#ifndef __linux__
// Without Linux's arbitrary rates, the termios codes of the standard ones.
struct StandardSpeedEntry {
    uint32_t rate;
    speed_t code;
};
const StandardSpeedEntry STANDARD_SPEEDS[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

int StandardSpeed(uint32_t baudRate, speed_t& speed)
{
    for (const StandardSpeedEntry& e : STANDARD_SPEEDS) {
        if (e.rate == baudRate) {
            speed = e.code;
            return 0;
        }
    }
    return EINVAL;
}
#endif

int SetSpeed(int fd, struct termios& tio, uint32_t baudRate)
{
#ifdef __linux__
    (void)tio;
    int error = LinuxSerialSpeed::Set(fd, baudRate);
    if (error != 0) {
        return error;
    }
    uint32_t actual = 0;
    if (LinuxSerialSpeed::Get(fd, actual) == 0 && actual != 0) {
        uint64_t diff = actual > baudRate ? actual - baudRate : baudRate - actual;
        if (diff * 100 > static_cast<uint64_t>(baudRate) * MAX_RATE_DEVIATION_PERCENT) {
            return EINVAL;
        }
    }
    return 0;
#else
    speed_t speed;
    int error = StandardSpeed(baudRate, speed);
    if (error == 0 && (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 ||
                       tcsetattr(fd, TCSADRAIN, &tio) != 0)) {
        error = errno;
    }
    return error;
#endif
}

}  // namespace

int ComposeControlFlags(uint32_t stopBits, uint32_t parity, tcflag_t& cflag)
{
    int error = ApplyParity(cflag, parity);
    return error != 0 ? error : ApplyStopBits(cflag, stopBits);
}

// The waiting descriptor: opened without waiting for a carrier, then made
// blocking. It must be the very device of the line's own descriptor.
int OpenWaitDescriptor(const std::string& path, int lineFd)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat line {};
    struct stat wait {};
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(lineFd, &line) != 0 || fstat(fd, &wait) != 0 || line.st_rdev != wait.st_rdev || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        CloseFd(fd);
        return -1;
    }
    return fd;
}

// ---- SerialPort -----------------------------------------------------------

SerialPort::~SerialPort()
{
    Close();
}

int SerialPort::Open(const std::string& path)
{
    Close();
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno;
    }
    if (!isatty(fd)) {
        int error = errno != 0 ? errno : ENOTTY;
        CloseFd(fd);
        return error;
    }
    m_fd = fd;
    // Before the exclusive mark, which would refuse this second open.
    m_waitFd = OpenWaitDescriptor(path, fd);
    // Another program on the same port would steal the board's answers.
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
        int error = errno;
        Close();
        return error;
    }
    // Boards wired to DTR/RTS expect them asserted; a pty has no modem lines.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        int error = errno;
        Close();
        return error;
    }
    return 0;
}

void SerialPort::Close()
{
    m_readTimerSet = false;
    if (m_waitFd >= 0) {
        CloseFd(m_waitFd);
        m_waitFd = -1;
    }
    if (m_fd >= 0) {
        // The exclusive mark outlives the descriptor while anyone else holds
        // the tty; lift it so the next open succeeds.
        (void)ioctl(m_fd, TIOCNXCL);
        CloseFd(m_fd);
        m_fd = -1;
    }
}

int SerialPort::ApplyLineSettings(const SerialLineSettings& settings)
{
    if (m_fd < 0) {
        return EBADF;
    }
    if (settings.baudRate == 0) {
        return EINVAL;
    }
    struct termios tio {};
    if (tcgetattr(m_fd, &tio) != 0) {
        return errno;
    }
    struct termios old = tio;
#ifdef __linux__
    uint32_t oldBaud = 0;
    LinuxSerialSpeed::Get(m_fd, oldBaud);
#endif
    MakeRaw(tio);
    int error = ComposeControlFlags(settings.stopBits, settings.parity, tio.c_cflag);
    if (error != 0) {
        return error;
    }
    // Drain first: a frame still in the queue must leave at the old speed.
    if (tcsetattr(m_fd, TCSADRAIN, &tio) != 0) {
        return errno;
    }
    error = SetSpeed(m_fd, tio, settings.baudRate);
    if (error != 0) {
        tcsetattr(m_fd, TCSANOW, &old);
#ifdef __linux__
        if (oldBaud != 0) {
            LinuxSerialSpeed::Set(m_fd, oldBaud);  // a rejected rate may already be in place
        }
#endif
        return error;
    }
    m_readTimerSet = true;
    return 0;
}

HOT_PATH SerialIoResult SerialPort::Read(uint8_t* buffer, size_t size)
{
    return FdStream::ReadAvailable(m_fd, buffer, size, TTY_CALLS);
}

HOT_PATH SerialIoResult SerialPort::Write(const uint8_t* data, size_t length, uint32_t stallMs)
{
    return FdStream::WriteAll(m_fd, data, length, stallMs, TTY_CALLS);
}

int SerialPort::Purge(bool input, bool output)
{
    if (m_fd < 0) {
        return EBADF;
    }
    int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (!input && !output) {
        return 0;
    }
    return tcflush(m_fd, which) == 0 ? 0 : errno;
}

int SerialPort::SetModemLine(bool dtr, bool on)
{
    if (m_fd < 0) {
        return EBADF;
    }
    int bits = dtr ? TIOCM_DTR : TIOCM_RTS;
    return ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : errno;
}

HOT_PATH bool SerialPort::IsOpen() const
{
    return m_fd >= 0;
}

HOT_PATH SerialWait SerialPort::WaitAndRead(uint8_t* buffer, size_t size, int timeoutMs, SerialIoResult& taken)
{
    // A driver whose reads end far sooner than the timer says would make the
    // wait spin: it then polls, as every wait did before.
    constexpr int64_t TIMER_IGNORED_BELOW_MS = 50;
    taken = SerialIoResult{};
    const int64_t startMs = MonotonicMs();
    int64_t readStartMs = startMs;
    int left = timeoutMs;
    // Shorter waits poll: the read timer would end them up to a tick late.
    while (m_waitFd >= 0 && m_readTimerSet && (left < 0 || left >= ONE_CALL_WAIT_MIN_MS)) {
        const ssize_t n = PlainSyscalls::Read(m_waitFd, buffer, size);
        if (n > 0) {
            taken.count = static_cast<size_t>(n);
            return SerialWait::READABLE;
        }
        if (n < 0 && errno != EINTR) {
            return IsLineLostError(errno) ? SerialWait::LINE_LOST : SerialWait::FAILED;
        }
        if (n == 0) {
            // The timer ran out, or the line hung up (a hung-up tty reads as
            // the end of a file at once): the plain wait tells which.
            const SerialWait event = WaitThenRead(buffer, size, 0, taken);
            if (event != SerialWait::TIMEOUT) {
                return event;
            }
        }
        const int64_t nowMs = MonotonicMs();
        if (n == 0 && nowMs - readStartMs < TIMER_IGNORED_BELOW_MS) {
            m_readTimerSet = false;
        }
        readStartMs = nowMs;
        if (timeoutMs >= 0) {
            left = static_cast<int>(std::max<int64_t>(0, timeoutMs - (nowMs - startMs)));
        }
    }
    return WaitThenRead(buffer, size, left, taken);
}

HOT_PATH SerialWait SerialPort::Wait(int timeoutMs)
{
    if (m_fd < 0) {
        return SerialWait::FAILED;
    }
    struct pollfd pfd {m_fd, POLLIN, 0};
    for (;;) {
        int ready = PlainSyscalls::Poll(&pfd, 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;  // a signal: wait again (the window restarts, harmless here)
            }
            return SerialWait::FAILED;
        }
        if (ready == 0) {
            return SerialWait::TIMEOUT;
        }
        break;
    }
    short lineEvents = pfd.revents;
    if ((lineEvents & POLLIN) != 0) {
        return SerialWait::READABLE;  // even with a hang-up: take what is left first
    }
    if ((lineEvents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return SerialWait::LINE_LOST;
    }
    return SerialWait::FAILED;
}

}  // namespace Platform
