// Scoped floating-point modes of the calling thread.
//
// FlushSubnormals: subnormal results become zero and subnormal inputs read as zero for the
// guard's lifetime (x86 MXCSR FTZ and DAZ). The mixer's decaying tails and smoothed gains
// otherwise sink into subnormal floats, where every operation costs about ten times as much.
// KeepSubnormals: the thread's default IEEE behaviour for its lifetime, so that work done
// inside a flushing render (decoding a clip) gives the same floats as on any other thread.
// Both restore the previous mode bits on destruction (exception flags are left alone). Header-only, allocation-free, any thread;
// a no-op on targets without these controls.
#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define KESTRUM_HAS_MXCSR 1
#else
#define KESTRUM_HAS_MXCSR 0
#endif

#if KESTRUM_HAS_MXCSR
constexpr unsigned kMxcsrFlushToZero = 0x8000;     // FTZ: subnormal results become 0
constexpr unsigned kMxcsrDenormalsAreZero = 0x40;  // DAZ: subnormal inputs read as 0
constexpr unsigned kMxcsrFlushBits = kMxcsrFlushToZero | kMxcsrDenormalsAreZero;
#endif

class FlushSubnormals {
public:
    explicit FlushSubnormals(bool on = true) {
#if KESTRUM_HAS_MXCSR
        const unsigned now = _mm_getcsr();
        saved_ = now & kMxcsrFlushBits;
        changed_ = on && saved_ != kMxcsrFlushBits;
        if (changed_) _mm_setcsr(now | kMxcsrFlushBits);
#else
        (void)on;
#endif
    }
    ~FlushSubnormals() {
#if KESTRUM_HAS_MXCSR
        if (changed_) _mm_setcsr((_mm_getcsr() & ~kMxcsrFlushBits) | saved_);
#endif
    }
    FlushSubnormals(const FlushSubnormals&) = delete;
    FlushSubnormals& operator=(const FlushSubnormals&) = delete;

private:
    unsigned saved_ = 0;  // the flush bits as they were
    bool changed_ = false;
};

class KeepSubnormals {
public:
    KeepSubnormals() {
#if KESTRUM_HAS_MXCSR
        const unsigned now = _mm_getcsr();
        saved_ = now & kMxcsrFlushBits;
        if (saved_) _mm_setcsr(now & ~kMxcsrFlushBits);
#endif
    }
    ~KeepSubnormals() {
#if KESTRUM_HAS_MXCSR
        if (saved_) _mm_setcsr(_mm_getcsr() | saved_);
#endif
    }
    KeepSubnormals(const KeepSubnormals&) = delete;
    KeepSubnormals& operator=(const KeepSubnormals&) = delete;

private:
    unsigned saved_ = 0;  // the flush bits as they were
};
