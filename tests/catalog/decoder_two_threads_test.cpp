// Decoding a clip's six windows on two threads gives exactly what one thread gives: the same
// result, the same clip samples and the same log lines in the same order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/program.h"
#include "catalog/decoder.h"
#include "catalog/station.h"
#include "catalog_support.h"
#include "platform/data_blocks.h"
#include "platform/paths.h"

namespace {

using namespace cattest;

struct Outcome {
    bool ok;
    std::vector<float> clip;
    std::vector<std::string> log;
};

using Decode = bool (*)(const Station&, double, std::vector<float>&);

Outcome decodeWith(Decode decode, const Station& s, double pos) {
    LogCapture log;
    Outcome o;
    o.ok = decode(s, pos, o.clip);
    o.log = log.lines();
    return o;
}

void expectSame(const Station& s, double pos) {
    const Outcome one = decodeWith(decodeStation, s, pos);
    const Outcome two = decodeWith(decodeStationOnTwoThreads, s, pos);
    EXPECT_EQ(one.ok, two.ok) << s.name.size() << " at " << pos;
    EXPECT_EQ(one.log, two.log) << "at " << pos;
    EXPECT_TRUE(one.clip == two.clip) << "at " << pos;
}

TEST(DecodeOnTwoThreads, BuiltInRecordingsAtSeveralPositions) {
    // An empty program folder, so nothing is looked up in a real radio/ folder; it puts
    // g_dir and g_hInst back when it goes. The loaded list is put back at once.
    ProgramFolder folder;
    g_hInst = builtinDataBlocks();
    const std::vector<Station> savedStations = g_stations;
    loadStations();
    const std::vector<Station> stations = g_stations;
    g_stations = savedStations;
    int decoded = 0;
    for (size_t i = 0; i < stations.size(); i += 4) {
        const Station& s = stations[i];
        for (double pos : {0.0, double(s.dur) * 0.5, double(s.dur) - 0.01}) expectSame(s, pos);
        std::vector<float> clip;
        decoded += decodeStation(s, 0.0, clip) ? 1 : 0;
    }
    EXPECT_GE(decoded, 3);
}

TEST(DecodeOnTwoThreads, FolderRecordingsAndFailures) {
    ProgramFolder folder;
    folder.put("square.mp3", readBytes(fixturePath("square_mono22k.mp3")));
    folder.put("silent.mp3", silentFrames(128, 44100, true, 900));
    folder.put("noise.mp3", garbage(300000));
    for (const char* file : {"square.mp3", "silent.mp3", "noise.mp3", "missing.mp3"}) {
        Station s{L"X", utf8ToWide(file), 90.0f, 600.0f, 0.0f};
        expectSame(s, 12.5);
    }
}

}  // namespace
