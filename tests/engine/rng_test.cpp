// The random generator rule and its uniform value: one xorshift64 step worked by hand, and
// the uniform value's ends and resolution.
#include <gtest/gtest.h>

#include <cstdint>

#include "base/rng.h"

// From state 1:
//   x ^= x << 13:  0x1    ^ 0x2000       = 0x2001
//   x ^= x >> 7:   0x2001 ^ 0x40         = 0x2041
//   x ^= x << 17:  0x2041 ^ 0x40820000   = 0x40822041
TEST(Rng, OneXorshift64StepFromStateOne) {
    uint64_t state = 1;
    EXPECT_EQ(xorshift64(state), 0x40822041ull);
    EXPECT_EQ(state, 0x40822041ull) << "the state is the draw";
}

// The uniform value is the draw's 24 high bits times 2^-24: the largest is 1 - 2^-24, and a
// draw below 2^40 has none of those bits set.
TEST(Rng, UniformValueTakesTheTop24Bits) {
    struct Case {
        uint64_t draw;
        float u;
    };
    const Case cases[] = {
        {~0ull, 1.0f - 1.0f / 16777216.0f},
        {(1ull << 40) - 1, 0.0f},
        {0x40822041ull, 0.0f},  // the draw above
        {0, 0.0f},
        {1ull << 40, 1.0f / 16777216.0f},
        {1ull << 63, 0.5f},
    };
    for (const Case& c : cases) EXPECT_EQ(uniformOf(c.draw), c.u) << std::hex << c.draw;
}
