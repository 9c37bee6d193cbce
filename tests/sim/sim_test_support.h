// The tool's side of the line for the simulator tests: frames from the test
// side's own wire builders, a line that records what the board sends, and
// faults of a plan.
#pragma once

#include "sim/board.h"
#include "sim/fault_schedule.h"
#include "support/test_files.h"
#include "transport/wire_bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace SimTest {

using namespace TestWire;
using TestSupport::Pattern;

// ---- an in-process line ----

// Keeps what the board sends.
class RecordingLine : public Sim::Line {
public:
    using Sim::Line::Write;
    void Write(const uint8_t* data, size_t length) override { sent.insert(sent.end(), data, data + length); }
    void SetBaud(uint32_t b) override { baud = b; }
    uint32_t GetBaud() const override { return baud; }

    // Everything sent since the last call, in order.
    Bytes Take() { return std::exchange(sent, {}); }

    Bytes sent;
    uint32_t baud = 115200;
};

// A board fed in process under a fault plan; what it sends is recorded.
class BoardOnLine : public ::testing::Test {
protected:
    // The board's surroundings, with a fresh report and schedule of the plan.
    Sim::BoardEnv Env()
    {
        report = Sim::Report();
        flash.SetBadCells(plan.badCells);
        schedule = std::make_unique<Sim::FaultSchedule>(plan, report);
        return Sim::BoardEnv{line, flash, report, *schedule};
    }

    // What the board sent for these bytes.
    Bytes Feed(Sim::Board& board, const Bytes& bytes)
    {
        line.Take();
        board.OnBytes(bytes.data(), bytes.size());
        return line.Take();
    }

    RecordingLine line;
    Sim::Flash flash{64 * 1024};
    Sim::Report report;
    Sim::FaultPlan plan;
    std::unique_ptr<Sim::FaultSchedule> schedule;
};

// ---- faults of a plan ----

inline Sim::AnswerFault AnswerFaultAt(Sim::AnswerFault::Kind kind, const std::string& which,
                                      Sim::Garble garble = Sim::Garble::CHECK)
{
    Sim::AnswerFault fault;
    fault.kind = kind;
    fault.garble = garble;
    std::string error;
    EXPECT_TRUE(Sim::ParseAnswerSelector(which, fault.which, error)) << error;
    return fault;
}

}  // namespace SimTest
