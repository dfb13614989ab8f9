#include "audio/render_wav.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "base/sample_rate.h"
#include "catalog/decoder.h"
#include "engine/engine.h"
#include "platform/paths.h"
#include "platform/staged_file.h"

static_assert(std::endian::native == std::endian::little, "the WAV writer stores native little-endian");

namespace {

constexpr int kBlock = 1024;          // samples per render call and per trace line
constexpr size_t kTraceNameMax = 520;  // bytes of the trace file name, terminator included

void put16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

using Target = StagedFile::Target;

}  // namespace

int16_t sampleToPcm16(float s) {
    if (s > 1.0f) return 32767;
    float c = s < -1.0f ? -1.0f : s;
    if (std::isnan(c)) c = -1.0f;
    return int16_t(std::lrintf(c * 32767.0f));
}

void wavHeader(unsigned char h[44], uint32_t dataBytes) {
    std::memcpy(h + 0, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    put32(h + 16, 16);
    put16(h + 20, 1);          // PCM
    put16(h + 22, 1);          // mono
    put32(h + 24, kSampleRateHz);      // samples per second
    put32(h + 28, kSampleRateHz * 2);  // bytes per second
    put16(h + 32, 2);          // bytes per frame
    put16(h + 34, 16);         // bits per sample
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
}

bool renderWav(const std::wstring& path, int seconds, const Engine& source,
               RenderProgress progress, void* progressCtx) {
    // The output is opened before anything is rendered, so a path that cannot be written
    // fails at once, whatever the length asked for.
    const std::string wavPath = wideToUtf8(path);
    InterruptCleanup cleanup;  // outlives the staged files below
    StagedFile wav;
    if (!wav.open(path, Target::output)) return false;

    auto engine = std::make_unique<Engine>();
    Engine& e = *engine;
    e.syncDecode = true;
    // Clips decode on two threads where there are two cores; the result is the same clip.
    if (std::thread::hardware_concurrency() > 1) e.decodeClip = decodeStationOnTwoThreads;
    e.noise.store(source.noise.load());
    e.sweepMs.store(source.sweepMs.load());
    e.volume.store(source.volume.load());
    e.echoOn.store(source.echoOn.load());
    e.verbOn.store(source.verbOn.load());
    // The live engine's audio thread stores these once per block: take them as they are now.
    e.echoMix.store(source.echoMix.load(std::memory_order_relaxed), std::memory_order_relaxed);
    e.verbMix.store(source.verbMix.load(std::memory_order_relaxed), std::memory_order_relaxed);
    e.running.store(1);

    const int64_t total = int64_t(seconds) * kSampleRateHz;
    const uint32_t dataBytes = uint32_t(total * 2);
    unsigned char header[44];
    wavHeader(header, dataBytes);
    bool ok = std::fwrite(header, 1, sizeof header, wav.get()) == sizeof header;

    // The trace never stops the render: any trouble with it just leaves it out.
    StagedFile trace;
    bool tracing = false;
    if (std::getenv("KESTRUM_TRACE") && wavPath.size() + 4 + 1 <= kTraceNameMax) {
        tracing = trace.open(path + L".csv", Target::trace);
        if (tracing) std::fputs("t,phase,freq,cur,chan,pos,n,ph\n", trace.get());
    }

    float block[kBlock];
    int16_t pcm[kBlock];
    for (int64_t done = 0; done < total && ok;) {
        const int n = int(total - done < kBlock ? total - done : kBlock);
        e.render(block, n);
        for (int i = 0; i < n; ++i) pcm[i] = sampleToPcm16(block[i]);
        ok = std::fwrite(pcm, sizeof(int16_t), size_t(n), wav.get()) == size_t(n);
        if (tracing) {
            const int cur = e.cur;
            const double ph = (cur >= 0 && size_t(cur) < e.clipPhase.size()) ? e.clipPhase[size_t(cur)] : -1.0;
            std::fprintf(trace.get(), "%.3f,%d,%.2f,%d,%d,%d,%d,%.2f\n", double(done) / kSampleRateHz, e.phase,
                         double(e.dialFreq.load(std::memory_order_relaxed)), cur, e.chan, e.chanPos, e.chanLen, ph);
        }
        done += n;
        if (progress) progress(done, total, progressCtx);
    }
    if (!ok || !wav.commit()) return false;  // the trace's temporary file goes with it
    if (tracing) trace.commit();
    return true;
}
