// The dial and the sequence of dwells: dwell lengths, channel arithmetic, the station rule,
// sweep changes, start and stop, and the stations' playing positions.
#include <cmath>
#include <set>

#include "engine_support.h"

TEST(DwellLength, FollowsTheSweepWithA60MsFloor) {
    struct Case {
        float ms;
        int samples;
    };
    const Case cases[] = {{10, 2880},     {59.9f, 2880},  {60, 2880},     {200, 9600},
                          {400, 19200},   {500, 24000},   {2000, 96000},  {-5, 2880},
                          {NAN, 2880},    {1e30f, 1 << 30}, {INFINITY, 1 << 30}};
    for (const Case& c : cases) EXPECT_EQ(dwellSamples(c.ms), c.samples) << "sweep " << c.ms;
}

TEST_F(EngineTest, ChannelRisesOncePerDwellAndWrapsAfter205) {
    auto e = offlineEngine();  // no stations: the run starts on channel 0, all static
    e->sweepMs = 10.0f;        // behaves as 60 ms: 2880 samples per dwell
    e->running = 1;
    std::vector<float> out(2880);
    for (int dwell = 0; dwell < 2 * kChannels + 3; ++dwell) {
        e->render(out.data(), 2879);
        ASSERT_EQ(e->chan, dwell % kChannels) << "dwell " << dwell;
        ASSERT_EQ(e->chanLen, 2880);
        ASSERT_EQ(e->chanPos, 2879);
        e->render(out.data(), 1);  // the sample that ends the dwell begins the next one
        ASSERT_EQ(e->chan, (dwell + 1) % kChannels);
        ASSERT_EQ(e->chanPos, 0);
    }
}

TEST_F(EngineTest, BeginChannelReducesModulo206) {
    struct Case {
        int asked, chan;
        float mhz;
    };
    const Case cases[] = {{-1, 205, 108.0f}, {206, 0, 87.5f},  {-206, 0, 87.5f},
                          {-207, 205, 108.0f}, {412, 0, 87.5f}, {4, 4, 87.9f}};
    Engine e;
    for (const Case& c : cases) {
        e.beginChannel(c.asked);
        EXPECT_EQ(e.chan, c.chan) << c.asked;
        EXPECT_FLOAT_EQ(e.dialFreq.load(), c.mhz) << c.asked;
        EXPECT_EQ(e.phase, 0);
        EXPECT_EQ(e.chanPos, 0);
        EXPECT_EQ(e.chanLen, 9600);
    }
}

TEST_F(EngineTest, StationMatchesOnlyWithin0049MHz) {
    Engine e;
    setStations({87.9f});
    for (int c = 0; c < kChannels; ++c) EXPECT_EQ(e.stationAt(c), c == 4 ? 0 : -1) << c;
    setStations({87.95f});  // 0.05 MHz from channels 4 and 5
    for (int c = 0; c < kChannels; ++c) EXPECT_EQ(e.stationAt(c), -1) << c;
    setStations({88.0f, 88.02f, 88.1f});  // two on channel 5: the first one counts
    EXPECT_EQ(e.stationAt(5), 0);
    EXPECT_EQ(e.stationAt(6), 2);
}

TEST_F(EngineTest, OnlyTheFirstStationOfAChannelIsHeard) {
    setStations({88.0f, 88.02f});
    auto e = offlineEngine();
    e->refreshStations();
    std::vector<float> clip(4800, 0.5f);
    e->adoptClip(1, clip);  // the second station has a clip, the first one none
    e->beginChannel(5);
    EXPECT_EQ(e->cur, -1);
    EXPECT_EQ(e->uiStation.load(), -1);
}

TEST_F(EngineTest, SweepChangeMidDwellKeepsTheProportionDone) {
    auto e = offlineEngine();
    e->running = 1;
    renderSamples(*e, 4800);
    ASSERT_EQ(e->chanPos, 4800);
    ASSERT_EQ(e->chanLen, 9600);
    e->sweepMs = 400.0f;
    e->render(nullptr, 0);
    EXPECT_EQ(e->chanPos, 9600);
    EXPECT_EQ(e->chanLen, 19200);
    renderSamples(*e, 9599);
    ASSERT_EQ(e->chanPos, 19199);
    e->sweepMs = 60.0f;  // 19199 of 19200 scales to 2879.85: the last sample of the dwell
    e->render(nullptr, 0);
    EXPECT_EQ(e->chanLen, 2880);
    EXPECT_EQ(e->chanPos, 2879);
}

TEST_F(EngineTest, StopKeepsTheDialAndSilencesTheStation) {
    setStations({88.0f});
    auto e = offlineEngine();
    e->running = 1;
    renderSamples(*e, 2048);
    ASSERT_EQ(e->cur, 0);  // the only station, with its clip
    ASSERT_EQ(e->uiPhase.load(), 0);
    const double clock = e->clock;
    const double phase = e->clipPhase[0];
    const float mhz = e->dialFreq.load();

    e->running = 0;
    renderSamples(*e, 4096);
    EXPECT_EQ(e->phase, 3);
    EXPECT_EQ(e->cur, -1);
    EXPECT_EQ(e->uiStation.load(), -1);
    EXPECT_EQ(e->uiPhase.load(), 3);
    EXPECT_EQ(e->dialFreq.load(), mhz);
    EXPECT_EQ(e->chan, 5);
    EXPECT_EQ(e->clock, clock);  // time and the stations' offsets stand still
    EXPECT_EQ(e->clipPhase[0], phase);
    EXPECT_FALSE(e->clips[0].empty());  // clips are kept until the next start
}

TEST_F(EngineTest, RestartClearsClipsAndPicksANewStartStation) {
    std::vector<float> freqs;
    for (int i = 0; i < 30; ++i) freqs.push_back(88.0f + 0.6f * float(i));
    setStations(freqs);
    auto e = offlineEngine();
    std::set<int> starts;
    for (int run = 0; run < 8; ++run) {
        e->running = 1;
        e->render(nullptr, 0);  // the start: a station and the three channels after it
        const int start = e->stationAt(e->chan);
        ASSERT_GE(start, 0);
        EXPECT_EQ(e->cur, start);
        EXPECT_EQ(e->clock, 0.0);
        starts.insert(start);
        int withClip = 0;
        for (size_t i = 0; i < e->clips.size(); ++i) {
            if (e->clips[i].empty()) continue;
            ++withClip;
            EXPECT_EQ(e->ready[i], 1);
        }
        EXPECT_EQ(withClip, 1) << "only the start station: the next station is 6 channels away";
        renderSamples(*e, 9600 * 12);  // decode a few more stations on the way
        e->running = 0;
        e->render(nullptr, 0);
    }
    EXPECT_GT(starts.size(), 1u);
}

TEST_F(EngineTest, AllStartAttemptsFailingStartsInStaticOnTheLastStationTried) {
    setStations({88.0f, 95.0f});
    fake::fail(stationFile(0));
    fake::fail(stationFile(1));
    auto e = offlineEngine();
    e->running = 1;
    e->render(nullptr, 0);
    EXPECT_EQ(fake::calls().size(), size_t(kStartAttempts));  // failed stations are drawn again
    const int last = e->stationAt(e->chan);
    ASSERT_GE(last, 0) << "the dial is on the last station tried";
    EXPECT_EQ(fake::calls().back(), stationFile(last));
    EXPECT_EQ(e->failed[last], 1);
    EXPECT_EQ(e->cur, -1);
    EXPECT_EQ(e->phase, 0);
}

TEST_F(EngineTest, StationPositionRunsWithTheClockModuloItsLength) {
    setStations({88.0f, 90.0f});
    g_stations[0].offset = 590.0f;
    g_stations[1].offset = -10.0f;  // not made by the catalogue, but handled
    Engine e;
    e.clock = 15.0;
    EXPECT_DOUBLE_EQ(e.stationPos(0), 5.0);
    EXPECT_DOUBLE_EQ(e.stationPos(1), 5.0);
    e.clock = 0.0;
    EXPECT_DOUBLE_EQ(e.stationPos(1), 590.0);
}

TEST_F(EngineTest, ClipPhaseWrapsAtTheClipLength) {
    setStations({88.0f, 100.0f});
    auto e = offlineEngine();
    e->sweepMs = 2000.0f;  // one dwell lasts the whole test
    e->running = 1;
    e->render(nullptr, 0);
    e->beginChannel(60);  // away from both stations
    std::vector<float> clip(48000, 0.25f);
    e->adoptClip(1, clip);
    e->clipPhase[1] = 1.0;
    std::vector<float> out(24000);
    e->render(out.data(), 24000);  // 0.5 s in one call: 1.5 s into a 1 s clip
    EXPECT_EQ(e->clipPhase[1], 0.5);
}

TEST_F(EngineTest, DwellEndRecordsWhereTheClipStoppedAndTheStationResumesThere) {
    setStations({88.0f});
    fake::setClip(30000, 0.5f);
    auto e = offlineEngine();
    e->running = 1;
    e->render(nullptr, 0);
    ASSERT_EQ(e->cur, 0);
    const uint64_t first = e->clipPos;
    renderSamples(*e, 9599);
    EXPECT_EQ(e->clipPos, (first + 9599) % 30000);
    std::vector<float> one(1);
    e->render(one.data(), 1);  // the last sample of the dwell reads one more clip sample
    const uint64_t stopped = (first + 9600) % 30000;
    EXPECT_EQ(e->cur, -1);
    EXPECT_EQ(e->clipPhase[0], double(stopped) / 48000.0);
    e->beginChannel(5);
    EXPECT_EQ(e->cur, 0);
    // Back from seconds to samples by truncation: the same sample, or the one before it.
    EXPECT_LE(e->clipPos, stopped);
    EXPECT_GE(e->clipPos + 1, stopped);
}

TEST_F(EngineTest, AdoptedClipIsSwappedInAndStartsAtARandomPointWithinIt) {
    setStations({88.0f});
    Engine e;
    e.refreshStations();
    std::set<double> phases;
    std::vector<float> clip(96000, 0.1f);
    for (int n = 0; n < 2000; ++n) {
        const float* data = clip.data();
        const float* previous = e.clips[0].data();
        e.adoptClip(0, clip);
        ASSERT_EQ(e.clips[0].data(), data);  // moved in, not copied
        ASSERT_EQ(clip.data(), previous);     // the caller gets the previous clip
        if (clip.empty()) clip.assign(96000, 0.1f);
        ASSERT_GE(e.clipPhase[0], 0.0);
        ASSERT_LT(e.clipPhase[0], 2.0);
        phases.insert(e.clipPhase[0]);
        ASSERT_EQ(e.ready[0], 1);
    }
    EXPECT_GT(phases.size(), 1900u);
}

TEST_F(EngineTest, TuningFactorGrowsWithTheDistanceToTheNearestStation) {
    Engine e;
    EXPECT_EQ(e.tuningFactor(), 1.0f) << "stopped";
    e.beginChannel(0);
    EXPECT_EQ(e.tuningFactor(), 1.3f) << "no stations";
    setStations({88.0f, 100.0f});
    struct Case {
        int chan;
        float f;
    };
    const Case cases[] = {{5, 0.6f}, {6, 0.1f * 0.9f + 0.6f}, {4, 0.1f * 0.9f + 0.6f}, {0, 0.5f * 0.9f + 0.6f},
                          {13, 1.3f}, {60, 1.3f}, {125, 0.6f}};
    for (const Case& c : cases) {
        e.beginChannel(c.chan);
        EXPECT_NEAR(e.tuningFactor(), c.f, 2e-6f) << "channel " << c.chan;
    }
}
