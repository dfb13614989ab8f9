// The offline render: WAV header and sizes, the sample conversion, the CSV trace, and that a
// failed render never leaves a file claiming a length it does not hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "audio/render_wav.h"
#include "base/program.h"
#include "catalog/decoder.h"
#include "catalog/station.h"
#include "engine/engine.h"
#include "platform/data_blocks.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// An empty value removes the variable.
void setenv(const char* name, const char* value, int) { _putenv_s(name, value); }
void unsetenv(const char* name) { _putenv_s(name, ""); }
#endif

struct TraceEnv {
    explicit TraceEnv(bool on) {
        if (on) setenv("KESTRUM_TRACE", "1", 1);
        else unsetenv("KESTRUM_TRACE");
    }
    ~TraceEnv() { unsetenv("KESTRUM_TRACE"); }
};

// The station list as the test wants it, restored afterwards.
struct StationsScope {
    explicit StationsScope(std::vector<Station> list) : saved(std::move(g_stations)) { g_stations = std::move(list); }
    ~StationsScope() { g_stations = std::move(saved); }
    std::vector<Station> saved;
};

// The built-in list, loaded with the built-in data; g_hInst is left pointing at it.
std::vector<Station> builtinStations() {
    g_hInst = builtinDataBlocks();
    StationsScope scope({});
    loadStations();
    return g_stations;
}

std::vector<std::string> lines(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::vector<unsigned char> bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TraceRow {
    double t;
    int phase;
    double freq;
    int cur, chan, pos, n;
    double ph;
};

std::vector<TraceRow> traceRows(const std::string& csv) {
    std::vector<TraceRow> rows;
    auto ls = lines(csv);
    for (size_t i = 1; i < ls.size(); ++i) {
        TraceRow r{};
        EXPECT_EQ(std::sscanf(ls[i].c_str(), "%lf,%d,%lf,%d,%d,%d,%d,%lf", &r.t, &r.phase, &r.freq, &r.cur, &r.chan,
                              &r.pos, &r.n, &r.ph),
                  8)
            << ls[i];
        rows.push_back(r);
    }
    return rows;
}

TEST(RenderWav, SampleConversion) {
    struct Case {
        float in;
        int16_t out;
    } cases[] = {{1.0f, 32767}, {-1.0f, -32767}, {1.5f, 32767}, {-2.0f, -32767}, {0.5f, 16384},
                 {-0.5f, -16384}, {0.0f, 0}, {1.0f / 32767.0f, 1}, {std::nanf(""), -32767}};
    for (const Case& c : cases) EXPECT_EQ(sampleToPcm16(c.in), c.out) << c.in;
}

// The header of a mono 16-bit 48 kHz file, byte by byte, little-endian: "RIFF", 36 + data
// size, "WAVE", "fmt ", chunk size 16, format 1 (PCM), 1 channel, 48000 samples/s, 96000
// bytes/s, block align 2, 16 bits, "data", data size.
const std::vector<unsigned char> kHeader1s = {
    0x52, 0x49, 0x46, 0x46, 0x24, 0x77, 0x01, 0x00, 0x57, 0x41, 0x56, 0x45,  // RIFF 96036 WAVE
    0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,  // fmt  16 1 1
    0x80, 0xBB, 0x00, 0x00, 0x00, 0x77, 0x01, 0x00, 0x02, 0x00, 0x10, 0x00,  // 48000 96000 2 16
    0x64, 0x61, 0x74, 0x61, 0x00, 0x77, 0x01, 0x00};                          // data 96000
const std::vector<unsigned char> kHeader60s = {
    0x52, 0x49, 0x46, 0x46, 0x24, 0xE4, 0x57, 0x00, 0x57, 0x41, 0x56, 0x45,  // RIFF 5760036 WAVE
    0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,  // fmt  16 1 1
    0x80, 0xBB, 0x00, 0x00, 0x00, 0x77, 0x01, 0x00, 0x02, 0x00, 0x10, 0x00,  // 48000 96000 2 16
    0x64, 0x61, 0x74, 0x61, 0x00, 0xE4, 0x57, 0x00};                          // data 5760000

TEST(RenderWav, HeaderAndSizes) {
    StationsScope none({});
    TraceEnv trace(true);
    TempDir dir;
    Engine source;
    struct Case {
        int seconds;
        long size;
        size_t traceLines;
        const std::vector<unsigned char>& header;
    } cases[] = {{1, 96044, 47, kHeader1s}, {60, 5760044, 2813, kHeader60s}};
    for (const Case& c : cases) {
        const std::string out = dir.file("take" + std::to_string(c.seconds) + ".wav");
        ASSERT_TRUE(renderWav(utf8ToWide(out), c.seconds, source));
        auto b = bytes(out);
        ASSERT_EQ(long(b.size()), c.size);
        EXPECT_EQ(std::vector<unsigned char>(b.begin(), b.begin() + 44), c.header);
        unsigned char made[44];
        wavHeader(made, uint32_t(c.seconds * 96000));
        EXPECT_EQ(std::vector<unsigned char>(made, made + 44), c.header);
        auto ls = lines(out + ".csv");
        ASSERT_EQ(ls.size(), c.traceLines + 1);
        EXPECT_EQ(ls[0], "t,phase,freq,cur,chan,pos,n,ph");
        EXPECT_EQ(ls[1].rfind("0.000,0,", 0), 0u) << ls[1];
        EXPECT_EQ(ls.back().rfind(c.seconds == 1 ? "0.981," : "59.989,", 0), 0u) << ls.back();
    }
}

TEST(RenderWav, NoTraceWithoutTheSwitchOrWithAnOverlongName) {
    StationsScope none({});
    TempDir dir;
    Engine source;
    {
        TraceEnv off(false);
        ASSERT_TRUE(renderWav(utf8ToWide(dir.file("a.wav")), 1, source));
        EXPECT_FALSE(fs::exists(dir.file("a.wav.csv")));
    }
#ifndef _WIN32  // folders nested deeper than Windows' 260-character paths
    TraceEnv on(true);
    // A name whose trace name would not fit in 520 bytes: the render goes on without it.
    std::string deep = dir.path();
    while (deep.size() < 560) {
        deep += "/" + std::string(60, 'd');
        fs::create_directory(deep);
    }
    ASSERT_TRUE(renderWav(utf8ToWide(deep + "/b.wav"), 1, source));
    EXPECT_EQ(fs::file_size(deep + "/b.wav"), 96044u);
    EXPECT_FALSE(fs::exists(deep + "/b.wav.csv"));
#endif
}

#ifndef _WIN32  // the folder's name limit and short temporary names are POSIX's
// A file name near the longest a folder allows: the render's temporary names are longer
// than the final ones, so they give way to short ones, and the WAV and its trace are written
// wherever their own names fit.
TEST(RenderWav, LongNamesAreWrittenWhereverTheyFit) {
    StationsScope none({});
    TraceEnv trace(true);
    TempDir dir;
    Engine source;
    const long nameMax = pathconf(dir.path().c_str(), _PC_NAME_MAX);
    ASSERT_GE(nameMax, 255);
    // Lengths of the WAV's name: its staged name fits; the WAV's fits but not the trace's;
    // neither fits; the longest trace name; a trace name too long; the longest WAV name.
    for (const long length : {nameMax - 23, nameMax - 19, 250L, nameMax - 4, nameMax - 3, nameMax}) {
        SCOPED_TRACE("name of " + std::to_string(length) + " bytes");
        const std::string name = std::string(size_t(length) - 4, 'n') + ".wav";
        const std::string out = dir.file(name);
        ASSERT_TRUE(renderWav(utf8ToWide(out), 1, source));
        EXPECT_EQ(bytes(out).size(), 96044u);
        const bool traceFits = length + 4 <= nameMax;
        if (traceFits) {
            EXPECT_EQ(lines(out + ".csv").size(), 48u);
        }
        EXPECT_EQ(dir.entries(), traceFits ? 2u : 1u) << "only the WAV and its trace, no temporary file";
        fs::remove(out);
        if (traceFits) fs::remove(out + ".csv");
    }
}

#endif

TEST(RenderWav, MissingFolderFailsAndCreatesNothing) {
    StationsScope none({});
    TraceEnv trace(true);
    TempDir dir;
    Engine source;
    EXPECT_FALSE(renderWav(utf8ToWide(dir.file("gone/x.wav")), 1, source));
    EXPECT_EQ(dir.entries(), 0u);
    EXPECT_FALSE(renderWav(utf8ToWide(dir.path()), 1, source)) << "a folder is not a file to render into";
}

#ifndef _WIN32  // a child process with a file-size limit, /dev/full
TEST(RenderWav, AFailedWriteKeepsTheEarlierFileAndLeavesNoTemporaries) {
    StationsScope none({});
    TraceEnv trace(true);
    TempDir dir;
    Engine source;
    const std::string out = dir.file("keep.wav");
    ASSERT_TRUE(renderWav(utf8ToWide(out), 1, source));
    const auto before = bytes(out);
    const auto traceBefore = bytes(out + ".csv");
    // In a child with a 200 KB file-size limit, a 10 s render fails part-way like a full disk.
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{200 * 1024, 200 * 1024};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(renderWav(utf8ToWide(out), 10, source) ? 0 : 3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << "the render must report the failure";
    EXPECT_EQ(bytes(out), before);
    EXPECT_EQ(bytes(out + ".csv"), traceBefore);
    EXPECT_EQ(dir.entries(), 2u) << "no temporary file may be left behind";
}

TEST(RenderWav, AFullDeviceIsAFailure) {
    StationsScope none({});
    Engine source;
    EXPECT_FALSE(renderWav(L"/dev/full", 1, source));
}

#endif

TEST(RenderWav, SecondRenderReplacesTheFirst) {
    StationsScope none({});
    TraceEnv trace(false);
    TempDir dir;
    Engine source;
    ASSERT_TRUE(renderWav(utf8ToWide(dir.file("same.wav")), 2, source));
    ASSERT_TRUE(renderWav(utf8ToWide(dir.file("same.wav")), 1, source));
    EXPECT_EQ(fs::file_size(dir.file("same.wav")), 96044u);
    EXPECT_EQ(dir.entries(), 1u);
}

#ifndef _WIN32  // permission bits and the creation mask
// Sets the process's file-creation mask for the life of the object.
struct UmaskScope {
    explicit UmaskScope(mode_t mask) : saved(umask(mask)) {}
    ~UmaskScope() { umask(saved); }
    mode_t saved;
};

mode_t permissions(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : mode_t(-1);
}

TEST(RenderWav, AReplacedFileKeepsItsPermissions) {
    StationsScope none({});
    TraceEnv trace(true);
    UmaskScope mask(022);
    TempDir dir;
    Engine source;
    for (const mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0604), mode_t(0660)}) {
        SCOPED_TRACE((std::ostringstream() << "mode " << std::oct << mode).str());
        const std::string out = dir.file("take.wav");
        for (const std::string& path : {out, out + ".csv"}) {
            std::ofstream(path) << "earlier";
            ASSERT_EQ(chmod(path.c_str(), mode), 0);
        }
        ASSERT_TRUE(renderWav(utf8ToWide(out), 1, source));
        EXPECT_EQ(bytes(out).size(), 96044u);
        EXPECT_EQ(permissions(out), mode);
        EXPECT_EQ(permissions(out + ".csv"), mode);
    }
    // A new file gets what the creation mask leaves of read and write for all.
    ASSERT_TRUE(renderWav(utf8ToWide(dir.file("new.wav")), 1, source));
    EXPECT_EQ(permissions(dir.file("new.wav")), mode_t(0644));
    EXPECT_EQ(permissions(dir.file("new.wav.csv")), mode_t(0644));
}

#endif

TEST(RenderWav, CopiesTheSettingsAndLeavesTheSourceAlone) {
    StationsScope none({});
    TraceEnv trace(true);
    TempDir dir;
    Engine source;
    source.sweepMs.store(60.0f);
    source.noise.store(0.0f);
    source.echoOn.store(0);
    source.echoMix = 0.0f;
    source.running.store(0);
    ASSERT_TRUE(renderWav(utf8ToWide(dir.file("s.wav")), 1, source));
    for (const TraceRow& r : traceRows(dir.file("s.wav.csv"))) EXPECT_EQ(r.n, 2880);
    // No static, no echo, no stations: the output is silence.
    auto b = bytes(dir.file("s.wav"));
    bool silent = true;
    for (size_t i = 44; i < b.size(); ++i) silent = silent && b[i] == 0;
    EXPECT_TRUE(silent);
    EXPECT_EQ(source.running.load(), 0);
    EXPECT_EQ(source.phase, 3);
    EXPECT_TRUE(source.clips.empty());
}

// What the trace of a real render shows: one channel per dwell up the band, the wrap from
// 108.00 to 87.50, dwells of the sweep's length, and clips playing only on their stations.
TEST(RenderWav, TraceOfARealRenderFollowsTheDial) {
    const DataBlockTable* saved = g_hInst;
    const std::vector<Station> all = builtinStations();
    ASSERT_GE(all.size(), 3u) << "the built-in list";
    // Three stations keep the clip decoding short.
    StationsScope three({all[0], all[all.size() / 2], all.back()});
    TraceEnv trace(true);
    TempDir dir;
    Engine source;
    source.sweepMs.store(60.0f);
    ASSERT_TRUE(renderWav(utf8ToWide(dir.file("real.wav")), 15, source));
    g_hInst = saved;
    auto rows = traceRows(dir.file("real.wav.csv"));
    ASSERT_EQ(rows.size(), size_t((15 * 48000 + 1023) / 1024));
    int wraps = 0, heard = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TraceRow& r = rows[i];
        EXPECT_EQ(r.phase, 0);
        EXPECT_EQ(r.n, 2880);
        EXPECT_NEAR(r.freq, 87.5 + 0.1 * r.chan, 0.006);
        if (r.cur >= 0) {
            ++heard;
            EXPECT_LT(std::fabs(g_stations[size_t(r.cur)].freq - r.freq), 0.05) << "clip off its station";
            EXPECT_GE(r.ph, 0.0);
        } else {
            EXPECT_EQ(r.ph, -1.0);
        }
        if (i > 0) {
            const int step = (r.chan - rows[i - 1].chan + 206) % 206;
            EXPECT_LE(step, 1) << "more than one channel in a block at t=" << r.t;
            if (step == 1 && r.chan == 0) {
                ++wraps;
                EXPECT_NEAR(rows[i - 1].freq, 108.0, 0.006);
                EXPECT_NEAR(r.freq, 87.5, 0.006);
            }
            if (step == 0) {
                EXPECT_EQ(r.pos, rows[i - 1].pos + 1024);
            }
        }
    }
    EXPECT_GE(wraps, 1) << "206 dwells of 60 ms take 12.4 s";
    EXPECT_GT(heard, 0) << "a station's clip must be heard on its channel";
}

// Decoding a clip's windows on two threads must not change a thing: the same clips adopted in
// the same order with the same draws of rng, so the same samples, with the same seeds.
uint64_t fixedSeed() { return 0x1234567887654321ull; }

TEST(RenderWav, ClipsDecodedOnTwoThreadsGiveTheSameSamples) {
    const DataBlockTable* saved = g_hInst;
    const std::vector<Station> all = builtinStations();
    ASSERT_GE(all.size(), 8u);
    StationsScope some({all[0], all[1], all[2], all[3], all[all.size() / 2], all.back()});
    auto run = [](DecodeFn decode, std::vector<float>& out, std::vector<std::vector<float>>& clips) {
        auto e = std::make_unique<Engine>();
        e->syncDecode = true;
        e->decodeClip = decode;
        e->runSeed = fixedSeed;
        e->sweepMs.store(60.0f);
        e->running.store(1);
        out.assign(14 * 48000, 0.0f);
        for (size_t done = 0; done < out.size(); done += 1024)
            e->render(out.data() + done, int(std::min<size_t>(1024, out.size() - done)));
        clips = e->clips;
        return e->rng;
    };
    std::vector<float> seqOut, parOut;
    std::vector<std::vector<float>> seqClips, parClips;
    const uint64_t seqRng = run(decodeStation, seqOut, seqClips);
    const uint64_t parRng = run(decodeStationOnTwoThreads, parOut, parClips);
    g_hInst = saved;
    EXPECT_EQ(seqRng, parRng);
    ASSERT_EQ(seqClips.size(), parClips.size());
    size_t decoded = 0;
    for (size_t i = 0; i < seqClips.size(); ++i) {
        EXPECT_TRUE(seqClips[i] == parClips[i]) << "clip of station " << i;
        decoded += seqClips[i].empty() ? 0 : 1;
    }
    EXPECT_GE(decoded, 2u);
    EXPECT_EQ(std::memcmp(seqOut.data(), parOut.data(), seqOut.size() * sizeof(float)), 0);
}

}  // namespace
