// Live output on the default device: the context, open and close, the audio thread's
// serving loop, start, stop and join, and the --smoke device test.
#include "audio/device_output.h"

#include <algorithm>
#include <chrono>

#include "base/sample_rate.h"
#include "catalog/decoder.h"
#include "engine/engine.h"
#include "platform/clock.h"

// The device stream carries the engine's samples unchanged: one rate for both.
static_assert(kAudioRateHz == kSampleRateHz);

// Constructed at the default priority, after the prioritised statics (g_engine among them),
// so it is destroyed before them: its destructor joins the thread while the engine exists.
AudioCtx g_ac;

namespace {

// The engine renders each piece here before it is copied to both channels. Only the one
// running audio thread touches it.
float mono[kAudioPieceFrames];

// A failing queued-frames or space request: an underrun is recovered and serving goes on
// (true); anything else means the device is lost (false).
bool recoverFrom(AudioCtx& ctx, int32_t code) {
    if (!audioCodeRecoverable(code)) return false;
    if (audioStreamRecover(ctx.stream, code) < 0) return false;
    ctx.underruns.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// Fills `frames` frames at `data` (interleaved stereo) from the source, in pieces of at most
// kAudioPieceFrames, the same sample on left and right.
void fill(AudioCtx& ctx, float* data, uint32_t frames) {
    for (uint32_t done = 0; done < frames;) {
        const int n = int(std::min<uint32_t>(frames - done, kAudioPieceFrames));
        if (ctx.source)
            ctx.source(mono, n, ctx.sourceUser);
        else
            g_engine.render(mono, n);
        float* frame = data + size_t(done) * kAudioChannels;
        for (int i = 0; i < n; ++i) {
            frame[2 * i] = mono[i];
            frame[2 * i + 1] = mono[i];
        }
        done += uint32_t(n);
    }
}

// How long `frames` frames play, in nanoseconds.
uint64_t playNs(uint32_t frames) { return uint64_t(frames) * 1000000000ull / kAudioRateHz; }

// Serves the device until the stop request or until the device is lost.
//
// A fill that takes longer than the audio still queued when it began (the first clip of a run
// decoding, say) lets the device run dry. Some devices then send no wake-up at all, so the
// thread does not wait for one: after such a stall, a failed release or a recovery it asks
// the stream at once how it stands, recovers it if it stopped, and fills it again.
void serve(AudioCtx& ctx) {
    bool filled = false;
    bool lookNow = false;  // skip the wait: the device may have run dry without a word
    while (ctx.active.load()) {
        if (!lookNow) {
            // A time-out is no error; the device is still asked how full it is, so that a
            // device that went away without a word is noticed within one wait.
            const int32_t waited = audioStreamWait(ctx.stream, kAudioWaitMs);
            if (waited < 0) return;  // the stream's own descriptors failed: nothing to wait on
            if (!ctx.active.load()) return;
        }
        lookNow = false;

        uint32_t queued = 0;
        int32_t r = audioStreamPadding(ctx.stream, &queued);
        if (r < 0) {
            if (!recoverFrom(ctx, r)) return;
            lookNow = true;  // a recovered stream plays again only once it is filled
            continue;
        }
        const uint32_t free = queued < ctx.bufferFrames ? ctx.bufferFrames - queued : 0;
        if (free == 0) continue;
        if (queued == 0 && filled) ctx.dryWakeups.fetch_add(1, std::memory_order_relaxed);

        float* data = nullptr;
        r = audioStreamGetSpace(ctx.stream, free, &data);
        if (r < 0) {
            if (!recoverFrom(ctx, r)) return;
            lookNow = true;
            continue;
        }
        const uint64_t began = perfCounterNs();
        fill(ctx, data, free);
        const bool stalled = perfCounterNs() - began >= playNs(queued);
        // A failed release shows as an underrun or a lost device at the query that follows.
        r = audioStreamRelease(ctx.stream, free);
        ctx.framesWritten.fetch_add(free, std::memory_order_relaxed);
        filled = true;
        lookNow = stalled || r < 0;
    }
}

}  // namespace

// ---- Ready flag ----

void ReadyEvent::set() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        set_ = true;
    }
    changed_.notify_all();
}

void ReadyEvent::reset() {
    std::lock_guard<std::mutex> hold(lock_);
    set_ = false;
}

bool ReadyEvent::isSet() {
    std::lock_guard<std::mutex> hold(lock_);
    return set_;
}

bool ReadyEvent::waitFor(int timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
}

// ---- Open and close ----

AudioCtx::~AudioCtx() {
    audioJoin(*this);
    audioClose(*this);
}

int32_t audioOpen(AudioCtx& ctx) {
    int32_t r = audioStreamOpen(&ctx.stream);
    if (r < 0) return r;
    AudioEvent* event = nullptr;
    r = audioEventCreate(&event);
    {
        std::lock_guard<std::mutex> hold(ctx.eventLock);
        ctx.bufferEvent = event;
    }
    if (r < 0) return r;
    r = audioStreamSetEvent(ctx.stream, ctx.bufferEvent);
    if (r < 0) return r;
    return audioStreamBufferFrames(ctx.stream, &ctx.bufferFrames);
}

void audioClose(AudioCtx& ctx) {
    if (ctx.stream) {
        audioStreamStop(ctx.stream);
        audioStreamClose(ctx.stream);
        ctx.stream = nullptr;
    }
    std::lock_guard<std::mutex> hold(ctx.eventLock);
    audioEventClose(ctx.bufferEvent);
    ctx.bufferEvent = nullptr;
}

// ---- The audio thread ----

int audioThread(AudioCtx* param) {
    AudioCtx& ctx = *param;
    const int32_t hr = audioOpen(ctx);
    ctx.hr.store(hr);
    ctx.readyEvent.set();
    if (hr >= 0) {
        // Every start of a run decodes its first clip on this thread: the decoder's buffers
        // are sized now, not inside the first render of the first run.
        if (!ctx.source) prepareDecoderThread();
        // Nothing is written before the start: the first samples go out at the first wake-up.
        audioStreamStart(ctx.stream);
        serve(ctx);
        audioStreamStop(ctx.stream);
    }
    audioClose(ctx);
    ctx.ended.store(true);
    return 0;
}

void audioStart(AudioCtx& ctx) {
    if (ctx.thread.joinable()) audioJoin(ctx);
    ctx.hr.store(kAudioFail);
    ctx.readyEvent.reset();
    ctx.ended.store(false);
    ctx.underruns.store(0);
    ctx.dryWakeups.store(0);
    ctx.framesWritten.store(0);
    ctx.active.store(true);
    ctx.thread = std::thread(audioThread, &ctx);
}

bool audioReported(AudioCtx& ctx) { return ctx.readyEvent.isSet(); }

bool audioWaitReported(AudioCtx& ctx, int timeoutMs) { return ctx.readyEvent.waitFor(timeoutMs); }

int32_t audioResult(const AudioCtx& ctx) { return ctx.hr.load(); }

void audioStopRequest(AudioCtx& ctx) {
    ctx.active.store(false);
    std::lock_guard<std::mutex> hold(ctx.eventLock);
    if (ctx.bufferEvent) audioEventSet(ctx.bufferEvent);
}

void audioJoin(AudioCtx& ctx) {
    if (!ctx.thread.joinable()) return;
    if (ctx.active.load()) audioStopRequest(ctx);
    ctx.thread.join();
}

// ---- Device test ----

bool audioDeviceTest() {
    AudioCtx ctx;
    const int32_t hr = audioOpen(ctx);
    ctx.hr.store(hr);
    if (hr >= 0) {
        audioStreamStart(ctx.stream);
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        audioStreamStop(ctx.stream);
    }
    audioClose(ctx);
    return hr >= 0;
}
