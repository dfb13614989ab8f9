// The station list: its grammar, block names, block lookup, the length probe on real MP3
// data and loading from the radio folder and from built-in blocks.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "catalog/station.h"
#include "catalog_support.h"

namespace {

using namespace cattest;

struct Expect {
    float freq;
    std::wstring name;
    std::wstring file;
};

struct ListCase {
    const char* what;
    std::string text;
    std::vector<Expect> stations;  // in text order
};

const ListCase kListCases[] = {
    {"empty text", "", {}},
    {"only the comment line", "# freq|Name|file.mp3", {}},
    {"only blank lines, LF and CRLF", "\n\n\r\n\n", {}},
    {"LF endings, last line without LF",
     "88.1|One|one.mp3\n90.2|Two|two.mp3",
     {{88.1f, L"One", L"one.mp3"}, {90.2f, L"Two", L"two.mp3"}}},
    {"CRLF endings give the same stations",
     "88.1|One|one.mp3\r\n90.2|Two|two.mp3\r\n",
     {{88.1f, L"One", L"one.mp3"}, {90.2f, L"Two", L"two.mp3"}}},
    {"CR at the end of the last line", "88.1|One|one.mp3\r", {{88.1f, L"One", L"one.mp3"}}},
    {"a lone CR inside a line is an ordinary byte", "88.1|A\rB|one.mp3\n",
     {{88.1f, L"A\rB", L"one.mp3"}}},
    {"comment lines are skipped, # only in the first column",
     "#88.1|Hidden|h.mp3\n # x|Shown|s.mp3\n",
     {{87.5f, L"Shown", L"s.mp3"}}},
    {"empty name: the file field with its folder part",
     "88.0||sub/x.mp3", {{88.0f, L"sub/x.mp3", L"x.mp3"}}},
    {"spaces around the fields, a Windows folder part",
     "91.3 | Foo | C:\\music\\y.mp3", {{91.3f, L"Foo", L"y.mp3"}}},
    {"white space of every kind is trimmed",
     "\t 95.5\v|\f Bar \t| z.mp3 \t\r\n", {{95.5f, L"Bar", L"z.mp3"}}},
    {"further bars belong to the file field", "92|A|b|c.mp3", {{92.0f, L"A", L"b|c.mp3"}}},
    {"too few bars, empty frequency, blank file: skipped",
     "88.0|x.mp3\n|Name|f.mp3\n88.0|Name|   \n \t|N|f.mp3\nnobars\n", {}},
    {"frequency prefix and clamping",
     "abc|A|a.mp3\n120|B|b.mp3\n80.5 MHz|C|c.mp3\n+99.95x|D|d.mp3\n-1|E|e.mp3\ninf|F|f.mp3\n"
     "1e999|G|g.mp3\n",
     {{87.5f, L"A", L"a.mp3"},
      {108.0f, L"B", L"b.mp3"},
      {87.5f, L"C", L"c.mp3"},
      {99.95f, L"D", L"d.mp3"},
      {87.5f, L"E", L"e.mp3"},
      {108.0f, L"F", L"f.mp3"},
      {108.0f, L"G", L"g.mp3"}}},
    {"the ends of the dial stay", "87.5|Lo|lo.mp3\n108|Hi|hi.mp3",
     {{87.5f, L"Lo", L"lo.mp3"}, {108.0f, L"Hi", L"hi.mp3"}}},
    {"a frequency that reads as not-a-number is rejected",
     "nan|N|n.mp3\n-NaN(7)|M|m.mp3\n89|Kept|k.mp3", {{89.0f, L"Kept", L"k.mp3"}}},
    {"a byte-order mark makes the comment line a station",
     "\xEF\xBB\xBF# freq|Name|file.mp3\n", {{87.5f, L"Name", L"file.mp3"}}},
    {"UTF-8 names and files are widened",
     "99.9|Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xBB|\xC3\xA9t\xC3\xA9.mp3",
     {{99.9f, L"Caf\u00E9 \u65E5\u672C \U0001F4FB", L"\u00E9t\u00E9.mp3"}}},
    {"invalid UTF-8 is replaced, not rejected",
     "90|\xFF\xC3(N\xE2\x82|f\xC0\xAF.mp3",
     {{90.0f, L"\uFFFD\uFFFD(N\uFFFD", L"f\uFFFD\uFFFD.mp3"}}},
    {"equal frequencies and files make two stations", "95|A|a.mp3\n95|A|a.mp3",
     {{95.0f, L"A", L"a.mp3"}, {95.0f, L"A", L"a.mp3"}}},
};

TEST(StationList, GrammarTable) {
    for (const ListCase& c : kListCases) {
        SCOPED_TRACE(c.what);
        const std::vector<Station> got = parseStationList(c.text);
        ASSERT_EQ(got.size(), c.stations.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].freq, c.stations[i].freq) << "station " << i;
            EXPECT_EQ(got[i].name, c.stations[i].name) << "station " << i;
            EXPECT_EQ(got[i].file, c.stations[i].file) << "station " << i;
        }
    }
}

TEST(StationList, HugeAndHostileLinesParse) {
    std::string longName(100000, 'n');
    std::string text = "90|" + longName + "|" + std::string(100000, 'f') + ".mp3\n";
    text += std::string("91|nul\0name|a\0b.mp3\n", 20);
    text += std::string(300000, '|') + "\n";
    const std::vector<Station> got = parseStationList(text);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].name.size(), 100000u);
    EXPECT_EQ(got[0].file.size(), 100004u);
    EXPECT_EQ(got[1].file, std::wstring(L"a\0b.mp3", 7));
}

TEST(StationList, TrimAndWiden) {
    EXPECT_EQ(trimw(L" \t\n\v\f\r x  y \t"), L"x  y");
    EXPECT_EQ(trimw(L" \t \r\n"), L"");
    EXPECT_EQ(trimw(L""), L"");
    EXPECT_EQ(widen(""), L"");
    EXPECT_EQ(widen("a\xC3\xA9\xF0\x9F\x93\xBB"), L"a\u00E9\U0001F4FB");
}

TEST(StationList, ResNameFor) {
    const struct {
        std::wstring file;
        std::wstring name;
    } cases[] = {
        {L"night-owl.mp3", L"R_NIGHT_OWL_MP3"},
        {L"Jazz90s.MP3", L"R_JAZZ90S_MP3"},
        {L"", L"R_"},
        {L"a b~z", L"R_A_B_Z"},
        {L"\u00E9t\u00DF.mp3", L"R__T__MP3"},           // accented letters are not upper-cased
        {L"\U0001F4FB.mp3", L"R____MP3"},               // a surrogate pair: two units, "__"
        {L"x\U00010000y", L"R_X__Y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resNameFor(c.file), c.name);
        EXPECT_EQ(resNameFor(c.file).size(), 2 + utf16Length(c.file));
    }
}

TEST(StationList, ResBlobLooksUpOnlyInTheTableOfGInst) {
    ProgramFolder folder;  // g_hInst null
    const unsigned char* data = nullptr;
    uint64_t size = 0;
    EXPECT_FALSE(resBlob(L"R_STATIONS_TXT", data, size));

    BlockTable table;
    table.add(u"R_A_MP3", {1, 2, 3});
    table.add(u"R_EMPTY", {});
    table.add(u"R_\xD83D\xDCFB", {9});
    table.install();
    ASSERT_TRUE(resBlob(L"R_A_MP3", data, size));
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[2], 3);
    EXPECT_FALSE(resBlob(L"R_A_MP", data, size));
    EXPECT_FALSE(resBlob(L"r_a_mp3", data, size));
    EXPECT_FALSE(resBlob(L"R_EMPTY", data, size));
    EXPECT_FALSE(resBlob(nullptr, data, size));
    ASSERT_TRUE(resBlob(L"R_\U0001F4FB", data, size));  // compared as UTF-16 units
    EXPECT_EQ(data[0], 9);
}

// ---- Length probe ----

TEST(ProbeDuration, RealRecordingsOfKnownBitrate) {
    const struct {
        const char* file;
        int kbps;
    } cases[] = {
        {"quiet_stereo48k.mp3", 128},
        {"rising_stereo44k.mp3", 128},
        {"square_mono22k.mp3", 96},
        {"faint_mono8k.mp3", 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<unsigned char> mp3 = readBytes(fixturePath(c.file));
        ASSERT_GE(mp3.size(), 200000u);
        const int64_t total = int64_t(mp3.size());
        const float expect = float(double(total) * 8.0 / (c.kbps * 1000.0));
        EXPECT_EQ(probeDurationBytes(mp3.data(), 65536, total), expect);
        // The same bytes counted as another total: the estimate scales with it.
        EXPECT_EQ(probeDurationBytes(mp3.data(), 65536, 1000000), float(8000000.0 / (c.kbps * 1000.0)));
    }
}

TEST(ProbeDuration, DefinedFigures) {
    const std::vector<unsigned char> mp3 = readBytes(fixturePath("rising_stereo44k.mp3"));
    EXPECT_EQ(probeDurationBytes(mp3.data(), 65536, 1000000), 62.5f);

    const std::vector<unsigned char> fast = silentFrames(320, 48000, true, 100);
    EXPECT_EQ(probeDurationBytes(fast.data(), fast.size(), 200001), float(200001 * 8.0 / 320000.0));
    EXPECT_EQ(probeDurationBytes(fast.data(), fast.size(), 200000), 600.0f);  // exactly 5.0 s
    EXPECT_EQ(probeDurationBytes(fast.data(), fast.size(), 199999), 600.0f);  // too small to probe
    EXPECT_EQ(probeDurationBytes(fast.data(), 4095, 1000000), 600.0f);       // too few bytes
    EXPECT_EQ(probeDurationBytes(fast.data(), 4096, 1000000), 25.0f);
}

TEST(ProbeDuration, FindsTheFirstFrameAfterJunkAndGivesUpOnNoise) {
    std::vector<unsigned char> bytes = garbage(10000);
    const std::vector<unsigned char> frames = silentFrames(128, 44100, false, 40);
    bytes.insert(bytes.end(), frames.begin(), frames.end());
    EXPECT_EQ(probeDurationBytes(bytes.data(), bytes.size(), 1000000), 62.5f);

    const std::vector<unsigned char> noise = garbage(65536);
    EXPECT_EQ(probeDurationBytes(noise.data(), noise.size(), 10000000), 600.0f);
    const std::vector<unsigned char> zeros(65536, 0);
    EXPECT_EQ(probeDurationBytes(zeros.data(), zeros.size(), 10000000), 600.0f);
}

// ---- Loading ----

void expectOffsetsWithinDur() {
    for (const Station& s : g_stations) {
        EXPECT_GE(s.offset, 0.0f) << "station at " << s.freq;
        EXPECT_LT(s.offset, s.dur) << "station at " << s.freq;
    }
}

class LoadStations : public ::testing::Test {
protected:
    void TearDown() override { g_stations.clear(); }
};

TEST_F(LoadStations, FromTheRadioFolderWithoutBuiltInData) {
    ProgramFolder folder;
    const std::vector<unsigned char> quiet = readBytes(fixturePath("quiet_stereo48k.mp3"));
    const std::vector<unsigned char> rising = readBytes(fixturePath("rising_stereo44k.mp3"));
    folder.put("quiet.mp3", quiet);
    folder.put("rising.mp3", rising);
    folder.put("small.mp3", std::vector<unsigned char>(quiet.begin(), quiet.begin() + 199999));
    folder.put("noise.mp3", garbage(300000));
    std::filesystem::create_directory(folder.radio() / "folder.mp3");
    folder.putText("stations.txt",
                   "# freq|Name|file.mp3\r\n"
                   "101.1|RISING|rising.mp3\r\n"
                   "95.0|B|missing.mp3\r\n"
                   "88.8|QUIET|music/quiet.mp3\r\n"
                   "95.0|A|small.mp3\r\n"
                   "99.0|DIR|folder.mp3\r\n"
                   "97.0|NOISE|noise.mp3\r\n"
                   "95.0|C|quiet.mp3");
    loadStations();
    ASSERT_EQ(g_stations.size(), 7u);
    const float freqs[] = {88.8f, 95.0f, 95.0f, 95.0f, 97.0f, 99.0f, 101.1f};
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(g_stations[i].freq, freqs[i]);
    EXPECT_EQ(g_stations[0].name, L"QUIET");
    EXPECT_EQ(g_stations[0].dur, float(double(quiet.size()) * 8.0 / 128000.0));
    EXPECT_EQ(g_stations[6].dur, float(double(rising.size()) * 8.0 / 128000.0));
    // The three stations at 95.0 sit together, in some order.
    std::vector<std::wstring> at95;
    for (size_t i = 1; i < 4; ++i) {
        at95.push_back(g_stations[i].name);
        EXPECT_EQ(g_stations[i].dur, g_stations[i].name == L"C" ? g_stations[0].dur : 600.0f);
    }
    std::sort(at95.begin(), at95.end());
    EXPECT_EQ(at95, (std::vector<std::wstring>{L"A", L"B", L"C"}));
    EXPECT_EQ(g_stations[4].dur, 600.0f);  // nothing decodes
    EXPECT_EQ(g_stations[5].dur, 600.0f);  // a folder, not a file
    expectOffsetsWithinDur();

    // Loading again rebuilds the list rather than adding to it.
    loadStations();
    EXPECT_EQ(g_stations.size(), 7u);
}

TEST_F(LoadStations, NoListOrAFolderInItsPlaceGivesAnEmptyCatalogue) {
    ProgramFolder folder;
    g_stations.resize(3);
    loadStations();
    EXPECT_TRUE(g_stations.empty());
    std::filesystem::create_directory(folder.radio() / "stations.txt");
    loadStations();
    EXPECT_TRUE(g_stations.empty());
}

#ifndef _WIN32  // a FIFO in the radio folder
TEST_F(LoadStations, NamedPipesAreNotWaitedOn) {
    // Opening a pipe with no writer would block; each one counts as missing.
    ProgramFolder folder;
    ASSERT_EQ(mkfifo((folder.radio() / "stations.txt").c_str(), 0600), 0);
    g_stations.resize(3);
    loadStations();
    EXPECT_TRUE(g_stations.empty());

    std::filesystem::remove(folder.radio() / "stations.txt");
    ASSERT_EQ(mkfifo((folder.radio() / "pipe.mp3").c_str(), 0600), 0);
    folder.putText("stations.txt", "90|PIPE|pipe.mp3\n");
    loadStations();
    ASSERT_EQ(g_stations.size(), 1u);
    EXPECT_EQ(g_stations[0].name, L"PIPE");
    EXPECT_EQ(g_stations[0].dur, 600.0f);
    expectOffsetsWithinDur();
}

#endif

TEST_F(LoadStations, LongListsAndLongNames) {
    ProgramFolder folder;
    std::string text;
    for (int i = 0; i < 2000; ++i) text += std::to_string(88 + i % 20) + ".5|S" + std::to_string(i) + "|x.mp3\n";
    text += "90|" + std::string(100000, 'L') + "|" + std::string(100000, 'f') + ".mp3\n";
    folder.putText("stations.txt", text);
    loadStations();
    ASSERT_EQ(g_stations.size(), 2001u);
    EXPECT_TRUE(std::is_sorted(g_stations.begin(), g_stations.end(),
                               [](const Station& a, const Station& b) { return a.freq < b.freq; }));
    for (const Station& s : g_stations) EXPECT_EQ(s.dur, 600.0f);
    expectOffsetsWithinDur();
}

TEST_F(LoadStations, BuiltInBlocksComeFirst) {
    ProgramFolder folder;
    const std::vector<unsigned char> quiet = readBytes(fixturePath("quiet_stereo48k.mp3"));
    const std::vector<unsigned char> faint = readBytes(fixturePath("faint_mono8k.mp3"));
    folder.putText("stations.txt", "90|FOLDER LIST|quiet.mp3\n");
    folder.put("small.mp3", quiet);   // a usable folder file is not looked at...
    folder.put("faint.mp3", faint);   // ...but one without a block is
    BlockTable table;
    const std::string list = "# freq|Name|file.mp3\n106.2|BUILT IN|quiet.mp3\n88.0|SMALL|small.mp3\n99|F|faint.mp3";
    table.add(u"R_STATIONS_TXT", std::vector<unsigned char>(list.begin(), list.end()));
    table.add(u"R_QUIET_MP3", quiet);
    table.add(u"R_SMALL_MP3", std::vector<unsigned char>(quiet.begin(), quiet.begin() + 199999));
    table.install();
    loadStations();
    ASSERT_EQ(g_stations.size(), 3u);
    EXPECT_EQ(g_stations[0].name, L"SMALL");
    EXPECT_EQ(g_stations[0].dur, 600.0f);
    EXPECT_EQ(g_stations[1].dur, float(double(faint.size()) * 8.0 / 16000.0));
    EXPECT_EQ(g_stations[2].name, L"BUILT IN");
    EXPECT_EQ(g_stations[2].dur, float(double(quiet.size()) * 8.0 / 128000.0));
    expectOffsetsWithinDur();
}

}  // namespace
