#include "platform/clock.h"

#include <ctime>
#include <unistd.h>

uint64_t perfCounterNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

uint64_t tickCountMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000ull + uint64_t(ts.tv_nsec) / 1000000ull;
}

uint32_t processId() { return uint32_t(getpid()); }

uint64_t timeSeedFrom(uint64_t counter, uint64_t tickMs, uint32_t pid) {
    uint64_t s = counter ^ (tickMs << 32) ^ uint64_t(pid);
    return s ? s : 0x9E3779B97F4A7C15ull;
}

uint64_t timeSeed() { return timeSeedFrom(perfCounterNs(), tickCountMs(), processId()); }

LocalTime localTimeNow() {
    time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}
