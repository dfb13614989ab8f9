// The ALSA backend where no device can be had: an ALSA configuration without a "default"
// output, and one whose default is a sound server that is not there. The open fails at its
// first step with the system's error, ALSA's complaints go to the error log (or nowhere,
// never to stderr), and the audio thread reports the code. And on ALSA's own null device,
// with ALSA's file plugin recording what the device took and ALSA's write limited by the
// test (a device that takes part of a release, or nothing): no released frame is lost.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <string>
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

}  // namespace

extern "C" long snd_pcm_writei(void* pcm, const void* buffer, unsigned long frames) {
    using WriteFn = long (*)(void*, const void*, unsigned long);
    static const WriteFn alsaWrite = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "snd_pcm_writei"));
    if (g_deviceRoom < 0) return alsaWrite(pcm, buffer, frames);
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

}  // namespace
