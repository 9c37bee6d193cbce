#ifndef TARNWICK_PLATFORM_MONOTONIC_CLOCK_H
#define TARNWICK_PLATFORM_MONOTONIC_CLOCK_H

#include <cstdint>

namespace Platform {

// Steady clock readings; never go backwards, unaffected by wall-clock changes.
int64_t MonotonicMs();
int64_t MonotonicUs();

} // namespace Platform

// The device side's names for the same clock.
namespace Common {

// Monotonic milliseconds. Wraps at 2^32: take elapsed time as the unsigned
// difference now - start.
uint32_t GetTime();

} // namespace Common

#endif
