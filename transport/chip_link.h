// What a transfer protocol needs of the chip object that carries its frames.
// The chip object (device layer) implements it, so the protocols in this
// layer never depend on the layer above them.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/outcome.h"
#include "common/run_events.h"

class ChipLink {
public:
    virtual ~ChipLink() = default;
    virtual unsigned long Send(const unsigned char* data, unsigned long length) = 0;
    virtual unsigned long Receive(unsigned char* buffer, unsigned long length) = 0;
    // Waits for received bytes for at most timeoutMs; true when some are pending.
    virtual bool WaitForData(uint32_t timeoutMs) = 0;
    virtual bool CheckIsCancel() = 0;
    // True once the line is gone, kept as the failure of the operation in
    // progress; waits end at once instead of running out.
    virtual bool LineLost() = 0;
    // What the run is told: messages, progress marks, board text.
    virtual Common::RunEvents& Events() = 0;
    // Prints the message and keeps it as the failure of the operation in
    // progress (an earlier failure of it stays the one kept).
    virtual void Fail(Common::OutcomeKind kind, std::string_view message) = 0;
};
