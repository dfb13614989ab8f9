// The decode log writer as the clip decoder uses it: whole lines from concurrent threads,
// wide names written as UTF-8 and never cut off.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/program.h"
#include "catalog_support.h"

namespace {

using namespace cattest;

TEST(DecodeLog, WideNamesComeOutAsWholeUtf8) {
    LogCapture log;
    const std::wstring name = L"Caf\u00E9 \u65E5\u672C \U0001F4FB.mp3";
    dbgLog("dec %ls att %d off %lld hz %d SKIP\n", name.c_str(), 2, 123456789012LL, 0);
    const std::wstring longName = std::wstring(100000, L'\u00E9') + L".mp3";
    dbgLog("dec %ls pos %.1f dur %.1f bestRms %.4f bestN %d\n", longName.c_str(), 1.26, 600.0, 0.01234, 7);
    std::string longUtf8;
    for (int i = 0; i < 100000; ++i) longUtf8 += "\xC3\xA9";
    EXPECT_EQ(log.text(),
              "dec Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xBB.mp3 att 2 off 123456789012 hz 0 SKIP\n"
              "dec " + longUtf8 + ".mp3 pos 1.3 dur 600.0 bestRms 0.0123 bestN 7\n");
}

TEST(DecodeLog, LinesFromTwoThreadsNeverMix) {
    LogCapture log;
    const std::wstring names[2] = {std::wstring(3000, L'a') + L"\u00FC", std::wstring(3000, L'b') + L"\U0001F4FB"};
    const std::string utf8[2] = {std::string(3000, 'a') + "\xC3\xBC", std::string(3000, 'b') + "\xF0\x9F\x93\xBB"};
    constexpr int kLines = 2000;
    auto writer = [&](int id) {
        for (int i = 0; i < kLines; ++i) dbgLog("dec %ls att %d pcm %d SHORT\n", names[id].c_str(), id, i);
    };
    std::thread t0(writer, 0), t1(writer, 1);
    t0.join();
    t1.join();
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), size_t(2 * kLines));
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        const int id = line.compare(4, 1, "a") == 0 ? 0 : 1;
        ASSERT_EQ(line, "dec " + utf8[id] + " att " + std::to_string(id) + " pcm " + std::to_string(next[id]) + " SHORT");
        ++next[id];
    }
}

}  // namespace
