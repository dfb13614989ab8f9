// Between the audio device's front (audio_device.cpp, the functions of audio_device.h) and
// its backends (audio_alsa.cpp, audio_fake.cpp; win32/audio_coreaudio.cpp on Windows). Only
// backends include this header.
//
// A backend implements AudioStream and registers its open function with audioSetBackend.
// The front forwards every stream call to the stream's own object, so a stream keeps the
// backend that opened it. Events are the front's: on Linux an eventfd that a backend's wait
// polls beside the device's own descriptors, on Windows an auto-reset event object that the
// device signals itself.
//
// Threads and allocation: as in audio_device.h.
#pragma once

#include <cstdint>

#include "platform/audio_device.h"

struct AudioStream {
    virtual ~AudioStream() = default;
    virtual int32_t setEvent(AudioEvent* event) = 0;
    virtual int32_t bufferFrames(uint32_t* frames) = 0;
    virtual int32_t wait(int timeoutMs) = 0;
    virtual int32_t padding(uint32_t* queued) = 0;
    virtual int32_t getSpace(uint32_t frames, float** data) = 0;
    virtual int32_t release(uint32_t frames) = 0;
    virtual int32_t start() = 0;
    virtual int32_t stop() = 0;
    virtual int32_t recover(int32_t code) = 0;
};

using AudioOpenFn = int32_t (*)(AudioStream** out);
void audioSetBackend(AudioOpenFn open);

#ifdef _WIN32
// The event object (a HANDLE), for the device to signal and the stream to wait on.
void* audioEventHandle(const AudioEvent* e);
#else
// The event's descriptor: readable while the event is set.
int audioEventFd(const AudioEvent* e);
#endif
// Resets a set event; does nothing when it is not set.
void audioEventReset(AudioEvent* e);

