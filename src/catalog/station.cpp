// The station catalogue: list parsing, built-in block lookup, recording lookup and the
// length probe.
//
// Sections: text helpers, built-in blocks and recordings, length probe, list parsing, loading.
#include "catalog/station.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cwchar>
#include <cwctype>

#include <minimp3.h>

#include "base/program.h"
#include "base/rng.h"
#include "base/static_order.h"
#include "catalog/recording.h"
#include "platform/clock.h"
#include "platform/data_blocks.h"
#include "platform/files.h"
#include "platform/paths.h"

std::vector<Station> g_stations KESTRUM_STATIC(KESTRUM_ORDER_STATIONS);

namespace {

constexpr float kUnknownDur = 600.0f;        // seconds, the length of a recording we cannot probe
constexpr int64_t kMinRecordingBytes = 200000;
constexpr size_t kMinProbeBytes = 4096;
constexpr size_t kProbeBytes = 65536;        // read per folder recording while loading
constexpr int kProbeFrames = 64;

}  // namespace

// ---- Text helpers ----

std::wstring widen(std::string_view utf8) {
    return utf8ToWide(utf8);
}

std::wstring trimw(const std::wstring& text) {
    size_t b = 0, e = text.size();
    while (b < e && iswspaceC(text[b])) ++b;
    while (e > b && iswspaceC(text[e - 1])) --e;
    return text.substr(b, e - b);
}

std::wstring resNameFor(const std::wstring& file) {
    std::wstring name = L"R_";
    name.reserve(2 + 2 * file.size());
    for (wchar_t w : file) {
        const char32_t c = char32_t(w);
        if (c > 0xFFFF) {
            name += L"__";  // a surrogate pair: two UTF-16 units
        } else if (c >= U'a' && c <= U'z') {
            name += wchar_t(c - U'a' + U'A');
        } else if ((c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9')) {
            name += w;
        } else {
            name += L'_';
        }
    }
    return name;
}

// ---- Built-in blocks and recordings ----

bool resBlob(const wchar_t* name, const unsigned char*& data, uint64_t& size) {
    if (!name) return false;
    std::u16string units;
    for (const wchar_t* p = name; *p; ++p) {
        const char32_t c = char32_t(*p);
        if (c > 0xFFFF && c <= 0x10FFFF) {
            units += char16_t(0xD800 + ((c - 0x10000) >> 10));
            units += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            units += char16_t(c > 0x10FFFF ? 0xFFFD : c);
        }
    }
    return dataBlockFind(g_hInst, units, &data, &size);
}

bool openRecording(const std::wstring& file, RecordingSource& src) {
    const unsigned char* data = nullptr;
    uint64_t size = 0;
    if (resBlob(resNameFor(file).c_str(), data, size)) {
        src.block = data;
        src.file.reset();
        src.size = size > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(size);
        return true;
    }
    src.block = nullptr;
    src.file = openRegularFile(g_radioDir + kPathSep + file);
    if (!src.file) return false;
    src.size = fileSize(src.file.get());
    return true;
}

// ---- Length probe ----

float probeDurationBytes(const unsigned char* data, size_t n, int64_t total) {
    if (n < kMinProbeBytes || total < kMinRecordingBytes) return kUnknownDur;
    assert(data);
    mp3dec_t dec;
    mp3dec_init(&dec);
    int16_t frame[MINIMP3_MAX_SAMPLES_PER_FRAME];
    size_t pos = 0;
    for (int k = 0; k < kProbeFrames && pos < n; ++k) {
        mp3dec_frame_info_t info{};
        const int avail = int(std::min<size_t>(n - pos, INT_MAX));
        const int samples = mp3dec_decode_frame(&dec, data + pos, avail, frame, &info);
        if (info.frame_bytes <= 0) break;
        if (samples > 0 && info.bitrate_kbps > 0) {
            const float dur = float(double(total) * 8.0 / (info.bitrate_kbps * 1000.0));
            return dur > 5.0f ? dur : kUnknownDur;
        }
        pos += size_t(info.frame_bytes);
    }
    return kUnknownDur;
}

namespace {

// The length estimate of one station's recording, as found by openRecording.
float probeRecording(const std::wstring& file) {
    RecordingSource src;
    if (!openRecording(file, src)) return kUnknownDur;
    if (src.block) {
        if (src.size < kMinRecordingBytes) return kUnknownDur;
        return probeDurationBytes(src.block, kProbeBytes, src.size);
    }
    FILE* f = src.file.get();
    std::vector<unsigned char> head(kProbeBytes);
    size_t got = 0;
    if (std::fseek(f, 0, SEEK_SET) == 0) got = std::fread(head.data(), 1, head.size(), f);
    src.file.reset();
    if (got < kMinProbeBytes || src.size < kMinRecordingBytes) return kUnknownDur;
    return probeDurationBytes(head.data(), got, src.size);
}

}  // namespace

// ---- List parsing ----

std::vector<Station> parseStationList(std::string_view text) {
    std::vector<Station> out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t lf = text.find('\n', at);
        const size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(at, end - at);
        at = lf == std::string_view::npos ? text.size() : lf + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;

        const size_t bar1 = line.find('|');
        if (bar1 == std::string_view::npos) continue;
        const size_t bar2 = line.find('|', bar1 + 1);
        if (bar2 == std::string_view::npos) continue;
        const std::wstring freqField = trimw(widen(line.substr(0, bar1)));
        const std::wstring fileField = trimw(widen(line.substr(bar2 + 1)));
        if (freqField.empty() || fileField.empty()) continue;

        // Longest numeric prefix, 0 without one. Clamping in double before narrowing gives
        // the same value as narrowing first, without a float overflow for huge fields.
        const double mhz = wcstodC(freqField.c_str());
        if (std::isnan(mhz)) continue;  // no place on the dial, and it would break the sort
        const float freq = mhz < kBandLowMHz ? kBandLowMHz : mhz > kBandHighMHz ? kBandHighMHz : float(mhz);

        const size_t cut = fileField.find_last_of(L"\\/");
        Station s;
        s.name = trimw(widen(line.substr(bar1 + 1, bar2 - bar1 - 1)));
        if (s.name.empty()) s.name = fileField;
        s.file = cut == std::wstring::npos ? fileField : fileField.substr(cut + 1);
        s.freq = freq;
        s.dur = kUnknownDur;
        s.offset = 0.0f;
        out.push_back(std::move(s));
    }
    return out;
}

// ---- Loading ----

void loadStations() {
    g_stations.clear();

    std::string text;
    const unsigned char* data = nullptr;
    uint64_t size = 0;
    if (resBlob(L"R_STATIONS_TXT", data, size)) {
        text.assign(reinterpret_cast<const char*>(data), size_t(size));
    } else {
        FileHandle f = openRegularFile(g_radioDir + kPathSep + L"stations.txt");
        if (!f) return;
        char chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) text.append(chunk, got);
    }

    g_stations = parseStationList(text);
    std::sort(g_stations.begin(), g_stations.end(),
              [](const Station& a, const Station& b) { return a.freq < b.freq; });

    uint64_t rng = timeSeed();
    if (g_stations.empty()) return;
    for (Station& s : g_stations) {
        s.dur = probeRecording(s.file);
        s.offset = uniformOf(xorshift64(rng)) * s.dur;
    }
}
