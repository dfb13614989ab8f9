// The ALSA backend where no device can be had: an ALSA configuration without a "default"
// output, and one whose default is a sound server that is not there. The open fails at its
// first step with the system's error, ALSA's complaints go to the error log (or nowhere,
// never to stderr), and the audio thread reports the code. And on ALSA's own null device,
// with ALSA's file plugin recording what the device took and ALSA's write limited by the
// test (a device that takes part of a release, or nothing): no released frame is lost.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "audio/device_output.h"
#include "platform/audio_device.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

struct NoDeviceCase {
    const char* name;
    const char* config;  // the configuration read after ALSA's own, "" for nothing at all
};

class AlsaNoDevice : public ::testing::TestWithParam<NoDeviceCase> {
protected:
    void SetUp() override {
        dir_ = tmp_.path();
        const NoDeviceCase& c = GetParam();
        std::string path = (dir_ / "asound.conf").string();
        std::ofstream(path) << c.config;
        if (*c.config) path = "/usr/share/alsa/alsa.conf:" + path;
        std::ofstream(dir_ / "client.conf") << "autospawn = no\n";
        env_.emplace_back("ALSA_CONFIG_PATH", path);
        env_.emplace_back("PULSE_SERVER", "unix:" + (dir_ / "no-server").string());
        env_.emplace_back("PULSE_CLIENTCONFIG", (dir_ / "client.conf").string());
        audioUseAlsa();
    }
    void TearDown() override {
        audioUseFake();
        env_.clear();
    }

    TempDir tmp_;  // removed when the fixture goes
    fs::path dir_;
    std::vector<ScopedEnv> env_;
};

TEST_P(AlsaNoDevice, OpeningFailsAtTheFirstStepAndPrintsNothing) {
    testing::internal::CaptureStderr();
    AudioStream* stream = nullptr;
    const int32_t code = audioStreamOpen(&stream);
    const std::string printed = testing::internal::GetCapturedStderr();

    EXPECT_EQ(stream, nullptr);
    EXPECT_LT(code, 0);
    EXPECT_EQ(audioCodeStep(code), AudioStepOpen) << std::hex << code;
    EXPECT_NE(audioCodeErrno(code), 0) << std::hex << code;
    EXPECT_EQ(printed, "");
}

TEST_P(AlsaNoDevice, TheAudioThreadReportsTheNegativeCodeAndEnds) {
    testing::internal::CaptureStderr();
    AudioCtx ctx;
    audioStart(ctx);
    ASSERT_TRUE(audioWaitReported(ctx, 10000));
    audioJoin(ctx);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_LT(audioResult(ctx), 0);
    EXPECT_EQ(audioCodeStep(audioResult(ctx)), AudioStepOpen);
    EXPECT_TRUE(ctx.ended.load());
    EXPECT_EQ(ctx.stream, nullptr);
    EXPECT_FALSE(audioDeviceTest());
}

INSTANTIATE_TEST_SUITE_P(
    Configs, AlsaNoDevice,
    ::testing::Values(NoDeviceCase{"empty_configuration", ""},
                      NoDeviceCase{"no_card", "pcm.!default { type hw card 31 }\n"},
                      NoDeviceCase{"no_sound_server", "pcm.!default { type pulse }\nctl.!default { type pulse }\n"}),
    [](const ::testing::TestParamInfo<NoDeviceCase>& info) { return std::string(info.param.name); });

// ALSA's write, with a limit the tests set: the device then takes at most g_deviceRoom more
// frames and answers -EAGAIN once they are used up, as a device with a full buffer does.
// Without a limit (-1) every call goes straight to ALSA.
long g_deviceRoom = -1;

// An underrun the tests inject into the null device, which never runs dry by itself: while
// it lasts, writes and the queued-frames query answer -EPIPE and the device's descriptors
// stay silent (a poll sleeps out its time-out), until the stream is prepared again.
std::atomic<bool> g_xrun{false};
std::atomic<int> g_polls{0};           // polls since the test began
std::atomic<uint64_t> g_framesTaken{0};  // frames the device took

}  // namespace

extern "C" int poll(struct pollfd* fds, nfds_t n, int timeoutMs) {
    using PollFn = int (*)(struct pollfd*, nfds_t, int);
    static const PollFn realPoll = reinterpret_cast<PollFn>(dlsym(RTLD_NEXT, "poll"));
    g_polls.fetch_add(1);
    if (g_xrun.load() && timeoutMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return 0;
    }
    return realPoll(fds, n, timeoutMs);
}

extern "C" long snd_pcm_avail(void* pcm) {
    using AvailFn = long (*)(void*);
    static const AvailFn alsaAvail = reinterpret_cast<AvailFn>(dlsym(RTLD_NEXT, "snd_pcm_avail"));
    return g_xrun.load() ? -EPIPE : alsaAvail(pcm);
}

extern "C" int snd_pcm_prepare(void* pcm) {
    using PrepareFn = int (*)(void*);
    static const PrepareFn alsaPrepare = reinterpret_cast<PrepareFn>(dlsym(RTLD_NEXT, "snd_pcm_prepare"));
    g_xrun.store(false);
    return alsaPrepare(pcm);
}

extern "C" long snd_pcm_writei(void* pcm, const void* buffer, unsigned long frames) {
    using WriteFn = long (*)(void*, const void*, unsigned long);
    static const WriteFn alsaWrite = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "snd_pcm_writei"));
    if (g_xrun.load()) return -EPIPE;
    if (g_deviceRoom < 0) {
        const long n = alsaWrite(pcm, buffer, frames);
        if (n > 0) g_framesTaken.fetch_add(uint64_t(n));
        return n;
    }
    if (g_deviceRoom == 0) return -EAGAIN;
    const long n = alsaWrite(pcm, buffer, std::min<unsigned long>(frames, (unsigned long)g_deviceRoom));
    if (n > 0) g_deviceRoom -= n;
    return n;
}

namespace {

// ALSA's null device behind its file plugin, which records every frame the device took.
class AlsaNullDevice : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tmp_.path();
        record_ = (dir_ / "taken.raw").string();
        std::ofstream(dir_ / "asound.conf") << "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \""
                                            << record_ << "\"\n  format \"raw\"\n}\n";
        env_.emplace_back("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" + (dir_ / "asound.conf").string());
        audioUseAlsa();
    }
    void TearDown() override {
        g_deviceRoom = -1;
        g_xrun.store(false);
        audioUseFake();
        env_.clear();
    }

    // Fills and releases `frames` frames, both channels counting on from the last release.
    int32_t release(AudioStream* s, uint32_t frames) {
        float* data = nullptr;
        const int32_t r = audioStreamGetSpace(s, frames, &data);
        if (r < 0) return r;
        for (uint32_t i = 0; i < frames; ++i) {
            data[2 * i] = next_;
            data[2 * i + 1] = next_;
            next_ += 1.0f;
        }
        return audioStreamRelease(s, frames);
    }

    uint32_t queued(AudioStream* s) {
        uint32_t q = 0;
        EXPECT_EQ(audioStreamPadding(s, &q), kAudioOk);
        return q;
    }

    // Every frame the device took (its left channel; the right must equal it).
    std::vector<float> taken() {
        std::ifstream in(record_, std::ios::binary);
        std::vector<float> all;
        for (float f; in.read(reinterpret_cast<char*>(&f), sizeof f);) all.push_back(f);
        std::vector<float> left;
        for (size_t i = 0; i + 1 < all.size(); i += 2) {
            EXPECT_EQ(all[i], all[i + 1]) << "frame " << i / 2;
            left.push_back(all[i]);
        }
        return left;
    }

    TempDir tmp_;  // removed when the fixture goes
    fs::path dir_;
    std::string record_;
    std::vector<ScopedEnv> env_;
    float next_ = 0.0f;  // the value of the next frame released
};

TEST_F(AlsaNullDevice, FramesTheDeviceCannotTakeNowGoOutFirstAtTheNextRelease) {
    AudioStream* s = nullptr;
    ASSERT_EQ(audioStreamOpen(&s), kAudioOk);
    uint32_t frames = 0;
    ASSERT_EQ(audioStreamBufferFrames(s, &frames), kAudioOk);
    ASSERT_GE(frames, 1000u);
    ASSERT_EQ(audioStreamStart(s), kAudioOk);
    ASSERT_EQ(queued(s), 0u) << "the null device plays everything at once";

    // A short write: the device takes 301 of 800 frames; the rest is held and counted queued,
    // and only the space behind it can be filled.
    g_deviceRoom = 301;
    ASSERT_EQ(release(s, 800), kAudioOk);
    EXPECT_EQ(queued(s), 800u - 301u);
    float* data = nullptr;
    EXPECT_EQ(audioStreamGetSpace(s, frames - 499 + 1, &data), audioCode(AudioStepGetSpace, EINVAL));
    // The device takes nothing at all (-EAGAIN): the held frames and the new ones wait.
    g_deviceRoom = 0;
    ASSERT_EQ(release(s, 200), kAudioOk);
    EXPECT_EQ(queued(s), 699u);
    // A device with room again takes the held frames first, then the new ones.
    g_deviceRoom = -1;
    ASSERT_EQ(release(s, frames - queued(s)), kAudioOk);
    EXPECT_EQ(queued(s), 0u);
    const size_t released = size_t(next_);
    audioStreamClose(s);  // the file plugin writes out what it still buffers

    const std::vector<float> got = taken();
    ASSERT_EQ(got.size(), released) << "every released frame reached the device";
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], float(i)) << "frame " << i << " lost or out of order";
}

// A ramp at the pace of a real device (each call takes as long as its frames play), with
// one call that stalls 300 ms longer, the last of a fill, after which the device reports an underrun and sends
// no wake-up. The polls and the frames the device had taken are noted when the stall ends.
struct PacedStall {
    float next = 0.0f;
    std::atomic<bool> arm{false};
    std::atomic<bool> stalled{false};
    int pollsAtStallEnd = 0;
    uint64_t takenAtStallEnd = 0;

    static void render(float* out, int frames, void* user) {
        auto* p = static_cast<PacedStall*>(user);
        std::this_thread::sleep_for(std::chrono::microseconds(int64_t(frames) * 1000000 / kAudioRateHz));
        // The last piece of a fill (the only one below 2048 frames) stalls, so that the
        // release follows the stall at once.
        if (frames < kAudioPieceFrames && p->arm.exchange(false)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            g_xrun.store(true);
            p->pollsAtStallEnd = g_polls.load();
            p->takenAtStallEnd = g_framesTaken.load();
            p->stalled.store(true);
        }
        for (int i = 0; i < frames; ++i) out[i] = p->next++;
    }
};

TEST_F(AlsaNullDevice, AfterARenderStallThatRanTheDeviceDryItIsRecoveredAndRefilledWithoutAWait) {
    PacedStall src;
    AudioCtx ctx;
    ctx.source = PacedStall::render;
    ctx.sourceUser = &src;
    g_polls.store(0);
    g_framesTaken.store(0);
    audioStart(ctx);
    ASSERT_TRUE(audioWaitReported(ctx, 10000));
    ASSERT_GE(audioResult(ctx), 0);
    while (g_framesTaken.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    src.arm.store(true);
    for (int i = 0; i < 2000 && !src.stalled.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(src.stalled.load());
    const auto stallEnd = std::chrono::steady_clock::now();
    uint64_t tookAfter = 0;
    int polls = 0;
    for (int i = 0; i < 4000; ++i) {
        polls = g_polls.load();
        tookAfter = g_framesTaken.load();
        if (tookAfter > src.takenAtStallEnd) break;
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stallEnd).count();
    audioJoin(ctx);

    ASSERT_GT(tookAfter, src.takenAtStallEnd) << "nothing reached the device after the stall";
    EXPECT_EQ(polls, src.pollsAtStallEnd) << "the thread waited for a wake-up the device never sent";
    EXPECT_EQ(ctx.underruns.load(), 1u);
    std::printf("frames reached the device %.1f ms after the stall ended\n", ms);
    // The frames rendered during the stall were held through the recovery: the device took
    // every frame released, in order.
    const std::vector<float> got = taken();
    ASSERT_GE(got.size(), size_t(g_framesTaken.load()));
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], float(i)) << "frame " << i << " lost or out of order";
}

}  // namespace
