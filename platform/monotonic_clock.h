#ifndef TARNWICK_PLATFORM_MONOTONIC_CLOCK_H
#define TARNWICK_PLATFORM_MONOTONIC_CLOCK_H

#include <cstdint>

namespace Platform {

// Steady clock readings; never go backwards, unaffected by wall-clock changes.
int64_t MonotonicMs();
int64_t MonotonicUs();

} // namespace Platform

#endif
