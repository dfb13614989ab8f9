// The catalogue's costs: loading the built-in station list (parsing, sorting and probing
// every recording), and one clip decode of a 128 kbit/s stereo 44.1 kHz recording over
// 1 MiB (six windows, each decoded to the 1440000-sample cap), beside the bare minimp3
// decode of the same six windows for scale.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include <minimp3.h>

#include "base/program.h"
#include "catalog/decoder.h"
#include "catalog/station.h"
#include "platform/data_blocks.h"

namespace {

std::vector<unsigned char> fixture(const char* name) {
    std::ifstream in(std::string(KESTRUM_SOURCE_DIR) + "/tests/catalog/fixtures/" + name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// The recording served as a built-in block, so the measure holds no file access.
struct BlockSource {
    std::vector<unsigned char> bytes = fixture("rising_stereo44k.mp3");
    DataBlock block{u"R_RISING_MP3", bytes.data(), bytes.size()};
    DataBlockTable table{&block, 1};
};

void BM_LoadStationsBuiltIn(benchmark::State& state) {
    g_hInst = builtinDataBlocks();
    const unsigned char* data;
    uint64_t size;
    if (!resBlob(L"R_STATIONS_TXT", data, size)) {
        state.SkipWithError("no built-in station list in this build");
        return;
    }
    for (auto _ : state) {
        loadStations();
        benchmark::DoNotOptimize(g_stations.data());
    }
    state.counters["stations"] = double(g_stations.size());
    g_stations.clear();
    g_hInst = nullptr;
}
BENCHMARK(BM_LoadStationsBuiltIn)->Unit(benchmark::kMicrosecond);

void BM_DecodeStation(benchmark::State& state) {
    static BlockSource src;
    g_hInst = &src.table;
    Station s{L"RISING", L"rising.mp3", 90.0f, 70.0f, 0.0f};
    std::vector<float> clip;
    for (auto _ : state) {
        if (!decodeStation(s, 35.0, clip)) state.SkipWithError("no clip");
        benchmark::DoNotOptimize(clip.data());
    }
    state.counters["clipSamples"] = double(clip.size());
    g_hInst = nullptr;
}
BENCHMARK(BM_DecodeStation)->Unit(benchmark::kMillisecond);

// The same six windows through minimp3 alone, to the same sample cap.
void BM_Minimp3SixWindows(benchmark::State& state) {
    static BlockSource src;
    const int64_t maxOff = int64_t(src.bytes.size()) - 1048576;
    static mp3dec_t dec;
    static int16_t frame[MINIMP3_MAX_SAMPLES_PER_FRAME];
    int64_t samples = 0;
    for (auto _ : state) {
        samples = 0;
        for (int a = 0; a < 6; ++a) {
            const double x = a * 0.163 + 0.5;
            const unsigned char* w = src.bytes.data() + int64_t((x - std::floor(x)) * double(maxOff));
            mp3dec_init(&dec);
            int64_t got = 0;
            size_t at = 0;
            while (at < 1048576 && got < 1440000) {
                mp3dec_frame_info_t info{};
                got += mp3dec_decode_frame(&dec, w + at, int(1048576 - at), frame, &info);
                if (info.frame_bytes <= 0) break;
                at += size_t(info.frame_bytes);
            }
            samples += got;
        }
        benchmark::DoNotOptimize(frame);
    }
    state.counters["audioSeconds"] = double(samples) / 44100.0;
}
BENCHMARK(BM_Minimp3SixWindows)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
