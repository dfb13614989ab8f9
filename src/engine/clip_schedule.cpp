// Clip scheduling, the engine's side: the queue of stations to decode ahead of the dial,
// the hand-over with the decode worker (live) or decoding in place (offline), and adoption.
#include <cassert>

#include "base/rng.h"
#include "base/sample_rate.h"
#include "catalog/station.h"
#include "engine/engine.h"

void Engine::queueDecode(int i) {
    if (i < 0 || size_t(i) >= clips.size()) return;
    if (ready[i] || failed[i] || queued[i]) return;
    queued[i] = 1;
    pending.push_back(i);  // within the capacity reserved at the start of the run
}

void Engine::requestDecode(int i) {
    if (i < 0 || size_t(i) >= g_stations.size()) return;
    dec->request(i, stationPos(i));
}

void Engine::adoptClip(int i, std::vector<float>& clip) {
    assert(i >= 0 && size_t(i) < clips.size());
    clips[i].swap(clip);
    ready[i] = 1;
    if (!clips[i].empty()) {
        const float u = uniformOf(xorshift64(rng));
        clipPhase[i] = double(u) * double(clips[i].size()) / kSampleRateHz;
    }
}

// Takes the worker's result under the lock and settles its station. A result for a station
// that already has a clip (a late answer to a request of an earlier run) is dropped: the
// clip in place may be the one playing. A clip not taken is parked in `dropped` rather than
// freed here, where a free of megabytes could block; the next start of a run releases it. At
// most one late result comes per run (the request in flight at the restart), so the parking
// place is empty when it arrives.
void Engine::collectResult() {
    std::vector<float> clip;
    int k = -1;
    const int st = dec->collect(k, clip);
    if (st != kDecodeDone && st != kDecodeFailed) return;
    if (k == inFlight) inFlight = -1;
    if (k >= 0 && size_t(k) < clips.size() && !ready[k]) {
        if (st == kDecodeDone && !clip.empty()) adoptClip(k, clip);
        else failed[k] = 1;
        queued[k] = 0;
    }
    if (!clip.empty()) dropped.swap(clip);
}

void Engine::pumpDecode() {
    if (syncDecode) {
        // Offline: everything queued is decoded here and now, newest first.
        while (!pending.empty()) {
            const int i = pending.back();
            pending.pop_back();
            std::vector<float> clip;
            if (decodeHere(i, clip)) adoptClip(i, clip);
            else failed[i] = 1;
            queued[i] = 0;
        }
        return;
    }

    // Live: at most one result collected and one request issued per dwell; never waits.
    if (dec->resultReady()) collectResult();
    if (inFlight >= 0) return;
    while (!pending.empty()) {
        const int j = pending.back();
        pending.pop_back();
        if (ready[j] || failed[j]) continue;  // settled meanwhile by a late result
        inFlight = j;
        requestDecode(j);
        return;
    }
}
