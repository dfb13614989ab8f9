// The main window's picture at 560 x 760, pixel by pixel where the panel places exact
// colours: gradient, divider, band and scope boxes, the panel's rounded border, the dial's
// needle, pill and markers, the scope trace, and the station line's text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paint_support.h"

namespace {

using namespace painttest;
using namespace palette;

// The dial at 560 x 760: xL = 36, xR = 524, baseline yB = 150.
constexpr int kXL = 36, kXR = 524, kYB = 150;
// The scope's centre line and the trace's reach at 560 x 760 (amp = 72 / 2 - 5 = 31).
constexpr int kMid = 203, kAmp = 31;

TEST(PanelPaint, GradientBrushesRunFromDarkToLight) {
    createPanelBrushes();
    EXPECT_EQ(g_panelBrush, rgb(9, 14, 10));
    EXPECT_EQ(g_grad[0], rgb(5, 8, 6));
    EXPECT_EQ(g_grad[32], rgb(7, 12, 8));  // t = 32/63: 5 + 2, 8 + 4, 6 + 2
    EXPECT_EQ(g_grad[63], rgb(10, 16, 11));
}

TEST(PanelPaint, GradientDividerAndTitlePlace) {
    PanelState state;
    auto dc = paintedPanel();
    // Gradient: bands of (760 + 63) / 64 = 12 rows, darkest at the top.
    EXPECT_EQ(dc->pixel(1, 1), g_grad[0]);
    EXPECT_EQ(dc->pixel(1, 759), g_grad[63]);
    EXPECT_EQ(dc->pixel(5, 12 * 20 + 3), g_grad[20]);
    // Grid over the background, every 44 columns and 30 rows down to the scope's foot + 6.
    EXPECT_EQ(dc->pixel(44, 50), rgb(13, 22, 15));
    EXPECT_EQ(dc->pixel(5, 30), rgb(13, 22, 15));
    EXPECT_NE(dc->pixel(44, 246), rgb(13, 22, 15));

    // Divider: row 64 from x = 27 to 532.
    EXPECT_EQ(columnsOf(*dc, 64, 0, kW, kFrame).size(), size_t(533 - 27));
    EXPECT_EQ(dc->pixel(27, 64), kFrame);
    EXPECT_EQ(dc->pixel(532, 64), kFrame);
    EXPECT_NE(dc->pixel(26, 64), kFrame);
    EXPECT_NE(dc->pixel(533, 64), kFrame);
    EXPECT_NE(dc->pixel(300, 63), kFrame);
    EXPECT_NE(dc->pixel(300, 65), kFrame);

    // Title: the first lit column is the K's stem at about x = 27; nothing lit to its left.
    int first = -1;
    for (int x = 0; x < 60 && first < 0; ++x)
        for (int y = 1; y < 50; ++y)
            if (rgbGreen(dc->pixel(x, y)) > 80) {
                first = x;
                break;
            }
    EXPECT_GE(first, 27);
    EXPECT_LE(first, 31);
}

TEST(PanelPaint, BandAndScopeBoxesAreFilledAndFramed) {
    PanelState state;
    auto dc = paintedPanel();
    for (const Rect& r : {kBand, kScope}) {
        SCOPED_TRACE(r.top);
        for (int x : {r.left, r.left + 100, r.right - 1}) {
            EXPECT_EQ(dc->pixel(x, r.top), kFrame);
            EXPECT_EQ(dc->pixel(x, r.bottom - 1), kFrame);
        }
        for (int y : {r.top + 5, r.bottom - 5}) {
            EXPECT_EQ(dc->pixel(r.left, y), kFrame);
            EXPECT_EQ(dc->pixel(r.right - 1, y), kFrame);
            EXPECT_EQ(dc->pixel(r.left + 1, y), kBoxFill);
            EXPECT_NE(dc->pixel(r.left - 1, y), kFrame);
            EXPECT_NE(dc->pixel(r.right, y), kFrame);
        }
    }
    // Inside the band, left of the scale, and inside the scope away from the trace.
    EXPECT_EQ(dc->pixel(28, 155), kBoxFill);
    EXPECT_EQ(dc->pixel(30, 180), kBoxFill);
    // Scope centre line from left + 8 to right - 8 (end excluded); the trace of zeros covers
    // it up to its last point, which lineTo leaves out.
    EXPECT_EQ(dc->pixel(31, kMid), kBoxFill);
    EXPECT_EQ(dc->pixel(32, kMid), kTraceStopped);
    EXPECT_EQ(dc->pixel(526, kMid), kTraceStopped);
    EXPECT_EQ(dc->pixel(527, kMid), kScopeCentre);
    EXPECT_EQ(dc->pixel(528, kMid), kBoxFill);
}

TEST(PanelPaint, ControlPanelHasARoundedTwoPixelBorder) {
    PanelState state;
    auto dc = paintedPanel();
    // Q = {16, 247, 544, 744}, corner 14.
    EXPECT_EQ(dc->pixel(280, 247), kFrame);
    EXPECT_EQ(dc->pixel(280, 248), kFrame);
    EXPECT_EQ(dc->pixel(280, 249), kPanel);
    EXPECT_EQ(dc->pixel(280, 743), kFrame);
    EXPECT_EQ(dc->pixel(280, 742), kFrame);
    EXPECT_EQ(dc->pixel(280, 741), kPanel);
    EXPECT_EQ(dc->pixel(16, 500), kFrame);
    EXPECT_EQ(dc->pixel(17, 500), kFrame);
    EXPECT_EQ(dc->pixel(18, 500), kPanel);
    EXPECT_EQ(dc->pixel(543, 500), kFrame);
    EXPECT_EQ(dc->pixel(542, 500), kFrame);
    EXPECT_EQ(dc->pixel(541, 500), kPanel);
    EXPECT_NE(dc->pixel(15, 500), kFrame);
    EXPECT_NE(dc->pixel(544, 500), kFrame);
    // The corners are cut: the bounding box's corner pixels keep the gradient.
    EXPECT_NE(dc->pixel(16, 247), kFrame);
    EXPECT_NE(dc->pixel(543, 743), kFrame);
    // The credit sits right-aligned in {24, 724, 528, 737}, in the dim text colour.
    EXPECT_GT(countOf(*dc, Rect{420, 724, 528, 737}, kDim), 5);
    EXPECT_EQ(countOf(*dc, Rect{24, 724, 400, 737}, kDim), 0);
}

// The needle's 2-pixel line below the baseline (row yB + 1 holds only the needle).
struct NeedleCase {
    float dialFreq;
    bool live;
    int nx;
};

TEST(PanelPaint, NeedleSitsAtTheFrequencyAndStopsAtTheScaleEnds) {
    const NeedleCase cases[] = {
        {87.5f, false, kXL}, {108.0f, false, kXR}, {98.0f, true, 286}, {101.7f, true, 374},
        {80.0f, true, kXL},  {120.0f, false, kXR}, {-1.0e30f, true, kXL}, {1.0e30f, false, kXR},
    };
    for (const NeedleCase& c : cases) {
        SCOPED_TRACE(c.dialFreq);
        PanelState state;
        g_live = c.live;
        PanelState::setEngine(c.dialFreq, -1, c.live ? 0 : 3);
        auto dc = paintedPanel();
        const Rgb colour = c.live ? kLive : kDim;
        EXPECT_EQ(columnsOf(*dc, kYB + 1, kBand.left, kBand.right, colour),
                  (std::vector<int>{c.nx, c.nx + 1}));
        // The triangle's tip row S(20) above the baseline, its base S(13) above it.
        EXPECT_EQ(dc->pixel(c.nx, kYB - 19), colour);
        EXPECT_EQ(dc->pixel(c.nx - 4, kYB - 14), colour);
        EXPECT_EQ(dc->pixel(c.nx + 4, kYB - 14), colour);
    }
}

struct PillCase {
    bool live;
    int phase;
    Rgb colour;
    Rgb absent;
};

TEST(PanelPaint, PillColourFollowsTheScannerState) {
    const PillCase cases[] = {
        {false, 3, rgb(255, 92, 77), rgb(255, 181, 71)},
        {true, 0, rgb(255, 181, 71), rgb(255, 92, 77)},
        {true, 1, kLive, rgb(255, 181, 71)},  // the engine's locked phase
        {false, 1, rgb(255, 92, 77), kLive},  // locked only counts while live
    };
    for (const PillCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.live << " " << c.phase);
        PanelState state;
        g_live = c.live;
        PanelState::setEngine(108.0f, -1, c.phase);
        auto dc = paintedPanel();
        // The pill ends at xR with a 2-pixel border: rows 78..96, right edge at x = 522, 523.
        EXPECT_EQ(dc->pixel(kXR - 1, 87), c.colour);
        EXPECT_EQ(dc->pixel(kXR - 2, 87), c.colour);
        EXPECT_EQ(dc->pixel(kXR, 87), kBoxFill);
        EXPECT_EQ(dc->pixel(kXR - 3, 87), rgb(9, 16, 11));
        const Rect pillArea{kXR - 120, 78, kXR, 97};
        EXPECT_GT(countOf(*dc, pillArea, c.colour), 40);
        EXPECT_EQ(countOf(*dc, pillArea, c.absent), 0);
    }
}

TEST(PanelPaint, StationMarkersStandAtTheirColumnsUnclamped) {
    PanelState state;
    setStations({86.0f, 88.0f, 95.3f, 107.9f});
    auto dc = paintedPanel();
    // Markers from yB - 12 to yB - 2 (end excluded); the needle stands at 36 and 37.
    const std::vector<int> expected{0, 48, 222, 522};
    EXPECT_EQ(columnsOf(*dc, kYB - 11, 0, kW, kMarker), expected);
    EXPECT_EQ(columnsOf(*dc, kYB - 3, 0, kW, kMarker), expected);
    EXPECT_TRUE(columnsOf(*dc, kYB - 2, 0, kW, kMarker).empty());
    EXPECT_TRUE(columnsOf(*dc, kYB - 13, 0, kW, kMarker).empty());
}

TEST(PanelPaint, NoStationsMeansNoMarkers) {
    PanelState state;
    g_live = true;
    auto dc = paintedPanel();
    for (int y = kYB - 11; y < kYB - 2; ++y) EXPECT_TRUE(columnsOf(*dc, y, 0, kW, kMarker).empty());
}

struct TraceCase {
    const char* what;
    float sample;
    bool live;
    int y;  // row of the whole trace
};

TEST(PanelPaint, ScopeTraceFollowsTheSamplesWithinAmp) {
    const TraceCase cases[] = {
        {"zeros, stopped", 0.0f, false, kMid},
        {"zeros, live", 0.0f, true, kMid},
        {"full scale up", 1.0f, true, kMid - kAmp},
        {"full scale down", -1.0f, false, kMid + kAmp},
        {"just above 1/4.2", 0.24f, true, kMid - kAmp},
        {"a tenth", 0.1f, true, kMid - 13},  // 0.1 * 4.2 * 31 = 13.02
    };
    for (const TraceCase& c : cases) {
        SCOPED_TRACE(c.what);
        PanelState state;
        g_live = c.live;
        PanelState::fillScope(c.sample, 5000);
        auto dc = paintedPanel();
        const Rgb colour = c.live ? kLive : kTraceStopped;
        // Points at x = 32 .. 527, the last one left out by lineTo.
        const std::vector<int> xs = columnsOf(*dc, c.y, 32, 527, colour);
        EXPECT_EQ(xs.size(), size_t(527 - 32));
        EXPECT_TRUE(columnsOf(*dc, c.y == kMid ? kMid - 1 : kMid, 24, 536, colour).empty());
    }
}

TEST(PanelPaint, ScopeJustAfterStartReadsTheRingsZeroEnd) {
    PanelState state;
    g_live = true;
    // 256 samples written: indices 0..255 hold the signal, the rest of the ring still 0.
    for (int i = 0; i < 256; ++i) g_engine.scope[i].store(1.0f, std::memory_order_relaxed);
    g_engine.scopePos.store(256, std::memory_order_relaxed);
    auto dc = paintedPanel();
    // Index (i * 512 / 496 + 256 - 512) & 1023 reaches 0 at i = 248, x = 280.
    EXPECT_EQ(columnsOf(*dc, kMid, 32, 527, kLive).size(), size_t(248));
    EXPECT_EQ(dc->pixel(279, kMid), kLive);
    EXPECT_EQ(dc->pixel(281, kMid - kAmp), kLive);
    EXPECT_EQ(dc->pixel(400, kMid - kAmp), kLive);
}

TEST(PanelPaint, SmallScopeBoxes) {
    {
        PanelState state;
        g_scope = Rect{24, 167, 40, 239};  // 16 wide: no trace
        auto dc = paintedPanel();
        EXPECT_EQ(countOf(*dc, Rect{24, 167, 40, 239}, kTraceStopped), 0);
    }
    {
        PanelState state;
        g_scope = Rect{24, 167, 536, 181};  // 14 high: amp stays 2
        PanelState::fillScope(1.0f, 5000);
        auto dc = paintedPanel();
        EXPECT_EQ(columnsOf(*dc, 174 - 2, 32, 527, kTraceStopped).size(), size_t(527 - 32));
    }
}

TEST(PanelPaint, NarrowBandShowsOnlyItsBox) {
    for (int width : {79, 80}) {
        SCOPED_TRACE(width);
        PanelState state;
        g_live = true;
        setStations({88.0f, 100.0f});
        g_band = Rect{24, 72, 24 + width, 159};
        auto dc = paintedPanel();
        int other = 0;
        for (int y = g_band.top + 1; y < g_band.bottom - 1; ++y)
            for (int x = g_band.left + 1; x < g_band.right - 1; ++x) other += dc->pixel(x, y) != kBoxFill;
        if (width == 79)
            EXPECT_EQ(other, 0);
        else
            EXPECT_GT(other, 50);  // readout, needle and scale
    }
}

// ---- Station line ----

struct StationLineCase {
    const char* what;
    bool live;
    int stations;
    int uiStation;
    std::wstring expected;
};

TEST(PanelPaint, StationLineText) {
    const StationLineCase cases[] = {
        {"live on the third of 30", true, 30, 2, L"03/30  STATION 3"},
        {"stopped on a station", false, 30, 2, L"--/--  NO SIGNAL"},
        {"live between stations", true, 30, -1, L"--/--  NO SIGNAL"},
        {"live past the list", true, 30, 30, L"--/--  NO SIGNAL"},
        {"empty list, live", true, 0, 0, L"NO STATIONS - radio\\stations.txt"},
        {"empty list, stopped", false, 0, -1, L"NO STATIONS - radio\\stations.txt"},
        {"hundreds", true, 120, 104, L"105/120  STATION 105"},
    };
    for (const StationLineCase& c : cases) {
        SCOPED_TRACE(c.what);
        PanelState state;
        g_live = c.live;
        setStations(std::vector<float>(size_t(c.stations), 99.0f));
        PanelState::setEngine(99.0f, c.uiStation, c.live ? 0 : 3);
        EXPECT_EQ(stationLineText(c.uiStation), c.expected);
    }
}

TEST(PanelPaint, LongStationNameStaysInsideItsLine) {
    PanelState state;
    g_live = true;
    setStations({99.0f});
    g_stations[0].name = std::wstring(100000, L'W');
    PanelState::setEngine(150.0f, 0, 0);  // the needle at xR, away from the text
    EXPECT_EQ(stationLineText(0).size(), size_t(7 + 100000));
    auto dc = paintedPanel();
    // The line's rectangle ends S(10) left of the pill; the pill is at least 18 + its text
    // wide, so the 10 columns left of kXR - 30 - 10 .. kXR - 30 carry no text at all.
    // Rows 110..120 lie inside the line's rectangle and above the scale's labels.
    dc->setFont(g_fontUI);
    const int pillLeft = kXR - (dc->textExtent(L"SCANNING").cx + 18);
    int lit = 0;
    for (int y = 105; y < 125; ++y)
        for (int x = pillLeft - 10; x < pillLeft; ++x) lit += dc->pixel(x, y) != kBoxFill;
    EXPECT_EQ(lit, 0);
    // The text itself runs up to near the cut.
    int litLeft = 0;
    for (int y = 105; y < 125; ++y)
        for (int x = pillLeft - 60; x < pillLeft - 10; ++x) litLeft += dc->pixel(x, y) != kBoxFill;
    EXPECT_GT(litLeft, 20);
}

}  // namespace
