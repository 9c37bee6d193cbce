// Drives a reset sequence on the modem lines of an open line, right after the
// port opens and before the handshake.
#pragma once

#include <cstdint>
#include <functional>

#include "common/reset_sequence.h"
#include "transport/transport_type_base.h"

namespace ModemReset {

// Waits the given milliseconds; tests pass one that only records.
using Waiter = std::function<void(uint32_t ms)>;

void WaitFor(uint32_t ms);

// Applies every step in order. A line that refuses a modem line gets one
// warning and the rest of the sequence is skipped (the operator resets by
// hand); false then.
bool ApplyResetSequence(TransportTypeBase& line, const Common::ResetSequence& sequence,
                        const Waiter& wait = WaitFor);

}  // namespace ModemReset
