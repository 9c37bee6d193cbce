// The fault plan at run time: counts what the board answers and receives,
// tells each answer and data block what the plan does to it, and notes every
// fault that fires, and where, in the report (a fault that never fired shows
// there with fired 0).
#pragma once

#include "sim/board.h"
#include "sim/fault_plan.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Sim {

// What the plan does to one answer on its way out.
struct AnswerFate {
    bool negative = false;
    bool dropped = false;
    bool garbled = false;
    Garble garble = Garble::CHECK;
};

// What the plan does to one intact YMODEM data block.
enum class BlockFate { TAKE, ASK_AGAIN, ACK_LOST };

class FaultSchedule {
public:
    // Faults without a selector, noted where they fire.
    enum class Flag { NOISE, NAK_FRAME, SILENT, CLOSE_AFTER, FALL_BACK_TO_ROM, SSB_RUNNING };

    FaultSchedule(const FaultPlan& plan, Report& report);
    FaultSchedule(const FaultSchedule&) = delete;
    FaultSchedule& operator=(const FaultSchedule&) = delete;

    const FaultPlan& Plan() const { return m_plan; }

    // Whether the next answer with this key (a command code or a Tally key)
    // is to be negative. Asked before a command is carried out: a command
    // refused by the plan is not.
    bool NextAnswerIsNegative(int key) const;
    // The answer with this key goes out now: counted, and what happens to it.
    AnswerFate TakeAnswer(int key);

    // Block 0 of a YMODEM transfer named its file: data blocks count in it from now on.
    void TransferStarted();
    // An intact data block arrived; number counts from 1 within its transfer.
    BlockFate TakeBlock(uint64_t number, bool repeat);
    // The tool acknowledged a data block of a read-back: whether that ACK is lost.
    bool LoseReadBackAck();

    void Fired(Flag flag, const std::string& where);
    void CellsFired(const std::vector<BadCell>& cells, const std::string& what);

private:
    template <typename Fault>
    struct Entry {
        Fault fault;
        size_t record;  // index of its FaultRecord in the report
    };

    bool Selects(const AnswerSelector& which, int key, uint64_t position, uint64_t ofKey) const;

    const FaultPlan& m_plan;
    Report& m_report;
    std::vector<Entry<AnswerFault>> m_answers;
    std::vector<Entry<BlockFault>> m_blocks;
    std::vector<Entry<uint64_t>> m_readBackAcks;
    uint64_t m_readBackAcksTaken = 0;
    std::vector<Entry<BadCell>> m_cells;
    std::vector<std::pair<Flag, size_t>> m_flags;
};

// A flipped bit or a cut, done to an answer as it goes on the line. A wrong
// check is made by each family, which knows where its check sits.
void SpoilOnLine(std::vector<uint8_t>& wire, Garble garble);

}  // namespace Sim
