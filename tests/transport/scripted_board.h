// A board at the far end of a real pseudo-terminal: the code under test
// opens the slave path like any serial device, a scripted peer thread answers
// on the master side and keeps a log of what it read.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "support/test_files.h"

using TestSupport::Bytes;
using TestSupport::PtyPair;

// Generous bound for anything the peer waits for: a loaded machine or a
// sanitizer build may be slow, and the tool always answers much sooner.
constexpr int PEER_READ_TIMEOUT_MS = 10000;

class PtyBoard {
public:
    ~PtyBoard()
    {
        m_pty.StopReads();
        Join();
    }

    bool Ok() const { return m_pty.Ok(); }
    const std::string& SlavePath() const { return m_pty.SlavePath(); }

    // Plays the board in a thread of its own until the script returns.
    void Play(std::function<void(PtyBoard&)> script)
    {
        m_peer = std::thread([this, script] { script(*this); });
    }

    void Join()
    {
        if (m_peer.joinable()) {
            m_peer.join();
        }
    }

    // --- used by the script, on the peer thread ----------------------------

    // Exactly n bytes from the tool; an empty result when they do not come.
    Bytes Read(size_t n) { return Logged(m_pty.ReadFor(n, PEER_READ_TIMEOUT_MS), n); }

    // Whatever the tool sends within ms milliseconds.
    Bytes Drain(int ms) { return Logged(m_pty.ReadFor(SIZE_MAX, ms), 0); }

    // With a cut, in two pieces with a pause between, the first `cut` bytes long.
    void Write(const Bytes& bytes, size_t cut = 0)
    {
        if (cut != 0) {
            m_pty.Write(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        m_pty.Write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end()));
    }

    // The board's end goes away, like a pulled cable.
    void CloseLine() { m_pty.CloseMaster(); }

    // Everything the peer read, for checks after Join.
    const Bytes& Log() const { return m_log; }

private:
    // What came, kept in the log; nothing when fewer than `least` bytes came.
    Bytes Logged(Bytes out, size_t least)
    {
        if (out.size() < least) {
            out.clear();
        }
        m_log.insert(m_log.end(), out.begin(), out.end());
        return out;
    }

    PtyPair m_pty;
    std::thread m_peer;
    Bytes m_log;
};

// One exchange of a scripted board: take `read` bytes from the tool (none:
// answer at once), then write the answer, in two pieces when `cut` is set.
struct Step {
    size_t read;
    Bytes write;
    size_t cut = 0;
};

inline std::function<void(PtyBoard&)> Script(std::vector<Step> steps)
{
    return [steps](PtyBoard& b) {
        for (const Step& step : steps) {
            if (step.read != 0 && b.Read(step.read).empty()) {
                return;
            }
            b.Write(step.write, step.cut);
        }
    };
}

