// The station catalogue: the list of stations the dial sweeps, and lookups of built-in data.
//
// loadStations runs once on the start-up thread before any other thread exists; afterwards
// g_stations is read-only and every thread reads it without a lock. The other functions are
// pure or only read g_hInst and g_radioDir, and any thread may call them. All but
// probeDurationBytes allocate; probing reads at most 64 KiB of a folder recording
// and looks at built-in blocks in place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr float kBandLowMHz = 87.5f;    // the ends of the dial
constexpr float kBandHighMHz = 108.0f;

struct Station {
    std::wstring name;  // display name: the name field trimmed, or the file field as written
    std::wstring file;  // recording file name without any folder part
    float freq;         // MHz, 87.5..108.0, the sort key
    float dur;          // seconds, estimated recording length; 600 when unknown
    float offset;       // seconds, random start offset in [0, dur)
};

extern std::vector<Station> g_stations;

// Rebuilds g_stations from the built-in list, else <g_radioDir>/stations.txt.
void loadStations();
// Parses list text into stations in text order (no probing, no sort; dur 600, offset 0);
// used by loadStations. Malformed lines and frequencies that read as not-a-number are skipped.
std::vector<Station> parseStationList(std::string_view text);

// Built-in block by name; true only with a non-null pointer and a non-zero size.
bool resBlob(const wchar_t* name, const unsigned char*& data, uint64_t& size);
// "R_" + file with a..z upper-cased, A..Z and 0..9 kept, every other UTF-16 unit "_".
std::wstring resNameFor(const std::wstring& file);
std::wstring widen(std::string_view utf8);
std::wstring trimw(const std::wstring& text);

// Constant-bitrate length estimate from the first decodable frame among the first n bytes.
float probeDurationBytes(const unsigned char* data, size_t n, int64_t total);
