#include "transport/modem_reset.h"

#include <chrono>
#include <thread>

#include "common/console.h"

namespace ModemReset {

void WaitFor(uint32_t ms)
{
    // A timed step of the sequence itself, not a poll: the lines must hold
    // their level for this long.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool ApplyResetSequence(TransportTypeBase& line, const Common::ResetSequence& sequence, const Waiter& wait)
{
    for (const Common::ResetStep& step : sequence.steps) {
        if (step.kind == Common::ResetStep::Kind::WAIT) {
            wait(step.waitMs);
            continue;
        }
        const ModemLine which = step.kind == Common::ResetStep::Kind::SET_DTR ? ModemLine::DTR : ModemLine::RTS;
        const LineStatus status = line.SetModemLine(which, step.on);
        if (!status.Ok()) {
            Common::PrintInfo(0, Common::NORMAL_INFO,
                              "warning: cannot reset the board through the modem lines of %s (%s); "
                              "reset it by hand.\n",
                              line.GetDeviceName().c_str(), status.reason.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace ModemReset
