// The replaced global allocation functions of the engine test executable. They allocate
// and free with malloc and free as usual and count the calls made on a thread that has
// counting switched on (frees of a null pointer do nothing and are not counted).
#include "alloc_counter.h"

#include <cstdlib>
#include <new>
#ifdef _WIN32
#include <malloc.h>
#endif

namespace {
thread_local bool t_counting = false;
thread_local long t_count = 0;
thread_local long t_frees = 0;

void* allocate(std::size_t n) {
    if (t_counting) ++t_count;
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

void* allocateAligned(std::size_t n, std::align_val_t al) {
    if (t_counting) ++t_count;
    const std::size_t a = static_cast<std::size_t>(al);
#ifdef _WIN32
    void* p = _aligned_malloc(n ? n : 1, a);  // Windows' C runtime has no aligned_alloc
#else
    void* p = std::aligned_alloc(a, (n + a - 1) / a * a);
#endif
    if (!p) throw std::bad_alloc();
    return p;
}
void release(void* p) {
    if (t_counting && p) ++t_frees;
    std::free(p);
}
void releaseAligned(void* p) {
#ifdef _WIN32
    if (t_counting && p) ++t_frees;
    _aligned_free(p);
#else
    release(p);
#endif
}
}  // namespace

namespace allocCounter {
void begin() {
    t_count = 0;
    t_frees = 0;
    t_counting = true;
}
long end() {
    t_counting = false;
    return t_count;
}
long frees() { return t_frees; }
}  // namespace allocCounter

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t n, std::align_val_t al) { return allocateAligned(n, al); }
void* operator new[](std::size_t n, std::align_val_t al) { return allocateAligned(n, al); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { releaseAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { releaseAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { releaseAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { releaseAligned(p); }
