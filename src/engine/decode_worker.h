// The decode worker: one background thread that decodes one requested clip at a time and
// hands it back to the engine. It never touches the engine.
//
// Hand-over: the engine posts a request (requestDecode) and polls `state` once per dwell;
// requests and results pass under `m`, held only for short steps, never while decoding.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class DecodeWorker {
public:
    DecodeWorker() = default;
    ~DecodeWorker();  // stops and joins the thread if it still runs
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    std::thread th;
    std::mutex m;
    std::condition_variable cv;
    std::vector<float> out;   // finished clip, waiting to be collected
    int reqIdx = -1;          // request not yet taken, -1 none
    double reqPos = 0.0;      // its position in seconds
    int outIdx = -1;          // station of the clip in out, -1 none
    std::atomic<int> state{0};  // 0 idle, 1 requested, 2 done, 3 failed
    std::atomic<bool> quit{false};

    void start();  // starts th running run()
    void run();    // worker body
    void stop();   // quit under the lock, wake all, join when joinable
};
