// The decode worker: one background thread that decodes one requested clip at a time and
// hands it back to the engine. It reads g_stations and touches only its own members, never
// the engine.
//
// Hand-over: the engine posts a request (request()) and polls resultReady() once per dwell
// without the lock, then takes the result with collect(); the worker leaves each result with
// finish(). Requests and results pass under the worker's mutex, held only for these short
// steps and never while decoding. Every change of the state is made under the mutex, so
// neither side can overwrite the other's news. A result names its station, for a failure
// too, so a late result of an earlier run is never taken for the request now in flight.
//
// Threads: start() and stop() by the thread that owns the worker (the window thread for
// g_dec); request(), resultReady() and collect() by the engine's rendering thread; finish()
// by the worker thread. The worker allocates (decoding); the engine's side only
// moves buffers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "catalog/decoder.h"

// The decoder a worker or an engine calls: decodeStation, or a test's stand-in.
using DecodeFn = bool (*)(const Station& station, double pos, std::vector<float>& out);

// States of the hand-over.
enum : int {
    kDecodeIdle = 0,       // nothing to collect (set by the engine after collecting)
    kDecodeRequested = 1,  // a request waits or is being decoded (engine)
    kDecodeDone = 2,       // a clip of the result's station waits (worker)
    kDecodeFailed = 3,     // the request for the result's station produced no clip (worker)
};

class DecodeWorker {
public:
    DecodeWorker() = default;
    ~DecodeWorker();  // stops and joins the thread if it still runs
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    DecodeFn decode = decodeStation;  // set before start()

    // Starts the thread running run(); does nothing while the thread runs.
    void start();
    // Asks the worker to quit, wakes it and joins it. Blocks until a decode in progress has
    // finished. Safe to call when never started, and more than once.
    void stop();
    // The thread has been started and not yet joined (the owner's thread only).
    bool running() const { return th_.joinable(); }

    // ---- Engine's side ----
    // Hands station i at `pos` seconds into its recording to the worker, replacing a request
    // not yet taken. A result that is still waiting keeps its state until it is collected.
    void request(int i, double pos);
    // A clip or a failure waits to be collected; no lock.
    bool resultReady() const {
        const int st = state_.load();
        return st == kDecodeDone || st == kDecodeFailed;
    }
    // Takes the waiting result, if any: its station into `station` and its clip swapped into
    // `clip` (left empty for a failure). Returns kDecodeDone or kDecodeFailed for a result
    // taken, otherwise the state found, with nothing changed.
    int collect(int& station, std::vector<float>& clip);

    // ---- Worker's side ----
    // Leaves the result of station i: its clip (swapped out of `clip`) when ok, a failure
    // otherwise. An uncollected earlier result is freed after the lock is released.
    void finish(int i, bool ok, std::vector<float>& clip);

    // The hand-over as it stands, read under the lock (tests and diagnostics).
    struct Snapshot {
        int state;             // kDecodeIdle..kDecodeFailed
        int request;           // request not yet taken, -1 none
        int resultStation;     // station of the waiting result, -1 none
        size_t resultSamples;  // samples of the waiting clip, 0 for none or a failure
        bool quit;             // the worker has been asked to end
    };
    Snapshot snapshot() const;

private:
    // Worker body: serves requests until quit; a request posted before quit is still served.
    void run();

    std::thread th_;
    mutable std::mutex m_;         // guards out_, reqIdx_, reqPos_, outIdx_, state_ and quit_ changes
    std::condition_variable cv_;   // wakes the worker for a request or for stopping
    std::vector<float> out_;       // finished clip, waiting to be collected
    int reqIdx_ = -1;              // request not yet taken, -1 none
    double reqPos_ = 0.0;          // its position, seconds into the recording
    int outIdx_ = -1;              // station of the result (done or failed), -1 none
    std::atomic<int> state_{kDecodeIdle};
    std::atomic<bool> quit_{false};  // the worker is to end
};

extern DecodeWorker g_dec;  // the live program's worker, constructed before g_engine
