#include "engine/decode_worker.h"

#include "base/static_order.h"
#include "catalog/station.h"

DecodeWorker g_dec KESTRUM_STATIC(KESTRUM_ORDER_DEC);

DecodeWorker::~DecodeWorker() { stop(); }

void DecodeWorker::start() {
    if (th.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m);
        quit.store(false);
    }
    th = std::thread([this] { run(); });
}

void DecodeWorker::stop() {
    {
        std::lock_guard<std::mutex> lock(m);
        quit.store(true);
    }
    cv.notify_all();
    if (th.joinable()) th.join();
}

void DecodeWorker::run() {
    for (;;) {
        int i;
        double pos;
        {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [this] { return quit.load() || reqIdx >= 0; });
            if (reqIdx < 0) return;  // asked to quit with nothing left to serve
            i = reqIdx;
            pos = reqPos;
            reqIdx = -1;
        }

        // Decoding runs outside the lock; an index beyond the station list fails.
        std::vector<float> clip;
        const bool ok = i < int(g_stations.size()) && decode(g_stations[i], pos, clip) && !clip.empty();

        std::vector<float> aside;  // an uncollected earlier result, freed after the unlock
        {
            std::lock_guard<std::mutex> lock(m);
            aside.swap(out);
            if (ok) out.swap(clip);
            outIdx = i;
            state.store(ok ? kDecodeDone : kDecodeFailed);
        }
    }
}
