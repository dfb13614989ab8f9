// Engine::render in blocks of 1024, in nanoseconds per output sample, in the states the
// live scanner spends its time in, with and without subnormal flushing; and the parts of
// the per-sample chain alone, to show what the cost is made of.
//
// States: an empty channel (static only), a station channel with its clip playing, the
// same with echo and reverb on, and a decaying engine (stopped, volume 0, reverb switched
// off after a while) whose tails and smoothed gains sink towards zero, with the static on
// (as in the program) and with the static at 0 (everything decays).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "base/rng.h"
#include "catalog/station.h"
#include "engine/engine.h"
#include "engine/fp_mode.h"

namespace {

constexpr int kBlock = 1024;

// A synthetic 2-second programme for every station: a tone with a little noise.
bool benchDecode(const Station& station, double, std::vector<float>& out) {
    out.resize(96000);
    uint64_t x = 0x1234567ull + uint64_t(station.freq * 10.0f);
    const float step = 2.0f * 3.14159265f * (200.0f + station.freq) / 48000.0f;
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = 0.3f * std::sin(step * float(i)) + 0.05f * (2.0f * uniformOf(xorshift64(x)) - 1.0f);
    out.front() = out.back() = 0.0f;
    return true;
}

enum class Scene { EmptyChannel, StationClip, EchoReverb, Decaying, DecayingSilent };

// An offline engine in the given scene, warmed up so that timing sees no start and no
// decoding (every channel's clip is decoded during the warm-up sweep).
std::unique_ptr<Engine> prepare(Scene scene, bool flush) {
    g_stations.clear();
    if (scene != Scene::EmptyChannel)
        for (int c = 0; c < kChannels; ++c) g_stations.push_back(Station{L"B", L"b.mp3", channelFreq(c), 600.0f, 0.0f});
    auto e = std::make_unique<Engine>();
    e->syncDecode = true;
    e->decodeClip = benchDecode;
    e->flushSubnormals = flush;
    e->verbOn = scene == Scene::StationClip || scene == Scene::EmptyChannel ? 0 : 1;
    e->running = 1;
    std::vector<float> out(kBlock);
    const int warmBlocks = scene == Scene::EmptyChannel ? 200 : 206 * 9600 / kBlock + 10;
    for (int b = 0; b < warmBlocks; ++b) e->render(out.data(), kBlock);
    if (scene == Scene::Decaying || scene == Scene::DecayingSilent) {
        e->running = 0;
        e->volume = 0.0f;
        for (int b = 0; b < 240; ++b) e->render(out.data(), kBlock);  // 5 s of reverb tail
        e->verbOn = 0;
        if (scene == Scene::DecayingSilent) e->noise = 0.0f;
        for (int b = 0; b < 940; ++b) e->render(out.data(), kBlock);  // 20 s of decay
    }
    return e;
}

// Seconds per output sample (printed as e.g. "48.2n", nanoseconds).
void perSample(benchmark::State& state, int samplesPerIteration) {
    state.counters["per_sample"] = benchmark::Counter(double(state.iterations()) * samplesPerIteration,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Render(benchmark::State& state) {
    const auto scene = Scene(state.range(0));
    const bool flush = state.range(1) != 0;
    auto e = prepare(scene, flush);
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        e->render(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    perSample(state, kBlock);
    g_stations.clear();
}
BENCHMARK(BM_Render)
    ->ArgNames({"scene", "flush"})
    ->ArgsProduct({{int(Scene::EmptyChannel), int(Scene::StationClip), int(Scene::EchoReverb),
                    int(Scene::Decaying), int(Scene::DecayingSilent)},
                   {1, 0}});

// ---- The parts of the chain alone, per sample ----

// The two tanhf calls on values like the mixer's: a saturated signal and its gain stage.
void BM_PartTanhf2(benchmark::State& state) {
    std::vector<float> in(kBlock);
    uint64_t x = 99;
    for (float& v : in) v = 1.5f * (2.0f * uniformOf(xorshift64(x)) - 1.0f);
    float acc = 0.0f;
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) acc += tanhf(0.9f * tanhf(in[i]));
        benchmark::DoNotOptimize(acc);
    }
    perSample(state, kBlock);
}
BENCHMARK(BM_PartTanhf2);

// The five biquads: three in the station chain, two in the static chain.
void BM_PartFilters5(benchmark::State& state) {
    Biquad hp = radio::kHighPass200, pk = radio::kPeak2600, lp = radio::kLowPass3800;
    Biquad nhp = radio::kHighPass200, nlp = radio::kLowPass6800;
    uint64_t x = 7;
    float acc = 0.0f;
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) {
            const float w = 2.0f * uniformOf(xorshift64(x)) - 1.0f;
            acc += lp.tick(pk.tick(hp.tick(w))) + nlp.tick(nhp.tick(w));
        }
        benchmark::DoNotOptimize(acc);
    }
    perSample(state, kBlock);
}
BENCHMARK(BM_PartFilters5);

// Echo and reverb on a noise input, both fully on.
void BM_PartEchoReverb(benchmark::State& state) {
    Engine e;
    uint64_t x = 11;
    float acc = 0.0f;
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) {
            const float w = 2.0f * uniformOf(xorshift64(x)) - 1.0f;
            acc += e.verb.tick(echoTick(e.echoBuf.data(), e.echoPos, e.echoLp, w, 1.0f), 1.0f);
        }
        benchmark::DoNotOptimize(acc);
    }
    perSample(state, kBlock);
}
BENCHMARK(BM_PartEchoReverb);

// What flushing costs a render call apart from its effect on the arithmetic: the guard
// (read, set and restore the mode) once per block.
void BM_PartFlushGuard(benchmark::State& state) {
    for (auto _ : state) {
        FlushSubnormals flush;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PartFlushGuard);

}  // namespace

BENCHMARK_MAIN();
