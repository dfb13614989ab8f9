// The ALSA backend where no device can be had: an ALSA configuration without a "default"
// output, and one whose default is a sound server that is not there. The open fails at its
// first step with the system's error, ALSA's complaints go to the error log (or nowhere,
// never to stderr), and the audio thread reports the code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "audio/device_output.h"

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

std::vector<std::string> g_logged;
void collect(const char* line) { g_logged.emplace_back(line); }

struct NoDeviceCase {
    const char* name;
    const char* config;  // the configuration read after ALSA's own, "" for nothing at all
};

class AlsaNoDevice : public ::testing::TestWithParam<NoDeviceCase> {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kestrum_alsa_" + std::to_string(getpid()));
        fs::create_directories(dir_);
        const NoDeviceCase& c = GetParam();
        std::string path = (dir_ / "asound.conf").string();
        std::ofstream(path) << c.config;
        if (*c.config) path = "/usr/share/alsa/alsa.conf:" + path;
        std::ofstream(dir_ / "client.conf") << "autospawn = no\n";
        env_.emplace_back("ALSA_CONFIG_PATH", path);
        env_.emplace_back("PULSE_SERVER", "unix:" + (dir_ / "no-server").string());
        env_.emplace_back("PULSE_CLIENTCONFIG", (dir_ / "client.conf").string());
        audioUseAlsa();
        g_logged.clear();
    }
    void TearDown() override {
        audioSetErrorLog(nullptr);
        audioUseFake();
        env_.clear();
        fs::remove_all(dir_);
    }

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

TEST_P(AlsaNoDevice, AlsasOwnMessagesGoToTheErrorLog) {
    audioSetErrorLog(collect);
    AudioStream* stream = nullptr;
    EXPECT_LT(audioStreamOpen(&stream), 0);
    ASSERT_FALSE(g_logged.empty());
    for (const std::string& line : g_logged) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
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

}  // namespace
