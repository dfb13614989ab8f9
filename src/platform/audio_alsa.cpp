// The audio device on ALSA: the "default" PCM (the sound server through its plugin, or the
// hardware through plug and dmix), opened non-blocking in the fixed format with conversion
// and resampling left to the plug layer. Waits poll the PCM's descriptors together with the
// event's eventfd. Samples are written from a staging space of one buffer owned by the
// stream, so the space/release pair works on every kind of PCM, mmap-capable or not. When
// the device takes fewer frames than released (a short write, -EAGAIN), the rest stays at
// the front of the space: it counts as queued and goes out first at the next release.
//
// ALSA prints its errors to stderr unless told otherwise: the handler installed here sends
// them to the error log of audio_device.h, or nowhere.
#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/audio_backend.h"

namespace {

constexpr unsigned kPeriodUs = 40000;  // the device asks for data about every 40 ms
constexpr int kResumeTries = 3;        // a suspended stream is given 3 x 10 ms to resume

// ALSA prints its own messages to stderr unless a handler takes them. The program reports a
// device failure through its result code only, so they are dropped.
void alsaQuiet(const char*, int, const char*, int, const char*, ...) {}

// Owns one PCM handle.
struct PcmHandle {
    snd_pcm_t* pcm = nullptr;
    PcmHandle() = default;
    PcmHandle(const PcmHandle&) = delete;
    PcmHandle& operator=(const PcmHandle&) = delete;
    ~PcmHandle() {
        if (pcm) snd_pcm_close(pcm);
    }
};

int errnoOf(long alsaResult) { return alsaResult < 0 ? int(-alsaResult) : 0; }

class AlsaStream final : public AudioStream {
public:
    PcmHandle handle;
    uint32_t frames = 0;           // buffer size in frames
    std::vector<float> space;      // frames * 2 floats: what the caller fills
    uint32_t held = 0;             // frames at the front of space the device has not taken yet
    std::vector<pollfd> fds;       // the PCM's descriptors, then the event's
    int pcmFds = 0;                // how many of fds are the PCM's
    AudioEvent* event = nullptr;
    bool wantRunning = false;      // started and not stopped: play once there is data
    uint32_t periodFrames = 0;     // the device asks for data when this much is free
    int periodMs = 1;              // the period in milliseconds, rounded up

    int32_t setEvent(AudioEvent* e) override {
        snd_pcm_t* pcm = handle.pcm;
        const int count = snd_pcm_poll_descriptors_count(pcm);
        if (count <= 0) return audioCode(AudioStepSetEvent, count < 0 ? -count : EINVAL);
        fds.assign(size_t(count) + 1, pollfd{});
        const int got = snd_pcm_poll_descriptors(pcm, fds.data(), unsigned(count));
        if (got < 0) return audioCode(AudioStepSetEvent, -got);
        pcmFds = got;
        fds.resize(size_t(got) + 1);
        fds[size_t(got)] = pollfd{audioEventFd(e), POLLIN, 0};
        event = e;
        return kAudioOk;
    }

    int32_t bufferFrames(uint32_t* out) override {
        *out = frames;
        return kAudioOk;
    }

    // Polls the PCM's descriptors and the event in slices of at most one period. After a
    // silent slice ALSA is asked directly: a stream that ran dry, was suspended or went away,
    // or that has room for a period, ends the wait though its descriptors said nothing (a
    // plugin may never signal again after an underrun).
    int32_t wait(int timeoutMs) override {
        if (fds.empty()) return audioCode(AudioStepWait, EBADF);
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (needsAttention()) return kAudioOk;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now()).count();
            if (left < 0) return kAudioTimedOut;
            const int n = poll(fds.data(), nfds_t(fds.size()), int(std::min<long long>(left, periodMs)));
            if (n < 0) {
                if (errno == EINTR) continue;
                return audioCode(AudioStepWait, errno);
            }
            if (n == 0) continue;
            const bool eventSet = (fds.back().revents & POLLIN) != 0;
            if (eventSet) audioEventReset(event);
            // A plugin's descriptors say only that something happened; ALSA tells what.
            unsigned short revents = 0;
            const int err = snd_pcm_poll_descriptors_revents(handle.pcm, fds.data(), unsigned(pcmFds),
                                                             &revents);
            if (err < 0) return audioCode(AudioStepWait, -err);
            if (eventSet || (revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL))) return kAudioOk;
        }
    }

    int32_t padding(uint32_t* queued) override {
        const snd_pcm_sframes_t avail = snd_pcm_avail(handle.pcm);
        if (avail < 0) return audioCode(AudioStepPadding, errnoOf(avail));
        const uint32_t inDevice = uint64_t(avail) >= frames ? 0 : frames - uint32_t(avail);
        *queued = std::min(frames, inDevice + held);
        return kAudioOk;
    }

    int32_t getSpace(uint32_t want, float** data) override {
        if (want > frames - held) return audioCode(AudioStepGetSpace, EINVAL);
        *data = space.data() + size_t(held) * kAudioChannels;
        return kAudioOk;
    }

    int32_t release(uint32_t count) override {
        if (count > frames - held) return audioCode(AudioStepRelease, EINVAL);
        return writeOut(count);
    }

    int32_t start() override {
        wantRunning = true;
        const snd_pcm_sframes_t avail = snd_pcm_avail(handle.pcm);
        if (avail >= 0 && uint64_t(avail) >= frames) return kAudioOk;  // empty: start at the first write
        return startIfPrepared();
    }

    int32_t stop() override {
        wantRunning = false;
        held = 0;  // dropped with what the device holds
        const int err = snd_pcm_drop(handle.pcm);
        if (err < 0) return audioCode(AudioStepStop, -err);
        snd_pcm_prepare(handle.pcm);  // ready to be started again
        return kAudioOk;
    }

    int32_t recover(int32_t code) override {
        const int err = audioCodeErrno(code);
        if (err == ESTRPIPE) {
            for (int i = 0; i < kResumeTries; ++i) {
                const int r = snd_pcm_resume(handle.pcm);
                if (r == 0) return kAudioOk;
                if (r != -EAGAIN) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        } else if (err != EPIPE) {
            return audioCode(AudioStepRecover, err);
        }
        const int r = snd_pcm_prepare(handle.pcm);
        if (r < 0) return audioCode(AudioStepRecover, -r);
        // Restart at once with what the device had not taken (the fill that outlasted the
        // buffer, say): waiting for the next release would leave a stream that holds a full
        // buffer's worth with no free space to release, silent for good. A failed write
        // shows at the next query.
        if (held > 0) writeOut(0);
        return kAudioOk;
    }

private:
    // Writes the held frames, then `count` new ones behind them; what the device does not
    // take stays held, at the front of the space. Starts a prepared stream that should run.
    int32_t writeOut(uint32_t count) {
        const float* p = space.data();
        uint32_t left = held + count;
        int32_t result = kAudioOk;
        while (left > 0) {
            const snd_pcm_sframes_t n = snd_pcm_writei(handle.pcm, p, left);
            if (n == -EAGAIN || n == 0) break;  // the device took less than it offered
            if (n < 0) {
                result = audioCode(AudioStepRelease, errnoOf(n));
                break;
            }
            p += size_t(n) * kAudioChannels;
            left -= uint32_t(n);
        }
        // What the device did not take waits at the front of the space for the next release,
        // also after an underrun: the recovered stream plays it first.
        if (left > 0 && p != space.data())
            std::memmove(space.data(), p, size_t(left) * kAudioChannels * sizeof(float));
        held = left;
        return result < 0 ? result : startIfPrepared();
    }

    // The stream is in a state the caller must act on (an underrun, a suspend, a lost
    // device), or a period's room is free, whatever its descriptors say.
    bool needsAttention() {
        const snd_pcm_sframes_t avail = snd_pcm_avail(handle.pcm);  // also updates the state
        return avail < 0 || uint64_t(avail) >= periodFrames;
    }

    int32_t startIfPrepared() {
        if (!wantRunning || snd_pcm_state(handle.pcm) != SND_PCM_STATE_PREPARED) return kAudioOk;
        const int err = snd_pcm_start(handle.pcm);
        return err < 0 ? audioCode(AudioStepStart, -err) : kAudioOk;
    }
};

int32_t configure(snd_pcm_t* pcm, uint32_t* bufferFrames, uint32_t* periodFrames) {
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err < 0) return audioCode(AudioStepHwAny, -err);
    err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (err < 0) return audioCode(AudioStepAccess, -err);
    err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_FLOAT);
    if (err < 0) return audioCode(AudioStepFormat, -err);
    err = snd_pcm_hw_params_set_channels(pcm, hw, kAudioChannels);
    if (err < 0) return audioCode(AudioStepChannels, -err);
    snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);  // already the default; only a preference
    err = snd_pcm_hw_params_set_rate(pcm, hw, kAudioRateHz, 0);
    if (err < 0) return audioCode(AudioStepRate, -err);
    unsigned bufferUs = kAudioBufferMs * 1000;
    int dir = 0;
    err = snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
    if (err < 0) return audioCode(AudioStepBuffer, -err);
    unsigned periodUs = kPeriodUs;
    dir = 0;
    err = snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
    if (err < 0) return audioCode(AudioStepPeriod, -err);
    err = snd_pcm_hw_params(pcm, hw);
    if (err < 0) return audioCode(AudioStepHwApply, -err);

    snd_pcm_uframes_t buffer = 0, period = 0;
    snd_pcm_get_params(pcm, &buffer, &period);
    if (buffer == 0 || buffer > 0x7FFFFFFF) return audioCode(AudioStepHwApply, EINVAL);

    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_uframes_t boundary = 0;
    if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0 ||
        (err = snd_pcm_sw_params_set_avail_min(pcm, sw, period ? period : 1)) < 0 ||
        (err = snd_pcm_sw_params_get_boundary(sw, &boundary)) < 0 ||
        // The stream starts when asked to and holds data, never on its own.
        (err = snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary)) < 0 ||
        // Running dry is an underrun that the caller sees and recovers from.
        (err = snd_pcm_sw_params_set_stop_threshold(pcm, sw, buffer)) < 0 ||
        (err = snd_pcm_sw_params(pcm, sw)) < 0)
        return audioCode(AudioStepSwParams, -err);
    *bufferFrames = uint32_t(buffer);
    *periodFrames = uint32_t(std::clamp<snd_pcm_uframes_t>(period, 1, buffer));
    return kAudioOk;
}

int32_t alsaOpen(AudioStream** out) {
    auto stream = std::make_unique<AlsaStream>();
    int err = snd_pcm_open(&stream->handle.pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        stream->handle.pcm = nullptr;
        return audioCode(AudioStepOpen, -err);
    }
    const int32_t r = configure(stream->handle.pcm, &stream->frames, &stream->periodFrames);
    if (r < 0) return r;
    stream->periodMs = int((uint64_t(stream->periodFrames) * 1000 + kAudioRateHz - 1) / kAudioRateHz);
    stream->space.assign(size_t(stream->frames) * kAudioChannels, 0.0f);
    *out = stream.release();
    return kAudioOk;
}

}  // namespace

void audioUseAlsa() {
    snd_lib_error_set_handler(alsaQuiet);
    audioSetBackend(alsaOpen);
}
