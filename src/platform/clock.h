// Clocks and process facts: the monotonic counters, the process id, the local time.
// All functions are thread-safe and allocation-free.
#pragma once

#include <cstdint>

uint64_t perfCounterNs();   // monotonic nanoseconds of the high-resolution counter (CLOCK_MONOTONIC, QueryPerformanceCounter)
uint64_t tickCountMs();     // monotonic milliseconds since an arbitrary start
uint32_t processId();

// The time seed: counter ^ (tick << 32) ^ pid; a zero result becomes 0x9E3779B97F4A7C15.
// The counter is the performance counter's own value on Windows, nanoseconds on Linux.
uint64_t timeSeed();
// The same rule on given values, for tests.
uint64_t timeSeedFrom(uint64_t counter, uint64_t tickMs, uint32_t pid);

struct LocalTime {
    int year, month, day, hour, minute, second;  // month 1..12, day 1..31
};
LocalTime localTimeNow();
