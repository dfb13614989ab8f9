// The audio device's events on Linux (an eventfd each) and the failure codes a stream
// recovers from.
#include <cerrno>
#include <new>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/audio_backend.h"

struct AudioEvent {
    int fd = -1;  // eventfd, non-blocking: readable while set
};

bool audioCodeRecoverable(int32_t code) {
    if (code >= 0) return false;
    const int err = audioCodeErrno(code);
    return err == EPIPE || err == ESTRPIPE;
}

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
