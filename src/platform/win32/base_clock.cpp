// Clocks and process facts on Windows: the performance counter, the tick count, the process
// id and the local time.
#include <windows.h>

#include "platform/clock.h"

namespace {

uint64_t counterFrequency() {
    static const uint64_t hz = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? uint64_t(f.QuadPart) : 1;
    }();
    return hz;
}

uint64_t counterValue() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return uint64_t(c.QuadPart);
}

}  // namespace

uint64_t perfCounterNs() {
    const uint64_t c = counterValue(), hz = counterFrequency();
    // In two parts, so that a long uptime cannot overflow the product.
    return c / hz * 1000000000ull + c % hz * 1000000000ull / hz;
}

uint64_t tickCountMs() { return GetTickCount64(); }

uint32_t processId() { return uint32_t(GetCurrentProcessId()); }

uint64_t timeSeedFrom(uint64_t counter, uint64_t tickMs, uint32_t pid) {
    uint64_t s = counter ^ (tickMs << 32) ^ uint64_t(pid);
    return s ? s : 0x9E3779B97F4A7C15ull;
}

// The performance counter's own value, as the seed rule takes it.
uint64_t timeSeed() { return timeSeedFrom(counterValue(), tickCountMs(), processId()); }

LocalTime localTimeNow() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}
