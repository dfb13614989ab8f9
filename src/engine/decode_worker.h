// The decode worker: one background thread that decodes one requested clip at a time and
// hands it back to the engine. It reads g_stations and touches only its own members, never
// the engine.
//
// Hand-over: the engine posts a request (Engine::requestDecode) and polls `state` once per
// dwell without the lock; requests and results pass under `m`, held only for short steps and
// never while decoding. Every change of `state` is made under `m`, so neither side can
// overwrite the other's news. A result names its station in `outIdx`, for a failure too, so
// a late result of an earlier run is never taken for the request now in flight.
//
// Threads: start() and stop() by the thread that owns the worker (the window thread for
// g_dec); run() is the worker thread's body. The worker allocates (decoding); the engine's
// side only moves buffers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "catalog/decoder.h"

// The decoder a worker or an engine calls: decodeStation, or a test's stand-in.
using DecodeFn = bool (*)(const Station& station, double pos, std::vector<float>& out);

// Values of DecodeWorker::state.
enum : int {
    kDecodeIdle = 0,       // nothing to collect (set by the engine after collecting)
    kDecodeRequested = 1,  // a request waits or is being decoded (engine)
    kDecodeDone = 2,       // out holds the clip of station outIdx (worker)
    kDecodeFailed = 3,     // the request for station outIdx produced no clip (worker)
};

class DecodeWorker {
public:
    DecodeWorker() = default;
    ~DecodeWorker();  // stops and joins the thread if it still runs
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    std::thread th;
    std::mutex m;                 // guards out, reqIdx, reqPos, outIdx, state and quit changes
    std::condition_variable cv;   // wakes the worker for a request or for stopping
    std::vector<float> out;       // finished clip, waiting to be collected
    int reqIdx = -1;              // request not yet taken, -1 none
    double reqPos = 0.0;          // its position, seconds into the recording
    int outIdx = -1;              // station of the result (done or failed), -1 none
    std::atomic<int> state{kDecodeIdle};
    std::atomic<bool> quit{false};  // the worker is to end
    DecodeFn decode = decodeStation;  // set before start()

    // Starts th running run(); does nothing while the thread runs.
    void start();
    // Worker body: serves requests until quit; a request posted before quit is still served.
    void run();
    // quit under the lock, wake all, join when joinable. Blocks until a decode in progress
    // has finished. Safe to call when never started, and more than once.
    void stop();
};

extern DecodeWorker g_dec;  // the live program's worker, constructed before g_engine
