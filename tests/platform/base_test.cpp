// The platform base: text conversion between UTF-8 and wide strings (lossless for OS paths),
// UTF-16 lengths, the time seed's zero rule and the lookup of built-in data blocks.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/data_blocks.h"
#include "platform/paths.h"

TEST(PlatformText, Utf8ToWideDecodesAndReplacesMalformedInput) {
    struct Case {
        const char* name;
        std::string in;
        std::wstring out;
    };
    const Case cases[] = {
        {"ascii", "87.9|KESTRUM ONE", L"87.9|KESTRUM ONE"},
        {"two bytes", "caf\xC3\xA9", L"caf\u00E9"},
        {"three bytes", "\xEF\xBD\xB1", L"\uFF71"},
        {"four bytes", "\xF0\x9F\x93\xBB", std::wstring(1, wchar_t(0x1F4FB))},
        {"empty", "", L""},
        {"lone continuation byte", "a\x80" "b", L"a\uFFFDb"},
        {"invalid lead byte", "\xFF" "x", L"\uFFFDx"},
        {"overlong two-byte lead", "\xC0\xAF", L"\uFFFD\uFFFD"},
        {"sequence cut by ASCII resumes at it", "\xE2\x82" "A", L"\uFFFDA"},
        {"sequence cut by the end", "ok\xE2\x82", L"ok\uFFFD"},
    };
    for (const Case& c : cases) EXPECT_EQ(utf8ToWide(c.in), c.out) << c.name;

    // Encoded surrogates and code points above U+10FFFF are malformed too.
    for (const std::string& bad : {std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80")}) {
        const std::wstring w = utf8ToWide("<" + bad + ">");
        ASSERT_GE(w.size(), 3u);
        EXPECT_EQ(w.front(), L'<');
        EXPECT_EQ(w.back(), L'>');
        for (size_t i = 1; i + 1 < w.size(); ++i) EXPECT_EQ(w[i], L'\uFFFD');
    }
}

TEST(PlatformText, WideToUtf8RoundTripsAndReplacesWhatCannotBeEncoded) {
    for (const std::wstring& s : {std::wstring(L"STATION 03/30  caf\u00E9 \uFF71"), std::wstring(1, wchar_t(0x1F4FB)),
                                 std::wstring()})
        EXPECT_EQ(utf8ToWide(wideToUtf8(s)), s);
    EXPECT_EQ(wideToUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(wideToUtf8(std::wstring(1, wchar_t(0x110000))), "\xEF\xBF\xBD");
    EXPECT_EQ(wideToUtf8(L"\u00E9"), "\xC3\xA9");
}

TEST(PlatformText, OsTextKeepsEveryByteOfMalformedInput) {
    struct Case {
        const char* name;
        std::string bytes;
        std::wstring wide;
    };
    const Case cases[] = {
        {"valid UTF-8", "/opt/caf\xC3\xA9/\xEF\xBD\xB1\xF0\x9F\x93\xBB",
         L"/opt/caf\u00E9/\uFF71" + std::wstring(1, wchar_t(0x1F4FB))},
        {"Latin-1 byte", "caf\xE9.wav", L"caf" + std::wstring(1, wchar_t(0xDCE9)) + L".wav"},
        {"sequence cut by the end", "ok\xE2\x82", L"ok" + std::wstring{wchar_t(0xDCE2), wchar_t(0xDC82)}},
        {"sequence cut by ASCII", "\xE2\x82" "A", std::wstring{wchar_t(0xDCE2), wchar_t(0xDC82), L'A'}},
        {"overlong", "\xC0\xAF", std::wstring{wchar_t(0xDCC0), wchar_t(0xDCAF)}},
        {"overlong three bytes", "\xE0\x80\xAF", std::wstring{wchar_t(0xDCE0), wchar_t(0xDC80), wchar_t(0xDCAF)}},
        {"lone continuation byte", "a\x80" "b", L"a" + std::wstring(1, wchar_t(0xDC80)) + L"b"},
        // U+DC80 itself, encoded: malformed too, so it cannot be mistaken for a kept byte.
        {"encoded surrogate", "\xED\xB2\x80", std::wstring{wchar_t(0xDCED), wchar_t(0xDCB2), wchar_t(0xDC80)}},
        {"above U+10FFFF", "\xF4\x90\x80\x80",
         std::wstring{wchar_t(0xDCF4), wchar_t(0xDC90), wchar_t(0xDC80), wchar_t(0xDC80)}},
        {"invalid lead byte", "\xFF" "x", std::wstring(1, wchar_t(0xDCFF)) + L"x"},
    };
    for (const Case& c : cases) {
        const std::wstring wide = osToWide(c.bytes);
        EXPECT_EQ(wide, c.wide) << c.name;
        EXPECT_EQ(wideToUtf8(wide), c.bytes) << c.name;
    }

    // The command line comes in the same way.
    char prog[] = "/tmp/k\xE9strum";
    char arg[] = "--render";
    char path[] = "caf\xE9.wav";
    char* argv[] = {prog, arg, path, nullptr};
    const std::vector<std::wstring> args = processArgs(3, argv);
    ASSERT_EQ(args.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(wideToUtf8(args[i]), argv[i]);

    // Every byte after every byte, each alone and after a lead byte, comes back unchanged.
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const std::string bytes{char(a), char(b), 'z', char(0xE2), char(b)};
            ASSERT_EQ(wideToUtf8(osToWide(bytes)), bytes) << a << " " << b;
        }
    }
}

TEST(PlatformText, FilesOpenUnderTheirOwnBytes) {
    char tmpl[] = "/tmp/kestrum_base_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string raw = dir + "/caf\xE9.txt";
    // Every file the program opens goes to the OS through wideToUtf8.
    FILE* f = std::fopen(wideToUtf8(osToWide(raw)).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    struct stat st;
    EXPECT_EQ(stat(raw.c_str(), &st), 0) << "created under a different name";
    EXPECT_EQ(std::remove(raw.c_str()), 0);
    EXPECT_EQ(rmdir(dir.c_str()), 0) << "something else was created";
}

TEST(PlatformText, Utf16LengthCountsSupplementaryCharactersTwice) {
    EXPECT_EQ(utf16Length(L""), 0u);
    EXPECT_EQ(utf16Length(L"KESTRUM RADIO SCANNER MADE BY TALVERN"), 37u);
    EXPECT_EQ(utf16Length(L"\uFF71\uFF72"), 2u);
    EXPECT_EQ(utf16Length(std::wstring{L'a', wchar_t(0x1F4FB), L'b'}), 4u);
}

TEST(PlatformClock, TimeSeedMixesItsPartsAndNeverIsZero) {
    EXPECT_EQ(timeSeedFrom(0, 0, 0), 0x9E3779B97F4A7C15ull);
    EXPECT_EQ(timeSeedFrom(0x100000000ull, 1, 0), 0x9E3779B97F4A7C15ull);  // counter ^ (tick << 32) cancels out
    EXPECT_EQ(timeSeedFrom(5, 0, 3), 6u);
    EXPECT_EQ(timeSeedFrom(0, 2, 0), 0x200000000ull);
    EXPECT_EQ(timeSeedFrom(0, 0, 0xFFFFFFFFu), 0xFFFFFFFFull);
    EXPECT_NE(timeSeed(), 0u);
}

TEST(PlatformData, BlockLookupNeedsAnExactNameAndData) {
    static const unsigned char list[] = "87.9|KESTRUM ONE|kestrumone.mp3\n";
    static const unsigned char one[] = {1};
    const DataBlock blocks[] = {
        {u"R_STATIONS_TXT", list, sizeof list - 1},
        {u"R_EMPTY_MP3", one, 0},
        {u"R_NULL_MP3", nullptr, 10},
    };
    const DataBlockTable table{blocks, 3};
    struct Case {
        std::u16string name;
        bool found;
    };
    for (const Case& c : {Case{u"R_STATIONS_TXT", true}, Case{u"r_stations_txt", false}, Case{u"R_STATIONS", false},
                          Case{u"R_EMPTY_MP3", false}, Case{u"R_NULL_MP3", false}, Case{u"", false}}) {
        const unsigned char* data = nullptr;
        uint64_t size = 77;
        EXPECT_EQ(dataBlockFind(&table, c.name, &data, &size), c.found) << std::string(c.name.begin(), c.name.end());
        if (c.found) {
            EXPECT_EQ(data, list);
            EXPECT_EQ(size, sizeof list - 1);
        } else {
            EXPECT_EQ(data, nullptr);  // left untouched
            EXPECT_EQ(size, 77u);
        }
    }
    const unsigned char* data = nullptr;
    uint64_t size = 0;
    EXPECT_FALSE(dataBlockFind(nullptr, u"R_STATIONS_TXT", &data, &size));
    EXPECT_TRUE(dataBlockFind(builtinDataBlocks(), u"R_STATIONS_TXT", &data, &size));
    EXPECT_GT(size, 0u);
}
