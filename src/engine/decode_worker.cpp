#include "engine/decode_worker.h"

#include "base/static_order.h"
#include "catalog/station.h"

DecodeWorker g_dec KESTRUM_STATIC(KESTRUM_ORDER_DEC);

DecodeWorker::~DecodeWorker() { stop(); }

void DecodeWorker::start() {
    if (th_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_);
        quit_.store(false);
    }
    th_ = std::thread([this] { run(); });
}

void DecodeWorker::stop() {
    {
        std::lock_guard<std::mutex> lock(m_);
        quit_.store(true);
    }
    cv_.notify_all();
    if (th_.joinable()) th_.join();
}

void DecodeWorker::request(int i, double pos) {
    {
        std::lock_guard<std::mutex> lock(m_);
        reqIdx_ = i;
        reqPos_ = pos;
        // A result that is still waiting keeps its state until the engine collects it.
        const int st = state_.load();
        if (st != kDecodeDone && st != kDecodeFailed) state_.store(kDecodeRequested);
    }
    cv_.notify_one();
}

int DecodeWorker::collect(int& station, std::vector<float>& clip) {
    std::lock_guard<std::mutex> lock(m_);
    const int st = state_.load();
    if (st != kDecodeDone && st != kDecodeFailed) return st;
    station = outIdx_;
    clip.swap(out_);
    outIdx_ = -1;
    state_.store(kDecodeIdle);
    return st;
}

void DecodeWorker::run() {
    for (;;) {
        int i;
        double pos;
        {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait(lock, [this] { return quit_.load() || reqIdx_ >= 0; });
            if (reqIdx_ < 0) return;  // asked to quit with nothing left to serve
            i = reqIdx_;
            pos = reqPos_;
            reqIdx_ = -1;
        }

        // Decoding runs outside the lock; an index beyond the station list fails.
        std::vector<float> clip;
        const bool ok = i < int(g_stations.size()) && decode(g_stations[i], pos, clip) && !clip.empty();
        finish(i, ok, clip);
    }
}

void DecodeWorker::finish(int i, bool ok, std::vector<float>& clip) {
    std::vector<float> aside;  // an uncollected earlier result, freed after the unlock
    {
        std::lock_guard<std::mutex> lock(m_);
        aside.swap(out_);
        if (ok) out_.swap(clip);
        outIdx_ = i;
        state_.store(ok ? kDecodeDone : kDecodeFailed);
    }
}

DecodeWorker::Snapshot DecodeWorker::snapshot() const {
    std::lock_guard<std::mutex> lock(m_);
    return {state_.load(), reqIdx_, outIdx_, out_.size(), quit_.load()};
}
