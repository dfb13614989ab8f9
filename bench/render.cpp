// Wall time of the offline render on the built-in stations, and its two costs apart:
// mixing alone (no stations, nothing to decode) and the built-in clips decoded one by one.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "audio/render_wav.h"
#include "base/program.h"
#include "catalog/decoder.h"
#include "catalog/station.h"
#include "engine/engine.h"
#include "platform/data_blocks.h"
#include "platform/paths.h"

namespace {

std::vector<Station> builtinStations() {
    static std::vector<Station> list = [] {
        g_hInst = builtinDataBlocks();
        loadStations();
        return g_stations;
    }();
    return list;
}

std::wstring outPath() {
    return utf8ToWide((std::filesystem::temp_directory_path() / ("kestrum-bench-" + std::to_string(getpid()) + ".wav")).string());
}

void BM_RenderBuiltin(benchmark::State& state) {
    g_stations = builtinStations();
    Engine source;
    const std::wstring path = outPath();
    for (auto _ : state) benchmark::DoNotOptimize(renderWav(path, int(state.range(0)), source));
    std::filesystem::remove(wideToUtf8(path));
    state.counters["x_realtime"] = benchmark::Counter(double(state.range(0)) * double(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderBuiltin)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_RenderMixOnly(benchmark::State& state) {
    builtinStations();
    g_stations.clear();
    Engine source;
    const std::wstring path = outPath();
    for (auto _ : state) benchmark::DoNotOptimize(renderWav(path, int(state.range(0)), source));
    std::filesystem::remove(wideToUtf8(path));
}
BENCHMARK(BM_RenderMixOnly)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_DecodeAllBuiltinClips(benchmark::State& state) {
    g_stations = builtinStations();
    std::vector<float> clip;
    for (auto _ : state) {
        int decoded = 0;
        for (const Station& s : g_stations) {
            std::vector<float> out;
            decoded += decodeStation(s, s.offset, out) ? 1 : 0;
        }
        state.counters["clips"] = decoded;
    }
}
BENCHMARK(BM_DecodeAllBuiltinClips)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
