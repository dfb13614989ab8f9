// The audio device's events on Windows: auto-reset event objects, which the audio client
// signals when it wants data and which the stop request also sets. No failure code is
// recoverable here: the shared-mode engine rides out an underrun by itself, and anything
// else (AUDCLNT_E_DEVICE_INVALIDATED and the like) means the device is lost.
#include <windows.h>

#include <new>

#include "platform/audio_backend.h"

struct AudioEvent {
    HANDLE h = nullptr;
};

bool audioCodeRecoverable(int32_t) { return false; }

int32_t audioEventCreate(AudioEvent** out) {
    *out = nullptr;
    const HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!h) return int32_t(E_FAIL);
    auto* e = new (std::nothrow) AudioEvent;
    if (!e) {
        CloseHandle(h);
        return int32_t(E_FAIL);
    }
    e->h = h;
    *out = e;
    return kAudioOk;
}

void audioEventClose(AudioEvent* e) {
    if (!e) return;
    CloseHandle(e->h);
    delete e;
}

void audioEventSet(AudioEvent* e) { SetEvent(e->h); }

void* audioEventHandle(const AudioEvent* e) { return e->h; }

void audioEventReset(AudioEvent* e) { ResetEvent(e->h); }
