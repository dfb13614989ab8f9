// The mixer and the effects: filter designs, the dwell envelope, the echo and reverb impulse
// responses, the bound of the output, subnormal flushing and the scope ring.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "engine/fp_mode.h"
#include "engine_support.h"

namespace {

// Audio EQ Cookbook designs in single precision at 48000 Hz, normalised to a0 = 1.
struct Design {
    float b0, b1, b2, a1, a2;
};
constexpr float kPi = 3.14159265358979f;

Design normalise(float b0, float b1, float b2, float a0, float a1, float a2) {
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}
Design highPass(float hz, float q) {
    const float w = 2.0f * kPi * hz / 48000.0f, c = std::cos(w), alpha = std::sin(w) / (2.0f * q);
    return normalise((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}
Design lowPass(float hz, float q) {
    const float w = 2.0f * kPi * hz / 48000.0f, c = std::cos(w), alpha = std::sin(w) / (2.0f * q);
    return normalise((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
}
Design peaking(float hz, float db, float q) {
    const float a = std::pow(10.0f, db / 40.0f);
    const float w = 2.0f * kPi * hz / 48000.0f, c = std::cos(w), alpha = std::sin(w) / (2.0f * q);
    return normalise(1 + alpha * a, -2 * c, 1 - alpha * a, 1 + alpha / a, -2 * c, 1 - alpha / a);
}

// Distance in units in the last place between two floats of the same sign.
int ulps(float a, float b) {
    int32_t ia, ib;
    std::memcpy(&ia, &a, 4);
    std::memcpy(&ib, &b, 4);
    return std::abs(ia - ib);
}

}  // namespace

TEST(Mixer, FilterCoefficientsAreTheCookbookDesignsInSinglePrecision) {
    struct Case {
        const char* name;
        Biquad table;
        Design design;
    };
    const Case cases[] = {
        {"high-pass 200 Hz", radio::kHighPass200, highPass(200, 0.707f)},
        {"peaking 2600 Hz +4 dB", radio::kPeak2600, peaking(2600, 4, 0.9f)},
        {"low-pass 3800 Hz", radio::kLowPass3800, lowPass(3800, 0.707f)},
        {"low-pass 6800 Hz", radio::kLowPass6800, lowPass(6800, 0.707f)},
    };
    for (const Case& c : cases) {
        const float got[5] = {c.table.b0, c.table.b1, c.table.b2, c.table.a1, c.table.a2};
        const float want[5] = {c.design.b0, c.design.b1, c.design.b2, c.design.a1, c.design.a2};
        for (int k = 0; k < 5; ++k) EXPECT_EQ(ulps(got[k], want[k]), 0) << c.name << " coefficient " << k;
    }
    // Each of the engine's five filters has exactly these coefficients, read as single precision.
    Engine e;
    struct Row {
        const char* name;
        const Biquad& filter;
        float b0, b1, b2, a1, a2;
    };
    const Row rows[] = {
        {"station high-pass", e.sigHp, 0.981655598f, -1.9633112f, 0.981655598f, -1.96297467f, 0.963647604f},
        {"station peaking", e.sigPeak, 1.07509649f, -1.64322484f, 0.668116391f, -1.64322484f, 0.743212879f},
        {"station low-pass", e.sigLp, 0.0453036129f, 0.0906072259f, 0.0453036129f, -1.314165f, 0.495379508f},
        {"static high-pass", e.nzHp, 0.981655598f, -1.9633112f, 0.981655598f, -1.96297467f, 0.963647604f},
        {"static low-pass", e.nzLp, 0.119604297f, 0.239208594f, 0.119604297f, -0.8122316f, 0.290648848f},
    };
    for (const Row& r : rows) {
        const float got[5] = {r.filter.b0, r.filter.b1, r.filter.b2, r.filter.a1, r.filter.a2};
        const float want[5] = {r.b0, r.b1, r.b2, r.a1, r.a2};
        for (int k = 0; k < 5; ++k) EXPECT_EQ(got[k], want[k]) << r.name << " coefficient " << k;
    }
    const Biquad* chain[5] = {&e.sigHp, &e.sigPeak, &e.sigLp, &e.nzHp, &e.nzLp};
    const Biquad* want[5] = {&radio::kHighPass200, &radio::kPeak2600, &radio::kLowPass3800,
                             &radio::kHighPass200, &radio::kLowPass6800};
    for (int f = 0; f < 5; ++f) EXPECT_EQ(std::memcmp(chain[f], want[f], sizeof(Biquad)), 0) << "filter " << f;
}

TEST(Mixer, EchoImpulseIs088AtOnceAnd042Exactly12000SamplesLater) {
    Engine e;  // echo fully on, reverb off, all lines empty
    for (int i = 0; i <= 24000; ++i) {
        const float in = i == 0 ? 1.0f : 0.0f;
        const float y = e.verb.tick(echoTick(e.echoBuf.data(), e.echoPos, e.echoLp, in, e.echoMix), e.verbMix);
        if (i == 0) {
            ASSERT_EQ(y, 0.88f);
        } else if (i == 12000) {
            ASSERT_EQ(y, 0.42f);
        } else if (i < 12000) {
            ASSERT_EQ(y, 0.0f) << i;
        }
    }
}

TEST(Mixer, EchoLineWrapsWithTheReadIndexExactly12000Behind) {
    Engine e;
    e.echoPos = 30000;
    float heard = 0.0f;
    for (int i = 0; i <= 12000; ++i) {
        const float y = echoTick(e.echoBuf.data(), e.echoPos, e.echoLp, i == 0 ? 1.0f : 0.0f, 1.0f);
        if (i == 12000) {
            heard = y;
        } else if (i > 0) {
            ASSERT_EQ(y, 0.0f) << i;
        }
    }
    EXPECT_EQ(heard, 0.42f);
    EXPECT_EQ(e.echoPos, (30000 + 12001) % 32768);
}

TEST(Mixer, ReverbImpulseIs07AtOnceAndItsFirstOutput005After1429Samples) {
    Engine e;
    e.echoMix = 0.0f;
    e.verbMix = 1.0f;
    for (int i = 0; i <= 1429; ++i) {
        const float in = i == 0 ? 1.0f : 0.0f;
        const float y = e.verb.tick(echoTick(e.echoBuf.data(), e.echoPos, e.echoLp, in, e.echoMix), e.verbMix);
        if (i == 0) {
            ASSERT_EQ(y, 0.7f);
        } else if (i == 1429) {
            ASSERT_EQ(y, 0.05f);
        } else {
            ASSERT_EQ(y, 0.0f) << i;
        }
    }
}

TEST(Mixer, DwellEnvelopeRisesAndFallsOver480Samples) {
    struct Case {
        int pos, len;
        float a;
    };
    const Case cases[] = {{0, 9600, 0.0f},          {1, 9600, 1.0f / 480.0f}, {479, 9600, 479.0f / 480.0f},
                          {480, 9600, 1.0f},        {9120, 9600, 1.0f},       {9121, 9600, 479.0f / 480.0f},
                          {9599, 9600, 1.0f / 480.0f}, {240, 480, 0.5f},      {400, 480, 80.0f / 480.0f},
                          {600, 480, 0.0f}};
    for (const Case& c : cases) EXPECT_EQ(dwellEnvelope(c.pos, c.len), c.a) << c.pos << " of " << c.len;
}

// With the filters passing the signal, no static, no effects and full gain, the output is
// tanhf(tanhf(1.35 * s * a)): the envelope of every sample can be read back exactly.
TEST_F(EngineTest, FirstSampleOfADwellCarries1Of480AndTheEndingSampleNone) {
    setStations({88.0f});
    fake::setClip(48000, 0.5f);
    auto e = offlineEngine();
    e->sigHp = e->sigPeak = e->sigLp = Biquad{};
    e->noise = 0.0f;
    e->echoOn = 0;
    e->echoMix = 0.0f;
    e->volSm = 1.0f;
    e->running = 1;
    const std::vector<float> out = renderSamples(*e, 9601);
    ASSERT_EQ(e->chan, 6);
    // The station signal goes through an opaque value, so that the compiler cannot fold
    // tanhf with its own (correctly rounded) arithmetic instead of the library's.
    auto expected = [](float a) {
        volatile float s = 0.5f * a;
        return tanhf(1.0f * tanhf(1.35f * (0.0f + s)));
    };
    EXPECT_EQ(out[0], expected(1.0f / 480.0f));
    EXPECT_EQ(out[478], expected(479.0f / 480.0f));
    EXPECT_EQ(out[479], expected(1.0f));
    EXPECT_EQ(out[5000], expected(1.0f));
    EXPECT_EQ(out[9598], expected(1.0f / 480.0f));
    EXPECT_EQ(out[9599], 0.0f) << "the sample that ends the dwell";
    EXPECT_EQ(out[9600], 0.0f) << "next channel: no station, no static";
}

TEST_F(EngineTest, NoStaticWithNoiseZeroAndNoEffects) {
    auto e = offlineEngine();
    e->noise = 0.0f;
    e->echoOn = 0;
    e->echoMix = 0.0f;
    e->running = 1;
    for (float o : renderSamples(*e, 48000)) ASSERT_EQ(o, 0.0f);
}

TEST_F(EngineTest, StaticAloneIsAudibleAndStopFadesItOut) {
    auto e = offlineEngine();
    e->running = 1;
    const std::vector<float> on = renderSamples(*e, 48000);
    double energy = 0;
    for (int i = 24000; i < 48000; ++i) energy += double(on[i]) * on[i];
    EXPECT_GT(energy / 24000, 1e-4);
    e->running = 0;
    const std::vector<float> off = renderSamples(*e, 48000);
    for (int i = 12000; i < 48000; ++i) ASSERT_LT(std::fabs(off[i]), 1e-3f) << i;
}

// Huge clip values, full static, both effects and out-of-range parameters: every sample
// stays strictly inside (-1, 1).
TEST_F(EngineTest, OutputStaysInsideMinusOneToOneWhateverTheInputs) {
    setStations({88.0f, 88.1f, 88.2f});
    auto e = offlineEngine();
    e->noise = 1.0f;
    e->verbOn = 1;
    e->verbMix = 1.0f;
    e->volSm = 1.0f;
    e->sweepMs = 60.0f;
    e->running = 1;
    e->render(nullptr, 0);
    for (size_t i = 0; i < e->clips.size(); ++i) {
        std::vector<float> loud(48000);  // the length of the clips in place
        for (size_t k = 0; k < loud.size(); ++k) loud[k] = (k / 40) % 2 ? 1e30f : -1e30f;
        e->clips[i].swap(loud);
        e->ready[i] = 1;
    }
    for (float vol : {1.0f, 40.0f, NAN}) {
        e->volume = vol;
        for (float o : renderSamples(*e, 48000 * 3)) {
            ASSERT_TRUE(std::isfinite(o));
            ASSERT_LT(o, 1.0f);
            ASSERT_GT(o, -1.0f);
        }
    }
}

// Flushing subnormals must not change a sample outside the subnormal range. Each case renders
// a scan of one station (a constant clip, whose random start point does not matter) and then
// a stop, with and without flushing, and compares every sample of normal magnitude. With the
// static off, the tails of the station filters, the echo and the reverb are heard down to their
// ends; the scans last until the echo and reverb tails have sunk past 1e-28 (a sweep of 206
// channels at 200 ms passes the station once every 41 s).
//
// After the stop the volume falls from 0.999963 by a factor 0.9992 a sample. It is set to 0
// once below 1e-28, after 80,559 samples. Its step, -0.0008 * volume, would drop below FLT_MIN
// after 100,218 samples (volume < 1.47e-35): with flushing the step became 0 there and the
// volume stalled, a normal float, while IEEE arithmetic let it sink on, so with the static on
// (x about 0.1) the outputs parted at about 3e-36. Five seconds of stop (240,000 samples) run
// well past that point.
TEST_F(EngineTest, FlushingSubnormalsChangesNoNormalSample) {
    setStations({88.0f});  // one station: the run always starts on it
    constexpr size_t kStallSample = 100218;  // samples after the stop, worked out above
    constexpr int kStopSamples = 48000 * 5;
    struct Case {
        const char* name;
        float scanNoise, stopNoise;  // static level while scanning and after the stop
        int echoOn, verbOn;          // while scanning; the reverb is switched off at the stop
        float sweepMs;
        int scanSamples;
    };
    const Case cases[] = {
        {"static on throughout", 0.1f, 0.1f, 1, 1, 60.0f, 48000 * 3},
        {"static off at the stop", 0.1f, 0.0f, 1, 1, 60.0f, 48000 * 3},
        {"no static, no effects", 0.0f, 0.0f, 0, 0, 60.0f, 48000 * 3},
        {"no static, echo", 0.0f, 0.0f, 1, 0, 200.0f, 48000 * 13},
        {"no static, reverb", 0.0f, 0.0f, 0, 1, 200.0f, 48000 * 13},
        {"no static, echo and reverb", 0.0f, 0.0f, 1, 1, 200.0f, 48000 * 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto make = [&](bool flush) {
            auto e = offlineEngine();
            e->flushSubnormals = flush;
            e->noise = c.scanNoise;
            e->echoOn = c.echoOn;
            e->echoMix = float(c.echoOn);
            e->verbOn = c.verbOn;
            e->sweepMs = c.sweepMs;
            e->running = 1;
            return e;
        };
        auto a = make(true), b = make(false);
        const std::vector<float> scanA = renderSamples(*a, c.scanSamples), scanB = renderSamples(*b, c.scanSamples);
        if (c.scanNoise > 0.0f) {
            EXPECT_EQ(std::memcmp(scanA.data(), scanB.data(), scanA.size() * sizeof(float)), 0);
        }
        for (Engine* e : {a.get(), b.get()}) {
            e->running = 0;
            e->verbOn = 0;
            e->noise = c.stopNoise;
        }
        const std::vector<float> stopA = renderSamples(*a, kStopSamples), stopB = renderSamples(*b, kStopSamples);

        // Every sample of normal magnitude in either render is the same in both, and the
        // renders do pass through magnitudes where a flushed product could make a difference.
        size_t tiny = 0;
        auto compare = [&](const std::vector<float>& x, const std::vector<float>& y, const char* phase) {
            for (size_t i = 0; i < x.size(); ++i) {
                const float m = std::max(std::fabs(x[i]), std::fabs(y[i]));
                if (m < FLT_MIN) continue;
                if (m < 1e-20f) ++tiny;
                if (x[i] != y[i])
                    return ::testing::AssertionFailure() << phase << " sample " << i << ": " << x[i] << " flushed, " << y[i] << " not";
            }
            return ::testing::AssertionSuccess();
        };
        EXPECT_TRUE(compare(scanA, scanB, "scan"));
        EXPECT_TRUE(compare(stopA, stopB, "stop"));
        EXPECT_GT(tiny, 0u) << "no sample between FLT_MIN and 1e-20";

        // Past the stall point the stopped output is exactly 0 or subnormal, and the volume 0.
        size_t normal = 0;
        for (size_t i = kStallSample; i < stopA.size(); ++i)
            normal += (std::fabs(stopA[i]) >= FLT_MIN) + (std::fabs(stopB[i]) >= FLT_MIN);
        EXPECT_EQ(normal, 0u) << "samples of normal magnitude after the stall point";
        EXPECT_EQ(a->volSm, 0.0f);
        EXPECT_EQ(b->volSm, 0.0f);
        // The modes did differ inside: the station filter's tail sank into the subnormals
        // only without flushing.
        EXPECT_EQ(std::fpclassify(b->sigHp.y1), FP_SUBNORMAL);
        EXPECT_NE(std::fpclassify(a->sigHp.y1), FP_SUBNORMAL);
    }
}

TEST(Mixer, SubnormalGuardsRestoreTheCallersMode) {
    const float tiny = FLT_MIN;
    volatile float half = 0.5f;
    {
        FlushSubnormals flush;
        EXPECT_EQ(tiny * half, 0.0f);
        {
            KeepSubnormals keep;
            EXPECT_GT(tiny * half, 0.0f);
        }
        EXPECT_EQ(tiny * half, 0.0f);
    }
    EXPECT_GT(tiny * half, 0.0f);
}

TEST_F(EngineTest, ScopeRingFollowsTheCountThroughItsWrap) {
    auto e = offlineEngine();
    e->running = 1;
    e->scopePos = kScopeCountMask - 2;
    std::vector<float> out(5);
    e->render(out.data(), 5);
    EXPECT_EQ(e->scopePos.load(), 2);
    const int ring[5] = {1021, 1022, 1023, 0, 1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(e->scope[ring[i]].load(), out[i]) << i;
    EXPECT_EQ(e->scope[(e->scopePos.load() - 1) & 1023].load(), out[4]) << "the newest sample";
}

// On a channel whose station plays, the static vanishes at once; on the empty channel after
// it, the static swells in over about 500 samples.
TEST_F(EngineTest, StaticIsSilentWhileAClipPlaysAndSwellsInOffStation) {
    setStations({88.0f});
    auto make = [](float noise) {
        auto e = offlineEngine();
        e->noise = noise;
        e->running = 1;
        return e;
    };
    auto quiet = make(0.0f), noisy = make(0.1f);
    const std::vector<float> a = renderSamples(*quiet, 9600 + 2400), b = renderSamples(*noisy, 9600 + 2400);
    for (int i = 0; i < 9599; ++i) ASSERT_EQ(a[i], b[i]) << i;
    double before = 0, after = 0;  // static energy over the first and the fifth 100 samples off-station
    for (int i = 0; i < 100; ++i) {
        before += std::pow(double(b[9600 + i]) - a[9600 + i], 2);
        after += std::pow(double(b[10000 + i]) - a[10000 + i], 2);
    }
    EXPECT_GT(after, 4 * before);
    EXPECT_GT(noisy->idleGain, 0.99f);
}
