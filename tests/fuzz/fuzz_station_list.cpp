// Station lists of arbitrary bytes: the parser, then a whole load with the bytes as the
// built-in list (and, padded, as the built-in recording "a.mp3"), checking what every
// loaded catalogue promises: ascending dial frequencies on the dial, 0 <= offset < dur.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/program.h"
#include "catalog/station.h"
#include "platform/data_blocks.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void checkStation(const Station& s) {
    check(s.freq >= 87.5f && s.freq <= 108.0f);
    check(!s.name.empty());
    check(s.file.find_first_of(L"\\/") == std::wstring::npos);
    check(resNameFor(s.file).compare(0, 2, L"R_") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<unsigned char> text, recording;
    static DataBlock blocks[2];
    static DataBlockTable table{blocks, 2};
    text.assign(data, data + size);
    recording.assign(data, data + size);
    if (recording.size() < 200000) recording.resize(200000, 0);
    blocks[0] = {u"R_STATIONS_TXT", text.data(), text.size()};
    blocks[1] = {u"R_A_MP3", recording.data(), recording.size()};
    g_hInst = &table;
    g_dir = L"/nonexistent-kestrum-fuzz";
    g_radioDir = g_dir + L"/radio";

    const std::string_view view(reinterpret_cast<const char*>(data), size);
    for (const Station& s : parseStationList(view)) checkStation(s);

    loadStations();
    for (size_t i = 0; i < g_stations.size(); ++i) {
        const Station& s = g_stations[i];
        checkStation(s);
        if (i > 0) check(g_stations[i - 1].freq <= s.freq);
        check(s.dur > 5.0f && std::isfinite(s.dur));
        check(s.offset >= 0.0f && s.offset < s.dur);
    }
    return 0;
}
