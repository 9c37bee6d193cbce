// A timer that one thread waits on while another moves its deadline. Moving
// the deadline does not wake the waiter, so a deadline that keeps being
// pushed back costs the waiting thread nothing until it is finally reached.
#ifndef TARNWICK_PLATFORM_DEADLINE_TIMER_H
#define TARNWICK_PLATFORM_DEADLINE_TIMER_H

#include <cstdint>

namespace Platform {

class DeadlineTimer {
public:
    DeadlineTimer();
    ~DeadlineTimer();
    DeadlineTimer(const DeadlineTimer&) = delete;
    DeadlineTimer& operator=(const DeadlineTimer&) = delete;

    // False when the system gave no timer; then Wait returns at once.
    bool Valid() const;
    // The deadline is now plus ms (0: now), replacing any earlier one.
    void ArmIn(uint32_t ms);
    // Blocks until the armed deadline has passed; an unarmed timer waits
    // until it is armed and its deadline passes.
    void Wait();

private:
#ifdef _WIN32
    void* m_timer = nullptr;  // auto-reset waitable timer
#else
    int m_fd = -1;
#endif
};

}  // namespace Platform

#endif
