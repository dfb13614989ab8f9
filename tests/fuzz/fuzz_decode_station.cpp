// Recordings of arbitrary bytes through the clip decoder and the length probe, served from
// an in-memory built-in block (no disk access per run). The first four bytes shape the case:
//   byte 0: how the rest becomes a recording: 0 as it is, 1 repeated, 2 followed by zeros,
//           3 repeated past one window (several windows)
//   byte 1: extra size in 256-byte steps; bytes 2..3: position as a fraction of the length
// Checks what every clip promises: 4800..1440000 samples, zero ends, |sample| <= 0.9.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/program.h"
#include "catalog/decoder.h"
#include "catalog/station.h"
#include "platform/data_blocks.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<unsigned char> recording;
    static DataBlock block;
    static DataBlockTable table{&block, 1};
    static FILE* devnull = std::fopen("/dev/null", "wb");
    if (size < 5) return 0;
    const int mode = data[0] & 3;
    const size_t extra = size_t(data[1]) << 8;
    const double frac = ((data[2] << 8) | data[3]) / 65536.0;
    const uint8_t* payload = data + 4;
    const size_t n = size - 4;

    recording.clear();
    if (mode == 0) {
        recording.assign(payload, payload + n);
    } else {
        const size_t total = (mode == 3 ? 1048576 + 65536 : 200000) + extra;
        recording.reserve(total);
        recording.assign(payload, payload + std::min(n, total));
        if (mode == 2) recording.resize(total, 0);
        while (recording.size() < total)
            recording.insert(recording.end(), payload, payload + std::min(n, total - recording.size()));
    }
    block = {u"R_X_MP3", recording.data(), recording.size()};
    g_hInst = &table;
    g_dbg = devnull;  // the log lines are formatted and written, to nowhere

    if (recording.size() >= 4096)
        probeDurationBytes(recording.data(), std::min<size_t>(recording.size(), 65536), int64_t(recording.size()));

    Station s;
    s.name = L"X";
    s.file = L"x.mp3";
    s.freq = 90.0f;
    s.dur = 600.0f;
    s.offset = 0.0f;
    std::vector<float> out;
    if (decodeStation(s, frac * 600.0, out)) {
        check(out.size() >= 4800 && out.size() <= 1440000);
        check(out.front() == 0.0f && out.back() == 0.0f);
        for (float v : out) check(std::fabs(v) <= 0.9f * (1.0f + 1e-6f));
    } else {
        check(out.empty());
    }
    return 0;
}
