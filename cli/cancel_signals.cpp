#include "cli/cancel_signals.h"

#include "jobs/cancel_request.h"
#include "platform/interrupt_handler.h"

namespace CancelSignals {

namespace {

bool OnInterrupt()
{
    if (CancelRequest::IsRequested()) {
        return false;  // second request: the user does not want to wait for the job to wind down
    }
    CancelRequest::Request();
    return true;
}

}  // namespace

bool Install()
{
    return Platform::InstallInterruptHandler(OnInterrupt);
}

}  // namespace CancelSignals
