// Records a sound server's monitor source (parec, 48000 Hz stereo float) on a thread of its
// own while the live tests play, and measures what arrived: where sound starts, the longest
// silence inside it, how much of it is sound, the pitch of a tone, left against right.
//
// Threads: start, stop and the analysis run on the test's thread; the reader thread only
// appends to the recording under the lock. Allocation: the recording grows as it arrives.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

constexpr float kSilence = 1e-4f;  // a sample below this in magnitude is silent (-80 dBFS)

struct Arrival {
    size_t frames;   // frames recorded up to and including this read
    uint64_t ns;     // monotonic time the read returned
};

class MonitorRecorder {
public:
    ~MonitorRecorder() { stop(); }
    // Starts parec on `device` (a source name such as "kestrum_null.monitor"). False when
    // parec cannot be started.
    bool start(const std::string& device);
    void stop();

    size_t frames();                  // recorded so far
    std::vector<float> samples();     // interleaved left, right
    std::vector<Arrival> arrivals();

private:
    void readLoop(int fd);

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex lock_;
    std::vector<float> samples_;
    std::vector<Arrival> arrivals_;
};

// ---- Analysis of an interleaved stereo recording ----
struct SoundSpan {
    long first = -1;  // first frame with sound, -1 for none
    long last = -1;   // last frame with sound
};
SoundSpan soundSpan(const std::vector<float>& stereo);
// The longest run of silent frames between first and last, in frames.
long longestGap(const std::vector<float>& stereo, const SoundSpan& span);
// 10 ms windows with a sample of at least 1e-3, in seconds.
double soundSeconds(const std::vector<float>& stereo);
// Upward zero crossings per second of the left channel over frames [from, to).
double toneHz(const std::vector<float>& stereo, long from, long to);
// Largest |left - right| over the recording.
float largestChannelDifference(const std::vector<float>& stereo);

uint64_t monotonicNs();
