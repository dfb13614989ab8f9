// A hand-made station list for tests: g_stations becomes one station per frequency, named
// "STATION 1", "STATION 2", ..., with files "s0.mp3", "s1.mp3", ..., dur 600 s and offset 0,
// in the order given (the tests give ascending frequencies).
#pragma once

#include <string>
#include <vector>

#include "catalog/station.h"

inline std::wstring stationFile(int i) { return L"s" + std::to_wstring(i) + L".mp3"; }

inline void setStations(const std::vector<float>& freqs) {
    g_stations.clear();
    for (size_t i = 0; i < freqs.size(); ++i)
        g_stations.push_back(Station{L"STATION " + std::to_wstring(i + 1), stationFile(int(i)), freqs[i], 600.0f, 0.0f});
}
