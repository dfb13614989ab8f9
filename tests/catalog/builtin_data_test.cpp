// The built-in station programme as the program reads it: the list text in the block
// R_STATIONS_TXT and every built-in recording, through the catalogue's own lookup
// (resBlob with g_hInst on the built-in table), its length estimate and the clip decoder.
// The true length of a recording comes from decoding all of its frames with minimp3.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "minimp3.h"

#include "base/program.h"
#include "catalog/decoder.h"
#include "catalog/station.h"
#include "platform/data_blocks.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr size_t kStations = 30;
constexpr size_t kBuiltIn = 19;
constexpr size_t kProbeBytes = 65536;  // what the catalogue hands the length estimate
constexpr size_t kMaxClip = 1440000;   // 30 s at 48 kHz

// Built-in lookup switched on for the test, the previous state restored afterwards.
class BuiltinData : public ::testing::Test {
protected:
    void SetUp() override {
        savedInst_ = g_hInst;
        savedStations_ = g_stations;
        g_hInst = builtinDataBlocks();
    }
    void TearDown() override {
        g_hInst = savedInst_;
        g_stations = savedStations_;
    }

    static std::string_view listText() {
        const unsigned char* data = nullptr;
        uint64_t size = 0;
        if (!resBlob(L"R_STATIONS_TXT", data, size)) return {};
        return {reinterpret_cast<const char*>(data), size_t(size)};
    }

private:
    const DataBlockTable* savedInst_ = nullptr;
    std::vector<Station> savedStations_;
};

struct Block {
    const unsigned char* data = nullptr;
    uint64_t size = 0;
};

Block blockFor(const Station& s) {
    Block b;
    if (!resBlob(resNameFor(s.file).c_str(), b.data, b.size)) return {};
    return b;
}

// What every frame of a recording says about it.
struct FrameScan {
    double seconds = 0;          // decoded samples per channel / rate
    int frames = 0;              // frames that decoded to samples
    int undecoded = 0;           // frames found but decoded to nothing
    std::set<int> hz, channels, kbps;
};

FrameScan scanFrames(const Block& b) {
    static mp3dec_t dec;  // large; one test thread
    static mp3d_sample_t pcm[2304];
    mp3dec_init(&dec);
    FrameScan scan;
    uint64_t pos = 0;
    long long samples = 0;
    while (pos < b.size) {
        mp3dec_frame_info_t info{};
        int n = mp3dec_decode_frame(&dec, b.data + pos, int(b.size - pos), pcm, &info);
        if (info.frame_bytes <= 0) break;
        if (n > 0) {
            samples += n;
            ++scan.frames;
            scan.hz.insert(info.hz);
            scan.channels.insert(info.channels);
            scan.kbps.insert(info.bitrate_kbps);
        } else {
            ++scan.undecoded;
        }
        pos += uint64_t(info.frame_bytes);
    }
    if (scan.hz.size() == 1) scan.seconds = double(samples) / *scan.hz.begin();
    return scan;
}

// Longest stretch of consecutive 100 ms pieces whose RMS stays below `floor`, in seconds.
double longestQuietSeconds(const std::vector<float>& clip, float floor) {
    constexpr size_t piece = 4800;
    double longest = 0, run = 0;
    for (size_t i = 0; i + piece <= clip.size(); i += piece) {
        double sum = 0;
        for (size_t k = i; k < i + piece; ++k) sum += double(clip[k]) * clip[k];
        run = std::sqrt(sum / piece) < floor ? run + 0.1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        out.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 0x80 ? char(c) : '?';
    return s;
}

TEST_F(BuiltinData, ListTextIsCommentThenThirtyPlainLines) {
    std::string_view text = listText();
    ASSERT_FALSE(text.empty()) << "no block R_STATIONS_TXT";
    EXPECT_EQ(text.find('\r'), std::string_view::npos) << "line ends are LF only";
    EXPECT_NE(text.back(), '\n') << "no LF after the last line";
    for (unsigned char c : text) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << "byte " << int(c);

    std::vector<std::string> lines = splitLines(text);
    ASSERT_EQ(lines.size(), 1 + kStations);
    EXPECT_EQ(lines[0], "# freq|Name|file.mp3");  // also rules out a byte-order mark
    const std::regex line(R"(^(\d{2,3}\.\d)\|([A-Z0-9 .]+)\|([a-z0-9]+\.mp3)$)");
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(lines[i], m, line)) << "line " << i << ": " << lines[i];
        if (m.size() == 4) {
            EXPECT_NE(m[2].str().front(), ' ') << "name starts with a space: " << lines[i];
            EXPECT_NE(m[2].str().back(), ' ') << "name ends with a space: " << lines[i];
        }
    }
}

TEST_F(BuiltinData, ListParsesToThirtyStationsOverTheBand) {
    std::vector<Station> list = parseStationList(listText());
    ASSERT_EQ(list.size(), kStations);

    EXPECT_EQ(list.front().freq, 87.9f);
    EXPECT_EQ(list.back().freq, 106.2f);
    std::set<std::wstring> files;
    std::vector<float> steps;
    size_t builtIn = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const Station& s = list[i];
        SCOPED_TRACE(narrow(s.file));
        EXPECT_FLOAT_EQ(s.freq, std::round(s.freq * 10.0f) / 10.0f) << "one decimal";
        if (i > 0) {
            EXPECT_GT(s.freq, list[i - 1].freq) << "ascending and distinct";
            steps.push_back(s.freq - list[i - 1].freq);
        }
        EXPECT_TRUE(std::regex_match(narrow(s.name), std::regex("[A-Z0-9 .]+")));
        EXPECT_TRUE(std::regex_match(narrow(s.file), std::regex("[a-z0-9]+\\.mp3")));
        EXPECT_TRUE(files.insert(s.file).second) << "file used twice";
        if (blockFor(s).data) ++builtIn;
    }
    EXPECT_EQ(builtIn, kBuiltIn);

    // Spread like a real band: some close neighbours, some long empty stretches.
    auto count = [&](float lo, float hi) {
        return std::count_if(steps.begin(), steps.end(), [&](float d) { return d > lo && d < hi; });
    };
    EXPECT_GE(count(0.15f, 0.45f), 3) << "neighbours 0.2 to 0.4 MHz apart";
    EXPECT_GE(count(1.5f, 100.0f), 2) << "stretches of 1.5 MHz or more without a station";
}

TEST_F(BuiltinData, RecordingsAreConstantBitrateInEveryFormatTheDecoderReads) {
    std::vector<Station> list = parseStationList(listText());
    std::set<int> rates, channels;
    size_t tagged = 0;
    uint64_t total = 0;
    for (const Station& s : list) {
        Block b = blockFor(s);
        if (!b.data) continue;
        SCOPED_TRACE(narrow(s.file));
        EXPECT_GE(b.size, uint64_t(1.2 * kMiB));
        EXPECT_LE(b.size, uint64_t(2.5 * kMiB));
        total += b.size;
        if (b.size >= 3 && std::string_view(reinterpret_cast<const char*>(b.data), 3) == "ID3") ++tagged;

        FrameScan scan = scanFrames(b);
        EXPECT_EQ(scan.undecoded, 0);
        ASSERT_EQ(scan.hz.size(), 1u) << "one sample rate";
        ASSERT_EQ(scan.channels.size(), 1u) << "one channel count";
        ASSERT_EQ(scan.kbps.size(), 1u) << "constant bitrate";
        EXPECT_GE(*scan.kbps.begin(), 48);
        EXPECT_LE(*scan.kbps.begin(), 192);
        rates.insert(*scan.hz.begin());
        channels.insert(*scan.channels.begin());
    }
    EXPECT_LT(total, 32 * kMiB);
    EXPECT_EQ(rates, (std::set<int>{22050, 32000, 44100, 48000}));
    EXPECT_EQ(channels, (std::set<int>{1, 2}));
    EXPECT_GE(tagged, 2u) << "a few recordings start with an ID3v2 tag";
    EXPECT_LT(tagged, kBuiltIn);
}

TEST_F(BuiltinData, LengthEstimateWithinThreePercentOfDecodedLength) {
    loadStations();
    ASSERT_EQ(g_stations.size(), kStations);
    size_t checked = 0;
    for (const Station& s : g_stations) {
        Block b = blockFor(s);
        if (!b.data) continue;
        SCOPED_TRACE(narrow(s.file));
        double truth = scanFrames(b).seconds;
        float probe = probeDurationBytes(b.data, std::min<uint64_t>(kProbeBytes, b.size), int64_t(b.size));
        EXPECT_NEAR(probe, truth, truth * 0.03);
        EXPECT_EQ(s.dur, probe) << "loadStations keeps the estimate";
        EXPECT_GE(s.offset, 0.0f);
        EXPECT_LT(s.offset, s.dur);
        ++checked;
    }
    EXPECT_EQ(checked, kBuiltIn);
}

// Start, middle and just below the end: the first and the last decode windows included.
TEST_F(BuiltinData, EveryRecordingYieldsFullClipsAcrossItsLength) {
    loadStations();
    size_t checked = 0;
    for (const Station& s : g_stations) {
        if (!blockFor(s).data) continue;
        for (double pos : {0.0, s.dur / 2.0, std::nextafter(double(s.dur), 0.0)}) {
            SCOPED_TRACE(narrow(s.file) + " at " + std::to_string(pos) + " s");
            std::vector<float> clip;
            ASSERT_TRUE(decodeStation(s, pos, clip));
            // Every window of these recordings decodes past 30 s, so the clip is the full cap.
            ASSERT_EQ(clip.size(), kMaxClip);
            EXPECT_EQ(clip.front(), 0.0f);
            EXPECT_EQ(clip.back(), 0.0f);
            float peak = 0;
            for (float x : clip) peak = std::max(peak, std::fabs(x));
            EXPECT_LE(peak, 0.9f + 1e-6f);
            EXPECT_GT(peak, 0.1f);
            // A programme, not dead air: no 2 s in the clip near silence (-54 dBFS).
            EXPECT_LE(longestQuietSeconds(clip, 0.002f), 2.0);
        }
        ++checked;
    }
    EXPECT_EQ(checked, kBuiltIn);
}

}  // namespace
