#include "monitor_recorder.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

uint64_t monotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

bool MonitorRecorder::start(const std::string& device) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const std::string dev = "--device=" + device;
    const char* argv[] = {"parec", dev.c_str(), "--raw", "--format=float32le", "--rate=48000",
                          "--channels=2", "--latency-msec=10", nullptr};
    const int err = posix_spawnp(&pid_, "parec", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (err != 0) {
        close(pipeFds[0]);
        pid_ = -1;
        return false;
    }
    fd_ = pipeFds[0];
    reader_ = std::thread(&MonitorRecorder::readLoop, this, fd_);
    return true;
}

void MonitorRecorder::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();  // the pipe's end ends the loop
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

void MonitorRecorder::readLoop(int fd) {
    std::vector<char> pending;
    char chunk[8192];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return;
        const uint64_t now = monotonicNs();
        pending.insert(pending.end(), chunk, chunk + n);
        const size_t whole = pending.size() / sizeof(float) * sizeof(float);
        std::lock_guard<std::mutex> hold(lock_);
        const size_t old = samples_.size();
        samples_.resize(old + whole / sizeof(float));
        std::copy(pending.begin(), pending.begin() + ptrdiff_t(whole),
                  reinterpret_cast<char*>(samples_.data() + old));
        pending.erase(pending.begin(), pending.begin() + ptrdiff_t(whole));
        arrivals_.push_back({samples_.size() / 2, now});
    }
}

size_t MonitorRecorder::frames() {
    std::lock_guard<std::mutex> hold(lock_);
    return samples_.size() / 2;
}

std::vector<float> MonitorRecorder::samples() {
    std::lock_guard<std::mutex> hold(lock_);
    return samples_;
}

std::vector<Arrival> MonitorRecorder::arrivals() {
    std::lock_guard<std::mutex> hold(lock_);
    return arrivals_;
}

namespace {
bool silentFrame(const std::vector<float>& s, size_t j) {
    return std::fabs(s[2 * j]) < kSilence && std::fabs(s[2 * j + 1]) < kSilence;
}
}  // namespace

SoundSpan soundSpan(const std::vector<float>& stereo) {
    SoundSpan span;
    const size_t n = stereo.size() / 2;
    for (size_t j = 0; j < n; ++j) {
        if (silentFrame(stereo, j)) continue;
        if (span.first < 0) span.first = long(j);
        span.last = long(j);
    }
    return span;
}

long longestGap(const std::vector<float>& stereo, const SoundSpan& span) {
    long longest = 0, run = 0;
    for (long j = span.first; j >= 0 && j <= span.last; ++j) {
        run = silentFrame(stereo, size_t(j)) ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

double soundSeconds(const std::vector<float>& stereo) {
    const size_t window = 480;
    const size_t n = stereo.size() / 2;
    size_t loud = 0;
    for (size_t w = 0; w + window <= n; w += window) {
        float peak = 0.0f;
        for (size_t j = w; j < w + window; ++j)
            peak = std::max({peak, std::fabs(stereo[2 * j]), std::fabs(stereo[2 * j + 1])});
        if (peak >= 1e-3f) ++loud;
    }
    return double(loud) * 0.01;
}

double toneHz(const std::vector<float>& stereo, long from, long to) {
    long crossings = 0;
    for (long j = from + 1; j < to; ++j)
        if (stereo[2 * size_t(j - 1)] < 0.0f && stereo[2 * size_t(j)] >= 0.0f) ++crossings;
    return to > from ? double(crossings) * 48000.0 / double(to - from) : 0.0;
}

float largestChannelDifference(const std::vector<float>& stereo) {
    float d = 0.0f;
    for (size_t j = 0; j + 1 < stereo.size(); j += 2) d = std::max(d, std::fabs(stereo[j] - stereo[j + 1]));
    return d;
}
