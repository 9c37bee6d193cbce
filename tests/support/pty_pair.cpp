#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace TestSupport {

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof(name)) != 0) {
        CloseMaster();
        return;
    }
    m_slavePath = name;
    // Keep the slave's line alive between opens: without a holder, the pty
    // forgets its settings and reports a hang-up to the master.
    m_slaveHolder = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    struct termios tio {};
    if (m_slaveHolder >= 0 && tcgetattr(m_slaveHolder, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_slaveHolder, TCSANOW, &tio);
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    CloseMaster();
    if (m_slaveHolder >= 0) {
        close(m_slaveHolder);
    }
}

void PtyPair::CloseMaster()
{
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

bool PtyPair::Write(const Bytes& bytes) const
{
    for (size_t done = 0; done < bytes.size();) {
        if (m_master < 0) {
            return false;
        }
        const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        struct pollfd pfd {m_master, POLLOUT, 0};
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (poll(&pfd, 1, 5000) <= 0) {
            return false;
        }
    }
    return true;
}

Bytes PtyPair::ReadUpTo(size_t count, int ms, bool idle) const
{
    using Clock = std::chrono::steady_clock;
    Bytes bytes;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    uint8_t chunk[65536];
    while (bytes.size() < count && !m_stop && m_master >= 0 && Clock::now() < deadline) {
        const ssize_t n = read(m_master, chunk, std::min(sizeof(chunk), count - bytes.size()));
        if (n > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
            deadline = idle ? Clock::now() + std::chrono::milliseconds(ms) : deadline;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        } else {
            // Short slices, so that StopReads is seen soon.
            struct pollfd pfd {m_master, POLLIN, 0};
            poll(&pfd, 1, 10);
        }
    }
    return bytes;
}

}  // namespace TestSupport
