#include "platform/deadline_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/hot_path.h"

namespace Platform {

DeadlineTimer::DeadlineTimer() : m_fd(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC)) {}

DeadlineTimer::~DeadlineTimer()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

HOT_PATH bool DeadlineTimer::Valid() const
{
    return m_fd >= 0;
}

void DeadlineTimer::ArmIn(uint32_t ms)
{
    if (m_fd < 0) {
        return;
    }
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ms / 1000);
    // A zero value would disarm the timer instead of firing it now.
    when.it_value.tv_nsec = ms == 0 ? 1 : static_cast<long>(ms % 1000) * 1000000L;
    timerfd_settime(m_fd, 0, &when, nullptr);
}

void DeadlineTimer::Wait()
{
    if (m_fd < 0) {
        return;
    }
    uint64_t expirations = 0;
    while (read(m_fd, &expirations, sizeof(expirations)) < 0 && errno == EINTR) {
    }
}

}  // namespace Platform
