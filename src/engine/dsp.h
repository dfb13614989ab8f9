// The engine's per-sample DSP blocks: the radio filters, the echo and the reverb.
//
// Small value types with inline steps, in single precision and evaluated in the order
// written (the build never uses -ffast-math, so results are reproducible bit for bit).
// Reverb sizes its lines once, in its constructor; the steps only move indices and update
// states, and never allocate. No delay line keeps a sample below the tail floor. Used by the
// rendering thread only.
#pragma once

#include <cmath>
#include <vector>

// ---- Tails ----

// Below this magnitude (about -560 dB) a decaying value is set to exactly 0: a smoothed value
// heading for 0, the station filters' output, the mix, a sample written into a delay line.
// Left alone it would sink into the subnormal floats and on the way part the two floating-point
// modes render can run in. With subnormals flushed, a step v += (target - v) * rate becomes 0
// once below FLT_MIN, so v stalls near FLT_MIN / rate (1.5e-35 for the volume), a normal
// float, while IEEE arithmetic lets it sink on; filter and delay tails part in their last bits
// the same way. Ended at 1e-28, a tail ends at the same sample in both modes. The echo's and
// the combs' feedback low-passes may still stall below 4e-38 when flushing: they feed only
// line writes, which are ended at the floor, and their own next step, where a line sample of
// 0 or at least 1e-28 swamps the stall.
constexpr float kTailFloor = 1e-28f;

inline float endTail(float v) { return std::fabs(v) < kTailFloor ? 0.0f : v; }

// One step of a value smoothed towards `target` (0, or at least kTailFloor) by `rate`.
inline float smoothTowards(float v, float target, float rate) { return endTail(v + (target - v) * rate); }

// ---- Radio filters ----

// Direct form I biquad, coefficients normalised to a0 = 1; the default passes input unchanged.
struct Biquad {
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;  // coefficients
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;          // last two inputs and outputs

    float tick(float x) {
        float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Audio EQ Cookbook (RBJ) designs at 48000 Hz, computed in single precision; each literal is
// the exact float coefficient. States start at rest.
namespace radio {
// High-pass 200 Hz, Q 0.707: takes the rumble out of the station signal and of the static.
constexpr Biquad kHighPass200{0.981655598f, -1.9633112f, 0.981655598f, -1.96297467f, 0.963647604f};
// Peaking 2600 Hz, +4 dB, Q 0.9: the presence bump of a small speaker.
constexpr Biquad kPeak2600{1.07509649f, -1.64322484f, 0.668116391f, -1.64322484f, 0.743212879f};
// Low-pass 3800 Hz, Q 0.707: the narrow audio band of the station signal.
constexpr Biquad kLowPass3800{0.0453036129f, 0.0906072259f, 0.0453036129f, -1.314165f, 0.495379508f};
// Low-pass 6800 Hz, Q 0.707: the hiss of the static, brighter than the stations.
constexpr Biquad kLowPass6800{0.119604297f, 0.239208594f, 0.119604297f, -0.8122316f, 0.290648848f};
}  // namespace radio

// ---- Effect amounts ----

// The switches move a smoothed amount towards 0 or 1 (time constant 2500 samples, 52 ms);
// an effect's output path is bypassed while its amount is at or below the floor.
constexpr float kAmountRate = 0.0004f;   // per sample
constexpr float kAmountFloor = 0.0005f;

// ---- Echo: one tap with a low-passed feedback path ----

constexpr int kEchoLineSamples = 32768;  // 683 ms; a power of two
constexpr int kEchoDelaySamples = 12000; // 250 ms
constexpr float kEchoFeedbackLp = 0.34f; // one-pole low-pass coefficient in the feedback
constexpr float kEchoFeedback = 0.48f;
constexpr float kEchoWet = 0.42f;
constexpr float kEchoDryCut = 0.12f;     // dry level at full echo: 1 - 0.12

// One echo step: the line is written in every case, so switching the echo on brings in at
// once what played 250 ms earlier. Returns the sample with the echo mixed in by `mix`.
inline float echoTick(float* line, int& pos, float& lp, float y, float mix) {
    int r = pos - kEchoDelaySamples;
    if (r < 0) r += kEchoLineSamples;
    const float d = line[r];
    lp += (d - lp) * kEchoFeedbackLp;
    line[pos] = endTail(lp * kEchoFeedback + y);
    if (++pos == kEchoLineSamples) pos = 0;
    if (mix > kAmountFloor) y = d * kEchoWet * mix + (1.0f - kEchoDryCut * mix) * y;
    return y;
}

// ---- Reverb: four damped combs into two feed-forward tap stages ----

class Reverb {
public:
    static constexpr int CD[4] = {1429, 1657, 1861, 2087};  // comb lengths, samples (29.8..43.5 ms)
    static constexpr int TAP[2] = {587, 277};              // tap stage lengths, samples (12.2, 5.8 ms)
    static constexpr float kCombInput = 0.25f;
    static constexpr float kCombDamping = 0.32f;  // one-pole low-pass coefficient in each comb
    static constexpr float kCombFeedback = 0.82f;
    static constexpr float kCombSum = 0.25f;
    static constexpr float kTapGain = 0.7f;
    static constexpr float kWet = 0.8f;
    static constexpr float kDryCut = 0.3f;        // dry level at full reverb: 1 - 0.3

    Reverb();  // allocates the six lines, all zeros

    std::vector<float> comb[4];  // CD[j] samples each
    std::vector<float> tap[2];   // TAP[k] samples each
    int ci[4] = {0, 0, 0, 0};    // comb indices
    int ti[2] = {0, 0};          // tap stage indices
    float lp[4] = {0, 0, 0, 0};  // comb feedback low-pass states

    // One reverb step on y with the reverb amount `mix`. With the amount at the floor the
    // combs get no input and ring out on their own, and y passes unchanged.
    float tick(float y, float mix) {
        const float c = mix > kAmountFloor ? y * kCombInput : 0.0f;
        float sum = 0.0f;
        for (int j = 0; j < 4; ++j) {
            float* line = comb[j].data();
            const float d = line[ci[j]];
            sum += d;
            lp[j] += (d - lp[j]) * kCombDamping;
            line[ci[j]] = endTail(lp[j] * kCombFeedback + c);
            if (++ci[j] == CD[j]) ci[j] = 0;
        }
        // Each tap stage subtracts an attenuated delayed copy of its input; no feedback.
        float v = sum * kCombSum;
        for (int k = 0; k < 2; ++k) {
            float* line = tap[k].data();
            const float t = line[ti[k]] * kTapGain;
            const float out = v - t;
            line[ti[k]] = t + out;
            if (++ti[k] == TAP[k]) ti[k] = 0;
            v = out;
        }
        if (mix > kAmountFloor) y = v * kWet * mix + (1.0f - kDryCut * mix) * y;
        return y;
    }
};
