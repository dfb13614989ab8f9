// xorshift64: the one random generator rule of the program, and its uniform value.
// Each user keeps its own state. Header-only, allocation-free, any thread.
#pragma once

#include <cstdint>

// Advances the state (x ^= x << 13; x ^= x >> 7; x ^= x << 17) and returns the new state.
inline uint64_t xorshift64(uint64_t& state) {
    uint64_t x = state;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    state = x;
    return x;
}

// The uniform value in [0, 1) of a draw: its 24 high bits, (x >> 40) * 2^-24 in double,
// narrowed to float.
inline float uniformOf(uint64_t draw) {
    return float(double(draw >> 40) * (1.0 / 16777216.0));
}
