// A real pseudo-terminal pair for line-level tests: the code under test opens
// the slave path like any serial device, the test plays the board on the
// master side. Also a capture of the console funnel's messages.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/console.h"

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
        // Keep the slave's line alive between opens: without a holder, the
        // pty forgets its settings and reports a hang-up to the master.
        m_slaveHolder = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        struct termios tio {};
        if (m_slaveHolder >= 0 && tcgetattr(m_slaveHolder, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_slaveHolder, TCSANOW, &tio);
        }
        int flags = fcntl(m_master, F_GETFL);
        fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
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
    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }

    // The board's end goes away, like a pulled cable.
    void CloseMaster()
    {
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }

    bool Write(const std::vector<uint8_t>& bytes) const { return Write(bytes.data(), bytes.size()); }
    bool Write(const uint8_t* data, size_t length) const
    {
        size_t done = 0;
        while (done < length) {
            ssize_t n = write(m_master, data + done, length - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            struct pollfd pfd {m_master, POLLOUT, 0};
            if (poll(&pfd, 1, 5000) <= 0) {
                return false;
            }
        }
        return true;
    }

    // Reads until `count` bytes have come or nothing came for idleMs.
    std::vector<uint8_t> Read(size_t count, int idleMs = 5000) const
    {
        std::vector<uint8_t> bytes;
        uint8_t chunk[65536];
        while (bytes.size() < count) {
            struct pollfd pfd {m_master, POLLIN, 0};
            if (poll(&pfd, 1, idleMs) <= 0 || (pfd.revents & POLLIN) == 0) {
                break;
            }
            ssize_t n = read(m_master, chunk, std::min(sizeof(chunk), count - bytes.size()));
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

// Threads of this process, from /proc.
inline int ThreadCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        closedir(dir);
    }
    return count;
}

// Collects what device-side code prints through the console funnel.
class PrintCapture {
public:
    PrintCapture()
    {
        Messages().clear();
        g_printInfo = &PrintCapture::OnPrint;
    }
    ~PrintCapture() { g_printInfo = nullptr; }

    std::vector<std::string> Lines() const
    {
        std::lock_guard<std::mutex> lock(Lock());
        return Messages();
    }
    int Count(const std::string& message) const
    {
        int n = 0;
        for (const std::string& line : Lines()) {
            n += line == message ? 1 : 0;
        }
        return n;
    }

private:
    static void OnPrint(long long, const char*, const char* message, const char* detail, int)
    {
        std::lock_guard<std::mutex> lock(Lock());
        Messages().push_back(std::string(message) + detail);
    }
    static std::mutex& Lock()
    {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::string>& Messages()
    {
        static std::vector<std::string> messages;
        return messages;
    }
};
