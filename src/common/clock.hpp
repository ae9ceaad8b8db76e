#pragma once

#include <chrono>
#include <cstdint>

// Nanoseconds of the steady clock: for durations within the run, never for the time of day.
inline std::int64_t clock_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
