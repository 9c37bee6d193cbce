#include "platform/deadline_timer.h"

#include <windows.h>

#include "platform/hot_path.h"

namespace Platform {

DeadlineTimer::DeadlineTimer() : m_timer(CreateWaitableTimerW(nullptr, FALSE, nullptr)) {}

DeadlineTimer::~DeadlineTimer()
{
    if (m_timer != nullptr) {
        CloseHandle(static_cast<HANDLE>(m_timer));
    }
}

HOT_PATH bool DeadlineTimer::Valid() const
{
    return m_timer != nullptr;
}

void DeadlineTimer::ArmIn(uint32_t ms)
{
    if (m_timer == nullptr) {
        return;
    }
    // Negative: relative to now, in units of 100 ns.
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
    SetWaitableTimer(static_cast<HANDLE>(m_timer), &due, 0, nullptr, nullptr, FALSE);
}

void DeadlineTimer::Wait()
{
    if (m_timer != nullptr) {
        WaitForSingleObject(static_cast<HANDLE>(m_timer), INFINITE);
    }
}

}  // namespace Platform
