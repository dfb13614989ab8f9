// The audio device's front: backend choice, the error log, events, and the stream calls
// forwarded to the stream's backend.
#include "platform/audio_backend.h"

#include <atomic>
#include <cerrno>
#include <new>
#include <sys/eventfd.h>
#include <unistd.h>

struct AudioEvent {
    int fd = -1;  // eventfd, non-blocking: readable while set
};

namespace {

std::atomic<AudioOpenFn> g_audioOpen{nullptr};

}  // namespace

void audioSetBackend(AudioOpenFn open) { g_audioOpen.store(open); }

bool audioCodeRecoverable(int32_t code) {
    if (code >= 0) return false;
    const int err = audioCodeErrno(code);
    return err == EPIPE || err == ESTRPIPE;
}

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

// ---- Events ----

int32_t audioEventCreate(AudioEvent** out) {
    *out = nullptr;
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return audioCode(AudioStepEventCreate, errno);
    auto* e = new (std::nothrow) AudioEvent;
    if (!e) {
        close(fd);
        return audioCode(AudioStepEventCreate, ENOMEM);
    }
    e->fd = fd;
    *out = e;
    return kAudioOk;
}

void audioEventClose(AudioEvent* e) {
    if (!e) return;
    close(e->fd);
    delete e;
}

void audioEventSet(AudioEvent* e) {
    const uint64_t one = 1;
    // A full counter (never reached) would only mean the event is already set.
    [[maybe_unused]] ssize_t n = write(e->fd, &one, sizeof one);
}

int audioEventFd(const AudioEvent* e) { return e->fd; }

void audioEventReset(AudioEvent* e) {
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(e->fd, &count, sizeof count);
}
