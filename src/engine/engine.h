// The scanner engine: the dial and its dwells, the per-station clips, and the per-sample mix
// of station signal, static, echo and reverb, at 48000 samples per second, mono float.
//
// Threads: render() and every member it touches belong to one rendering thread (the audio
// thread for g_engine, the caller for a local engine). The six parameters may be written
// from any thread (sequentially consistent stores); render() loads each once per call.
// The display values are written by the rendering thread and read by the window thread
// without a lock; each is a 32-bit atomic accessed with relaxed order (a plain move on x86).
//
// Real-time rule: once a run has started, render() allocates nothing, takes no lock but the
// short hand-over with the decode worker, touches no file and never blocks. The only
// exceptions are the start of a run (it decodes its first clip on this thread) and offline
// engines (syncDecode), which decode queued clips inline.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

// Direct form I biquad, coefficients normalised to a0 = 1; the default passes input unchanged.
struct Biquad {
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    float tick(float x) {
        float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Four damped combs into two feed-forward tap stages; lines sized once at construction.
class Reverb {
public:
    static constexpr int CD[4] = {1429, 1657, 1861, 2087};  // comb lengths in samples
    static constexpr int TAP[2] = {587, 277};              // tap stage lengths in samples

    Reverb();

    std::vector<float> comb[4];
    std::vector<float> tap[2];
    int ci[4] = {0, 0, 0, 0};
    int ti[2] = {0, 0};
    float lp[4] = {0, 0, 0, 0};
};

class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // ---- Parameters (any thread) ----
    std::atomic<float> noise{0.1f};      // static level 0..1, default 0.1
    std::atomic<float> sweepMs{200.0f};  // ms per channel; below 60 behaves as 60
    std::atomic<float> volume{1.0f};     // output gain 0..1, default 1
    std::atomic<int> running{0};         // 1 while the scanner is on
    std::atomic<int> echoOn{1};          // 1 when echo is wanted
    std::atomic<int> verbOn{0};          // 1 when reverb is wanted

    // ---- Published for the display (written by the rendering thread) ----
    std::atomic<float> dialFreq{87.5f};  // MHz
    std::atomic<int> uiStation{-1};      // station heard in this dwell, -1 none
    std::atomic<int> uiPhase{3};         // 0 scanning, 3 stopped
    std::atomic<float> scope[1024];      // most recent output samples, ring
    std::atomic<int> scopePos{0};        // samples written to scope, kept to 30 bits

    // ---- Rendering thread state ----
    bool syncDecode = false;  // decode queued clips on this thread (offline)
    double clock = 0.0;       // seconds of running output since the start
    bool started = false;     // the start of the current run is done
    int phase = 3;            // 0 scanning, 3 stopped
    int chanPos = 0;          // samples elapsed in this dwell
    int chanLen = 1;          // samples in this dwell
    int chan = 0;             // dial channel 0..205
    int cur = -1;             // station whose clip plays, -1 none
    int inFlight = -1;        // station handed to the worker, not yet collected
    uint64_t clipPos = 0;     // next sample of clips[cur]
    std::vector<std::vector<float>> clips;  // per station; empty = no clip
    std::vector<double> clipPhase;          // per station, seconds into its clip
    std::vector<uint8_t> ready;             // per station: clip adopted
    std::vector<uint8_t> failed;            // per station: decoding failed this run
    std::vector<uint8_t> queued;            // per station: pending or in flight
    std::vector<int> pending;               // LIFO of stations to decode
    uint64_t noiseRng = 0x51ED270B6ull;     // static generator
    uint64_t rng = 0x2545F491ull;           // start station and clip offsets
    Biquad sigHp, sigPeak, sigLp;           // station chain
    Biquad nzHp, nzLp;                      // static chain
    std::vector<float> echoBuf;             // 32768 samples
    int echoPos = 0;
    float echoLp = 0.0f;
    Reverb verb;
    float volSm = 0.0f;    // smoothed output gain
    float echoMix = 1.0f;  // smoothed echo amount 0..1
    float verbMix = 0.0f;  // smoothed reverb amount 0..1
    float idleGain = 1.0f; // static gain of dwells without a clip
    float drift = 0.0f;    // slow wander of the static amplitude

    // ---- Operations (rendering thread) ----
    void render(float* out, int frames);
    int stationAt(int chan) const;
    double stationPos(int i) const;
    void beginChannel(int chan);
    void advance();
    void refreshStations();
    void queueDecode(int i);
    void pumpDecode();
    void requestDecode(int i);
    void adoptClip(int i, std::vector<float>& clip);
};

// Dwell length in samples for a sweep setting: (int)(max(60, ms) * 0.001 * 48000), at least 480.
int dwellSamples(float sweepMs);
