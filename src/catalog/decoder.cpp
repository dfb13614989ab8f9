// The clip decoder: six 1 MiB windows spread over a recording, the loudest usable one
// resampled to 48 kHz, brought to a common loudness and faded at both ends.
//
// Sections: constants and per-thread state, windows, decoding one window, choosing the
// window, finishing the clip, the two entry points.
#include "catalog/decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

#include <minimp3.h>

#include "base/program.h"
#include "base/sample_rate.h"
#include "catalog/recording.h"
#include "platform/files.h"

namespace {

// ---- Constants and per-thread state ----

constexpr int64_t kWindowBytes = 1048576;      // MP3 bytes read per attempt
constexpr int64_t kMinRecordingBytes = 200000;
constexpr size_t kMinWindowBytes = 65536;      // a window of fewer bytes is not decoded
constexpr int kAttempts = 6;
constexpr double kAttemptStride = 0.163;       // of the span, between successive windows
constexpr size_t kMaxCollect = 1440000;        // source samples collected per attempt
// More than an attempt can collect: collection stops at kMaxCollect and a frame adds at
// most 1152 samples, so the decode loop never reallocates.
constexpr size_t kPcmCapacity = kMaxCollect + MINIMP3_MAX_SAMPLES_PER_FRAME;
constexpr size_t kMinAttemptSamples = 24000;
constexpr int kMinRate = 8000, kMaxRate = 48000;  // Hz, the first frame's rate must lie here
constexpr int64_t kMinClip = 4800, kMaxClip = 1440000;  // samples: 0.1 s, 30 s
constexpr float kMinRms = 0.008f;               // below this the best window counts as silence
constexpr float kTargetRms = 0.15f;             // common loudness
constexpr float kMinGain = 0.2f, kMaxGain = 8.0f;
constexpr float kPeakLimit = 0.9f;
constexpr int kFadeLen = 1440;                  // samples, 30 ms raised-cosine fade at each end
// A position this many periods past the recording's length is reduced by fmod instead of
// subtraction, so that a huge or runaway position cannot stall the decoder.
constexpr double kMaxWraps = 65536.0;

// The MP3 decoder and its one-frame output buffer.
struct FrameDecoder {
    mp3dec_t dec;
    int16_t frame[MINIMP3_MAX_SAMPLES_PER_FRAME];    // one decoded frame, channels interleaved
};

// One thread's decoder and buffers, sized at the thread's first call (or when the thread
// prepares them) and reused by every later call: the best attempt's samples and the current
// attempt's change places by exchange, and the window is overwritten by each attempt.
struct DecoderState {
    FrameDecoder fd;
    std::vector<float> pcm;                          // the current attempt's mono samples
    std::vector<float> best;                         // the loudest attempt's samples so far
    std::vector<unsigned char> window;               // one window of the recording

    void size() {
        if (pcm.capacity() < kPcmCapacity) pcm.reserve(kPcmCapacity);
        if (best.capacity() < kPcmCapacity) best.reserve(kPcmCapacity);
        if (window.size() < size_t(kWindowBytes)) window.resize(size_t(kWindowBytes));
    }
};

DecoderState& threadState() {
    thread_local DecoderState st;
    return st;
}

// ---- Windows ----

// The position reduced into [0, dur) by whole periods; 0 when either value is unusable.
double reducePosition(double pos, double dur) {
    if (!std::isfinite(pos) || !std::isfinite(dur) || !(dur > 0.0)) return 0.0;
    double p = pos;
    if (p >= dur * kMaxWraps) p = std::fmod(p, dur);
    while (p >= dur) p -= dur;
    if (p < 0.0) p += dur;
    return p;
}

int64_t windowOffset(int attempt, double p, double dur, int64_t total) {
    const int64_t maxOff = std::max<int64_t>(total - kWindowBytes, 0);
    const double x = attempt * kAttemptStride + (dur > 0.0 ? p / dur : 0.0);
    const double frac = x - std::floor(x);
    int64_t off = int64_t(frac * double(maxOff));
    if (off > total - kWindowBytes) off = maxOff;
    return off;
}

// Bytes of the window at `off` into `window`; fewer than asked when the file is shorter
// now than it was when its size was taken.
size_t fillWindow(const RecordingSource& src, int64_t off, unsigned char* window) {
    if (off < 0 || off >= src.size) return 0;
    if (src.block) {
        const size_t n = size_t(std::min<int64_t>(kWindowBytes, src.size - off));
        std::memcpy(window, src.block + off, n);
        return n;
    }
    // A positional read leaves the stream's position alone, so several threads may read
    // windows at once.
    return fileReadAt(src.file.get(), off, window, size_t(kWindowBytes));
}

// ---- Decoding one window ----

// Every sample is an integer times 2^-16 (stereo sum) or 2^-15 (mono), so its square is an
// integer count of 2^-32 units, at most 2^32 of them. Fewer than 2^21 samples sum to below
// 2^53 units: every partial sum of the squares is exact in a double, so the integer sum
// converted to double is bit for bit the double sum taken sample by sample, in any order.
static_assert(kPcmCapacity < (size_t(1) << 21), "sum of squares must stay exact");

// Decodes window[0, n) into pcm as mono samples and sums their squares into sumSq (units of
// 2^-32); returns the first decoded frame's rate (0 when nothing decoded).
int decodeWindow(FrameDecoder& fd, std::vector<float>& pcm, const unsigned char* window, size_t n,
                 uint64_t& sumSq) {
    mp3dec_init(&fd.dec);
    pcm.clear();
    if (pcm.capacity() < kPcmCapacity) pcm.reserve(kPcmCapacity);
    uint64_t sq = 0;
    int rate = 0;
    size_t at = 0;
    while (at < n) {
        if (pcm.size() >= kMaxCollect) break;
        mp3dec_frame_info_t info{};
        const int samples = mp3dec_decode_frame(&fd.dec, window + at, int(n - at), fd.frame, &info);
        if (info.frame_bytes <= 0) break;
        if (samples > 0) {
            if (rate == 0) rate = info.hz;
            const size_t base = pcm.size();
            pcm.resize(base + size_t(samples));
            float* dst = pcm.data() + base;
            const int16_t* src = fd.frame;
            if (info.channels == 2) {
                for (int i = 0; i < samples; ++i) {
                    const int64_t v = int64_t(src[2 * i]) + src[2 * i + 1];
                    dst[i] = float(v) * (1.0f / 65536.0f);
                    sq += uint64_t(v * v);
                }
            } else {
                for (int i = 0; i < samples; ++i) {
                    const int64_t v = src[i];
                    dst[i] = float(v) * (1.0f / 32768.0f);
                    sq += uint64_t(v * v) << 2;
                }
            }
        }
        at += size_t(info.frame_bytes);
    }
    sumSq = sq;
    return rate;
}

// Square root of the mean square, in double, narrowed to float.
float rmsOf(uint64_t sumSq, size_t count) {
    return float(std::sqrt(double(sumSq) * 0x1p-32 / double(count)));
}

// ---- Finishing the clip ----

// Linear interpolation from `rate` to 48 kHz; the step is accumulated, not recomputed.
void resampleTo48k(const std::vector<float>& x, int rate, float* out, int64_t n) {
    const double step = rate / double(kSampleRateHz);
    const int64_t last = int64_t(x.size()) - 1;
    const float* in = x.data();
    double t = 0.0;
    for (int64_t k = 0; k < n; ++k) {
        const int64_t i = int64_t(t);
        if (i < last) {
            const double frac = t - double(i);
            out[k] = float(in[i] * (1.0 - frac) + in[i + 1] * frac);
        } else {
            out[k] = in[last];
        }
        t += step;
    }
}

void normalise(float* out, int64_t n, float rms) {
    const float gain = std::clamp(kTargetRms / rms, kMinGain, kMaxGain);
    float peak = 0.0f;
    for (int64_t k = 0; k < n; ++k) {
        out[k] *= gain;
        peak = std::max(peak, std::fabs(out[k]));
    }
    if (peak > kPeakLimit) {
        const float scale = kPeakLimit / peak;
        for (int64_t k = 0; k < n; ++k) out[k] *= scale;
    }
}

void fadeEnds(float* out, int64_t n) {
    out[0] = 0.0f;
    out[n - 1] = 0.0f;
    for (int j = 1; j < kFadeLen; ++j) {
        const float w = 0.5f - 0.5f * std::cos(float(j) * 3.1415927f / 1440.0f);
        out[j] *= w;
        out[n - 1 - j] *= w;
    }
}

// ---- Choosing the window ----

// One attempt's window and what it decoded to.
struct Attempt {
    int64_t off = 0;         // window offset in the recording
    size_t got = 0;          // bytes read into the window
    int rate = 0;            // first decoded frame's rate, 0 when nothing decoded
    uint64_t sumSq = 0;      // the decoded samples' squares summed, in units of 2^-32
};

// Reads and decodes attempt a's window into pcm.
Attempt runAttempt(FrameDecoder& fd, std::vector<float>& pcm, const RecordingSource& src, int a, double p,
                   double dur, unsigned char* window) {
    Attempt at;
    at.off = windowOffset(a, p, dur, src.size);
    at.got = fillWindow(src, at.off, window);
    if (at.got >= kMinWindowBytes) at.rate = decodeWindow(fd, pcm, window, at.got, at.sumSq);
    return at;
}

// The loudest usable attempt so far; attempts are offered in window order, and on a tie the
// earlier one stays.
struct Choice {
    float rms = 0.0f;
    int rate = 0;
    int index = -1;
};

// Logs why an attempt is passed over, or returns its RMS when it is usable (negative if not).
float judgeAttempt(const wchar_t* name, int a, const Attempt& at, const std::vector<float>& pcm) {
    if (at.got < kMinWindowBytes) return -1.0f;
    if (at.rate < kMinRate || at.rate > kMaxRate) {
        dbgLog("dec %ls att %d off %lld hz %d SKIP\n", name, a, (long long)at.off, at.rate);
        return -1.0f;
    }
    if (pcm.size() < kMinAttemptSamples) {
        dbgLog("dec %ls att %d pcm %d SHORT\n", name, a, int(pcm.size()));
        return -1.0f;
    }
    return rmsOf(at.sumSq, pcm.size());
}

// ---- Finishing the clip ----

// The final log line; then the clip from the chosen samples into out, or false.
bool finishClip(const wchar_t* name, double pos, double dur, const Choice& best, const std::vector<float>& samples,
                std::vector<float>& out) {
    dbgLog("dec %ls pos %.1f dur %.1f bestRms %.4f bestN %d\n", name, pos, dur, double(best.rms),
           int(best.index >= 0 ? samples.size() : 0));
    if (best.index < 0 || samples.empty() || best.rms < kMinRms) return false;

    int64_t n = int64_t(samples.size()) * kSampleRateHz / best.rate;
    if (n > kMaxClip) n = kMaxClip;
    if (n < kMinClip) return false;
    out.resize(size_t(n));
    resampleTo48k(samples, best.rate, out.data(), n);
    normalise(out.data(), n, best.rms);
    fadeEnds(out.data(), n);
    return true;
}

// The station's recording, when it can be found and is long enough to decode (no log line
// otherwise).
bool openForDecode(const Station& station, RecordingSource& src) {
    return openRecording(station.file, src) && src.size >= kMinRecordingBytes;
}

}  // namespace

// ---- The two entry points ----

void prepareDecoderThread() {
    DecoderState& st = threadState();
    st.size();
    // Touch every page now, so that the first decode does not fault them in one by one.
    st.pcm.assign(kPcmCapacity, 0.0f);
    st.pcm.clear();
    st.best.assign(kPcmCapacity, 0.0f);
    st.best.clear();
    std::fill(st.window.begin(), st.window.end(), 0);
}

bool decodeStation(const Station& station, double pos, std::vector<float>& out) {
    static_assert(2 * kFadeLen <= kMinClip, "the two fades must not overlap");
    DecoderState& st = threadState();
    const wchar_t* name = station.file.c_str();

    RecordingSource src;
    if (!openForDecode(station, src)) return false;
    st.size();

    const double dur = station.dur;
    const double p = reducePosition(pos, dur);
    // An attempt decodes only the bytes it read, so what an earlier one left in the window or
    // in the best buffer is never used: the best buffer counts only once an attempt of this
    // call has been exchanged into it.
    std::vector<float>& best = st.best;
    Choice choice;
    for (int a = 0; a < kAttempts; ++a) {
        const Attempt at = runAttempt(st.fd, st.pcm, src, a, p, dur, st.window.data());
        const float rms = judgeAttempt(name, a, at, st.pcm);
        if (rms > choice.rms) {
            choice = {rms, at.rate, a};
            best.swap(st.pcm);
        }
    }
    src.file.reset();
    return finishClip(name, pos, dur, choice, best, out);
}

bool decodeStationOnTwoThreads(const Station& station, double pos, std::vector<float>& out) {
    const wchar_t* name = station.file.c_str();
    RecordingSource src;
    if (!openForDecode(station, src)) return false;

    const double dur = station.dur;
    const double p = reducePosition(pos, dur);
    // Every attempt keeps its own samples until all are judged in window order. The buffers
    // stay with the calling thread, so later calls reuse their pages.
    std::array<Attempt, kAttempts> attempts;
    thread_local std::array<std::vector<float>, kAttempts> buffers;
    std::array<std::vector<float>, kAttempts>& pcm = buffers;  // this thread's, for the helper too
    auto decodeEvery = [&](int first) {
        FrameDecoder fd;
        std::vector<unsigned char> window(static_cast<size_t>(kWindowBytes));  // zero-filled
        for (int a = first; a < kAttempts; a += 2) attempts[a] = runAttempt(fd, pcm[a], src, a, p, dur, window.data());
    };
    std::thread helper;
    try {
        helper = std::thread(decodeEvery, 1);
    } catch (const std::system_error&) {
        // No second thread to be had: the odd windows are decoded here too, after the even.
    }
    decodeEvery(0);
    if (helper.joinable())
        helper.join();
    else
        decodeEvery(1);
    src.file.reset();

    Choice choice;
    for (int a = 0; a < kAttempts; ++a) {
        const float rms = judgeAttempt(name, a, attempts[a], pcm[a]);
        if (rms > choice.rms) choice = {rms, attempts[a].rate, a};
    }
    static const std::vector<float> none;
    return finishClip(name, pos, dur, choice, choice.index >= 0 ? pcm[choice.index] : none, out);
}
