// A real pseudo-terminal pair: the code under test opens the slave path like
// any serial device, the test plays the board on the master.
#pragma once

#include <atomic>
#include <string>

#include "support/test_files.h"

namespace TestSupport {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return m_master >= 0 && m_slaveHolder >= 0; }
    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }

    bool Write(const Bytes& bytes) const;
    // Reads until `count` bytes have come or nothing came for idleMs.
    Bytes Read(size_t count, int idleMs = 5000) const { return ReadUpTo(count, idleMs, true); }
    // Whatever comes within ms milliseconds, up to count bytes.
    Bytes ReadFor(size_t count, int ms) const { return ReadUpTo(count, ms, false); }

    // The board's end goes away, like a pulled cable.
    void CloseMaster();
    // Makes reads in progress on another thread return.
    void StopReads() { m_stop = true; }

private:
    Bytes ReadUpTo(size_t count, int ms, bool idle) const;

    int m_master = -1;
    int m_slaveHolder = -1;
    std::string m_slavePath;
    std::atomic<bool> m_stop{false};
};

}  // namespace TestSupport
