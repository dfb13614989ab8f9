// Live output: the audio thread that feeds g_engine to the default output device, and the
// device test behind --smoke. The device itself is the platform's (platform/audio_device.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

struct AudioCtx;
extern AudioCtx g_ac;

// Interactive start-up: readyEvent created, active set, audio thread started on g_ac.
void audioStart(AudioCtx& ctx);
// True once the audio thread has stored the open result (hr), without waiting.
bool audioReported(AudioCtx& ctx);
// The open result reported by the audio thread: negative on failure.
int32_t audioResult(const AudioCtx& ctx);
// Stop request: active false and the buffer event set, so the thread leaves at once. No wait.
void audioStopRequest(AudioCtx& ctx);
// Waits for the audio thread to end (before g_engine is destroyed); safe if never started.
void audioJoin(AudioCtx& ctx);

// --smoke: open the default device, start, 80 ms, stop, close. True when it opened.
bool audioDeviceTest();
