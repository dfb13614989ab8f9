// The live driver (live_driver.h). Modes, after `--live`:
//   report                       open the device on the audio thread; print hr; exit 0 when
//                                it opened, 1 when not
//   play engine|tone SECONDS MONITOR
//                                play g_engine with the scanner running (or a 1 kHz tone)
//                                while MONITOR is recorded, for SECONDS from the first samples
//                                written, then check the recording; exit 0
//                                when every check holds, 1 otherwise
//   lose SECONDS                 play g_engine; print "serving" once sound has gone out; exit 0
//                                when the thread ends by itself (the device went away) within
//                                SECONDS, 1 when it still serves
//   measure SECONDS MONITOR [KESTRUM]
//                                figures for the benchmark script: start-to-sound latency,
//                                the audio thread's CPU share, underruns and gaps over SECONDS
//                                while a 60 s render runs beside it (KESTRUM --render, or the
//                                same render in this process when KESTRUM is absent)
//   click SECONDS MONITOR WINDOW X Y
//                                record MONITOR, click at (X, Y) in the X window WINDOW (the
//                                program's start button) with xdotool and print when the
//                                first sound arrived after the click; exit 0 when the monitor
//                                was silent before and sound arrived within SECONDS, 1 otherwise
//   calibrate RUNS MONITOR       the path's own latency: a tone from the first sample the
//                                audio thread writes into a fresh stream, to its arrival at
//                                MONITOR; prints every run and the median in milliseconds
#include "live_driver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <ctime>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "base/program.h"
#include "audio/device_output.h"
#include "audio/render_wav.h"
#include "catalog/station.h"
#include "engine/engine.h"
#include "monitor_recorder.h"
#include "platform/data_blocks.h"

extern char** environ;

namespace {

using std::chrono::milliseconds;

int g_failures = 0;

void check(bool ok, const char* what, double value, const char* unit) {
    std::printf("%s %s: %.4g %s\n", ok ? "ok  " : "FAIL", what, value, unit);
    if (!ok) ++g_failures;
}

// The built-in stations when the program has them; static alone otherwise.
void loadBuiltinStations() {
    const unsigned char* data;
    uint64_t size;
    if (dataBlockFind(builtinDataBlocks(), u"R_STATIONS_TXT", &data, &size)) {
        g_hInst = builtinDataBlocks();
        loadStations();
    }
    std::printf("stations: %zu\n", g_stations.size());
}

struct Tone {
    double phase = 0.0;
    static void render(float* out, int frames, void* user) {
        auto* t = static_cast<Tone*>(user);
        for (int i = 0; i < frames; ++i) {
            out[i] = float(0.5 * std::sin(t->phase));
            t->phase += 2.0 * M_PI * 1000.0 / 48000.0;
            if (t->phase > 2.0 * M_PI) t->phase -= 2.0 * M_PI;
        }
    }
};

double threadCpuSeconds(std::thread& t) {
    clockid_t cid;
    if (pthread_getcpuclockid(t.native_handle(), &cid) != 0) return -1.0;
    timespec ts;
    clock_gettime(cid, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Starts the live path on g_ac: the decode worker, then the audio thread. Returns hr.
int32_t startLive(bool tone, Tone* t) {
    g_ac.source = tone ? Tone::render : nullptr;
    g_ac.sourceUser = tone ? t : nullptr;
    g_engine.running.store(tone ? 0 : 1);
    audioStart(g_ac);
    if (!audioWaitReported(g_ac, 10000)) return kAudioFail;
    return audioResult(g_ac);
}

void stopLive() {
    audioStopRequest(g_ac);
    audioJoin(g_ac);
    g_engine.running.store(0);
}

// The engine starts a fresh run (first clip decoded anew) at its next render: one render
// with running 0 on this thread, while no audio thread renders it.
void resetEngineRun() {
    float one[1];
    g_engine.running.store(0);
    g_engine.render(one, 1);
}

bool sleepWhileServing(double seconds) {
    const auto end = std::chrono::steady_clock::now() + milliseconds(long(seconds * 1000.0));
    while (std::chrono::steady_clock::now() < end) {
        if (g_ac.ended.load()) return false;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

// Until the audio thread has written its first samples (at most 30 s) or has ended.
void waitFirstWrite() {
    for (int i = 0; i < 6000 && g_ac.framesWritten.load() == 0 && !g_ac.ended.load(); ++i)
        std::this_thread::sleep_for(milliseconds(5));
}

int report() {
    audioStart(g_ac);
    if (!audioWaitReported(g_ac, 10000)) {
        std::printf("no report\n");
        return 2;
    }
    audioJoin(g_ac);
    const int32_t hr = audioResult(g_ac);
    std::printf("hr 0x%08X (%s)\n", unsigned(hr), hr < 0 ? audioStepName(audioCodeStep(hr)) : "open");
    return hr >= 0 ? 0 : 1;
}

int play(bool tone, double seconds, const std::string& monitor) {
    if (!tone) loadBuiltinStations();
    MonitorRecorder rec;
    if (!rec.start(monitor)) {
        std::printf("FAIL parec cannot be started\n");
        return 1;
    }
    std::this_thread::sleep_for(milliseconds(300));  // the monitor stream is up
    Tone t;
    g_dec.start();
    const uint64_t t0 = monotonicNs();
    const int32_t hr = startLive(tone, &t);
    std::printf("hr 0x%08X\n", unsigned(hr));
    if (hr < 0) {
        rec.stop();
        return 1;
    }
    // The play time counts from the first samples handed to the device: before them the
    // engine decodes its first clip on the audio thread, slowly in a sanitizer build.
    waitFirstWrite();
    const bool served = sleepWhileServing(seconds);
    const uint64_t tStop = monotonicNs();
    stopLive();
    g_dec.stop();
    std::this_thread::sleep_for(milliseconds(300));
    rec.stop();

    const std::vector<float> s = rec.samples();
    const SoundSpan span = soundSpan(s);
    check(served, "thread served to the end", seconds, "s");
    check(span.first >= 0, "sound recorded", double(s.size() / 2) / 48000.0, "s recorded");
    if (span.first < 0) return 1;
    // Sound stops with the stop request (the queued buffer is dropped): the span of sound
    // matches the wall time from its first arrival to the stop when the rate is right.
    uint64_t tFirst = 0;
    for (const Arrival& a : rec.arrivals())
        if (long(a.frames) > span.first) {
            tFirst = a.ns - uint64_t(double(long(a.frames) - 1 - span.first) / 48000.0 * 1e9);
            break;
        }
    const double spanS = double(span.last - span.first + 1) / 48000.0;
    const double wallS = double(tStop - tFirst) * 1e-9;
    std::printf("first sound %.1f ms after the start request\n", double(tFirst - t0) * 1e-6);
    check(std::fabs(spanS / wallS - 1.0) < 0.05, "sound span / wall time", spanS / wallS, "");
    const double gapMs = double(longestGap(s, span)) / 48.0;
    check(gapMs <= 50.0, "longest gap after the first sound", gapMs, "ms");
    const double soundS = soundSeconds(s);
    check(soundS >= std::min(2.5, seconds - 0.5), "sound", soundS, "s");
    check(largestChannelDifference(s) <= 1e-6f, "largest left-right difference", largestChannelDifference(s), "");
    if (tone) {
        const long from = span.first + 4800, to = span.last - 4800;
        const double hz = toneHz(s, from, to);
        check(std::fabs(hz - 1000.0) <= 5.0, "tone", hz, "Hz (1000 played)");
    }
    std::printf("underruns %u, dry wake-ups %u, frames %llu\n", g_ac.underruns.load(),
                g_ac.dryWakeups.load(), (unsigned long long)g_ac.framesWritten.load());
    return g_failures ? 1 : 0;
}

int lose(double seconds) {
    loadBuiltinStations();
    g_dec.start();
    const int32_t hr = startLive(false, nullptr);
    std::printf("hr 0x%08X\n", unsigned(hr));
    if (hr < 0) return 2;
    waitFirstWrite();
    std::printf("serving\n");
    std::fflush(stdout);
    const auto t0 = std::chrono::steady_clock::now();
    const bool stillServing = sleepWhileServing(seconds);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    stopLive();
    g_dec.stop();
    if (stillServing) {
        std::printf("FAIL still serving after %.0f ms\n", ms);
        return 1;
    }
    std::printf("ok   the audio thread ended by itself %.0f ms after serving began; hr 0x%08X\n", ms,
                unsigned(audioResult(g_ac)));
    return 0;
}

// ---- Figures for bench/audio_live.sh ----

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Milliseconds from t0 (monotonic ns) to the first sound recorded from frame `from` on, or a
// negative value when none arrived.
double firstSoundMs(MonitorRecorder& rec, size_t from, uint64_t t0) {
    const std::vector<float> s = rec.samples();
    if (s.size() / 2 <= from) return -1.0;
    std::vector<float> tail(s.begin() + ptrdiff_t(from) * 2, s.end());
    const SoundSpan span = soundSpan(tail);
    if (span.first < 0) return -1.0;
    const long first = long(from) + span.first;
    // The read that brought the first sound frame, dated back by the frames after it.
    for (const Arrival& a : rec.arrivals())
        if (long(a.frames) > first) {
            const double at = double(a.ns) - double(long(a.frames) - 1 - first) / 48000.0 * 1e9;
            return (at - double(t0)) * 1e-6;
        }
    return -1.0;
}

// Milliseconds from the start request to the first sound at the monitor, per run.
std::vector<double> latencies(MonitorRecorder& rec, bool tone, int runs) {
    std::vector<double> out;
    Tone t;
    for (int i = 0; i < runs; ++i) {
        if (!tone) resetEngineRun();
        std::this_thread::sleep_for(milliseconds(400));
        const size_t from = rec.frames();
        const uint64_t t0 = monotonicNs();
        if (startLive(tone, &t) < 0) return {};
        std::this_thread::sleep_for(milliseconds(1500));
        stopLive();
        std::this_thread::sleep_for(milliseconds(300));
        const double ms = firstSoundMs(rec, from, t0);
        if (ms >= 0.0) out.push_back(ms);
    }
    return out;
}

int measure(double seconds, const std::string& monitor, const std::string& kestrum) {
    loadBuiltinStations();
    MonitorRecorder rec;
    if (!rec.start(monitor)) {
        std::printf("parec cannot be started\n");
        return 1;
    }
    g_dec.start();

    const std::vector<double> toneMs = latencies(rec, true, 5);
    const std::vector<double> engineMs = latencies(rec, false, 5);
    std::printf("latency start request -> first sound at the sink, median of %zu: tone %.1f ms\n",
                toneMs.size(), median(toneMs));
    std::printf("latency start request -> first sound at the sink, median of %zu: scanner (first clip "
                "decoded on the audio thread) %.1f ms\n",
                engineMs.size(), median(engineMs));

    // The thread's CPU share on a quiet machine: the device's own cost (a tone, no engine),
    // then the scanner.
    for (bool tone : {true, false}) {
        Tone t;
        if (!tone) resetEngineRun();
        if (startLive(tone, &t) < 0) return 1;
        std::this_thread::sleep_for(milliseconds(2000));
        const double c0 = threadCpuSeconds(g_ac.thread);
        const uint64_t t0 = monotonicNs();
        sleepWhileServing(10.0);
        const double c1 = threadCpuSeconds(g_ac.thread);
        const double wall = double(monotonicNs() - t0) * 1e-9;
        stopLive();
        std::printf("audio thread CPU, %s, quiet machine: %.3f %% of a core\n",
                    tone ? "tone (device cost alone)" : "scanner", (c1 - c0) / wall * 100.0);
    }

    // Live with a 60 s render running beside it.
    resetEngineRun();
    const size_t from = rec.frames();
    if (startLive(false, nullptr) < 0) return 1;
    std::this_thread::sleep_for(milliseconds(2000));  // past the first clip's decode
    const uint32_t underrunsBefore = g_ac.underruns.load(), dryBefore = g_ac.dryWakeups.load();
    const double cpu0 = threadCpuSeconds(g_ac.thread);
    const uint64_t w0 = monotonicNs();

    pid_t renderPid = -1;
    std::thread inProcess;
    if (!kestrum.empty()) {
        renderPid = fork();
        if (renderPid == 0) {
            execl(kestrum.c_str(), kestrum.c_str(), "--render", "/tmp/kestrum_bench_render.wav", "60",
                  (char*)nullptr);
            _exit(127);
        }
    } else {
        inProcess = std::thread([] {
            Engine source;
            renderWav(L"/tmp/kestrum_bench_render.wav", 60, source);
        });
    }
    const bool served = sleepWhileServing(seconds);
    const double cpu1 = threadCpuSeconds(g_ac.thread);
    const uint64_t w1 = monotonicNs();
    const uint32_t underruns = g_ac.underruns.load() - underrunsBefore;
    const uint32_t dry = g_ac.dryWakeups.load() - dryBefore;
    stopLive();
    int renderStatus = 0;
    if (renderPid > 0) waitpid(renderPid, &renderStatus, 0);
    if (inProcess.joinable()) inProcess.join();
    g_dec.stop();
    std::this_thread::sleep_for(milliseconds(300));
    rec.stop();

    const std::vector<float> s = rec.samples();
    std::vector<float> tail(s.begin() + ptrdiff_t(from) * 2, s.end());
    const SoundSpan span = soundSpan(tail);
    long gaps10 = 0, run = 0, longest = 0;
    for (long j = span.first; j >= 0 && j <= span.last; ++j) {
        const bool silent = std::fabs(tail[2 * size_t(j)]) < kSilence && std::fabs(tail[2 * size_t(j) + 1]) < kSilence;
        if (silent) {
            if (++run == 480) ++gaps10;
        } else {
            run = 0;
        }
        longest = std::max(longest, run);
    }
    const double wall = double(w1 - w0) * 1e-9;
    std::printf("render beside it: %s, exit status %d\n", renderPid > 0 ? kestrum.c_str() : "in this process",
                renderPid > 0 ? WEXITSTATUS(renderStatus) : 0);
    std::printf("audio thread CPU, scanner, render beside it: %.3f %% of a core (%.3f s over %.1f s)\n",
                (cpu1 - cpu0) / wall * 100.0, cpu1 - cpu0, wall);
    std::printf("over %.1f s with the render running: underruns recovered %u, dry wake-ups %u, "
                "gaps of 10 ms or more at the sink %ld, longest gap %.1f ms%s\n",
                wall, underruns, dry, gaps10, double(longest) / 48.0, served ? "" : " (thread ended early)");
    return served ? 0 : 1;
}

// ---- The program's own start button, and the path's own latency ----

// Clicks at (x, y) in window `wid` through one xdotool reading commands from a pipe: the
// pointer is moved first and the click line is written at the returned time, so that the
// tool's own start-up is not counted. Returns 0 when the tool could not be used.
uint64_t clickAt(const std::string& wid, int x, int y) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    const char* argv[] = {"xdotool", "-", nullptr};
    pid_t pid = -1;
    const int err = posix_spawnp(&pid, "xdotool", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (err != 0) {
        close(fds[1]);
        return 0;
    }
    const std::string move = "mousemove --window " + wid + " " + std::to_string(x) + " " + std::to_string(y) + "\n";
    const std::string press = "click 1\n";
    bool ok = write(fds[1], move.data(), move.size()) == ssize_t(move.size());
    std::this_thread::sleep_for(milliseconds(700));  // the tool is up and the pointer there
    const uint64_t t0 = monotonicNs();
    ok = ok && write(fds[1], press.data(), press.size()) == ssize_t(press.size());
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? t0 : 0;
}

int click(double seconds, const std::string& monitor, const std::string& wid, int x, int y) {
    MonitorRecorder rec;
    if (!rec.start(monitor)) {
        std::printf("FAIL parec cannot be started\n");
        return 1;
    }
    std::this_thread::sleep_for(milliseconds(500));  // the monitor stream is up
    const size_t from = rec.frames();
    if (from == 0) {
        std::printf("FAIL nothing recorded from %s\n", monitor.c_str());
        return 1;
    }
    if (soundSpan(rec.samples()).first >= 0) {
        std::printf("FAIL sound at the monitor before the click\n");
        return 1;
    }
    const uint64_t t0 = clickAt(wid, x, y);
    if (t0 == 0) {
        std::printf("FAIL xdotool could not click\n");
        return 1;
    }
    double ms = -1.0;
    while (ms < 0.0 && double(monotonicNs() - t0) * 1e-9 < seconds) {
        std::this_thread::sleep_for(milliseconds(20));
        ms = firstSoundMs(rec, from, t0);
    }
    rec.stop();
    if (ms < 0.0) {
        std::printf("FAIL no sound within %.1f s of the click\n", seconds);
        return 1;
    }
    std::printf("first sound %.1f ms after the click\n", ms);
    return 0;
}

// A tone that notes when it was first asked for samples: the stream starts empty and plays
// from its first write, so its first sound at the monitor comes one path latency later.
struct StampedTone {
    Tone tone;
    std::atomic<uint64_t> firstNs{0};
    static void render(float* out, int frames, void* user) {
        auto* t = static_cast<StampedTone*>(user);
        if (t->firstNs.load() == 0) t->firstNs.store(monotonicNs());
        Tone::render(out, frames, &t->tone);
    }
};

int calibrate(int runs, const std::string& monitor) {
    MonitorRecorder rec;
    if (!rec.start(monitor)) {
        std::printf("FAIL parec cannot be started\n");
        return 1;
    }
    std::this_thread::sleep_for(milliseconds(500));
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        StampedTone t;
        const size_t from = rec.frames();
        g_ac.source = StampedTone::render;
        g_ac.sourceUser = &t;
        audioStart(g_ac);
        if (!audioWaitReported(g_ac, 10000) || audioResult(g_ac) < 0) {
            std::printf("FAIL the device did not open\n");
            return 1;
        }
        std::this_thread::sleep_for(milliseconds(600));
        stopLive();
        std::this_thread::sleep_for(milliseconds(300));
        const double d = t.firstNs.load() ? firstSoundMs(rec, from, t.firstNs.load()) : -1.0;
        std::printf("run %d: first write -> first sound at the monitor %.1f ms\n", i + 1, d);
        if (d >= 0.0) ms.push_back(d);
    }
    rec.stop();
    if (ms.empty()) {
        std::printf("FAIL no run brought sound\n");
        return 1;
    }
    std::printf("path latency, median of %zu: %.1f ms\n", ms.size(), median(ms));
    return 0;
}

}  // namespace

int liveDriver(int argc, char** argv) {
    audioUseAlsa();
    const std::string mode = argc > 0 ? argv[0] : "";
    if (mode == "report") return report();
    if (mode == "play" && argc >= 4)
        return play(std::string(argv[1]) == "tone", std::atof(argv[2]), argv[3]);
    if (mode == "lose" && argc >= 2) return lose(std::atof(argv[1]));
    if (mode == "click" && argc >= 6)
        return click(std::atof(argv[1]), argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    if (mode == "calibrate" && argc >= 3) return calibrate(std::atoi(argv[1]), argv[2]);
    if (mode == "measure" && argc >= 3) return measure(std::atof(argv[1]), argv[2], argc >= 4 ? argv[3] : "");
    std::fprintf(stderr, "usage: test_audio --live report | play engine|tone SECONDS MONITOR | lose SECONDS | "
                         "measure SECONDS MONITOR [KESTRUM] | click SECONDS MONITOR WINDOW X Y | "
                         "calibrate RUNS MONITOR\n");
    return 2;
}
