// The glyph rain: its generator's seed and the order of its draws, the glyph mix with and
// without katakana, the grid at both ends of the scale, the motion step, what paintRain
// draws where and how bright, and the rain in the whole panel (under the grid, dimmer in
// the control panel).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/rng.h"
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

    // A normal tick moves every column by its speed times the same step: at least the 100 ms
    // since the last tick (more when this thread was held up), at most the quarter-second cap.
    const std::vector<RainCol> again = g_rain;
    g_rainLast = tickCountMs() - 100;
    rainStep();
    const float dt = (g_rain[0].y - again[0].y) / again[0].speed;
    EXPECT_GE(dt, 0.099f);
    EXPECT_LE(dt, 0.2501f);
    for (size_t i = 0; i < g_rain.size(); ++i)
        EXPECT_NEAR(g_rain[i].y - again[i].y, dt * again[i].speed, 1e-4f) << i;
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

// The generator rule written out once more, apart from the program's: xorshift64 and its
// uniform value from the 24 high bits.
uint64_t nextDraw(uint64_t& s) {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
}
float uniform24(uint64_t d) { return float(double(d >> 40) / 16777216.0); }
char16_t digitOrSymbol(uint64_t pick, uint64_t which) {  // a glyph without katakana
    return pick % 100 <= 87 ? char16_t(u'0' + which % 10) : u"Z:.=*+-<>|/"[which % 11];
}

// From 0xC0FFEE1234 the draws are 0x5E1EA0A4C1F3C310, 0xD2C9352E4DCEE096,
// 0xBF5958918F5198D7, 0x6A3169CE977FEE26, 0x1328FA8B989A587A, ... A column spawned from there,
// scattered over 48 rows: len = draw 1 % 15 + 8 = 0 + 8 = 8; speed = u(draw 2) * 7.5 + 4.5
// = 0.8233827 * 7.5 + 4.5 = 10.675370; y = u(draw 3) * (48 + 8) - 8 = 0.7474570 * 56 - 8
// = 33.857594; then its 26 glyphs two draws each, "40387739189597060867-73620".
TEST(GlyphRain, SpawnDrawsLengthSpeedPositionThenGlyphs) {
    PanelState state;
    g_rainKana = false;
    g_rainRows = 48;
    g_rain.assign(1, RainCol{});
    g_rainRng = 0xC0FFEE1234;
    rainSpawn(0, true);

    uint64_t s = 0xC0FFEE1234;
    const int len = int(nextDraw(s) % 15) + 8;
    const float speed = uniform24(nextDraw(s)) * 7.5f + 4.5f;
    const float y = uniform24(nextDraw(s)) * (48.0f + float(len)) - float(len);
    std::u16string glyphs;
    for (int i = 0; i < 26; ++i) {
        const uint64_t pick = nextDraw(s);
        glyphs += digitOrSymbol(pick, nextDraw(s));
    }
    ASSERT_EQ(len, 8);
    ASSERT_NEAR(speed, 10.675370f, 1e-5f);
    ASSERT_NEAR(y, 33.857594f, 1e-5f);
    ASSERT_EQ(glyphs, u"40387739189597060867-73620");

    const RainCol& c = g_rain[0];
    EXPECT_EQ(c.len, len);
    EXPECT_EQ(c.speed, speed);
    EXPECT_EQ(c.y, y);
    EXPECT_EQ(std::u16string(c.glyph, 26), glyphs);
    EXPECT_EQ(g_rainRng, s);  // 3 + 2 x 26 draws, no more
}

// A flicker draws whether to change a glyph (draw % 5 == 0), then the new glyph, then its
// index. From 0xC0FFEE1234: draw 1 % 5 = 0, so it flickers; draw 2 % 100 = 2 picks a digit,
// draw 3 % 10 = 9 makes it '9'; draw 4 % 26 = 8 puts it in glyph[8]. (With the index drawn
// before the glyph it would be glyph[0] and a symbol.) The next step's draw 5 % 5 = 4: no
// flicker, one draw.
TEST(GlyphRain, FlickerDrawsTheGlyphThenItsIndex) {
    PanelState state;
    g_rainKana = false;
    g_rain.assign(1, RainCol{5.0f, 6.0f, 8, {}});
    for (char16_t& g : g_rain[0].glyph) g = u'#';  // no glyph the rain makes
    g_rainRows = 100000;                            // the column stays where it is
    g_rainRng = 0xC0FFEE1234;

    uint64_t s = 0xC0FFEE1234;
    ASSERT_EQ(nextDraw(s) % 5, 0u);
    const uint64_t pick = nextDraw(s);
    const char16_t glyph = digitOrSymbol(pick, nextDraw(s));
    const size_t index = size_t(nextDraw(s) % 26);
    ASSERT_EQ(glyph, u'9');
    ASSERT_EQ(index, 8u);

    g_rainLast = tickCountMs() - 100;
    rainStep();
    std::u16string expected(26, u'#');
    expected[index] = glyph;
    EXPECT_EQ(std::u16string(g_rain[0].glyph, 26), expected);
    EXPECT_EQ(g_rainRng, s);

    ASSERT_NE(nextDraw(s) % 5, 0u);
    g_rainLast = tickCountMs() - 100;
    rainStep();
    EXPECT_EQ(std::u16string(g_rain[0].glyph, 26), expected);
    EXPECT_EQ(g_rainRng, s);
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

// The whole panel with one rain column (the second, x 10..19 behind the display): its head
// glyph in row 9 (y 144..159) lies under the grid line y = 150, left of the display boxes;
// inside the control panel the same column starts at x = 22 + 10 and y = 249 + 144.
TEST(GlyphRain, PanelDrawsTheGridOverTheRainAndADimmerRainInItsPanel) {
    PanelState state;
    rainReset(kW, kH);
    g_rain.resize(2);
    g_rain[0].len = 0;  // not drawn
    g_rain[1].y = 9.5f;
    g_rain[1].len = 8;
    for (char16_t& g : g_rain[1].glyph) g = u'8';
    const int rainBottom = kScope.bottom + 6;  // the rain behind the display ends at 245
    const Rect head{10, 144, 20, 160};         // its head cell there
    const Rect panelHead{32, 393, 42, 409};  // and in the panel's rain {22, 249, 540, 742}

    // Where the head glyph has ink on the grid line's row, drawn alone.
    auto alone = Canvas::create(kW, kH);
    alone->fillRect(Rect{0, 0, kW, kH}, 0);
    paintRain(*alone, Rect{0, 0, kW, rainBottom}, 0.85f);
    std::vector<int> inkOnLine;
    for (int x = head.left; x < head.right; ++x)
        if (alone->pixel(x, 150) != 0) inkOnLine.push_back(x);
    ASSERT_FALSE(inkOnLine.empty());

    auto dc = paintedPanel();
    for (int x : inkOnLine) EXPECT_EQ(dc->pixel(x, 150), rgb(13, 22, 15)) << x;
    EXPECT_EQ(brightestIn(*dc, head), rgb(120, 216, 157));       // 0.85 head
    EXPECT_EQ(brightestIn(*dc, panelHead), rgb(53, 96, 70));     // 0.38 head
    // One column only: the panel's rain cells beside it hold just the panel's fill.
    EXPECT_EQ(countOf(*dc, Rect{42, 393, 52, 409}, rgb(9, 14, 10)), 10 * 16);
    EXPECT_EQ(countOf(*dc, Rect{22, 393, 32, 409}, rgb(9, 14, 10)), 10 * 16);
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
