// The real-time rule: after the start of a run, render() allocates nothing, also while the
// dial sweeps through stations and adopts the clips the worker hands over.
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
    EXPECT_GE(adopted(), before + 20) << "clips were adopted while counting";
    w.stop();
}

TEST(AllocCounter, CountsOnlyWhileOn) {
    auto* before = new int(1);
    allocCounter::begin();
    auto* during = new int(2);
    std::vector<float> v(100);
    const long n = allocCounter::end();
    delete during;
    delete before;
    EXPECT_EQ(n, 2);
}
