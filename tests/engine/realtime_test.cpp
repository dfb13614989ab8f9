// The real-time rule: after the start of a run, render() allocates and frees nothing, also
// while the dial sweeps through stations, adopts the clips the worker hands over and drops a
// late one.
#include <mutex>
#include <thread>

#include "alloc_counter.h"
#include "engine_support.h"

TEST_F(EngineTest, RenderAllocatesNothingAfterTheStartOfARun) {
    std::vector<float> freqs;
    for (int i = 0; i < 30; ++i) freqs.push_back(88.0f + 0.6f * float(i));
    setStations(freqs);
    DecodeWorker w;
    auto e = liveEngine(w);
    w.start();
    e->sweepMs = 60.0f;
    e->verbOn = 1;
    e->running = 1;
    std::vector<float> out(2048);
    e->render(out.data(), 2048);  // the start of the run decodes its first clip here
    auto adopted = [&] {
        int n = 0;
        for (uint8_t r : e->ready) n += r;
        return n;
    };
    const int before = adopted();

    allocCounter::begin();
    for (int block = 0; block < 1200; ++block) {  // 51 s of output, a sweep and a half
        e->render(out.data(), 2048);
        if (block % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    const long allocations = allocCounter::end();

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(allocCounter::frees(), 0);
    EXPECT_GE(adopted(), before + 20) << "clips were adopted while counting";
    w.stop();
}

// A late clip for a station that already has one (the answer to a request of an earlier run)
// is dropped by the hand-over inside render(): it is parked, not freed there, and the next
// start of a run releases it.
TEST_F(EngineTest, ALateClipDroppedDuringRenderIsParkedNotFreed) {
    setStations({88.0f});
    DecodeWorker w;  // not started: the test plays the worker's part
    auto e = liveEngine(w);
    e->running = 1;
    std::vector<float> out(2048);
    e->render(out.data(), 2048);  // the start of the run adopts station 0's clip
    ASSERT_EQ(e->ready[0], 1);
    const float* playing = e->clips[0].data();
    constexpr size_t kLateSamples = 1440000;  // a full 30-second clip, 5.8 MB
    std::vector<float> lateClip(kLateSamples, 0.25f);
    const float* late = lateClip.data();
    w.finish(0, true, lateClip);

    allocCounter::begin();
    for (int block = 0; block < 6; ++block) e->render(out.data(), 2048);  // past the 9600-sample dwell
    const long allocations = allocCounter::end();

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(allocCounter::frees(), 0);
    EXPECT_EQ(w.snapshot().state, kDecodeIdle) << "the result was collected";
    EXPECT_EQ(e->clips[0].data(), playing) << "the clip in place stays";
    EXPECT_EQ(e->dropped.data(), late);
    EXPECT_EQ(e->dropped.size(), kLateSamples);

    e->running = 0;
    e->render(out.data(), 2048);
    e->running = 1;
    e->render(out.data(), 2048);  // the next start of a run
    EXPECT_EQ(e->dropped.capacity(), 0u);
}

TEST(AllocCounter, CountsOnlyWhileOn) {
    auto* before = new int(1);
    int* volatile early = new int(3);  // volatile: the pair cannot be optimised away
    allocCounter::begin();
    auto* during = new int(2);
    std::vector<float> v(100);
    delete early;
    std::vector<float>().swap(v);  // frees v's block
    int* none = nullptr;
    delete none;                   // not a free
    const long n = allocCounter::end();
    delete during;
    delete before;
    EXPECT_EQ(n, 2);
    EXPECT_EQ(allocCounter::frees(), 2);
}
