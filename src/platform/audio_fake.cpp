// The fake audio device (audio_fake.h). Its "wants data" signal is an eventfd, polled
// together with the stream's event exactly as the ALSA backend polls a PCM's descriptors.
#include "platform/audio_fake.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "platform/audio_backend.h"

namespace {

struct FakeDevice {
    std::mutex lock;
    std::condition_variable changed;
    FakeAudioSetup setup;
    FakeAudioRecord record;
    std::map<int, int> failNext;  // step -> errno, one shot each
    int lostErr = 0;              // non-zero: the device is gone
    bool dry = false;             // in an underrun until recovered
    int wantsFd = -1;             // readable while the device wants data
};

FakeDevice& device() {
    static FakeDevice d;
    return d;
}

void raiseWants(FakeDevice& d) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(d.wantsFd, &one, sizeof one);
}

void clearWants(FakeDevice& d) {
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(d.wantsFd, &count, sizeof count);
}

void ensureFd(FakeDevice& d) {
    if (d.wantsFd < 0) d.wantsFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

// The injected result of `step`, if any: a lost device fails everything, else a one-shot
// failure. Called with the lock held.
int32_t injected(FakeDevice& d, AudioStep step) {
    if (d.lostErr) return audioCode(step, d.lostErr);
    if (d.dry && (step == AudioStepPadding || step == AudioStepGetSpace || step == AudioStepRelease))
        return audioCode(step, EPIPE);
    auto it = d.failNext.find(step);
    if (it == d.failNext.end()) return kAudioOk;
    const int err = it->second;
    d.failNext.erase(it);
    return audioCode(step, err);
}

// Notes a stream call and passes its result on. Called with the lock held.
int32_t noted(FakeDevice& d, const char* call, int32_t result) {
    d.record.calls.push_back(result < 0 ? std::string(call) + "!" : std::string(call));
    return result;
}

class FakeStream final : public AudioStream {
public:
    std::vector<float> space;
    uint32_t frames = 0;
    AudioEvent* event = nullptr;
    bool running = false;

    ~FakeStream() override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        ++d.record.closes;
        d.changed.notify_all();
    }

    int32_t setEvent(AudioEvent* e) override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        if (int32_t r = injected(d, AudioStepSetEvent)) return r;
        event = e;
        return kAudioOk;
    }

    int32_t bufferFrames(uint32_t* out) override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        if (int32_t r = injected(d, AudioStepBufferSize)) return r;
        *out = frames;
        return kAudioOk;
    }

    int32_t wait(int timeoutMs) override {
        FakeDevice& d = device();
        {
            std::lock_guard<std::mutex> hold(d.lock);
            if (int32_t r = injected(d, AudioStepWait)) return noted(d, "wait", r);
            d.record.inWait = true;
            d.changed.notify_all();
        }
        pollfd fds[2] = {{d.wantsFd, POLLIN, 0}, {event ? audioEventFd(event) : -1, POLLIN, 0}};
        int n;
        do {
            n = poll(fds, 2, timeoutMs);
        } while (n < 0 && errno == EINTR);
        std::lock_guard<std::mutex> hold(d.lock);
        d.record.inWait = false;
        ++d.record.waits;
        d.record.lastWaitTimeoutMs = timeoutMs;
        int32_t result = kAudioOk;
        if (n < 0) {
            result = audioCode(AudioStepWait, errno);
        } else if (n == 0) {
            ++d.record.waitsTimedOut;
            result = kAudioTimedOut;
        } else {
            if (fds[1].revents & POLLIN) {
                audioEventReset(event);
                ++d.record.waitsByEvent;
            }
            if (fds[0].revents & POLLIN) {
                // A vanished device keeps its descriptor readable.
                if (!d.lostErr) clearWants(d);
                ++d.record.waitsByDevice;
            }
        }
        d.changed.notify_all();
        return noted(d, "wait", result);
    }

    int32_t padding(uint32_t* queued) override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        ++d.record.paddingQueries;
        d.changed.notify_all();
        if (int32_t r = injected(d, AudioStepPadding)) return noted(d, "padding", r);
        *queued = d.record.queued;
        return noted(d, "padding", kAudioOk);
    }

    int32_t getSpace(uint32_t want, float** data) override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        if (int32_t r = injected(d, AudioStepGetSpace)) return noted(d, "space", r);
        if (want > frames) return noted(d, "space", audioCode(AudioStepGetSpace, EINVAL));
        *data = space.data();
        return noted(d, "space", kAudioOk);
    }

    int32_t release(uint32_t count) override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        if (int32_t r = injected(d, AudioStepRelease)) return noted(d, "release", r);
        if (count > frames) return noted(d, "release", audioCode(AudioStepRelease, EINVAL));
        d.record.releases.push_back(count);
        d.record.written.insert(d.record.written.end(), space.begin(),
                                space.begin() + ptrdiff_t(count) * kAudioChannels);
        d.record.queued += count;
        if (d.record.queued > frames) {
            d.record.overfilled = true;
            d.record.queued = frames;
        }
        d.changed.notify_all();
        return noted(d, "release", kAudioOk);
    }

    int32_t start() override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        if (int32_t r = injected(d, AudioStepStart)) return noted(d, "start", r);
        ++d.record.starts;
        running = true;
        d.changed.notify_all();
        return noted(d, "start", kAudioOk);
    }

    int32_t stop() override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        if (int32_t r = injected(d, AudioStepStop)) return noted(d, "stop", r);
        if (running) ++d.record.stops;
        running = false;
        d.changed.notify_all();
        return noted(d, "stop", kAudioOk);
    }

    int32_t recover(int32_t code) override {
        FakeDevice& d = device();
        std::lock_guard<std::mutex> hold(d.lock);
        if (int32_t r = injected(d, AudioStepRecover)) return noted(d, "recover", r);
        if (!audioCodeRecoverable(code))
            return noted(d, "recover", audioCode(AudioStepRecover, audioCodeErrno(code)));
        // Prepared again: the queue is dropped. No wake-up follows: the caller fills the
        // stream without waiting for one.
        ++d.record.recovers;
        d.record.queued = 0;
        d.dry = false;
        d.changed.notify_all();
        return noted(d, "recover", kAudioOk);
    }
};

int32_t fakeOpen(AudioStream** out) {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    ensureFd(d);
    if (int32_t r = injected(d, AudioStepOpen)) return r;
    auto* s = new FakeStream;
    s->frames = d.setup.bufferFrames;
    s->space.assign(size_t(s->frames) * kAudioChannels, 0.0f);
    ++d.record.opens;
    if (d.setup.wantsDataAtOpen) raiseWants(d);
    d.changed.notify_all();
    *out = s;
    return kAudioOk;
}

}  // namespace

void audioUseFake() { audioSetBackend(fakeOpen); }

void fakeAudioReset(const FakeAudioSetup& setup) {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    ensureFd(d);
    clearWants(d);
    d.setup = setup;
    d.record = FakeAudioRecord{};
    d.record.written.reserve(size_t(1) << 21);
    d.failNext.clear();
    d.lostErr = 0;
    d.dry = false;
    d.changed.notify_all();
}

void fakeAudioFailNext(AudioStep step, int err) {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    d.failNext[step] = err;
}

void fakeAudioLose(int err) {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    ensureFd(d);
    d.lostErr = err;
    raiseWants(d);
    d.changed.notify_all();
}

void fakeAudioPlay(uint32_t frames) {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    ensureFd(d);
    d.record.queued -= std::min(frames, d.record.queued);
    raiseWants(d);
    d.changed.notify_all();
}

void fakeAudioRunDry() {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    d.record.queued = 0;
    d.dry = true;
    d.changed.notify_all();
}

void fakeAudioMark() {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    d.record.calls.push_back("mark");
    d.changed.notify_all();
}

void fakeAudioSetQueued(uint32_t frames) {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    d.record.queued = frames;
    d.changed.notify_all();
}

void fakeAudioSignal() {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    ensureFd(d);
    raiseWants(d);
}

FakeAudioRecord fakeAudioRecord() {
    FakeDevice& d = device();
    std::lock_guard<std::mutex> hold(d.lock);
    return d.record;
}

bool fakeAudioWaitUntil(const std::function<bool(const FakeAudioRecord&)>& done, int timeoutMs) {
    FakeDevice& d = device();
    std::unique_lock<std::mutex> hold(d.lock);
    return d.changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return done(d.record); });
}
