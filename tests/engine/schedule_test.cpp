// Clip scheduling and the decode worker: the queue, the order of requests, when results are
// adopted, offline decoding in place, the worker's stop, and late results after a restart.
#include <atomic>
#include <cmath>
#include <thread>

#include "engine_support.h"

namespace {

// Stations on channels 10, 11, 12 and 13 (indices 0..3).
void fourStationsFromChannel10() { setStations({88.5f, 88.6f, 88.7f, 88.8f}); }

bool settled(DecodeWorker& w) { return w.resultReady(); }

// The engine's side of a request, without an engine.
void post(DecodeWorker& w, int i) { w.request(i, 0.0); }

// A result as the worker leaves it, for tests that play the worker's part.
void answer(DecodeWorker& w, int station, size_t samples) {
    std::vector<float> clip(samples, 0.9f);
    w.finish(station, samples != 0, clip);
}

using Files = std::vector<std::wstring>;

}  // namespace

TEST_F(EngineTest, QueueDecodeIgnoresUnknownReadyFailedAndQueuedStations) {
    fourStationsFromChannel10();
    Engine e;
    e.queueDecode(0);  // before the first run there is no per-station state
    EXPECT_TRUE(e.pending.empty());
    e.refreshStations();
    e.ready[0] = 1;
    e.failed[1] = 1;
    for (int i : {-1, 4, 99, 0, 1, 2, 2}) e.queueDecode(i);
    EXPECT_EQ(e.pending, std::vector<int>{2});
    EXPECT_EQ(e.queued, (std::vector<uint8_t>{0, 0, 1, 0}));
}

TEST_F(EngineTest, RequestsGoFarthestFirstAndALaterDwellsStationBeforeOlderOnes) {
    fourStationsFromChannel10();
    DecodeWorker w;
    auto e = liveEngine(w);
    w.start();
    e->refreshStations();

    e->beginChannel(9);  // queues channels 10, 11, 12
    ASSERT_TRUE(waitUntil([&] { return settled(w); }));
    EXPECT_EQ(fake::calls(), Files{stationFile(2)}) << "one request per dwell, the +3 first";
    EXPECT_EQ(e->pending, (std::vector<int>{0, 1}));

    e->advance();  // channel 10: collects channel 12's clip, queues 13 and asks for it first
    EXPECT_EQ(e->ready[2], 1);
    ASSERT_TRUE(waitUntil([&] { return settled(w); }));
    e->advance();  // channel 11
    ASSERT_TRUE(waitUntil([&] { return settled(w); }));
    e->advance();  // channel 12: its clip is ready and plays
    EXPECT_EQ(e->cur, 2);
    ASSERT_TRUE(waitUntil([&] { return settled(w); }));
    e->advance();

    EXPECT_EQ(fake::calls(), (Files{stationFile(2), stationFile(3), stationFile(1), stationFile(0)}));
    EXPECT_EQ(e->ready, (std::vector<uint8_t>{1, 1, 1, 1}));
    EXPECT_EQ(e->queued, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_TRUE(e->pending.empty());
    EXPECT_EQ(e->inFlight, -1);
    w.stop();
}

TEST_F(EngineTest, AClipFinishedDuringADwellIsAdoptedAtTheNextDwellStart) {
    setStations({88.5f});  // channel 10
    DecodeWorker w;
    auto e = liveEngine(w);
    w.start();
    e->refreshStations();
    e->started = true;  // a run in progress
    e->running = 1;
    e->beginChannel(8);  // asks for channel 10's station
    ASSERT_TRUE(waitUntil([&] { return w.snapshot().state == kDecodeDone; }));

    renderSamples(*e, 9599);
    EXPECT_EQ(e->ready[0], 0) << "finished mid-dwell, waits for the next dwell";
    EXPECT_EQ(w.snapshot().state, kDecodeDone);
    renderSamples(*e, 1);  // the dwell on channel 9 begins and collects it
    EXPECT_EQ(e->chan, 9);
    EXPECT_EQ(e->ready[0], 1);
    EXPECT_EQ(w.snapshot().state, kDecodeIdle);
    renderSamples(*e, 9600);
    EXPECT_EQ(e->chan, 10);
    EXPECT_EQ(e->cur, 0);
    w.stop();
}

TEST_F(EngineTest, AClipCollectedAtTheStartOfItsOwnDwellIsHeardNextTime) {
    setStations({88.5f});
    DecodeWorker w;
    auto e = liveEngine(w);
    w.start();
    e->refreshStations();
    e->beginChannel(9);
    ASSERT_TRUE(waitUntil([&] { return settled(w); }));
    e->advance();  // channel 10: the station is chosen before the hand-over is polled
    EXPECT_EQ(e->ready[0], 1);
    EXPECT_EQ(e->cur, -1);
    e->beginChannel(10);
    EXPECT_EQ(e->cur, 0);
    w.stop();
}

TEST_F(EngineTest, AFailedStationIsNeverAskedForAgainInTheRun) {
    setStations({88.5f});
    fake::fail(stationFile(0));
    DecodeWorker w;
    auto e = liveEngine(w);
    w.start();
    e->refreshStations();
    e->beginChannel(7);  // queues channel 10 only
    ASSERT_TRUE(waitUntil([&] { return settled(w); }));
    e->advance();
    EXPECT_EQ(e->failed[0], 1);
    EXPECT_EQ(e->queued[0], 0);
    EXPECT_EQ(e->inFlight, -1);
    e->beginChannel(7);
    e->beginChannel(10);
    EXPECT_EQ(e->cur, -1) << "plays as static";
    size_t asked = 0;
    for (const auto& f : fake::calls()) asked += f == stationFile(0);
    EXPECT_EQ(asked, 1u);
    w.stop();
}

TEST_F(EngineTest, OfflineDecodingServesTheWholeQueueInPlace) {
    fourStationsFromChannel10();
    fake::fail(stationFile(1));
    DecodeWorker untouched;
    auto e = offlineEngine();
    e->dec = &untouched;
    e->refreshStations();
    e->beginChannel(9);
    EXPECT_EQ(fake::calls(), (Files{stationFile(2), stationFile(1), stationFile(0)}));
    EXPECT_EQ(e->ready, (std::vector<uint8_t>{1, 0, 1, 0}));
    EXPECT_EQ(e->failed, (std::vector<uint8_t>{0, 1, 0, 0}));
    EXPECT_EQ(e->queued, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_TRUE(e->pending.empty());
    e->advance();  // a working station is always ready when the dial reaches it
    EXPECT_EQ(e->cur, 0);
    EXPECT_EQ(e->ready[3], 1);
    EXPECT_EQ(untouched.snapshot().state, kDecodeIdle);
    EXPECT_EQ(untouched.snapshot().request, -1);
}

TEST_F(EngineTest, WorkerStopWaitsForTheDecodeInProgressThenTheThreadEnds) {
    setStations({88.0f});
    fake::hold(stationFile(0));
    DecodeWorker w;
    w.decode = fake::decode;
    w.start();
    post(w, 0);
    ASSERT_TRUE(fake::waitHeld(stationFile(0)));

    std::atomic<bool> stopped{false};
    std::thread closer([&] {
        w.stop();
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(stopped.load()) << "stop returned while the worker was decoding";
    fake::release();
    closer.join();
    EXPECT_FALSE(w.running());
    EXPECT_EQ(w.snapshot().state, kDecodeDone);
    EXPECT_EQ(w.snapshot().resultStation, 0);
    EXPECT_EQ(w.snapshot().resultSamples, 48000u);
}

TEST_F(EngineTest, WorkerServesARequestPostedBeforeQuitAndFailsUnknownStations) {
    setStations({88.0f});
    {
        DecodeWorker w;
        w.decode = fake::decode;
        post(w, 0);
        w.start();
        w.stop();
        EXPECT_EQ(fake::calls(), Files{stationFile(0)});
        EXPECT_EQ(w.snapshot().state, kDecodeDone);

        w.start();  // a stopped worker can be started again
        post(w, 7);  // station 0's result still waits, so wait for station 7's own
        ASSERT_TRUE(waitUntil([&] { return w.snapshot().resultStation == 7; }));
        EXPECT_EQ(w.snapshot().state, kDecodeFailed);
        EXPECT_EQ(w.snapshot().resultStation, 7);
        EXPECT_EQ(w.snapshot().resultSamples, 0u) << "the uncollected clip of station 0 was dropped";
        EXPECT_EQ(fake::calls().size(), 1u);
        w.start();  // already running: nothing happens
    }  // destroyed while running: stopped and joined, no terminate
    SUCCEED();
}

// A request of an earlier run can still be decoding when the scanner restarts. Its failure
// must mark its own station, not the one the new run has in flight.
TEST_F(EngineTest, ALateFailureFromAnEarlierRunMarksItsOwnStation) {
    fourStationsFromChannel10();
    fake::fail(stationFile(2));
    fake::hold(stationFile(2));
    fake::hold(stationFile(3));
    DecodeWorker w;
    auto e = liveEngine(w);
    w.start();
    e->refreshStations();
    e->beginChannel(9);  // asks for station 2, whose decode is held
    ASSERT_TRUE(fake::waitHeld(stationFile(2)));

    e->refreshStations();  // the next run forgets its in-flight request
    e->beginChannel(10);   // and asks for station 3
    EXPECT_EQ(e->inFlight, 3);
    fake::release(stationFile(2));
    ASSERT_TRUE(fake::waitHeld(stationFile(3)));  // station 2 has failed, 3 is decoding
    ASSERT_EQ(w.snapshot().state, kDecodeFailed);

    e->advance();
    EXPECT_EQ(e->failed[2], 1);
    EXPECT_EQ(e->failed[3], 0);
    EXPECT_EQ(e->inFlight, 3) << "station 3 is still in flight";
    fake::release(stationFile(3));
    ASSERT_TRUE(waitUntil([&] { return settled(w); }));
    e->advance();
    EXPECT_EQ(e->ready[3], 1);
    EXPECT_EQ(e->failed[3], 0);
    w.stop();
}

// A late clip for a station that already has one must not replace the clip that plays.
TEST_F(EngineTest, ALateClipForAStationWithAClipIsDropped) {
    setStations({88.0f});
    DecodeWorker w;  // not started: the test plays the worker's part
    auto e = liveEngine(w);
    e->refreshStations();
    std::vector<float> clip(96000, 0.5f);
    const float* playing = clip.data();
    e->adoptClip(0, clip);
    e->clipPhase[0] = 1.5;
    e->beginChannel(5);
    ASSERT_EQ(e->clipPos, 72000u);

    answer(w, 0, 4800);
    e->beginChannel(5);
    EXPECT_EQ(e->clips[0].data(), playing);
    EXPECT_EQ(e->clips[0].size(), 96000u);
    EXPECT_EQ(w.snapshot().state, kDecodeIdle);
    EXPECT_EQ(w.snapshot().resultSamples, 0u);
    e->started = true;
    e->running = 1;
    const std::vector<float> out = renderSamples(*e, 4096);
    for (float o : out) ASSERT_LT(std::fabs(o), 1.0f);
}

// A request issued while a result waits leaves the result to be collected.
TEST_F(EngineTest, ARequestLeavesAWaitingResultInPlace) {
    setStations({88.0f, 88.1f});
    DecodeWorker w;
    auto e = liveEngine(w);
    e->refreshStations();
    answer(w, 0, 4800);
    e->requestDecode(1);
    EXPECT_EQ(w.snapshot().state, kDecodeDone);
    EXPECT_EQ(w.snapshot().resultStation, 0);
    EXPECT_EQ(w.snapshot().request, 1);
    e->inFlight = 1;
    e->pumpDecode();
    EXPECT_EQ(e->ready[0], 1);
    EXPECT_EQ(e->clips[0].size(), 4800u);
    EXPECT_EQ(e->inFlight, 1);
}
