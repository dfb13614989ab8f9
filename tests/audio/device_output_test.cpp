// The audio thread against the fake device: the fill of the free space in pieces, the stop
// protocol, underruns and lost devices, open failures and the device test.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/device_output.h"
#include "engine/engine.h"
#include "platform/audio_fake.h"

namespace {

constexpr int kWaitMs = 5000;  // bound on any wait for the audio thread; never reached

// A render source that counts: sample k of the whole run is k, so order and gaps show in
// what reaches the device. Exact in float up to 2^24 samples.
struct Ramp {
    std::mutex lock;
    std::vector<int> calls;  // frames of every render call, in order
    float next = 0.0f;

    static void render(float* out, int frames, void* user) {
        auto* r = static_cast<Ramp*>(user);
        std::lock_guard<std::mutex> hold(r->lock);
        r->calls.push_back(frames);
        for (int i = 0; i < frames; ++i) out[i] = r->next++;
    }
    std::vector<int> callsNow() {
        std::lock_guard<std::mutex> hold(lock);
        return calls;
    }
};

class DeviceOutput : public ::testing::Test {
protected:
    void SetUp() override {
        audioUseFake();
        fakeAudioReset();
    }
    void TearDown() override { audioJoin(ctx); }

    // Starts the thread on the ramp; asserts that it opened.
    void serve(const FakeAudioSetup& setup = {}) {
        fakeAudioReset(setup);
        ctx.source = Ramp::render;
        ctx.sourceUser = &ramp;
        audioStart(ctx);
        ASSERT_TRUE(audioWaitReported(ctx, kWaitMs));
        ASSERT_GE(audioResult(ctx), 0);
    }
    static bool waitReleases(size_t n) {
        return fakeAudioWaitUntil([n](const FakeAudioRecord& r) { return r.releases.size() >= n; }, kWaitMs);
    }
    static bool waitClosed() {
        return fakeAudioWaitUntil([](const FakeAudioRecord& r) { return r.closes >= 1; }, kWaitMs);
    }

    AudioCtx ctx;
    Ramp ramp;
};

// Every written frame j (from `from`) carries sample `from + j` on both channels.
void expectRampFrames(const std::vector<float>& written, size_t from, size_t count) {
    ASSERT_GE(written.size(), (from + count) * 2);
    for (size_t j = from; j < from + count; ++j) {
        ASSERT_EQ(written[2 * j], float(j)) << "left of frame " << j;
        ASSERT_EQ(written[2 * j + 1], written[2 * j]) << "right of frame " << j;
    }
}

// ---- The fill ----

struct PieceCase {
    uint32_t freeFrames;
    std::vector<int> pieces;
};

class FillPieces : public DeviceOutput, public ::testing::WithParamInterface<PieceCase> {};

TEST_P(FillPieces, FreeSpaceIsRenderedInOrderInPiecesOfAtMost2048) {
    const PieceCase& c = GetParam();
    FakeAudioSetup setup;
    setup.bufferFrames = c.freeFrames;  // an empty buffer: all of it is free
    serve(setup);
    ASSERT_TRUE(waitReleases(1));
    audioJoin(ctx);

    EXPECT_EQ(ramp.callsNow(), c.pieces);
    const FakeAudioRecord r = fakeAudioRecord();
    EXPECT_EQ(r.releases, std::vector<uint32_t>{c.freeFrames});
    EXPECT_FALSE(r.overfilled);
    expectRampFrames(r.written, 0, c.freeFrames);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FillPieces,
                         ::testing::Values(PieceCase{9600, {2048, 2048, 2048, 2048, 1408}},
                                           PieceCase{1, {1}}, PieceCase{2048, {2048}},
                                           PieceCase{2049, {2048, 1}}));

TEST_F(DeviceOutput, LaterWakeupsFillWhatWasPlayedAndContinueWithoutAGap) {
    serve();
    ASSERT_TRUE(waitReleases(1));
    fakeAudioPlay(3000);
    ASSERT_TRUE(waitReleases(2));
    fakeAudioPlay(9600);
    ASSERT_TRUE(waitReleases(3));
    audioJoin(ctx);

    EXPECT_EQ(ramp.callsNow(), (std::vector<int>{2048, 2048, 2048, 2048, 1408, 2048, 952, 2048, 2048,
                                                  2048, 2048, 1408}));
    const FakeAudioRecord r = fakeAudioRecord();
    EXPECT_EQ(r.releases, (std::vector<uint32_t>{9600, 3000, 9600}));
    EXPECT_FALSE(r.overfilled);
    expectRampFrames(r.written, 0, 9600 + 3000 + 9600);
    EXPECT_EQ(ctx.framesWritten.load(), 9600u + 3000u + 9600u);
}

TEST_F(DeviceOutput, AFullBufferRendersNothing) {
    fakeAudioReset();
    fakeAudioSetQueued(9600);
    ctx.source = Ramp::render;
    ctx.sourceUser = &ramp;
    audioStart(ctx);
    ASSERT_TRUE(fakeAudioWaitUntil([](const FakeAudioRecord& r) { return r.paddingQueries >= 1; }, kWaitMs));
    fakeAudioSignal();
    ASSERT_TRUE(fakeAudioWaitUntil([](const FakeAudioRecord& r) { return r.paddingQueries >= 2; }, kWaitMs));
    audioJoin(ctx);

    EXPECT_TRUE(ramp.callsNow().empty());
    EXPECT_TRUE(fakeAudioRecord().releases.empty());
}

TEST_F(DeviceOutput, ServesTheEngineWhenNoOtherSourceIsSet) {
    fakeAudioReset();
    const int before = g_engine.scopePos.load();
    audioStart(g_ac);
    ASSERT_TRUE(waitReleases(1));
    audioJoin(g_ac);

    // The engine's scope holds its newest output: the last samples written, on both channels.
    const FakeAudioRecord r = fakeAudioRecord();
    ASSERT_EQ(r.written.size(), 9600u * 2);
    EXPECT_EQ(g_engine.scopePos.load() - before, 9600);
    const int pos = g_engine.scopePos.load();
    for (int k = 1; k <= kScopeSize; ++k) {
        const float scope = g_engine.scope[(pos - k) & (kScopeSize - 1)].load();
        ASSERT_EQ(r.written[2 * (9600 - k)], scope) << k;
        ASSERT_EQ(r.written[2 * (9600 - k) + 1], scope) << k;
    }
}

// ---- Stopping ----

TEST_F(DeviceOutput, StopRequestWakesTheWaitingThreadAtOnce) {
    serve();
    ASSERT_TRUE(waitReleases(1));  // the buffer is full; the device stays silent from now on
    ASSERT_TRUE(fakeAudioWaitUntil([](const FakeAudioRecord& r) { return r.inWait; }, kWaitMs));
    audioStopRequest(ctx);
    audioJoin(ctx);

    const FakeAudioRecord r = fakeAudioRecord();
    EXPECT_EQ(r.waitsByEvent, 1);  // the last wait ended on the stop request, not on its time-out
    EXPECT_EQ(r.closes, 1);
    EXPECT_EQ(r.stops, 1);
    EXPECT_TRUE(ctx.ended.load());
    EXPECT_EQ(ctx.stream, nullptr);
    EXPECT_EQ(ctx.bufferEvent, nullptr);
}

TEST_F(DeviceOutput, WithoutTheEventASilentDeviceIsLeftAfterOneWaitOf500Ms) {
    serve();
    ASSERT_TRUE(waitReleases(1));
    ASSERT_TRUE(fakeAudioWaitUntil([](const FakeAudioRecord& r) { return r.inWait; }, kWaitMs));
    const int timedOutBefore = fakeAudioRecord().waitsTimedOut;
    ctx.active.store(false);  // the flag alone: nothing wakes the thread
    ASSERT_TRUE(waitClosed());
    audioJoin(ctx);

    const FakeAudioRecord r = fakeAudioRecord();
    EXPECT_EQ(r.lastWaitTimeoutMs, 500);
    EXPECT_EQ(r.waitsTimedOut, timedOutBefore + 1);
    EXPECT_EQ(r.waitsByEvent, 0);
}

TEST_F(DeviceOutput, DestroyingAServingContextStopsAndJoinsItsThread) {
    fakeAudioReset();
    auto owned = std::make_unique<AudioCtx>();
    owned->source = Ramp::render;
    owned->sourceUser = &ramp;
    audioStart(*owned);
    ASSERT_TRUE(waitReleases(1));
    owned.reset();  // a joinable std::thread destroyed here would terminate the process

    const FakeAudioRecord r = fakeAudioRecord();
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.closes, 1);
}

// ---- Underruns and lost devices ----

struct FaultCase {
    const char* name;
    AudioStep step;
    int err;
    bool recoverable;
    bool recoverFails = false;  // the recovery itself fails: the device is gone
    bool lose = false;          // every call fails from now on (fakeAudioLose)
};

class DeviceFaults : public DeviceOutput, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DeviceFaults, UnderrunsAreRecoveredAndLostDevicesEndTheThreadSilently) {
    const FaultCase& c = GetParam();
    serve();
    ASSERT_TRUE(waitReleases(1));
    const size_t callsBefore = ramp.callsNow().size();
    if (c.lose) {
        fakeAudioLose(c.err);
    } else {
        fakeAudioFailNext(c.step, c.err);
        if (c.recoverFails) fakeAudioFailNext(AudioStepRecover, ENODEV);
        // The space is asked for only when there is room; the other steps need only a wake-up.
        if (c.step == AudioStepGetSpace)
            fakeAudioPlay(9600);
        else
            fakeAudioSignal();
    }

    if (c.recoverable) {
        // Recovered: the queue was dropped, so the whole buffer is filled again, and the
        // thread goes on serving after that.
        ASSERT_TRUE(waitReleases(2));
        fakeAudioPlay(100);
        ASSERT_TRUE(waitReleases(3));
        EXPECT_FALSE(ctx.ended.load());
        audioJoin(ctx);
        const FakeAudioRecord r = fakeAudioRecord();
        EXPECT_EQ(r.recovers, 1);
        EXPECT_EQ(ctx.underruns.load(), 1u);
        EXPECT_EQ(r.releases, (std::vector<uint32_t>{9600, 9600, 100}));
        expectRampFrames(r.written, 0, 9600 + 9600 + 100);
    } else {
        ASSERT_TRUE(waitClosed());
        audioJoin(ctx);
        EXPECT_TRUE(ctx.ended.load());
        EXPECT_EQ(ramp.callsNow().size(), callsBefore);  // nothing rendered after the fault
        EXPECT_EQ(ctx.underruns.load(), 0u);
        EXPECT_EQ(audioResult(ctx), kAudioOk);  // nothing is reported: the open went well
        EXPECT_EQ(ctx.stream, nullptr);
        EXPECT_EQ(ctx.bufferEvent, nullptr);
        EXPECT_EQ(fakeAudioRecord().closes, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DeviceFaults,
    ::testing::Values(FaultCase{"underrun_at_padding", AudioStepPadding, EPIPE, true},
                      FaultCase{"underrun_at_space", AudioStepGetSpace, EPIPE, true},
                      FaultCase{"suspend_resumed", AudioStepPadding, ESTRPIPE, true},
                      FaultCase{"suspend_not_resumed", AudioStepPadding, ESTRPIPE, false, true},
                      FaultCase{"unplugged", AudioStepPadding, ENODEV, false, false, true},
                      FaultCase{"server_gone", AudioStepPadding, EBADFD, false, false, true},
                      FaultCase{"padding_io_error", AudioStepPadding, EIO, false},
                      FaultCase{"space_refused", AudioStepGetSpace, ENODEV, false},
                      FaultCase{"wait_failed", AudioStepWait, EBADF, false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// ---- A render call that stalls ----

// The ramp, with one render call that stalls: the first call after `arm` is set sleeps
// stallMs, lets the device do `duringStall` meanwhile, and marks the fake's call log when
// it returns.
struct StallingRamp {
    Ramp ramp;
    std::atomic<bool> arm{false};
    int stallMs = 300;
    void (*duringStall)() = nullptr;

    static void render(float* out, int frames, void* user) {
        auto* s = static_cast<StallingRamp*>(user);
        if (s->arm.exchange(false)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(s->stallMs));
            s->duringStall();
            fakeAudioMark();
        }
        Ramp::render(out, frames, &s->ramp);
    }
};

struct StallCase {
    const char* name;
    void (*duringStall)();  // what the device does while the render stalls; it never signals
};

class RenderStall : public DeviceOutput, public ::testing::WithParamInterface<StallCase> {};

// A device whose buffer ran dry during a 300 ms render sends no wake-up. The thread must not
// wait for one: from the end of the stall to the next frames the device takes, it only asks
// the stream how it stands, recovers it if it stopped, and fills it.
TEST_P(RenderStall, AfterAStallLongerThanTheBufferTheDeviceIsRefilledWithoutWaiting) {
    StallingRamp src;
    src.duringStall = GetParam().duringStall;
    fakeAudioReset();
    ctx.source = StallingRamp::render;
    ctx.sourceUser = &src;
    audioStart(ctx);
    ASSERT_TRUE(audioWaitReported(ctx, kWaitMs));
    ASSERT_TRUE(waitReleases(1));
    // The device plays 40 ms and asks for more; filling them stalls for 300 ms, longer than
    // the 160 ms still queued.
    src.arm.store(true);
    fakeAudioPlay(1920);
    ASSERT_TRUE(fakeAudioWaitUntil(
        [](const FakeAudioRecord& r) {
            const auto mark = std::find(r.calls.begin(), r.calls.end(), "mark");
            return r.calls.end() - mark > 2 && std::find(mark + 2, r.calls.end(), "release") != r.calls.end();
        },
        kWaitMs))
        << "no frames reached the device after the stall";
    audioJoin(ctx);

    const FakeAudioRecord r = fakeAudioRecord();
    const auto mark = std::find(r.calls.begin(), r.calls.end(), "mark");
    ASSERT_NE(mark, r.calls.end());
    // The stalled fill's own release comes first; then, up to the release that the device
    // takes, not one wait.
    ASSERT_NE(mark + 1, r.calls.end());
    EXPECT_TRUE(mark[1] == "release" || mark[1] == "release!") << mark[1];
    const auto taken = std::find(mark + 2, r.calls.end(), "release");
    ASSERT_NE(taken, r.calls.end());
    std::string between;
    for (auto it = mark + 2; it != taken; ++it) between += *it + " ";
    EXPECT_EQ(std::count(mark + 2, taken, "wait"), 0) << "calls before the refill: " << between;
    // What the refill wrote continues the ramp: it was rendered after the stalled fill.
    const size_t frames = r.written.size() / 2;
    ASSERT_GE(frames, 1u);
    for (size_t j = 1; j < frames; ++j)
        ASSERT_GT(r.written[2 * j], r.written[2 * (j - 1)]) << "frame " << j << " out of order";
}

INSTANTIATE_TEST_SUITE_P(
    Devices, RenderStall,
    ::testing::Values(StallCase{"ran_dry_in_an_underrun", [] { fakeAudioRunDry(); }},
                      StallCase{"played_out_without_a_word", [] { fakeAudioSetQueued(0); }}),
    [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });

// ---- Opening ----

struct OpenCase {
    const char* name;
    AudioStep step;
    int err;
    int opens;  // streams the fake handed out before the failure
};

class OpenFailures : public DeviceOutput, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenFailures, TheThreadReportsTheStepsCodeFreesWhatItGotAndEnds) {
    const OpenCase& c = GetParam();
    fakeAudioReset();
    fakeAudioFailNext(c.step, c.err);
    ctx.source = Ramp::render;
    ctx.sourceUser = &ramp;
    audioStart(ctx);
    ASSERT_TRUE(audioWaitReported(ctx, kWaitMs));
    audioJoin(ctx);

    EXPECT_EQ(audioResult(ctx), audioCode(c.step, c.err));
    EXPECT_LT(audioResult(ctx), 0);
    EXPECT_TRUE(ramp.callsNow().empty());
    const FakeAudioRecord r = fakeAudioRecord();
    EXPECT_EQ(r.opens, c.opens);
    EXPECT_EQ(r.closes, c.opens);
    EXPECT_EQ(r.starts, 0);
    EXPECT_EQ(ctx.stream, nullptr);
    EXPECT_EQ(ctx.bufferEvent, nullptr);
    audioClose(ctx);  // a second close of a closed context does nothing
    EXPECT_EQ(fakeAudioRecord().closes, c.opens);
}

INSTANTIATE_TEST_SUITE_P(Steps, OpenFailures,
                         ::testing::Values(OpenCase{"no_device", AudioStepOpen, ENOENT, 0},
                                           OpenCase{"event_refused", AudioStepSetEvent, EINVAL, 1},
                                           OpenCase{"no_buffer_size", AudioStepBufferSize, EIO, 1}),
                         [](const ::testing::TestParamInfo<OpenCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(AudioCodes, TheWindowsMessageNamesStepAndErrorInItsDigits) {
    char text[64];
    std::snprintf(text, sizeof text, "Audio device init failed (0x%08X).",
                  unsigned(audioCode(AudioStepOpen, ENOENT)));
    EXPECT_STREQ(text, "Audio device init failed (0xA0010002).");
    std::snprintf(text, sizeof text, "Audio device init failed (0x%08X).", unsigned(kAudioFail));
    EXPECT_STREQ(text, "Audio device init failed (0xA0000000).");
    for (int step : {int(AudioStepOpen), int(AudioStepRate), int(AudioStepRecover)}) {
        const int32_t code = audioCode(step, EHOSTDOWN);
        EXPECT_LT(code, 0);
        EXPECT_EQ(audioCodeStep(code), step);
        EXPECT_EQ(audioCodeErrno(code), EHOSTDOWN);
    }
    EXPECT_TRUE(audioCodeRecoverable(audioCode(AudioStepPadding, EPIPE)));
    EXPECT_TRUE(audioCodeRecoverable(audioCode(AudioStepGetSpace, ESTRPIPE)));
    EXPECT_FALSE(audioCodeRecoverable(audioCode(AudioStepPadding, ENODEV)));
    EXPECT_FALSE(audioCodeRecoverable(kAudioOk));
}

TEST_F(DeviceOutput, DeviceTestOpensStartsStopsAndCloses) {
    fakeAudioReset();
    EXPECT_TRUE(audioDeviceTest());
    const FakeAudioRecord r = fakeAudioRecord();
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.starts, 1);
    EXPECT_EQ(r.stops, 1);
    EXPECT_EQ(r.closes, 1);
    EXPECT_TRUE(r.written.empty());
}

TEST_F(DeviceOutput, DeviceTestFailsWhenTheDeviceCannotBeOpened) {
    fakeAudioReset();
    fakeAudioFailNext(AudioStepOpen, ENOENT);
    EXPECT_FALSE(audioDeviceTest());
    EXPECT_EQ(fakeAudioRecord().starts, 0);
}

}  // namespace
