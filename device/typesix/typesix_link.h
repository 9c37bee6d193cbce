// The one conversation with a TypeSix board over its line: the boot ROM stage
// (chip object) and the running ssb's loader commands (serial protocol) both
// speak through it. It owns the framed send and its retries, answer
// collection, the discard of stale bytes, the wait for the board's start text,
// the packet loop, the one sequence counter and the reset frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class BurnChipBase;

class TypeSixLink {
public:
    static constexpr unsigned long MAX_RECV_BUFFER_SIZE = 53248;
    // Bytes gathered without a complete answer before the attempt is given up.
    static constexpr unsigned long MAX_GATHERED = 49151;
    static constexpr unsigned long MAX_FRAME_LEN = 4096;
    static constexpr uint32_t NO_HANDSHAKE_LIMIT = 0xFFFFFFFF;

    // How an exchange (or one attempt's wait for an answer) ended.
    enum class Outcome { ACCEPTED, REJECTED, TIMED_OUT, ABORTED };
    // How a wait for the board's start text ended.
    enum class BoardText { STOPPED, TIMED_OUT, ROM, SSB };
    // Which start texts end the wait: the ROM's counts only while the ROM is expected.
    enum class Listen { ROM_AND_SSB, SSB_ONLY };
    // The chip's reset frame carries sequence byte 0; the loader protocol's the next number.
    enum class ResetSequence { ZERO, NEXT };
    enum class PacketRun { DONE, CANCELLED, FAILED, NO_PACKET_SIZE };

    // Looks at everything gathered in this attempt: 0 reject, 1 accept, 2 wait on.
    using Examine = std::function<int(const uint8_t* bytes, size_t count)>;
    using PacketSender = std::function<bool(uint32_t number, const uint8_t* data, uint32_t size, bool last)>;

    explicit TypeSixLink(BurnChipBase& chip) : m_chip(chip) {}
    TypeSixLink(const TypeSixLink&) = delete;
    TypeSixLink& operator=(const TypeSixLink&) = delete;

    // --- the sequence counter ---------------------------------------------------
    // Low 8 bits of the counter, which then moves on.
    uint8_t NextSequence();
    void RestartSequence() { m_sequence = 0; }

    // --- frames -----------------------------------------------------------------
    // Sends the wrapped payload and waits attemptWindow ms for an answer that
    // examine settles; sends it again (same bytes) until totalWindow ms are over.
    Outcome Exchange(const std::vector<uint8_t>& payload, unsigned long attemptWindow, unsigned long totalWindow,
                     const Examine& examine);
    // An exchange whose answer must be a positive acknowledgement;
    // "Timeout error.\n" (a detail) when none came in time.
    bool SendCommand(const std::vector<uint8_t>& payload, unsigned long attemptWindow, unsigned long totalWindow);
    // 0 bad answer, 1 good answer, 2 no complete answer yet.
    int CheckRecvData(const unsigned char* data, unsigned long length) const;
    // Written once, no answer awaited; true when every byte went out.
    bool SendUnanswered(const std::vector<uint8_t>& payload);
    // The reset frame, then the line back to the ROM's rate; false when the
    // frame did not go out whole or the line refused the rate.
    bool SendReset(ResetSequence sequence);
    // Drops whatever the board has sent and nobody has read yet.
    void DiscardPending();

    // --- the board's start text -------------------------------------------------
    // Gathers the board's text until a start text that listen names shows, or
    // the chip's handshake time since start has run out.
    BoardText AwaitBoardText(uint32_t start, Listen listen);

    // --- packets ----------------------------------------------------------------
    // Cuts length bytes into packets of the chip's per-packet size and hands
    // each to send; "#" after each, and progress of sent ÷ total when there is
    // more than one packet's worth. sent grows by every packet sent.
    PacketRun SendPackets(const uint8_t* data, uint32_t length, uint32_t total, uint32_t& sent,
                          const PacketSender& send);

    // Progress of done out of total, as the board's transfers report it.
    static int Percent(uint32_t done, uint32_t total);

    // A cancel or a lost line; true when the caller must stop.
    bool ShouldStop();

private:
    Outcome CollectAnswer(unsigned long window, const Examine& examine);
    // Waits a short while for bytes and appends them as board text; false when none came.
    bool PollBoardText(std::string& text);

    BurnChipBase& m_chip;
    uint32_t m_sequence = 0;
    std::vector<uint8_t> m_answerBuffer;
};
