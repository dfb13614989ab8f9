// Helpers of the painting tests: the design layout (560 x 760, scale 1.0) set by hand, the
// engine's display values and the station list put in a known state and restored, and
// small pixel queries on a canvas.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "catalog/station.h"
#include "engine/engine.h"
#include "platform/canvas.h"
#include "support/saved_globals.h"
#include "support/stations.h"
#include "ui/layout.h"
#include "ui/paint.h"
#include "ui/palette.h"
#include "ui/rain.h"
#include "ui/ui_state.h"

namespace painttest {

constexpr int kW = 560;
constexpr int kH = 760;
// The layout's rectangles at 560 x 760.
constexpr Rect kBand{24, 72, 536, 159};
constexpr Rect kScope{24, 167, 536, 239};

// Puts the panel's inputs into the state of a freshly started program at the design size,
// with an empty rain and no stations, and restores every one of them afterwards.
class PanelState {
public:
    PanelState() {
        saved_.save(g_f, g_band, g_scope, g_live, g_hover, g_echoOn, g_verbOn, g_rainKana, g_rainRng, g_rainRowH,
                    g_rainColW, g_rainRows, g_rain, g_stations);
        g_f = 1.0f;
        makeFonts(1.0f, nullptr, 0);
        createPanelBrushes();
        g_band = kBand;
        g_scope = kScope;
        g_live = false;
        g_hover = 0;
        g_echoOn = true;
        g_verbOn = false;
        g_rain.clear();
        g_stations.clear();
        setEngine(87.5f, -1, 3);
        fillScope(0.0f, 1024);
    }
    ~PanelState() {
        setEngine(87.5f, -1, 3);
        fillScope(0.0f, 0);
    }
    PanelState(const PanelState&) = delete;
    PanelState& operator=(const PanelState&) = delete;

    static void setEngine(float dialFreq, int station, int phase) {
        g_engine.dialFreq.store(dialFreq, std::memory_order_relaxed);
        g_engine.uiStation.store(station, std::memory_order_relaxed);
        g_engine.uiPhase.store(phase, std::memory_order_relaxed);
    }
    // Every ring sample becomes v; pos is the running write count.
    static void fillScope(float v, int pos) {
        for (auto& s : g_engine.scope) s.store(v, std::memory_order_relaxed);
        g_engine.scopePos.store(pos, std::memory_order_relaxed);
    }

private:
    SavedGlobals saved_;  // the globals above, as they were, put back after the destructor's body
};

inline std::unique_ptr<Canvas> paintedPanel(int w = kW, int h = kH) {
    auto dc = Canvas::create(w, h);
    paintPanel(*dc, w, h);
    return dc;
}

// Columns x in [from, to) of row y that hold exactly colour c.
inline std::vector<int> columnsOf(const Canvas& dc, int y, int from, int to, Rgb c) {
    std::vector<int> xs;
    for (int x = from; x < to; ++x)
        if (dc.pixel(x, y) == c) xs.push_back(x);
    return xs;
}

// Pixels of colour c inside r.
inline int countOf(const Canvas& dc, const Rect& r, Rgb c) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += dc.pixel(x, y) == c;
    return n;
}

// The brightest pixel of r by its green channel (on black, a glyph's fully covered pixels).
inline Rgb brightestIn(const Canvas& dc, const Rect& r) {
    Rgb best = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (rgbGreen(dc.pixel(x, y)) > rgbGreen(best)) best = dc.pixel(x, y);
    return best;
}

}  // namespace painttest
