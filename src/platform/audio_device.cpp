// The audio device's front: backend choice and the stream calls forwarded to
// the stream's backend. Events and the recoverable codes are the system's
// (audio_device_posix.cpp, win32/audio_event.cpp).
#include "platform/audio_backend.h"

#include <atomic>

namespace {

std::atomic<AudioOpenFn> g_audioOpen{nullptr};

}  // namespace

void audioSetBackend(AudioOpenFn open) { g_audioOpen.store(open); }

const char* audioStepName(int step) {
    switch (step) {
        case AudioStepOpen: return "open the default output";
        case AudioStepHwAny: return "read the device's configuration space";
        case AudioStepAccess: return "interleaved access";
        case AudioStepFormat: return "32-bit float samples";
        case AudioStepChannels: return "2 channels";
        case AudioStepRate: return "48000 Hz";
        case AudioStepBuffer: return "200 ms buffer";
        case AudioStepPeriod: return "wake-up period";
        case AudioStepHwApply: return "apply the hardware parameters";
        case AudioStepSwParams: return "software parameters";
        case AudioStepEventCreate: return "create the event";
        case AudioStepSetEvent: return "hand the event to the stream";
        case AudioStepBufferSize: return "read the buffer size";
        case AudioStepWait: return "wait for the device";
        case AudioStepPadding: return "queued frames";
        case AudioStepGetSpace: return "writable space";
        case AudioStepRelease: return "release of written space";
        case AudioStepStart: return "start";
        case AudioStepStop: return "stop";
        case AudioStepRecover: return "recovery";
        case AudioStepNoBackend: return "no backend chosen";
        default: return "?";
    }
}

// ---- Streams ----

int32_t audioStreamOpen(AudioStream** out) {
    *out = nullptr;
    AudioOpenFn open = g_audioOpen.load();
    if (!open) return audioCode(AudioStepNoBackend, 0);
    return open(out);
}

void audioStreamClose(AudioStream* s) {
    if (!s) return;
    s->stop();
    delete s;
}

int32_t audioStreamSetEvent(AudioStream* s, AudioEvent* event) { return s->setEvent(event); }
int32_t audioStreamBufferFrames(AudioStream* s, uint32_t* frames) { return s->bufferFrames(frames); }
int32_t audioStreamWait(AudioStream* s, int timeoutMs) { return s->wait(timeoutMs); }
int32_t audioStreamPadding(AudioStream* s, uint32_t* queued) { return s->padding(queued); }
int32_t audioStreamGetSpace(AudioStream* s, uint32_t frames, float** data) {
    return s->getSpace(frames, data);
}
int32_t audioStreamRelease(AudioStream* s, uint32_t frames) { return s->release(frames); }
int32_t audioStreamStart(AudioStream* s) { return s->start(); }
int32_t audioStreamStop(AudioStream* s) { return s->stop(); }
int32_t audioStreamRecover(AudioStream* s, int32_t code) { return s->recover(code); }
