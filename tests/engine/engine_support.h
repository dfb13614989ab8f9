// Helpers of the engine tests: a hand-made station list, a stand-in decoder that the tests
// can hold, fail and count, and a bounded wait. The stand-in decodes on whichever thread
// calls it (the worker's or the test's) and is safe to call from several at once.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "catalog/station.h"
#include "support/stations.h"


namespace fake {
// Clears the call log, the failing set and any hold; clips of 48000 samples of 0.5.
void reset();
// The stand-in for decodeStation: a clip of the configured length and value, or false for
// a failing file. A held file's decode waits at a gate until that file is released.
bool decode(const Station& station, double pos, std::vector<float>& out);
void setClip(size_t samples, float value);
void fail(const std::wstring& file);
void hold(const std::wstring& file);
bool waitHeld(const std::wstring& file);  // true once a decode of the file waits at its gate
void release(const std::wstring& file);
void release();  // every held file
std::vector<std::wstring> calls();  // files decoded so far, in call order
}  // namespace fake

// Polls pred every millisecond for up to five seconds; true when it held.
bool waitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

#include <gtest/gtest.h>

#include <memory>

#include "engine/engine.h"

// Each test starts with an empty station list and a reset stand-in decoder.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        g_stations.clear();
    }
    void TearDown() override {
        fake::release();
        g_stations.clear();
    }

    // An engine that decodes everything with the stand-in on the calling thread.
    static std::unique_ptr<Engine> offlineEngine() {
        auto e = std::make_unique<Engine>();
        e->syncDecode = true;
        e->decodeClip = fake::decode;
        return e;
    }
    // A live engine served by `worker` (whose decoder becomes the stand-in).
    static std::unique_ptr<Engine> liveEngine(DecodeWorker& worker) {
        auto e = std::make_unique<Engine>();
        e->decodeClip = fake::decode;
        e->dec = &worker;
        worker.decode = fake::decode;
        return e;
    }
    // n samples of e's output, rendered in blocks of at most 1024.
    static std::vector<float> renderSamples(Engine& e, int n) {
        std::vector<float> out(size_t(n > 0 ? n : 0));
        for (int at = 0; at < n; at += 1024) e.render(out.data() + at, std::min(1024, n - at));
        return out;
    }
};
