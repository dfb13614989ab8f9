#include "engine_support.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace fake {
namespace {
std::mutex g_m;
std::condition_variable g_cv;
std::vector<std::wstring> g_calls;
std::set<std::wstring> g_failing;
std::set<std::wstring> g_holding;  // files whose decode waits at the gate
std::set<std::wstring> g_waiting;  // files whose decode waits there now
size_t g_samples = 48000;
float g_value = 0.5f;
}  // namespace

void reset() {
    std::lock_guard<std::mutex> lock(g_m);
    g_calls.clear();
    g_failing.clear();
    g_holding.clear();
    g_samples = 48000;
    g_value = 0.5f;
    g_cv.notify_all();
}

bool decode(const Station& station, double, std::vector<float>& out) {
    std::unique_lock<std::mutex> lock(g_m);
    g_calls.push_back(station.file);
    if (g_holding.count(station.file)) {
        g_waiting.insert(station.file);
        g_cv.notify_all();
        g_cv.wait(lock, [&] { return !g_holding.count(station.file); });
        g_waiting.erase(station.file);
    }
    if (g_failing.count(station.file)) return false;
    out.assign(g_samples, g_value);
    return true;
}

void setClip(size_t samples, float value) {
    std::lock_guard<std::mutex> lock(g_m);
    g_samples = samples;
    g_value = value;
}

void fail(const std::wstring& file) {
    std::lock_guard<std::mutex> lock(g_m);
    g_failing.insert(file);
}

void hold(const std::wstring& file) {
    std::lock_guard<std::mutex> lock(g_m);
    g_holding.insert(file);
}

bool waitHeld(const std::wstring& file) {
    std::unique_lock<std::mutex> lock(g_m);
    return g_cv.wait_for(lock, std::chrono::seconds(5), [&] { return g_waiting.count(file) > 0; });
}

void release(const std::wstring& file) {
    {
        std::lock_guard<std::mutex> lock(g_m);
        g_holding.erase(file);
    }
    g_cv.notify_all();
}

void release() {
    {
        std::lock_guard<std::mutex> lock(g_m);
        g_holding.clear();
    }
    g_cv.notify_all();
}

std::vector<std::wstring> calls() {
    std::lock_guard<std::mutex> lock(g_m);
    return g_calls;
}
}  // namespace fake

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
