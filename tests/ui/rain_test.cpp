// The glyph rain: its generator's seed, the glyph mix with and without katakana, the grid at
// both ends of the scale, the motion step, and what paintRain draws where and how bright.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/rng.h"
#include "paint_support.h"
#include "platform/clock.h"

namespace {

using namespace painttest;

// g_rainRng as the program starts, before any test draws from it.
const uint64_t kRainSeedAtStart = g_rainRng;

bool isKana(char16_t g) { return g >= 0xFF66 && g <= 0xFF9D; }
bool isDigit(char16_t g) { return g >= u'0' && g <= u'9'; }
bool isSymbol(char16_t g) { return std::u16string_view(u"Z:.=*+-<>|/").find(g) != std::u16string_view::npos; }

TEST(GlyphRain, GeneratorStartsFromItsSeed) {
    EXPECT_EQ(kRainSeedAtStart, 0xC0FFEE1234u);
    uint64_t s = kRainSeedAtStart;
    EXPECT_EQ(xorshift64(s), 0x5E1EA0A4C1F3C310u);

    // From the seed, the first glyph: draw 1 mod 100 = 40 (the katakana or digit range),
    // draw 2 mod 56 = 38, mod 10 = 2.
    PanelState state;
    g_rainRng = 0xC0FFEE1234;
    g_rainKana = true;
    EXPECT_EQ(rainGlyph(), char16_t(0xFF66 + 38));
    g_rainRng = 0xC0FFEE1234;
    g_rainKana = false;
    EXPECT_EQ(rainGlyph(), u'2');
    EXPECT_NE(g_rainRng, 0xC0FFEE1234u);
}

TEST(GlyphRain, GlyphMixWithAndWithoutKatakana) {
    PanelState state;
    for (bool kana : {true, false}) {
        SCOPED_TRACE(kana);
        g_rainKana = kana;
        int counts[3] = {0, 0, 0};
        const int n = 20000;
        for (int i = 0; i < n; ++i) {
            const char16_t g = rainGlyph();
            ASSERT_TRUE(isKana(g) || isDigit(g) || isSymbol(g)) << int(g);
            counts[isKana(g) ? 0 : isDigit(g) ? 1 : 2]++;
        }
        const double kanaShare = kana ? 0.68 : 0.0, digitShare = kana ? 0.20 : 0.88;
        EXPECT_NEAR(counts[0] / double(n), kanaShare, 0.015);
        EXPECT_NEAR(counts[1] / double(n), digitShare, 0.015);
        EXPECT_NEAR(counts[2] / double(n), 0.12, 0.015);
    }
}

TEST(GlyphRain, NoKatakanaInColumnsWhenTheFaceLacksThem) {
    PanelState state;
    g_rainKana = false;
    rainReset(kW, kH);
    for (int step = 0; step < 200; ++step) {
        g_rainLast = tickCountMs() - 100;
        rainStep();
    }
    for (const RainCol& c : g_rain)
        for (char16_t g : c.glyph) ASSERT_FALSE(isKana(g)) << int(g);
}

struct GridCase {
    float scale;
    int w, h;
    int rowH, colW, rows, cols;
};

TEST(GlyphRain, GridFollowsScaleAndSize) {
    const GridCase cases[] = {
        {1.0f, 560, 760, 16, 10, 48, 57},
        {1.0f, 520, 700, 16, 10, 44, 53},
        {1.7f, 952, 1292, 26, 16, 50, 60},
        {1.3157895f, 1280, 1000, 21, 13, 48, 99},  // 16 * 1000/760 = 21.05
        {1.0f, 2300, 760, 16, 10, 48, 220},        // 231 columns would fit: at most 220
    };
    for (const GridCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        PanelState state;
        g_f = c.scale;
        const uint64_t before = tickCountMs();
        rainReset(c.w, c.h);
        EXPECT_EQ(g_rainRowH, c.rowH);
        EXPECT_EQ(g_rainColW, c.colW);
        EXPECT_EQ(g_rainRows, c.rows);
        EXPECT_EQ(g_rain.size(), size_t(c.cols));
        EXPECT_GE(g_rainLast, before);
        // Scattered over the height: heads from len rows above the top to the last row.
        for (const RainCol& col : g_rain) {
            EXPECT_GE(col.len, 8);
            EXPECT_LE(col.len, 22);
            EXPECT_GE(col.speed, 4.5f);
            EXPECT_LT(col.speed, 12.0f);
            EXPECT_GE(col.y, -float(col.len));
            EXPECT_LT(col.y, float(c.rows));
        }
    }
}

TEST(GlyphRain, StepAfterAStallMovesAQuarterSecond) {
    PanelState state;
    rainReset(kW, kH);
    g_rainRows = 100000;  // no column leaves the window in this step
    const std::vector<RainCol> before = g_rain;
    g_rainLast = tickCountMs() - 3000;
    rainStep();
    for (size_t i = 0; i < g_rain.size(); ++i)
        EXPECT_FLOAT_EQ(g_rain[i].y, before[i].y + 0.25f * before[i].speed) << i;

    // A normal tick moves by its own length.
    const std::vector<RainCol> again = g_rain;
    g_rainLast = tickCountMs() - 100;
    rainStep();
    for (size_t i = 0; i < g_rain.size(); ++i) {
        const float moved = g_rain[i].y - again[i].y;
        EXPECT_GE(moved, 0.099f * again[i].speed) << i;
        EXPECT_LE(moved, 0.2f * again[i].speed) << i;
    }
}

TEST(GlyphRain, ColumnsRestartAboveTheTopOnceTheirTrailHasLeft) {
    PanelState state;
    rainReset(kW, kH);
    for (RainCol& c : g_rain) c.y = float(g_rainRows + c.len + 1);  // trail just below
    g_rainLast = tickCountMs() - 33;
    rainStep();
    for (const RainCol& c : g_rain) {
        EXPECT_LE(c.y, 0.0f);
        EXPECT_GE(c.y, -float(g_rainRows) * 0.4f);
    }
}

TEST(GlyphRain, StepWithoutColumnsDrawsNothing) {
    PanelState state;
    g_rain.clear();
    const uint64_t rng = g_rainRng;
    rainStep();
    EXPECT_EQ(g_rainRng, rng);
}

TEST(GlyphRain, StepAfterALastTickAheadOfTheClockIsCapped) {
    PanelState state;
    rainReset(kW, kH);
    const std::vector<RainCol> before = g_rain;
    g_rainLast = tickCountMs() + 60000;  // now - last wraps around: a huge step, capped
    rainStep();
    EXPECT_FLOAT_EQ(g_rain[0].y, before[0].y + 0.25f * before[0].speed);
}

// ---- Drawing ----

// One column at x = 0 in a canvas of 10 columns and 40 rows of the design grid.
struct OneColumn {
    PanelState state;
    std::unique_ptr<Canvas> dc = Canvas::create(100, 40 * 16);
    explicit OneColumn(float y, int len, char16_t glyph = u'Z') {
        rainReset(100, 40 * 16);
        g_rain.resize(1);
        g_rain[0].y = y;
        g_rain[0].len = len;
        for (char16_t& g : g_rain[0].glyph) g = glyph;
    }
    Rect cell(int row) const { return Rect{0, row * 16, 10, row * 16 + 16}; }
    bool lit(int row) const { return brightestIn(*dc, cell(row)) != 0; }
};

TEST(GlyphRain, HeadAndTrailColours) {
    {
        OneColumn one(10.5f, 8);
        paintRain(*one.dc, Rect{0, 0, 100, 40 * 16}, 0.85f);
        EXPECT_EQ(brightestIn(*one.dc, one.cell(10)), rgb(120, 216, 157));  // head
        EXPECT_EQ(brightestIn(*one.dc, one.cell(9)), rgb(14, 150, 67));     // (7/8)^2 * 0.85
    }
    {
        OneColumn one(10.5f, 8);
        paintRain(*one.dc, Rect{0, 0, 100, 40 * 16}, 0.38f);
        EXPECT_EQ(brightestIn(*one.dc, one.cell(10)), rgb(53, 96, 70));
    }
}

TEST(GlyphRain, FaintEndOfTheTrailIsNotDrawn) {
    OneColumn one(10.0f, 8);
    paintRain(*one.dc, Rect{0, 0, 100, 40 * 16}, 0.85f);
    // j = 0..6 drawn (rows 10..4); j = 7 has (1/8)^2 * 0.85 < 0.045.
    for (int row = 4; row <= 10; ++row) EXPECT_TRUE(one.lit(row)) << row;
    for (int row : {3, 2, 11}) EXPECT_FALSE(one.lit(row)) << row;
}

TEST(GlyphRain, HeadsAboveTheTop) {
    {
        OneColumn one(-0.5f, 8);  // truncates to row 0
        paintRain(*one.dc, Rect{0, 0, 100, 40 * 16}, 0.85f);
        EXPECT_EQ(brightestIn(*one.dc, one.cell(0)), rgb(120, 216, 157));
    }
    {
        OneColumn one(-1.0f, 8);
        paintRain(*one.dc, Rect{0, 0, 100, 40 * 16}, 0.85f);
        EXPECT_EQ(countOf(*one.dc, Rect{0, 0, 100, 40 * 16}, 0), 100 * 40 * 16);
    }
}

TEST(GlyphRain, TrailOfAHeadBelowTheRectangleStillShows) {
    // A rectangle 245 high shows 15 rows (the rain behind the display at 560 x 760).
    OneColumn one(17.0f, 8);
    paintRain(*one.dc, Rect{0, 0, 100, 245}, 0.85f);
    EXPECT_FALSE(one.lit(17));
    EXPECT_FALSE(one.lit(15));  // row 15 lies partly inside 245 but is not one of its rows
    EXPECT_TRUE(one.lit(14));   // j = 3
    EXPECT_TRUE(one.lit(11));   // j = 6
    EXPECT_FALSE(one.lit(10));  // j = 7, too faint
}

TEST(GlyphRain, RowsCountFromTheRectanglesTop) {
    OneColumn one(3.0f, 8);
    paintRain(*one.dc, Rect{0, 100, 100, 400}, 0.85f);
    EXPECT_EQ(brightestIn(*one.dc, Rect{0, 100 + 3 * 16, 10, 100 + 4 * 16}), rgb(120, 216, 157));
    EXPECT_EQ(countOf(*one.dc, Rect{0, 0, 100, 100}, 0), 100 * 100);
}

TEST(GlyphRain, ColumnsThatDoNotFitWholeAreNotDrawn) {
    PanelState state;
    rainReset(100, 640);
    for (RainCol& c : g_rain) {
        c.y = 5.0f;
        c.len = 8;
        for (char16_t& g : c.glyph) g = u'8';
    }
    auto dc = Canvas::create(100, 640);
    paintRain(*dc, Rect{0, 0, 95, 640}, 0.85f);  // columns at 0..80 fit, the one at 90 does not
    for (int col = 0; col < 9; ++col)
        EXPECT_NE(brightestIn(*dc, Rect{col * 10, 80, col * 10 + 10, 96}), 0u) << col;
    EXPECT_EQ(countOf(*dc, Rect{90, 0, 100, 640}, 0), 10 * 640);
}

TEST(GlyphRain, NothingIsDrawnWithoutAGrid) {
    struct Case {
        const char* what;
        int rectH;
        bool noFont;
        int rowH;
    };
    const Case cases[] = {
        {"one row", 31, false, 16},
        {"no font", 640, true, 16},
        {"rows below 6 pixels", 640, false, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OneColumn one(1.0f, 8);
        if (c.noFont) g_fontRain.reset();
        g_rainRowH = c.rowH;
        paintRain(*one.dc, Rect{0, 0, 100, c.rectH}, 0.85f);
        EXPECT_EQ(countOf(*one.dc, Rect{0, 0, 100, 640}, 0), 100 * 640);
    }
}

}  // namespace
