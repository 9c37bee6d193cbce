#include "sim/fault_schedule.h"

#include <cstdio>

namespace Sim {

namespace {

const char* AnswerFaultName(AnswerFault::Kind kind)
{
    switch (kind) {
    case AnswerFault::Kind::NEGATIVE: return "nak-answer";
    case AnswerFault::Kind::GARBLED: return "corrupt-answer";
    case AnswerFault::Kind::DROPPED: return "drop-answer";
    }
    return "";
}

const char* FlagName(FaultSchedule::Flag flag)
{
    switch (flag) {
    case FaultSchedule::Flag::NOISE: return "noise";
    case FaultSchedule::Flag::NAK_FRAME: return "nak-frame";
    case FaultSchedule::Flag::SILENT: return "silent";
    case FaultSchedule::Flag::CLOSE_AFTER: return "close-after";
    case FaultSchedule::Flag::FALL_BACK_TO_ROM: return "fall-back-to-rom";
    case FaultSchedule::Flag::SSB_RUNNING: return "ssb-running";
    }
    return "";
}

std::string AnswerPlace(int key, uint64_t position, uint64_t ofKey)
{
    char text[96];
    if (key == Tally::CLOSING_ACK) {
        std::snprintf(text, sizeof text, "answer %llu, closing ACK %llu", static_cast<unsigned long long>(position),
                      static_cast<unsigned long long>(ofKey));
    } else if (key == Tally::NO_COMMAND) {
        std::snprintf(text, sizeof text, "answer %llu, to a frame that names no command",
                      static_cast<unsigned long long>(position));
    } else {
        std::snprintf(text, sizeof text, "answer %llu, answer %llu to command 0x%02X",
                      static_cast<unsigned long long>(position), static_cast<unsigned long long>(ofKey), key);
    }
    return text;
}

std::string BlockPlace(uint64_t position, uint64_t number, uint64_t transfer)
{
    char text[96];
    std::snprintf(text, sizeof text, "data block %llu, block %llu of transfer %llu",
                  static_cast<unsigned long long>(position), static_cast<unsigned long long>(number),
                  static_cast<unsigned long long>(transfer));
    return text;
}

std::string CellText(const BadCell& cell)
{
    char text[48];
    std::snprintf(text, sizeof text, "0x%08llX:%d", static_cast<unsigned long long>(cell.address), cell.bit);
    return text;
}

}  // namespace

FaultSchedule::FaultSchedule(const FaultPlan& plan, Report& report) : m_plan(plan), m_report(report)
{
    for (const AnswerFault& fault : plan.answers) {
        std::string which = fault.which.text;
        if (fault.kind == AnswerFault::Kind::GARBLED) {
            which += std::string(":") + GarbleName(fault.garble);
        }
        m_answers.push_back({fault, report.AddFault(AnswerFaultName(fault.kind), which)});
    }
    for (const BlockFault& fault : plan.blocks) {
        const char* name = fault.kind == BlockFault::Kind::ASK_AGAIN ? "block-again" : "lose-block-ack";
        m_blocks.push_back({fault, report.AddFault(name, fault.which.text)});
    }
    for (uint64_t nth : plan.lostReadBackAcks) {
        m_readBackAcks.push_back({nth, report.AddFault("lose-read-ack", std::to_string(nth))});
    }
    for (const BadCell& cell : plan.badCells) {
        m_cells.push_back({cell, report.AddFault("bad-cell", CellText(cell))});
    }
    const auto flag = [&](bool planned, Flag which, const std::string& value) {
        if (planned) {
            m_flags.emplace_back(which, report.AddFault(FlagName(which), value));
        }
    };
    flag(plan.noiseBeforeAnswers > 0, Flag::NOISE, std::to_string(plan.noiseBeforeAnswers));
    flag(plan.nakFrame > 0, Flag::NAK_FRAME, std::to_string(plan.nakFrame));
    flag(plan.silent, Flag::SILENT, "");
    flag(plan.closeAfterBytes > 0, Flag::CLOSE_AFTER, std::to_string(plan.closeAfterBytes));
    flag(plan.fallBackToRom, Flag::FALL_BACK_TO_ROM, "");
    flag(plan.ssbRunning, Flag::SSB_RUNNING, "");
}

bool FaultSchedule::Selects(const AnswerSelector& which, int key, uint64_t position, uint64_t ofKey) const
{
    switch (which.by) {
    case AnswerSelector::By::POSITION: return which.nth == position;
    case AnswerSelector::By::COMMAND: return key == which.code && which.nth == ofKey;
    case AnswerSelector::By::CLOSING_ACK: return key == Tally::CLOSING_ACK && which.nth == ofKey;
    }
    return false;
}

bool FaultSchedule::NextAnswerIsNegative(int key) const
{
    const Tally& tally = m_report.GetTally();
    const auto counted = tally.answersTo.find(key);
    const uint64_t ofKey = (counted == tally.answersTo.end() ? 0 : counted->second) + 1;
    for (const auto& entry : m_answers) {
        if (entry.fault.kind == AnswerFault::Kind::NEGATIVE &&
            Selects(entry.fault.which, key, tally.answers + 1, ofKey)) {
            return true;
        }
    }
    return false;
}

AnswerFate FaultSchedule::TakeAnswer(int key)
{
    Tally& tally = m_report.GetTally();
    const uint64_t position = ++tally.answers;
    const uint64_t ofKey = ++tally.answersTo[key];
    AnswerFate fate;
    for (const auto& entry : m_answers) {
        if (!Selects(entry.fault.which, key, position, ofKey)) {
            continue;
        }
        m_report.FaultFired(entry.record, AnswerPlace(key, position, ofKey));
        switch (entry.fault.kind) {
        case AnswerFault::Kind::NEGATIVE:
            fate.negative = true;
            break;
        case AnswerFault::Kind::GARBLED:
            fate.garbled = true;
            fate.garble = entry.fault.garble;
            break;
        case AnswerFault::Kind::DROPPED:
            fate.dropped = true;
            break;
        }
    }
    if (m_plan.noiseBeforeAnswers > 0 && !fate.dropped) {
        Fired(Flag::NOISE, "before answer " + std::to_string(position));
    }
    return fate;
}

void FaultSchedule::TransferStarted()
{
    ++m_report.GetTally().transfers;
}

BlockFate FaultSchedule::TakeBlock(uint64_t number, bool repeat)
{
    Tally& tally = m_report.GetTally();
    const uint64_t position = ++tally.dataBlocks;
    BlockFate fate = BlockFate::TAKE;
    for (const auto& entry : m_blocks) {
        const BlockSelector& which = entry.fault.which;
        const bool selected = which.transfer == 0
                                  ? which.nth == position
                                  : which.transfer == tally.transfers && which.nth == number && !repeat &&
                                        m_report.Faults().at(entry.record).fired == 0;
        if (!selected) {
            continue;
        }
        m_report.FaultFired(entry.record, BlockPlace(position, number, tally.transfers));
        fate = entry.fault.kind == BlockFault::Kind::ASK_AGAIN ? BlockFate::ASK_AGAIN : BlockFate::ACK_LOST;
    }
    return fate;
}

bool FaultSchedule::LoseReadBackAck()
{
    const uint64_t position = ++m_readBackAcksTaken;
    bool lost = false;
    for (const auto& entry : m_readBackAcks) {
        if (entry.fault == position) {
            m_report.FaultFired(entry.record, "read-back ACK " + std::to_string(position));
            lost = true;
        }
    }
    return lost;
}

void FaultSchedule::Fired(Flag flag, const std::string& where)
{
    for (const auto& [which, record] : m_flags) {
        if (which == flag) {
            m_report.FaultFired(record, where);
        }
    }
}

void FaultSchedule::CellsFired(const std::vector<BadCell>& cells, const std::string& what)
{
    for (const BadCell& hit : cells) {
        for (const auto& entry : m_cells) {
            if (entry.fault.address == hit.address && entry.fault.bit == hit.bit) {
                m_report.FaultFired(entry.record, what);
            }
        }
    }
}

void SpoilOnLine(std::vector<uint8_t>& wire, Garble garble)
{
    if (wire.empty()) {
        return;
    }
    if (garble == Garble::BIT) {
        wire[wire.size() / 2] ^= 0x01;
    } else if (garble == Garble::CUT) {
        wire.resize(wire.size() / 2);
    }
}

}  // namespace Sim
