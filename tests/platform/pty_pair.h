// A real pseudo-terminal pair: the port under test opens the slave path like
// any serial device, the test plays the board on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
            ptsname_r(m_master, name, sizeof(name)) != 0) {
            CloseMaster();
            return;
        }
        m_slavePath = name;
        // Holding the slave open keeps its settings between opens and spares
        // the master a hang-up.
        m_slaveHolder = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        struct termios tio {};
        if (m_slaveHolder >= 0 && tcgetattr(m_slaveHolder, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_slaveHolder, TCSANOW, &tio);
        }
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair()
    {
        CloseMaster();
        if (m_slaveHolder >= 0) {
            close(m_slaveHolder);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return m_master >= 0 && m_slaveHolder >= 0; }
    const std::string& SlavePath() const { return m_slavePath; }

    // The board's end goes away, like a pulled cable.
    void CloseMaster()
    {
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }

    bool Write(const std::vector<uint8_t>& bytes) const
    {
        for (size_t done = 0; done < bytes.size();) {
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

    // Reads until count bytes have come or nothing came for 5 s.
    std::vector<uint8_t> Read(size_t count) const
    {
        std::vector<uint8_t> bytes;
        uint8_t chunk[65536];
        while (bytes.size() < count) {
            struct pollfd pfd {m_master, POLLIN, 0};
            if (poll(&pfd, 1, 5000) <= 0 || (pfd.revents & POLLIN) == 0) {
                break;
            }
            const ssize_t n = read(m_master, chunk, std::min(sizeof(chunk), count - bytes.size()));
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

private:
    int m_master = -1;
    int m_slaveHolder = -1;
    std::string m_slavePath;
};
