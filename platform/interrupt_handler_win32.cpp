#include "platform/interrupt_handler.h"

#include <windows.h>

#include <atomic>

namespace Platform {

namespace {

// Windows ends the process a few seconds after a close event whatever the
// handler does; this leaves the job time to close the port on its way out.
constexpr DWORD CLOSE_GRACE_MS = 3000;

std::atomic<InterruptCallback> g_onInterrupt{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    InterruptCallback callback = g_onInterrupt.load();
    if (callback == nullptr || !callback()) {
        return FALSE;  // the default handler ends the process
    }
    if (type == CTRL_CLOSE_EVENT) {
        Sleep(CLOSE_GRACE_MS);
    }
    return TRUE;
}

}  // namespace

bool InstallInterruptHandler(InterruptCallback onInterrupt)
{
    g_onInterrupt.store(onInterrupt);
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

}  // namespace Platform
