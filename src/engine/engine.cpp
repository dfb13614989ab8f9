#include "engine/engine.h"

#include <cmath>

#include "base/rng.h"
#include "base/static_order.h"
#include "catalog/station.h"
#include "engine/fp_mode.h"
#include "platform/clock.h"

Engine g_engine KESTRUM_STATIC(KESTRUM_ORDER_ENGINE);

namespace {

constexpr float kShortestSweepMs = 60.0f;
constexpr int kShortestDwell = 480;
constexpr float kLongestDwell = 1073741824.0f;  // 2^30 samples, 6.2 hours

// Static: white noise plus its band-passed copy, a slow amplitude drift and rare crackles.
constexpr float kDriftRate = 0.00004f;      // per sample
constexpr float kStaticBase = 0.55f;        // white noise level, shifted by the drift
constexpr float kStaticDrift = 0.25f;
constexpr float kStaticFiltered = 0.6f;     // level of the band-passed noise
constexpr float kCrackleChance = 0.00006f;  // per sample: about 2.9 crackles per second
constexpr float kCrackle = 0.9f;
constexpr float kIdleRise = 0.002f;         // static swells in over ~500 samples off-station

// Tuning factor: static is softer on a station's own channel than far from any station.
constexpr float kTuneBase = 0.6f;
constexpr float kTunePerMHz = 0.9f;
constexpr float kTuneMax = 1.3f;

// Saturation and output.
constexpr float kStaticGain = 1.25f;
constexpr float kDrive = 1.35f;
constexpr float kVolumeRate = 0.0008f;      // output gain smoothing per sample (26 ms)

// A parameter that must lie in [0, 1]; anything else (NaN included) is brought inside.
float unitRange(float v) {
    if (!(v >= 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

// White noise in [-1, 1) from one draw.
float whiteOf(uint64_t& state) { return 2.0f * uniformOf(xorshift64(state)) - 1.0f; }

}  // namespace

// ---- Construction ----

Engine::Engine() : echoBuf(kEchoLineSamples, 0.0f) {
    for (auto& s : scope) s.store(0.0f, std::memory_order_relaxed);
}

Engine::~Engine() = default;

Reverb::Reverb() {
    for (int j = 0; j < 4; ++j) comb[j].assign(CD[j], 0.0f);
    for (int k = 0; k < 2; ++k) tap[k].assign(TAP[k], 0.0f);
}

// ---- Dial and stations ----

int dwellSamples(float sweepMs) {
    float len = (sweepMs > kShortestSweepMs ? sweepMs : kShortestSweepMs) * 0.001f * float(kSampleRateHz);
    if (!(len < kLongestDwell)) len = kLongestDwell;
    const int n = int(len);
    return n < kShortestDwell ? kShortestDwell : n;
}

int Engine::stationAt(int c) const {
    const float f = channelFreq(c);
    for (size_t i = 0; i < g_stations.size(); ++i)
        if (std::fabs(g_stations[i].freq - f) < kStationTolerance) return int(i);
    return -1;
}

double Engine::stationPos(int i) const {
    const double dur = g_stations[i].dur;
    double r = std::fmod(double(g_stations[i].offset) + clock, dur);
    if (r < 0.0) r += dur;
    return r;
}

void Engine::beginChannel(int c) {
    chan = ((c % kChannels) + kChannels) % kChannels;
    dialFreq.store(channelFreq(chan), std::memory_order_relaxed);

    // Only the first station on the channel counts, with or without a clip.
    const int i = stationAt(chan);
    if (i >= 0 && size_t(i) < clips.size() && ready[i] && !clips[i].empty()) {
        cur = i;
        clipPos = uint64_t(double(kSampleRateHz) * clipPhase[i]) % clips[i].size();
    } else {
        cur = -1;
        clipPos = 0;
    }
    uiStation.store(cur, std::memory_order_relaxed);
    uiPhase.store(0, std::memory_order_relaxed);
    phase = 0;
    chanPos = 0;
    chanLen = dwellSamples(sweepMs.load());

    // Decode ahead of the dial: the three channels to come, nearest pushed first.
    for (int k = 1; k <= 3; ++k) queueDecode(stationAt((chan + k) % kChannels));
    pumpDecode();
}

void Engine::advance() {
    if (phase != 0) return;
    if (cur >= 0 && size_t(cur) < clipPhase.size() && !clips[cur].empty()) {
        const double len = double(clips[cur].size()) / kSampleRateHz;
        double p = double(clipPos) / kSampleRateHz;
        if (p >= len) p -= std::trunc(p / len) * len;
        clipPhase[cur] = p;  // the station resumes here, plus the time spent away
    }
    beginChannel(chan + 1);
}

void Engine::refreshStations() {
    const size_t n = g_stations.size();
    clips.clear();  // frees every previous clip
    std::vector<float>().swap(dropped);
    clips.resize(n);
    clipPhase.assign(n, 0.0);
    ready.assign(n, 0);
    failed.assign(n, 0);
    queued.assign(n, 0);
    pending.clear();
    pending.reserve(n);  // never holds a station twice, so queueDecode never allocates
    inFlight = -1;
    rng = runSeed();
}

// ---- Start of a run ----

// Decodes station i at its position now on this thread, with the default floating-point
// mode, so the clip is the one the worker would have made.
bool Engine::decodeHere(int i, std::vector<float>& out) {
    KeepSubnormals ieee;
    return decodeClip(g_stations[i], stationPos(i), out);
}

// A fresh run: clock at 0, all clips cleared, and the dial on a random station whose clip
// is ready, decoded here; after 12 failures on the last station tried, in static.
// FIXME(engine): at every start the first clip is decoded on the rendering thread, the
// audio thread for g_engine, which allocates and reads the recording inside render().
void Engine::startRun() {
    started = true;
    clock = 0.0;
    refreshStations();
    int startChan = 0;
    const uint64_t n = g_stations.size();
    for (int attempt = 0; n > 0 && attempt < kStartAttempts; ++attempt) {
        const int i = int(xorshift64(rng) % n);
        const long c = lroundf((g_stations[i].freq - kBandLowMHz) * 10.0f);
        startChan = c < 0 ? 0 : c > kChannels - 1 ? kChannels - 1 : int(c);
        std::vector<float> clip;
        if (decodeHere(i, clip)) {
            adoptClip(i, clip);
            break;
        }
        failed[i] = 1;
    }
    beginChannel(startChan);
}

// ---- render ----

// Every station with a clip plays on, unheard, while the dial is elsewhere.
void Engine::advanceClock(int frames) {
    const double dt = double(frames) / kSampleRateHz;
    clock += dt;
    for (size_t i = 0; i < clips.size(); ++i) {
        if (clips[i].empty()) {
            clipPhase[i] = 0.0;
            continue;
        }
        const double len = double(clips[i].size()) / kSampleRateHz;
        double p = clipPhase[i] + dt;
        if (p >= len) p -= std::trunc(p / len) * len;
        clipPhase[i] = p;
    }
}

// A sweep change during a dwell keeps the proportion of the dwell done.
void Engine::followSweep() {
    const int len = dwellSamples(sweepMs.load());
    if (len == chanLen) return;
    const int old = chanLen > 0 ? chanLen : 1;
    chanLen = len;
    int pos = int(float(chanPos) / float(old) * float(len));
    if (pos > len - 1) pos = len - 1;
    chanPos = pos < 0 ? 0 : pos;
}

// 0.6 on a station's own channel, 0.09 more per channel away, at most 1.3; 1 while stopped.
float Engine::tuningFactor() const {
    if (phase != 0) return 1.0f;
    if (g_stations.empty()) return kTuneMax;
    const float f = dialFreq.load(std::memory_order_relaxed);
    float d = 1e9f;
    for (const Station& s : g_stations) {
        const float a = std::fabs(s.freq - f);
        if (a < d) d = a;
    }
    const float t = d * kTunePerMHz + kTuneBase;
    return t < kTuneBase ? kTuneBase : t > kTuneMax ? kTuneMax : t;
}

void Engine::render(float* out, int frames) {
    if (frames < 0) frames = 0;

    // Start and stop; the clock and the station offsets move only while running.
    const bool run = running.load() != 0;
    if (!run) {
        started = false;
        phase = 3;
        cur = -1;
        uiPhase.store(3, std::memory_order_relaxed);
        uiStation.store(-1, std::memory_order_relaxed);
    } else if (!started) {
        startRun();
    }
    if (run) advanceClock(frames);
    if (phase == 0) followSweep();

    // The parameters of this call.
    const float n = unitRange(noise.load());
    const float gainTarget = run ? endTail(unitRange(volume.load())) : 0.0f;  // below 1e-28: silence
    const float echoTarget = echoOn.load() != 0 ? 1.0f : 0.0f;
    const float verbTarget = verbOn.load() != 0 ? 1.0f : 0.0f;
    const float tune = tuningFactor();

    FlushSubnormals flush(flushSubnormals);

    // The mixer's state lives in locals for the block and is stored back after it.
    Biquad hp = sigHp, peak = sigPeak, lp = sigLp, noiseHp = nzHp, noiseLp = nzLp;
    uint64_t noiseState = noiseRng;
    float drifting = drift, idle = idleGain, gain = volSm;
    float echoAmt = echoMix.load(std::memory_order_relaxed);
    float verbAmt = verbMix.load(std::memory_order_relaxed);
    float* echoLine = echoBuf.data();
    int echoAt = echoPos;
    float echoState = echoLp;
    int k = scopePos.load(std::memory_order_relaxed);

    // The clip of this dwell; fetched again whenever a dwell begins.
    const float* clip = nullptr;
    uint64_t clipLen = 0;
    auto tuneIn = [&] {
        clip = nullptr;
        clipLen = 0;
        if (cur >= 0 && size_t(cur) < clips.size() && !clips[cur].empty()) {
            clip = clips[cur].data();
            clipLen = clips[cur].size();
        }
    };
    tuneIn();

    for (int i = 0; i < frames; ++i) {
        // Station signal and dwell bookkeeping; a new dwell may begin at this very sample.
        float s = 0.0f;
        if (phase == 0) {
            if (clip) {
                s = clip[clipPos];
                if (++clipPos >= clipLen) clipPos = 0;
            }
            if (++chanPos >= chanLen) {
                advance();
                tuneIn();
            }
            s *= dwellEnvelope(chanPos, chanLen);
        }

        // Static: white noise, a drifting level, the band-passed noise and a rare crackle.
        const float w1 = whiteOf(noiseState);
        const float w2 = whiteOf(noiseState);
        drifting += (w2 - drifting) * kDriftRate;
        const float h = noiseLp.tick(noiseHp.tick(w1));
        float st = (kStaticBase + drifting * kStaticDrift) * w1 + h * kStaticFiltered;
        if (uniformOf(xorshift64(noiseState)) < kCrackleChance) st += whiteOf(noiseState) * kCrackle;

        // Static swells in where no clip plays and vanishes at once where one does.
        if (cur < 0) idle += (1.0f - idle) * kIdleRise;
        else idle = 0.0f;

        // The small radio: band-limited station, static by distance, saturation. The station
        // filters' tail and the mix end at exactly 0 below the tail floor.
        const float r = endTail(lp.tick(peak.tick(hp.tick(s))));
        float x = tanhf(kDrive * (kStaticGain * n * idle * tune * st + r));

        // Echo, then reverb, under their smoothed amounts.
        echoAmt = smoothTowards(echoAmt, echoTarget, kAmountRate);
        verbAmt = smoothTowards(verbAmt, verbTarget, kAmountRate);
        x = echoTick(echoLine, echoAt, echoState, x, echoAmt);
        x = endTail(verb.tick(x, verbAmt));

        // Smoothed volume and the soft clipper; the scope ring follows the output.
        gain = smoothTowards(gain, gainTarget, kVolumeRate);
        const float o = tanhf(gain * x);
        out[i] = o;
        scope[k & (kScopeSize - 1)].store(o, std::memory_order_relaxed);
        k = (k + 1) & kScopeCountMask;
    }

    sigHp = hp;
    sigPeak = peak;
    sigLp = lp;
    nzHp = noiseHp;
    nzLp = noiseLp;
    noiseRng = noiseState;
    drift = drifting;
    idleGain = idle;
    volSm = gain;
    echoMix.store(echoAmt, std::memory_order_relaxed);
    verbMix.store(verbAmt, std::memory_order_relaxed);
    echoPos = echoAt;
    echoLp = echoState;
    scopePos.store(k, std::memory_order_relaxed);
    if (phase == 3) uiPhase.store(3, std::memory_order_relaxed);
}
