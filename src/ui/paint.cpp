// The main window's picture, drawn back to front into an off-screen canvas and copied to
// the window in one step: gradient, rain and grid behind the display, title, divider, band
// display with the dial, scope, control panel with its own dimmer rain, credit.
//
// Sections: brushes and helpers; text formatting; band display; scope; the whole picture.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "catalog/station.h"
#include "engine/engine.h"
#include "ui/canvas_scope.h"
#include "ui/layout.h"
#include "ui/paint.h"
#include "ui/palette.h"
#include "ui/rain.h"
#include "ui/ui_state.h"

// ---- Brushes and helpers ----

Rgb g_panelBrush = palette::kPanel;
Rgb g_grad[64];

namespace {

using namespace palette;

constexpr float kDialSpanMHz = kBandHighMHz - kBandLowMHz;  // 20.5, exact in float
constexpr int kEnginePhaseLocked = 1;  // the engine's "locked on a signal" display phase

}  // namespace

void createPanelBrushes() {
    g_panelBrush = kPanel;
    for (int i = 0; i < 64; ++i) {
        const float t = float(i) / 63.0f;
        g_grad[i] = rgb(5 + int(5.0f * t), 8 + int(8.0f * t), 6 + int(5.0f * t));
    }
}

void roundR(Canvas& dc, const Rect& r, int corner, Rgb fill, Rgb border) {
    CanvasScope scope(dc);
    scope.brush(Brush{fill});
    scope.pen(Pen{border, 2});
    dc.roundRect(r, corner, corner);
}

void line(Canvas& dc, int x1, int y1, int x2, int y2, Rgb color) {
    CanvasScope scope(dc);
    scope.pen(Pen{color, 1});
    dc.moveTo(x1, y1);
    dc.lineTo(x2, y2);
}

namespace {

// A filled box framed by a 1-pixel pen, inside its bounds.
void framedBox(Canvas& dc, const Rect& r) {
    dc.fillRect(r, kBoxFill);
    CanvasScope scope(dc);
    scope.brush(Brush{0, true});
    scope.pen(Pen{kFrame, 1});
    dc.rectangle(r);
}

// ---- Text formatting: bounded, ASCII-only numbers widened for drawing ----

template <typename... Args>
std::wstring formatAscii(size_t capacity, const char* format, Args... args) {
    char buf[64];
    const size_t cap = std::min(capacity, sizeof buf);
    const int n = std::snprintf(buf, cap, format, args...);
    if (n < 0) return {};
    const size_t len = std::min(size_t(n), cap - 1);
    return std::wstring(buf, buf + len);
}

// ---- Band display ----

struct Dial {
    int xL, xR, yB, span;
    // Scale position of a frequency, half away from zero. Values far off the scale are
    // limited first so that the rounding stays in range; the result is the same.
    int x(float f) const {
        float v = (f - kBandLowMHz) / kDialSpanMHz * float(span) + float(xL);
        if (!(v > -1.0e6f)) v = -1.0e6f;  // also catches NaN
        if (v > 1.0e6f) v = 1.0e6f;
        return int(std::lround(v));
    }
};

void paintDial(Canvas& dc, float dialFreq, int station, int phase) {
    const Rect& band = g_band;
    Dial d{band.left + S(12), band.right - S(12), band.bottom - S(9), 0};
    d.span = d.xR - d.xL;
    const Rgb c = g_live ? kLive : kDim;
    const bool locked = g_live && phase == kEnginePhaseLocked;
    const int count = int(g_stations.size());

    // Readout and unit.
    dc.setFont(g_fontFreq);
    dc.setTextColor(c);
    dc.setCharExtra(0);
    const std::wstring readout = formatAscii(24, "%5.1f", double(dialFreq));
    dc.textOut(d.xL, band.top + S(2), readout);
    const Size ext = dc.textExtent(readout);
    dc.setFont(g_fontTiny);
    dc.setTextColor(kMedium);
    dc.textOut(d.xL + ext.cx + S(6), band.top + S(2) + ext.cy - S(14), L"MHz");

    // State pill.
    const wchar_t* pillText = locked ? L"LOCKED" : g_live ? L"SCANNING" : L"STOPPED";
    const Rgb pillColor = locked ? kLive : g_live ? kScanning : kStopped;
    dc.setFont(g_fontUI);
    const int tw = dc.textExtent(pillText).cx;
    const Rect pill{d.xR - (tw + S(18)), band.top + S(6), d.xR, band.top + S(6) + S(19)};
    roundR(dc, pill, S(19) / 2, kPillFill, pillColor);
    dc.setTextColor(pillColor);
    dc.drawText(pill, pillText, TextCenter | TextVCenter | TextSingleLine);

    // Station line, cut with an ellipsis when it does not fit.
    const Rect lineRect{d.xL, band.top + S(2) + ext.cy - S(3), pill.left - S(10),
                        band.bottom - S(26)};
    dc.setTextColor(locked ? kBright : kMedium);
    dc.drawText(lineRect, stationLineText(station), TextLeft | TextTop | TextSingleLine | TextEndEllipsis);

    // Scale: baseline, ticks, labels.
    line(dc, d.xL, d.yB, d.xR, d.yB, kFrame);
    for (int k = 0; k <= 82; ++k) {
        const int x = d.x(kBandLowMHz + 0.25f * float(k));
        const bool major = k % 8 == 2;
        const int len = major ? S(7) : S(4);
        line(dc, x, d.yB - len, x, d.yB, major ? kMedium : kMinorTick);
    }
    dc.setFont(g_fontTiny);
    dc.setTextColor(kDim);
    for (int m = 88; m <= 108; m += 2) {
        const std::wstring label = formatAscii(8, "%d", m);
        const int w = dc.textExtent(label).cx;
        dc.textOut(d.x(float(m)) - w / 2, d.yB - S(20), label);
    }

    // Station markers, not limited to the scale.
    for (int i = 0; i < count; ++i) {
        const int x = d.x(g_stations[size_t(i)].freq);
        if (locked && i == station) {
            CanvasScope scope(dc);
            scope.pen(Pen{kLive, 2});
            dc.moveTo(x, d.yB - S(12));
            dc.lineTo(x, d.yB - 2);
        } else {
            line(dc, x, d.yB - S(12), x, d.yB - 2, kMarker);
        }
    }

    // Needle: a 2-pixel line under a triangle pointing up.
    const int nx = std::clamp(d.x(dialFreq), d.xL, d.xR);
    CanvasScope scope(dc);
    scope.pen(Pen{c, 2});
    dc.moveTo(nx, d.yB - S(14));
    dc.lineTo(nx, d.yB + 2);
    dc.setPen(Pen{0, 1, true});
    scope.brush(Brush{c});
    const Point tip[3] = {{nx, d.yB - S(20)}, {nx - S(5), d.yB - S(13)}, {nx + S(5), d.yB - S(13)}};
    dc.polygon(tip, 3);
}

// ---- Scope ----

void paintScope(Canvas& dc) {
    const Rect& sc = g_scope;
    framedBox(dc, sc);
    const int mid = (sc.top + sc.bottom) / 2;
    line(dc, sc.left + 8, mid, sc.right - 8, mid, kScopeCentre);

    const int n = sc.width() - 16;
    if (n <= 0) return;
    const float amp = std::max(2.0f, float(sc.height()) * 0.5f - 5.0f);
    const float gain = 4.2f * amp;
    const int w = g_engine.scopePos.load(std::memory_order_relaxed);
    CanvasScope scope(dc);
    scope.pen(Pen{g_live ? kLive : kTraceStopped, 1});
    for (int i = 0; i < n; ++i) {
        const int idx = ((i * 512) / n + w - 512) & (kScopeSize - 1);
        float v = g_engine.scope[idx].load(std::memory_order_relaxed) * gain;
        if (!(v > -amp)) v = -amp;  // also a NaN sample
        if (v > amp) v = amp;
        const int x = sc.left + 8 + i, y = mid - int(v);
        if (i == 0)
            dc.moveTo(x, y);
        else
            dc.lineTo(x, y);
    }
}

}  // namespace

std::wstring stationLineText(int station) {
    const int count = int(g_stations.size());
    if (g_live && station >= 0 && station < count)
        return formatAscii(32, "%02d/%02d  ", station + 1, count) + g_stations[size_t(station)].name;
    if (count == 0) return L"NO STATIONS - radio\\stations.txt";
    return L"--/--  NO SIGNAL";
}

// ---- The whole picture ----

void paintPanel(Canvas& dc, int w, int h) {
    // Gradient, darkest at the top.
    const int b = (h + 63) / 64;
    for (int i = 0; i < 64; ++i) dc.fillRect(Rect{0, i * b, w, i * b + b}, g_grad[i]);

    // Rain behind the display, with the grid over it.
    const int g = g_scope.bottom + S(6);
    paintRain(dc, Rect{0, 0, w, g}, 0.85f);
    const int gx = S(44), gy = S(30);
    for (int x = 0; gx > 0 && x < w; x += gx) line(dc, x, 0, x, g, kGrid);
    for (int y = 0; gy > 0 && y < g; y += gy) line(dc, 0, y, w, y, kGrid);

    // Title, its letters' top near S(3).
    CanvasScope scope(dc);
    scope.transparentText(true);
    scope.font(g_fontTitle);
    scope.charExtra(S(5));
    scope.textColor(kBright);
    dc.textOut(S(27), S(3) - dc.textMetrics().internalLeading, kTitleText);
    dc.setCharExtra(0);

    line(dc, S(27), S(64), w - S(27), S(64), kFrame);

    // Band display and dial. The engine's display values are read once each, here: the
    // audio thread may change them while the picture is drawn.
    framedBox(dc, g_band);
    if (g_band.width() > 79) {
        paintDial(dc, g_engine.dialFreq.load(std::memory_order_relaxed),
                  g_engine.uiStation.load(std::memory_order_relaxed),
                  g_engine.uiPhase.load(std::memory_order_relaxed));
    }

    paintScope(dc);

    // Control panel with its own dimmer rain, and the credit at its foot.
    const Rect q{g_scope.left - S(8), g_scope.bottom + S(8), w - S(16), h - S(16)};
    roundR(dc, q, S(14), kPanel, kFrame);
    paintRain(dc, Rect{q.left + 6, q.top + 2, q.right - 4, q.bottom - 2}, 0.38f);
    dc.setTransparentText(true);
    dc.setFont(g_fontTiny);
    dc.setTextColor(kDim);
    const int creditTop = h - S(16) - S(20);
    dc.drawText(Rect{g_scope.left, creditTop, w - S(16) - S(16), creditTop + S(13)},
                L"Made by TALVERN", TextRight | TextTop | TextSingleLine);
}

Canvas& offscreenCanvas(std::unique_ptr<Canvas>& slot, int w, int h) {
    if (!slot || slot->width() != w || slot->height() != h) slot = Canvas::create(w, h);
    return *slot;
}

void paintMain(Window* w) {
    Canvas* target = paintBegin(w);
    if (!target) return;
    const Rect rc = clientRect(w);
    if (rc.width() > 0 && rc.height() > 0) {
        // Kept between paints: a fresh 560 x 760 image every 33 ms costs more in page
        // faults and clearing than the whole picture costs to draw.
        static std::unique_ptr<Canvas> frame;
        Canvas& dc = offscreenCanvas(frame, rc.width(), rc.height());
        paintPanel(dc, rc.width(), rc.height());
        target->copyFrom(dc, 0, 0);
    }
    paintEnd(w);
}
