// The clip decoder on real recordings (mono and stereo, 8000 to 48000 Hz, shorter and
// longer than one window) and on hostile ones: clip length, the 30 s cap, gain limits,
// fades, window offsets and choice, failures and the exact decode log lines.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "catalog/decoder.h"
#include "catalog_support.h"

namespace {

using namespace cattest;

constexpr size_t kWindow = 1048576;
constexpr size_t kMaxClip = 1440000;

Station stationFor(const std::wstring& file, float dur) {
    Station s;
    s.name = L"TEST";
    s.file = file;
    s.freq = 90.0f;
    s.dur = dur;
    s.offset = 0.0f;
    return s;
}

std::string finalLine(const char* file, double pos, double dur, float rms, size_t n) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "dec %s pos %.1f dur %.1f bestRms %.4f bestN %d", file, pos, dur,
                  double(rms), int(n));
    return buf;
}

std::string skipLine(const char* file, int attempt, long long off) {
    return "dec " + std::string(file) + " att " + std::to_string(attempt) + " off " +
           std::to_string(off) + " hz 0 SKIP";
}

// The RMS as the decoder reports it: a double sum, narrowed after the root.
float rmsAsLogged(const std::vector<float>& x) {
    return float(rms(x));
}

// Value at source position t by linear interpolation, the last sample beyond the end.
double interpolate(const std::vector<float>& x, double t) {
    const size_t i = size_t(t);
    if (i + 1 >= x.size()) return x.back();
    const double f = t - double(i);
    return x[i] * (1.0 - f) + x[i + 1] * f;
}

const std::vector<float> kUntouched = {1.0f, 2.0f, 3.0f};

// ---- Real recordings ----

TEST(DecodeStation, StereoAt48kHzIsTheDecodedSignalAtMaximumGainWithFades) {
    ProgramFolder folder;
    LogCapture log;
    const std::vector<unsigned char> mp3 = readBytes(fixturePath("quiet_stereo48k.mp3"));
    ASSERT_LT(mp3.size(), kWindow);
    folder.put("quiet.mp3", mp3);
    const RefPcm ref = refDecode(mp3.data(), mp3.size());  // the whole file is the window
    ASSERT_EQ(ref.rate, 48000);
    ASSERT_LT(ref.x.size(), kMaxClip);
    const float refRms = rmsAsLogged(ref.x);
    ASSERT_LT(refRms, 0.15f / 8.0f);  // quiet enough for the gain to stop at 8

    std::vector<float> out(2000000, NAN);
    ASSERT_TRUE(decodeStation(stationFor(L"quiet.mp3", 18.0f), 3.0, out));
    ASSERT_EQ(out.size(), ref.x.size());
    size_t wrong = 0, firstWrong = 0;
    for (size_t k = 0; k < out.size(); ++k) {
        if (out[k] != ref.x[k] * 8.0f * fadeWeight(k, out.size())) {
            if (!wrong++) firstWrong = k;
        }
    }
    EXPECT_EQ(wrong, 0u) << "first at " << firstWrong;
    EXPECT_EQ(out.front(), 0.0f);
    EXPECT_EQ(out.back(), 0.0f);
    // Six attempts on the one window of a short recording: no line but the last.
    EXPECT_EQ(log.lines(), std::vector<std::string>{finalLine("quiet.mp3", 3.0, 18.0, refRms, ref.x.size())});
}

TEST(DecodeStation, MonoAt22050HzIsResampledAndTheGainStopsAtAFifth) {
    ProgramFolder folder;
    LogCapture log;
    const std::vector<unsigned char> mp3 = readBytes(fixturePath("square_mono22k.mp3"));
    folder.put("square.mp3", mp3);
    const RefPcm ref = refDecode(mp3.data(), mp3.size());
    ASSERT_EQ(ref.rate, 22050);
    const float refRms = rmsAsLogged(ref.x);
    ASSERT_GT(refRms, 0.15f / 0.2f);  // loud enough for the gain to stop at 0.2

    std::vector<float> out;
    ASSERT_TRUE(decodeStation(stationFor(L"square.mp3", 20.0f), 0.0, out));
    const size_t n = size_t(uint64_t(ref.x.size()) * 48000 / 22050);
    ASSERT_LT(n, kMaxClip);
    ASSERT_EQ(out.size(), n);
    const double step = 22050.0 / 48000.0;
    double worst = 0.0;
    for (size_t k = 1440; k + 1440 < n; ++k)
        worst = std::max(worst, std::fabs(out[k] - 0.2 * interpolate(ref.x, double(k) * step)));
    EXPECT_LT(worst, 1e-5);
    EXPECT_EQ(log.lines(), std::vector<std::string>{finalLine("square.mp3", 0.0, 20.0, refRms, ref.x.size())});
}

TEST(DecodeStation, LongRecordingTakesTheLoudestWindowCapsAt30sAndLimitsPeaks) {
    const std::vector<unsigned char> mp3 = readBytes(fixturePath("rising_stereo44k.mp3"));
    ASSERT_GT(mp3.size(), kWindow);
    const int64_t maxOff = int64_t(mp3.size() - kWindow);
    const struct {
        double pos;
        int best;  // latest window: the recording gets louder towards its end
    } cases[] = {{35.0, 3}, {70.0, 5}};  // 70 is the length: read as 0
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pos);
        ProgramFolder folder;
        LogCapture log;
        folder.put("rising.mp3", mp3);
        float rmsOf[6];
        RefPcm best;
        for (int a = 0; a < 6; ++a) {
            double x = a * 0.163 + std::fmod(c.pos, 70.0) / 70.0;
            const int64_t off = int64_t((x - std::floor(x)) * double(maxOff));
            RefPcm w = refDecode(mp3.data() + off, kWindow, kMaxClip);
            rmsOf[a] = rmsAsLogged(w.x);
            if (a == c.best) best = std::move(w);
        }
        for (int a = 0; a < 6; ++a) {
            if (a == c.best) continue;
            ASSERT_LT(rmsOf[a], rmsOf[c.best]) << "attempt " << a;
        }
        ASSERT_EQ(best.rate, 44100);
        ASSERT_GE(best.x.size(), kMaxClip);
        ASSERT_LT(best.x.size(), kMaxClip + 1152);

        std::vector<float> out;
        ASSERT_TRUE(decodeStation(stationFor(L"rising.mp3", 70.0f), c.pos, out));
        EXPECT_EQ(out.size(), kMaxClip);  // 1440000 x 48000 / 44100 is above the cap
        EXPECT_EQ(log.lines(), std::vector<std::string>{finalLine("rising.mp3", c.pos, 70.0,
                                                                  rmsOf[c.best], best.x.size())});
        // The bursts would exceed 0.9 at the loudness gain: the loudest sample is brought to 0.9.
        float peak = 0.0f;
        for (float v : out) peak = std::max(peak, std::fabs(v));
        EXPECT_NEAR(peak, 0.9f, 1e-6f);
        float refPeak = 0.0f;
        for (float v : best.x) refPeak = std::max(refPeak, std::fabs(v));
        ASSERT_GT(std::min(0.15f / rmsOf[c.best], 8.0f) * refPeak * 0.9f, 0.9f);
        // Shape: the clip follows the best window, one scale factor throughout.
        const double step = 44100.0 / 48000.0;
        double num = 0.0, den = 0.0;
        for (size_t k = 1440; k + 1440 < out.size(); k += 97) {
            const double r = interpolate(best.x, double(k) * step);
            num += out[k] * r;
            den += r * r;
        }
        const double scale = num / den;
        double worst = 0.0;
        for (size_t k = 1440; k + 1440 < out.size(); k += 97)
            worst = std::max(worst, std::fabs(out[k] - scale * interpolate(best.x, double(k) * step)));
        EXPECT_LT(worst, 1e-5);
    }
}

TEST(DecodeStation, NearSilenceAt8kHzFailsAfterTheFinalLine) {
    ProgramFolder folder;
    LogCapture log;
    const std::vector<unsigned char> mp3 = readBytes(fixturePath("faint_mono8k.mp3"));
    folder.put("faint.mp3", mp3);
    const RefPcm ref = refDecode(mp3.data(), mp3.size());
    ASSERT_EQ(ref.rate, 8000);  // the lowest rate a window may have
    const float refRms = rmsAsLogged(ref.x);
    ASSERT_GT(refRms, 0.0f);
    ASSERT_LT(refRms, 0.008f);
    std::vector<float> out = kUntouched;
    EXPECT_FALSE(decodeStation(stationFor(L"faint.mp3", 105.0f), 1.0, out));
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(log.lines(), std::vector<std::string>{finalLine("faint.mp3", 1.0, 105.0, refRms, ref.x.size())});
}

// ---- Synthetic recordings ----

TEST(DecodeStation, SilenceNeverBecomesBest) {
    ProgramFolder folder;
    LogCapture log;
    folder.put("silence.mp3", silentFrames(128, 44100, false, 800));
    std::vector<float> out = kUntouched;
    EXPECT_FALSE(decodeStation(stationFor(L"silence.mp3", 600.0f), 0.0, out));
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"dec silence.mp3 pos 0.0 dur 600.0 bestRms 0.0000 bestN 0"});
}

TEST(DecodeStation, TooFewSamplesGiveShortLines) {
    ProgramFolder folder;
    LogCapture log;
    // 20 frames of 1152 samples at the end of 200000 bytes: 23040 samples per window.
    const std::vector<unsigned char> frames = silentFrames(128, 44100, false, 20);
    std::vector<unsigned char> bytes(200000 - frames.size(), 0);
    bytes.insert(bytes.end(), frames.begin(), frames.end());
    folder.put("short.mp3", bytes);
    std::vector<float> out = kUntouched;
    EXPECT_FALSE(decodeStation(stationFor(L"short.mp3", 600.0f), 0.0, out));
    EXPECT_EQ(out, kUntouched);
    std::vector<std::string> expect;
    for (int a = 0; a < 6; ++a) expect.push_back("dec short.mp3 att " + std::to_string(a) + " pcm 23040 SHORT");
    expect.push_back("dec short.mp3 pos 0.0 dur 600.0 bestRms 0.0000 bestN 0");
    EXPECT_EQ(log.lines(), expect);
}

TEST(DecodeStation, WindowOffsetsFollowThePositionInTheRecording) {
    const struct {
        double pos;
        float dur;
        long long off[6];
        const char* posText;
    } cases[] = {
        // maxOff = 1000000: attempt a starts at frac(a * 0.163 + p / dur) of it, truncated
        // (5 * 0.163 + 0.5 falls just short of 1.315 in double).
        {300.0, 600.0f, {500000, 663000, 826000, 989000, 152000, 314999}, "300.0"},
        {0.0, 600.0f, {0, 163000, 326000, 489000, 652000, 815000}, "0.0"},
        {600.0, 600.0f, {0, 163000, 326000, 489000, 652000, 815000}, "600.0"},    // pos = dur is 0
        {1800.5, 600.0f, {833, 163833, 326833, 489833, 652833, 815833}, "1800.5"},  // whole periods go
        {-10.0, 600.0f, {983333, 146333, 309333, 472333, 635333, 798333}, "-10.0"}, // as 590
    };
    const std::vector<unsigned char> noise = garbage(kWindow + 1000000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.posText);
        ProgramFolder folder;
        LogCapture log;
        folder.put("noise.mp3", noise);
        std::vector<float> out = kUntouched;
        EXPECT_FALSE(decodeStation(stationFor(L"noise.mp3", c.dur), c.pos, out));
        EXPECT_EQ(out, kUntouched);
        std::vector<std::string> expect;
        for (int a = 0; a < 6; ++a) expect.push_back(skipLine("noise.mp3", a, c.off[a]));
        expect.push_back(std::string("dec noise.mp3 pos ") + c.posText + " dur 600.0 bestRms 0.0000 bestN 0");
        EXPECT_EQ(log.lines(), expect);
    }
}

TEST(DecodeStation, ARecordingOfAtMostOneWindowIsAlwaysReadFromTheStart) {
    for (size_t size : {size_t(200000), kWindow}) {
        ProgramFolder folder;
        LogCapture log;
        folder.put("noise.mp3", garbage(size));
        std::vector<float> out;
        EXPECT_FALSE(decodeStation(stationFor(L"noise.mp3", 600.0f), 333.0, out));
        std::vector<std::string> expect;
        for (int a = 0; a < 6; ++a) expect.push_back(skipLine("noise.mp3", a, 0));
        expect.push_back("dec noise.mp3 pos 333.0 dur 600.0 bestRms 0.0000 bestN 0");
        EXPECT_EQ(log.lines(), expect);
    }
}

TEST(DecodeStation, UnusablePositionsAndLengthsNeitherHangNorFail) {
    ProgramFolder folder;
    const std::vector<unsigned char> noise = garbage(kWindow + 1000000);
    folder.put("noise.mp3", noise);
    folder.put("quiet.mp3", readBytes(fixturePath("quiet_stereo48k.mp3")));
    const struct {
        double pos;
        float dur;
    } cases[] = {{1e300, 600.0f}, {-1e300, 600.0f}, {INFINITY, 600.0f}, {NAN, 600.0f},
                 {5.0, 0.0f},     {5.0, -3.0f},     {5.0, NAN},         {5.0, INFINITY}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.pos) + " / " + std::to_string(c.dur));
        LogCapture log;
        std::vector<float> out;
        EXPECT_FALSE(decodeStation(stationFor(L"noise.mp3", c.dur), c.pos, out));
        const std::vector<std::string> lines = log.lines();
        ASSERT_EQ(lines.size(), 7u);
        for (int a = 0; a < 6; ++a) EXPECT_EQ(lines[a].rfind("dec noise.mp3 att " + std::to_string(a) + " off ", 0), 0u);
        if (std::isfinite(c.pos) && c.dur > 0.0f) continue;  // the clip: only where no period exists
        EXPECT_TRUE(decodeStation(stationFor(L"quiet.mp3", c.dur), c.pos, out));
        EXPECT_GE(out.size(), 4800u);
    }
}

// ---- Failures before any attempt ----

TEST(DecodeStation, MissingTooSmallOrNotAFileFailsWithoutALogLine) {
    ProgramFolder folder;
    const std::vector<unsigned char> quiet = readBytes(fixturePath("quiet_stereo48k.mp3"));
    folder.put("small.mp3", std::vector<unsigned char>(quiet.begin(), quiet.begin() + 199999));
    folder.put("full.mp3", quiet);
    std::filesystem::create_directory(folder.radio() / "folder.mp3");
    std::filesystem::create_directory(folder.radio() / "sub");
    std::filesystem::copy_file(folder.radio() / "full.mp3", folder.radio() / "sub" / "x.mp3");
#ifndef _WIN32
    ASSERT_EQ(mkfifo((folder.radio() / "pipe.mp3").c_str(), 0600), 0);  // no writer: opening must not wait
#endif
    BlockTable table;
    table.add(u"R_BLOCK_MP3", std::vector<unsigned char>(quiet.begin(), quiet.begin() + 199999));
    table.add(u"R_FULL_MP3", std::vector<unsigned char>(quiet.begin(), quiet.begin() + 150000));
    table.install();
    const std::wstring cases[] = {
        L"missing.mp3", L"small.mp3", L"folder.mp3", L"pipe.mp3", L"", L".", L"..",
        std::wstring(100000, L'a') + L".mp3",
        std::wstring(L"sub/x.mp3\0", 10),        // a zero character never reaches the OS
        L"block.mp3",                            // a small block, no folder file
        L"full.mp3",                             // a small block hides a usable folder file
        L"\uFFFD\U0001F4FB.mp3",
    };
    for (const std::wstring& file : cases) {
        SCOPED_TRACE(wideToUtf8(file.substr(0, 40)));
        LogCapture log;
        std::vector<float> out = kUntouched;
        EXPECT_FALSE(decodeStation(stationFor(file, 18.0f), 1.0, out));
        EXPECT_EQ(out, kUntouched);
        EXPECT_EQ(log.text(), "");
    }
}

TEST(DecodeStation, ABuiltInBlockDecodesLikeTheSameFileInTheFolder) {
    ProgramFolder folder;
    const std::vector<unsigned char> mp3 = readBytes(fixturePath("rising_stereo44k.mp3"));
    folder.put("rising.mp3", mp3);
    std::vector<float> fromFolder, fromBlock;
    std::string folderLog, blockLog;
    {
        LogCapture log;
        ASSERT_TRUE(decodeStation(stationFor(L"rising.mp3", 70.0f), 12.3, fromFolder));
        folderLog = log.text();
    }
    BlockTable table;
    table.add(u"R_RISING_MP3", mp3);
    table.install();
    {
        LogCapture log;
        ASSERT_TRUE(decodeStation(stationFor(L"rising.mp3", 70.0f), 12.3, fromBlock));
        blockLog = log.text();
    }
    EXPECT_EQ(fromFolder, fromBlock);
    EXPECT_EQ(folderLog, blockLog);
}

#ifndef _WIN32  // a log stream made with fopencookie, truncate
// ---- A recording that shrinks while it is read ----

struct ShrinkOnSkip {
    std::string path;
    off_t newSize;
    std::string written;
};

ssize_t shrinkingWrite(void* cookie, const char* buf, size_t n) {
    auto* s = static_cast<ShrinkOnSkip*>(cookie);
    s->written.append(buf, n);
    if (s->written.find("SKIP") != std::string::npos && s->newSize >= 0) {
        if (truncate(s->path.c_str(), s->newSize) != 0) return -1;
        s->newSize = -1;
    }
    return ssize_t(n);
}

TEST(DecodeStation, ARecordingThatShrinksIsDecodedOnlyAsFarAsItCanBeRead) {
    ProgramFolder folder;
    folder.put("noise.mp3", garbage(kWindow + 1000000));
    // Attempts start at 500000, 663000, 826000, 989000, 152000, 314999. After the first
    // SKIP line the file ends 65535 bytes after attempt 1's start: too little to decode.
    ShrinkOnSkip shrink{(folder.radio() / "noise.mp3").string(), 663000 + 65535, {}};
    cookie_io_functions_t io{};
    io.write = shrinkingWrite;
    FILE* stream = fopencookie(&shrink, "w", io);
    ASSERT_NE(stream, nullptr);
    FILE* saved = g_dbg;
    g_dbg = stream;
    std::vector<float> out = kUntouched;
    const bool ok = decodeStation(stationFor(L"noise.mp3", 600.0f), 300.0, out);
    g_dbg = saved;
    std::fclose(stream);
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(shrink.written, skipLine("noise.mp3", 0, 500000) + "\n" + skipLine("noise.mp3", 4, 152000) +
                                  "\n" + skipLine("noise.mp3", 5, 314999) +
                                  "\ndec noise.mp3 pos 300.0 dur 600.0 bestRms 0.0000 bestN 0\n");
}

#endif

// ---- Threads ----

TEST(DecodeStation, TwoThreadsDecodeAtOnceWithTheSameResults) {
    ProgramFolder folder;
    LogCapture log;
    folder.put("square.mp3", readBytes(fixturePath("square_mono22k.mp3")));
    folder.put("quiet.mp3", readBytes(fixturePath("quiet_stereo48k.mp3")));
    const Station square = stationFor(L"square.mp3", 20.0f);
    const Station quiet = stationFor(L"quiet.mp3", 18.0f);
    std::vector<float> wantSquare, wantQuiet;
    ASSERT_TRUE(decodeStation(square, 7.0, wantSquare));
    ASSERT_TRUE(decodeStation(quiet, 5.0, wantQuiet));
    const std::vector<std::string> single = log.lines();
    ASSERT_EQ(single.size(), 2u);

    bool same[2] = {true, true};
    auto work = [&](int id) {
        std::vector<float> a, b;
        for (int i = 0; i < 2; ++i) {
            same[id] &= decodeStation(id ? quiet : square, id ? 5.0 : 7.0, a) && a == (id ? wantQuiet : wantSquare);
            same[id] &= decodeStation(id ? square : quiet, id ? 7.0 : 5.0, b) && b == (id ? wantSquare : wantQuiet);
        }
    };
    std::thread t0(work, 0), t1(work, 1);
    t0.join();
    t1.join();
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 2u + 8u);
    for (const std::string& line : lines) EXPECT_TRUE(line == single[0] || line == single[1]) << line;
}

}  // namespace
