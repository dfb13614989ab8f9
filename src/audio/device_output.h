// Live output: the audio thread that feeds g_engine to the default output device, and the
// device test behind --smoke. The device itself is the platform's (platform/audio_device.h,
// which also lists the result codes: negative 0xA0SSEEEE, step SS, error number EEEE).
//
// The audio thread opens the device, reports the open result (hr, then readyEvent), starts
// the stream and, while `active` holds, waits up to 500 ms for the device to want data,
// then fills all of the free buffer space in pieces of at most 2048 frames: the engine
// renders each piece as mono into a static buffer, and every sample goes unchanged to both
// channels. An underrun (the device ran dry, e.g. while the start of a run decodes its first
// clip) is recovered and serving goes on; a lost device (unplugged, the sound server gone)
// ends the thread silently, with hr left as it was. After a fill that outlasted the audio
// queued before it, a failed release or a recovery, the thread does not wait for the device:
// it queries the stream at once, recovers and refills it, since a device that ran dry may
// never send another wake-up.
//
// Threads: audioStart, audioStopRequest, audioJoin and the AudioCtx destructor run on the
// thread that owns the context (the window thread for g_ac); audioReported, audioResult and
// the counters may be read from it at any time. Everything else in AudioCtx belongs to the
// audio thread while it runs. audioOpen and audioClose are the audio thread's (or the device
// test's, on its own thread with its own context).
//
// The serving loop allocates nothing, takes no lock and never logs: the mono buffer is
// static and sized for the largest piece. Opening allocates (the platform stream).
//
// Lifetime: g_ac is constructed after g_engine and destroyed before it; its destructor asks
// the thread to stop and joins it, so no exit path destroys a joinable thread or the engine
// while the thread may be inside Engine::render. The program still calls audioJoin itself
// once the message loop has ended.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/audio_device.h"

constexpr int kAudioPieceFrames = 2048;  // largest piece the engine renders per call

// A source of mono samples at 48000 Hz: fills out[0..frames).
using AudioRenderFn = void (*)(float* out, int frames, void* user);

// A manual-reset flag that one thread sets and another tests or waits for.
class ReadyEvent {
public:
    void set();
    void reset();
    bool isSet();
    bool waitFor(int timeoutMs);  // true once set, false after timeoutMs

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool set_ = false;
};

struct AudioCtx {
    AudioCtx() = default;
    ~AudioCtx();
    AudioCtx(const AudioCtx&) = delete;
    AudioCtx& operator=(const AudioCtx&) = delete;

    AudioStream* stream = nullptr;     // the open stream, null when closed
    AudioEvent* bufferEvent = nullptr; // set by the device when it wants data, and by the stop
                                       // request; created and closed by the audio thread
    uint32_t bufferFrames = 0;         // device buffer in frames
    std::atomic<int32_t> hr{kAudioFail};  // open result as reported by the audio thread
    ReadyEvent readyEvent;             // set once hr holds the open result
    std::thread thread;                // the audio thread
    std::atomic<bool> active{false};   // the thread keeps serving while true
    std::atomic<bool> ended{false};    // the thread has finished (stream closed), for
                                       // whatever reason: stop request, open failure, lost device

    // Where the samples come from: null (the default) is g_engine.render. Set before start.
    AudioRenderFn source = nullptr;
    void* sourceUser = nullptr;

    // Measurements, written by the audio thread, readable any time.
    std::atomic<uint32_t> underruns{0};    // underruns (and suspends) recovered
    std::atomic<uint32_t> dryWakeups{0};   // wake-ups that found nothing queued after the
                                           // first fill: the device had run dry
    std::atomic<uint64_t> framesWritten{0};

    // Guards bufferEvent between the thread closing it and a stop request setting it.
    std::mutex eventLock;
};

extern AudioCtx g_ac;

// Interactive start-up: readyEvent reset, active set, audio thread started on ctx. A thread
// of an earlier start that was never joined is stopped and joined first.
void audioStart(AudioCtx& ctx);
// True once the audio thread has stored the open result (hr), without waiting.
bool audioReported(AudioCtx& ctx);
// Waits up to timeoutMs for the report; true once reported.
bool audioWaitReported(AudioCtx& ctx, int timeoutMs);
// The open result reported by the audio thread: negative on failure.
int32_t audioResult(const AudioCtx& ctx);
// Stop request: active false and the buffer event set, so the thread leaves at once. No wait.
void audioStopRequest(AudioCtx& ctx);
// Waits for the audio thread to end (before g_engine is destroyed), making the stop request
// first if it has not been made; safe if never started and safe twice.
void audioJoin(AudioCtx& ctx);

// The steps of the audio thread, for the thread itself, the device test and tests.
// audioOpen: stream, buffer event, event handed to the stream, buffer size; stops at the
// first failing step and returns its code, keeping what it obtained (audioClose frees it).
int32_t audioOpen(AudioCtx& ctx);
// Stops and closes the stream and closes the buffer event; safe when never or partly
// opened, and safe twice.
void audioClose(AudioCtx& ctx);
// The thread function: open, report, serve while active, close. Returns 0.
int audioThread(AudioCtx* ctx);

// --smoke: open the default device, start, 80 ms, stop, close. True when it opened.
bool audioDeviceTest();
