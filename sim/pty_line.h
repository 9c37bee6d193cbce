// The simulated board's serial line: the master side of a pseudo-terminal.
// The tool opens the slave side like a serial port. With a line rate set, bytes
// go both ways no faster than a real UART at that rate (10 bits per byte).
#pragma once

#include "sim/board.h"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace Sim {

class PtyLine : public Line {
public:
    struct Settings {
        uint32_t lineBaud = 0;      // 0: no pacing
        size_t noise = 0;           // junk bytes before every Write()
        uint64_t closeAfter = 0;    // pull the cable after this many received bytes; 0: never
    };
    static constexpr uint32_t DEFAULT_BAUD = 115200;
    static constexpr int64_t GRANULE_NS = 1000000;  // paced bytes move in steps of about 1 ms

    explicit PtyLine(const Settings& settings);
    ~PtyLine() override;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool Open(std::string& error);
    bool MakeLink(const std::string& path, std::string& error);
    const std::string& SlavePath() const { return m_slavePath; }

    using Line::Write;
    using Line::WriteData;
    void Write(const uint8_t* data, size_t length) override;
    void WriteData(const uint8_t* data, size_t length) override;
    void SetBaud(uint32_t baud) override;
    uint32_t GetBaud() const override { return m_baud; }

    // What to poll for now, and how long poll may sleep at most.
    int Fd() const { return m_master; }
    short PollEvents(int64_t nowNs) const;
    int64_t PollTimeoutNs(int64_t nowNs, int64_t tickNs) const;
    // After poll: the bytes the line lets in now.
    std::vector<uint8_t> Receive(short revents, int64_t nowNs);
    // Hands queued bytes to the pty as fast as the line allows.
    void Flush(int64_t nowNs);

    // True once each time the tool closed its side of the line.
    bool TakePeerLeft();
    // While we hold the slave, a tool that opens the line and closes it again
    // without sending a byte would go unnoticed: now and then let go for a
    // moment and see whether anybody else has the line open.
    void LookForTool(int64_t nowNs);
    bool Closed() const { return m_master < 0 && m_opened; }
    uint64_t Received() const { return m_received; }
    uint64_t Sent() const { return m_sent; }

    // Noise bytes never contain a frame start or a YMODEM control byte.
    static uint8_t NextNoiseByte(uint32_t& state);

private:
    bool Paced() const { return m_byteNs > 0; }
    static uint64_t Allowance(int64_t& freeNs, int64_t nowNs, bool busy, int64_t byteNs);
    uint64_t BytesWaiting() const;
    uint64_t RxStep() const;  // the allowance worth a read
    bool Hold();
    void ReleaseHold();
    void PullCable();
    void Enqueue(const uint8_t* data, size_t length);

    Settings m_settings;
    int m_master = -1;
    int m_hold = -1;  // our own slave descriptor while the tool is not (yet) on the line
    bool m_opened = false;
    std::string m_slavePath;
    std::string m_link;
    uint32_t m_baud;          // the board's rate
    int64_t m_byteNs = 0;     // time of one byte on the line; 0 without pacing
    int64_t m_txByteNs = 0;   // the transmitter switches only after what it queued at the old rate
    std::deque<std::pair<uint64_t, int64_t>> m_txSwitches;  // (queued-byte position, new byte time)
    std::deque<uint8_t> m_tx;
    uint64_t m_queued = 0;
    int64_t m_txFreeNs = 0;
    int64_t m_rxFreeNs = 0;
    bool m_rxBusy = false;  // the last read took its whole allowance: more is waiting
    uint64_t m_rxWaiting = 0;  // while busy, how much more the pty held after that read
    bool m_txBusy = false;  // bytes were left queued at the last flush
    uint64_t m_received = 0;
    uint64_t m_sent = 0;
    bool m_peerLeft = false;
    int64_t m_nextLookNs = 0;
    uint32_t m_noiseState = 0x2545F491u;
};

}  // namespace Sim
