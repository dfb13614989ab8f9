// Helpers for the catalogue tests: a temporary program folder, a captured decode log,
// built-in block tables made in memory, synthetic MP3 frames and an independent MP3 decode
// to compare clips with. Test code only; everything here allocates freely.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <minimp3.h>

#include "base/program.h"
#include "platform/data_blocks.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace cattest {

inline std::string fixturePath(const std::string& name) {
    return std::string(KESTRUM_TEST_DIR) + "/catalog/fixtures/" + name;
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A fresh program folder with an empty radio/ below it, set as g_dir and g_radioDir with no
// built-in data (g_hInst null); all three are restored when it goes.
class ProgramFolder {
public:
    ProgramFolder() {
        root_ = dir_.path();
        std::filesystem::create_directory(radio());
        savedDir_ = g_dir;
        savedRadio_ = g_radioDir;
        savedInst_ = g_hInst;
#ifdef _WIN32
        g_dir = root_.wstring();
        g_radioDir = radio().wstring();
#else
        g_dir = utf8ToWide(root_.string());
        g_radioDir = utf8ToWide(radio().string());
#endif
        g_hInst = nullptr;
    }
    ~ProgramFolder() {
        g_dir = savedDir_;
        g_radioDir = savedRadio_;
        g_hInst = savedInst_;
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    std::filesystem::path radio() const { return root_ / "radio"; }
    void put(const std::string& name, const std::vector<unsigned char>& bytes) const {
        writeBytes(radio() / name, bytes);
    }
    void putText(const std::string& name, const std::string& text) const {
        put(name, std::vector<unsigned char>(text.begin(), text.end()));
    }

private:
    TempDir dir_;  // removed after the globals are restored
    std::filesystem::path root_;
    std::wstring savedDir_;
    std::wstring savedRadio_;
    const DataBlockTable* savedInst_;
};

// Points g_dbg at a temporary file for the lifetime of the object.
class LogCapture {
public:
    LogCapture() : file_(std::tmpfile()), saved_(g_dbg) { g_dbg = file_; }
    ~LogCapture() {
        g_dbg = saved_;
        std::fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const {
        std::fflush(file_);
        std::string all;
        std::rewind(file_);
        char buf[4096];
        size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, file_)) > 0) all.append(buf, got);
        std::fseek(file_, 0, SEEK_END);
        return all;
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        const std::string all = text();
        size_t at = 0;
        while (at < all.size()) {
            size_t lf = all.find('\n', at);
            if (lf == std::string::npos) lf = all.size();
            out.push_back(all.substr(at, lf - at));
            at = lf + 1;
        }
        return out;
    }

private:
    FILE* file_;
    FILE* saved_;
};

// A built-in block table made of named byte vectors, set as g_hInst while it lives.
class BlockTable {
public:
    void add(const std::u16string& name, std::vector<unsigned char> bytes) {
        names_.push_back(name);
        data_.push_back(std::move(bytes));
    }
    void install() {
        blocks_.clear();
        for (size_t i = 0; i < names_.size(); ++i)
            blocks_.push_back({names_[i].c_str(), data_[i].data(), data_[i].size()});
        table_ = {blocks_.data(), blocks_.size()};
        saved_ = g_hInst;
        installed_ = true;
        g_hInst = &table_;
    }
    ~BlockTable() {
        if (installed_) g_hInst = saved_;
    }

private:
    std::vector<std::u16string> names_;
    std::vector<std::vector<unsigned char>> data_;
    std::vector<DataBlock> blocks_;
    DataBlockTable table_{};
    const DataBlockTable* saved_ = nullptr;
    bool installed_ = false;
};

// MPEG-1 Layer III frames with zero side information: each decodes to 1152 samples of
// silence per channel. kbps one of the MPEG-1 rates, hz 44100, 48000 or 32000.
inline std::vector<unsigned char> silentFrames(int kbps, int hz, bool stereo, size_t frames) {
    static const int rates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    int bi = 0;
    for (int i = 1; i < 15; ++i)
        if (rates[i] == kbps) bi = i;
    const int si = hz == 44100 ? 0 : hz == 48000 ? 1 : 2;
    const size_t frameBytes = size_t(144 * kbps * 1000 / hz);
    std::vector<unsigned char> out;
    for (size_t f = 0; f < frames; ++f) {
        const size_t at = out.size();
        out.resize(at + frameBytes, 0);
        out[at] = 0xFF;
        out[at + 1] = 0xFB;  // MPEG-1, Layer III, no CRC
        out[at + 2] = (unsigned char)((bi << 4) | (si << 2));
        out[at + 3] = stereo ? 0x00 : 0xC0;
    }
    return out;
}

// Bytes that can never hold an MPEG sync word (no 0xFF), from a fixed xorshift sequence.
inline std::vector<unsigned char> garbage(size_t n, uint64_t seed = 0x1234567ULL) {
    std::vector<unsigned char> out(n);
    for (size_t i = 0; i < n; ++i) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        out[i] = (unsigned char)((seed >> 24) % 255);
    }
    return out;
}

// An independent decode: mono samples ((L + R) / 65536, or s / 32768) of bytes [0, n), at
// most until maxSamples have been collected; rate of the first decoded frame.
struct RefPcm {
    int rate = 0;
    std::vector<float> x;
};
inline RefPcm refDecode(const unsigned char* p, size_t n, size_t maxSamples = SIZE_MAX) {
    RefPcm r;
    mp3dec_t dec;
    mp3dec_init(&dec);
    int16_t frame[MINIMP3_MAX_SAMPLES_PER_FRAME];
    size_t at = 0;
    while (at < n && r.x.size() < maxSamples) {
        mp3dec_frame_info_t info{};
        int s = mp3dec_decode_frame(&dec, p + at, int(n - at), frame, &info);
        if (info.frame_bytes <= 0) break;
        if (s > 0 && r.rate == 0) r.rate = info.hz;
        for (int i = 0; i < s; ++i)
            r.x.push_back(info.channels == 2 ? float(frame[2 * i] + frame[2 * i + 1]) / 65536.0f
                                             : float(frame[i]) / 32768.0f);
        at += size_t(info.frame_bytes);
    }
    return r;
}

inline double rms(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX) {
    if (to > x.size()) to = x.size();
    double s = 0;
    for (size_t i = from; i < to; ++i) s += double(x[i]) * x[i];
    return to > from ? std::sqrt(s / double(to - from)) : 0.0;
}

// The fade weight of clip sample k in a clip of n samples: 0 at the ends, a raised cosine
// over 1440 samples, 1 in between.
inline float fadeWeight(size_t k, size_t n) {
    if (k == 0 || k == n - 1) return 0.0f;
    size_t j = k < 1440 ? k : (n - 1 - k < 1440 ? n - 1 - k : 1440);
    if (j >= 1440) return 1.0f;
    return 0.5f - 0.5f * std::cos(float(j) * 3.1415927f / 1440.0f);
}

}  // namespace cattest
