// The scanner engine: the dial and its dwells, the per-station clips and their scheduling,
// and the per-sample mix of station signal, static, echo and reverb, at 48000 samples per
// second, mono float, every output sample in (-1, 1).
//
// Threads: render() and every member it touches belong to one rendering thread (the audio
// thread for g_engine, the caller for a local engine). The six parameters may be written
// from any thread (sequentially consistent stores); render() loads each once per call.
// The display values, and the smoothed effect amounts echoMix and verbMix (which a render
// from the window copies), are written by the rendering thread and read by the window thread
// without a lock; each is a 32-bit atomic accessed with relaxed order (a plain move on x86).
// The trace fields (phase, dialFreq, cur, chan, chanPos, chanLen, clipPhase) are read by the
// rendering thread itself between render() calls.
//
// Real-time rule: once a run has started, render() allocates nothing, takes no lock but the
// short hand-over with the decode worker, touches no file and never blocks. The only
// exceptions are the start of a run (it decodes its first clip on this thread) and offline
// engines (syncDecode), which decode queued clips inline. Clips are handed over by swaps,
// never copied. render() flushes subnormal floats to zero on its thread while it mixes; the
// smoothed gains, the station filters' output, the mix and every delay-line sample end at
// exactly 0 below 1e-28 (dsp.h), so flushing changes no output sample of normal magnitude.
//
// Construction allocates the echo line and the reverb lines; refreshStations() (the start of
// a run) sizes the per-station vectors and frees the clips of the previous run, including a
// late clip the hand-over dropped (render parks it rather than free megabytes).
//
// Sections of engine.cpp: construction; dial and stations; start of a run; render.
// Clip scheduling is in clip_schedule.cpp, the worker in decode_worker.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/clock.h"

#include "base/sample_rate.h"
#include "catalog/station.h"
#include "engine/decode_worker.h"
#include "engine/dsp.h"

constexpr int kChannels = 206;             // dial channels 0..205, 87.5..108.0 MHz
constexpr float kStationTolerance = 0.049f;  // MHz: a station is on a channel closer than this
constexpr int kStartAttempts = 12;         // start stations tried at the start of a run
constexpr int kFadeSamples = 480;          // 10 ms fade at each end of a dwell
constexpr int kScopeSize = 1024;           // output samples kept for the display
constexpr int kScopeCountMask = 0x3FFFFFFF;  // scopePos is kept to 30 bits

// Frequency of dial channel c in MHz: c * 0.1f + 87.5f, in single precision.
inline float channelFreq(int c) { return float(c) * 0.1f + kBandLowMHz; }

// Dwell length in samples for a sweep setting: (int)(max(60, ms) * 0.001 * 48000), at least
// 480. Settings below 60 ms behave as 60; absurdly long ones are capped at 2^30 samples.
int dwellSamples(float sweepMs);

// The dwell envelope at `pos` samples into a dwell of `len`: a linear rise over the first
// 480 samples and a fall over the last 480; 0 at pos 0.
inline float dwellEnvelope(int pos, int len) {
    float a = pos <= kFadeSamples - 1 ? float(pos) / float(kFadeSamples) : 1.0f;
    if (len - pos <= kFadeSamples - 1) {
        const float fall = float(len - pos) / float(kFadeSamples);
        if (fall < a) a = fall;
    }
    if (a < 0.0f) a = 0.0f;
    return a;
}

class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // ---- Parameters (any thread) ----
    std::atomic<float> noise{0.1f};      // static level 0..1, default 0.1
    std::atomic<float> sweepMs{200.0f};  // ms per channel, default 200; below 60 behaves as 60
    std::atomic<float> volume{1.0f};     // output gain 0..1, default 1
    std::atomic<int> running{0};         // 1 while the scanner is on
    std::atomic<int> echoOn{1};          // 1 when echo is wanted, default 1
    std::atomic<int> verbOn{0};          // 1 when reverb is wanted, default 0

    // ---- Published for the display (written by the rendering thread) ----
    std::atomic<float> dialFreq{kBandLowMHz};  // MHz
    std::atomic<int> uiStation{-1};      // station heard in this dwell, -1 none
    std::atomic<int> uiPhase{3};         // 0 scanning, 3 stopped
    std::atomic<float> scope[kScopeSize];  // most recent output samples, ring (all 0 at first)
    std::atomic<int> scopePos{0};        // samples written to scope, kept to 30 bits;
                                         // the newest is scope[(scopePos - 1) & 1023]

    // ---- Rendering thread state ----
    bool syncDecode = false;  // decode queued clips on this thread (offline)
    double clock = 0.0;       // seconds of running output since the start
    bool started = false;     // the start of the current run is done
    int phase = 3;            // 0 scanning, 3 stopped
    int chanPos = 0;          // samples elapsed in this dwell
    int chanLen = 1;          // samples in this dwell
    int chan = 0;             // dial channel 0..205
    int cur = -1;             // station whose clip plays, -1 none
    int inFlight = -1;        // station handed to the worker, not yet collected, -1 none
    uint64_t clipPos = 0;     // next sample of clips[cur]
    std::vector<std::vector<float>> clips;  // per station; empty = no clip
    std::vector<double> clipPhase;          // per station, seconds into its clip
    std::vector<uint8_t> ready;             // per station: clip adopted
    std::vector<uint8_t> failed;            // per station: decoding failed this run
    std::vector<uint8_t> queued;            // per station: pending or in flight
    std::vector<int> pending;               // stack of stations to decode, last in first out
    uint64_t noiseRng = 0x51ED270B6ull;     // static generator state
    uint64_t rng = 0x2545F491ull;           // start station and clip offsets
    Biquad sigHp = radio::kHighPass200;     // station chain
    Biquad sigPeak = radio::kPeak2600;
    Biquad sigLp = radio::kLowPass3800;
    Biquad nzHp = radio::kHighPass200;      // static chain
    Biquad nzLp = radio::kLowPass6800;
    std::vector<float> echoBuf;             // echo line, kEchoLineSamples
    int echoPos = 0;                        // echo write index 0..32767
    float echoLp = 0.0f;                    // echo feedback low-pass state
    Reverb verb;
    float volSm = 0.0f;     // smoothed output gain
    // The smoothed effect amounts, published for the offline renderer on another thread:
    // render() loads them once per call and stores them back once (relaxed order).
    std::atomic<float> echoMix{1.0f};  // smoothed echo amount 0..1
    std::atomic<float> verbMix{0.0f};  // smoothed reverb amount 0..1
    float idleGain = 1.0f;  // static gain of dwells without a clip, 0..1
    float drift = 0.0f;     // slow wander of the static amplitude
    std::vector<float> dropped;  // a late clip not taken, kept until the next start of a run

    // ---- Wiring (set before the first render) ----
    DecodeFn decodeClip = decodeStation;  // decoder for this thread's own decoding
    DecodeWorker* dec = &g_dec;           // the worker of live (not syncDecode) engines
    bool flushSubnormals = true;          // render flushes subnormals while it mixes
    uint64_t (*runSeed)() = timeSeed;     // seed of rng at the start of every run

    // ---- Operations (rendering thread) ----
    // Fills out[0..frames) (frames >= 0). Callers pass at most 2048 (live) or 1024 (offline).
    void render(float* out, int frames);
    // First station within 0.049 MHz of channel chan's frequency, -1 none.
    int stationAt(int chan) const;
    // Seconds into station i's recording now: fmod(offset + clock, dur), made non-negative.
    double stationPos(int i) const;
    // Starts a dwell on chan (reduced modulo 206): station, dwell length, prefetch, pump.
    void beginChannel(int chan);
    // While scanning: records where the station's clip stopped and tunes the next channel up.
    void advance();
    // Sizes and clears the per-station state, releases a dropped clip and reseeds rng.
    void refreshStations();

    // Clip scheduling (clip_schedule.cpp).
    void queueDecode(int i);   // asks for station i some time; -1 is ignored
    void pumpDecode();         // once per dwell: collect one result, issue one request
    void requestDecode(int i); // hands station i at its position now to the worker
    // Takes the clip for station i by swapping it in: `clip` receives the slot's previous
    // content. A clip starts at a random point within itself.
    void adoptClip(int i, std::vector<float>& clip);

    // The static's distance factor for the dial now: 0.6 on a station's own channel, 0.09
    // more per channel of distance, at most 1.3 (also with no stations); 1 while stopped.
    float tuningFactor() const;

private:
    void startRun();
    void advanceClock(int frames);
    void followSweep();
    bool decodeHere(int i, std::vector<float>& out);
    void collectResult();
};

extern Engine g_engine;  // the live program's engine, rendered by the audio thread
