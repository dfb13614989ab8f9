// Layout and fonts of the main window.
//
// Sections: globals; fonts and the title fit; relayout.
#include "ui/layout.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "ui/rain.h"
#include "ui/ui_state.h"

// ---- Globals ----

float g_f = 1.0f;
Rect g_band, g_scope;
Rect g_rcTog, g_rcRender, g_rcEcho, g_rcVerb;
FontRef g_fontTitle, g_fontUI, g_fontMono, g_fontSect, g_fontBtn, g_fontFreq, g_fontTiny, g_fontRain;
FontRef g_fontOld[8];

namespace {

// n scaled by an explicit scale, rounded half away from zero (S() with g_f = scale).
int scaled(float n, float scale) { return int(std::lround(n * scale)); }

FontRef* const kFontSlots[8] = {&g_fontTitle, &g_fontUI,   &g_fontMono, &g_fontSect,
                                &g_fontBtn,   &g_fontFreq, &g_fontTiny, &g_fontRain};

// Faces as the panel asks for them; the canvas substitutes what the system lacks.
constexpr const char* kSansFace = "Segoe UI";
constexpr const char* kMonoFace = "Consolas";
constexpr const char* kRainFace = "MS Gothic";

constexpr int kTitleWeight = 600;
constexpr int kTitleMinPx = 8;   // the fitted title never gets smaller ...
constexpr int kTitleMaxPx = 64;  // ... or larger than this
constexpr int kTitleFitSteps = 4;

FontRef titleFont(int height) { return fontCreate({height, kTitleWeight, kSansFace, false}); }

// The title's width as the panel draws it: the text measured without spacing, plus the
// spacing the panel puts between every two letters.
int titleDrawnWidth(Canvas& dc, const FontRef& font, float scale) {
    const int gaps = int(kTitleText.size()) - 1;  // UTF-16 units of the title, all ASCII
    FontRef prev = dc.setFont(font);
    const int prevExtra = dc.setCharExtra(0);
    const int measured = dc.textExtent(kTitleText).cx;
    dc.setCharExtra(prevExtra);
    dc.setFont(prev);
    return measured + scaled(5, scale) * gaps;
}

}  // namespace

// ---- Fonts and the title fit ----

// The title is sized by the space it must fit in: each step scales the height by the ratio
// of that space to the drawn width (letter spacing included), until the title fits with less
// than S(6) to spare, the height stops changing, or four new fonts have been made. Glyph
// widths grow in jumps of several pixels per pixel of height, so that can end a little too
// wide; only then is it mended: back to the largest height seen that fitted, or, when none
// did, one pixel smaller at a time within the same four fonts.
TitleFit fitTitleFont(float scale, int width) {
    TitleFit fit;
    int h = -scaled(25, scale);
    fit.font = titleFont(h);
    fit.height = h;
    // The title starts at S(27) and keeps S(24) free on the right.
    fit.avail = width - scaled(27, scale) - scaled(24, scale);
    if (fit.avail <= 60) return fit;

    auto dc = Canvas::create(1, 1);
    int w = titleDrawnWidth(*dc, fit.font, scale);
    FontRef fitFont;  // the largest font seen to fit, and its height and width
    int fitH = 0, fitW = 0;
    auto noteIfFits = [&] {
        if (w <= fit.avail && (!fitFont || h < fitH)) {
            fitFont = fit.font;
            fitH = h;
            fitW = w;
        }
    };
    auto useHeight = [&](int next) {
        fit.font = titleFont(next);
        h = next;
        ++fit.fontsMade;
        w = titleDrawnWidth(*dc, fit.font, scale);
    };
    noteIfFits();
    for (int step = 0; step < kTitleFitSteps; ++step) {
        if (w <= 0) break;
        const int spare = fit.avail - w;
        if (spare >= 0 && spare < scaled(6, scale)) break;  // fits, with little to spare
        int next = int(std::lround(float(h) * float(fit.avail) / float(w)));
        next = std::clamp(next, -kTitleMaxPx, -kTitleMinPx);
        if (next == h) break;
        useHeight(next);
        noteIfFits();
    }
    if (w > fit.avail) {
        if (fitFont) {
            fit.font = fitFont;
            h = fitH;
            w = fitW;
        } else {
            while (w > fit.avail && fit.fontsMade < kTitleFitSteps && h < -kTitleMinPx) useHeight(h + 1);
        }
    }
    fit.height = h;
    fit.width = w;
    return fit;
}

void makeFonts(float scale, Window* w, int width) {
    for (int i = 0; i < 8; ++i) g_fontOld[i] = std::move(*kFontSlots[i]);

    if (w && width > 0) {
        g_fontTitle = fitTitleFont(scale, width).font;
    } else {
        g_fontTitle = titleFont(-scaled(25, scale));
    }
    g_fontUI = fontCreate({-scaled(12, scale), 400, kSansFace, false});
    g_fontMono = fontCreate({-scaled(12, scale), 400, kMonoFace, true});
    g_fontSect = fontCreate({-scaled(12, scale), 600, kSansFace, false});
    g_fontBtn = fontCreate({-scaled(17, scale), 600, kSansFace, false});
    g_fontFreq = fontCreate({-scaled(27, scale), 700, kMonoFace, true});
    g_fontTiny = fontCreate({-scaled(10, scale), 400, kSansFace, false});
    g_fontRain = fontCreate({-scaled(15, scale), 400, kRainFace, true});

    // The rain shows katakana only when the face actually used is a Japanese gothic one.
    g_rainKana = false;
    if (g_fontRain && w) {
        auto dc = Canvas::create(1, 1);
        FontRef prev = dc->setFont(g_fontRain);
        const std::string face = dc->faceName();
        dc->setFont(prev);
        g_rainKana = face.find("Gothic") != std::string::npos;
    }
}

namespace {

void setFont(Window* control, const FontRef& font) {
    if (!control) return;
    WinMsg m;
    m.kind = MsgKind::SetFont;
    m.font = font;
    m.redraw = true;
    sendMessage(control, m);
}

}  // namespace

void applyFonts() {
    for (Window* c : {hTog, hRender, hEcho, hVerb, lRing, lVol, lNoise, vRing, vVol, vNoise, lSect})
        setFont(c, g_fontUI);
    setFont(hTog, g_fontBtn);
    setFont(hRender, g_fontBtn);
    setFont(lSect, g_fontSect);
    for (Window* c : {lBank, lStatus, lVoice}) setFont(c, g_fontMono);
    for (Window* c : {sSweepH, sVolH, sNoiseH}) setFont(c, g_fontUI);
    for (FontRef& old : g_fontOld) old.reset();
}

void layoutMinSize(MinClientSize& mm) {
    // The window manager draws the frame outside the client area, so the minimum is the
    // client size itself.
    mm.minClientW = kMinClientW;
    mm.minClientH = kMinClientH;
}

// ---- relayout ----

namespace {

void place(Window* c, int x, int y, int w, int h) {
    if (c) moveWindow(c, x, y, w, h, true);
}

}  // namespace

void relayout(Window* w) {
    const Rect rc = clientRect(w);
    const int W = rc.width();
    const int H = rc.height();
    if (W <= 15 || H <= 15) return;

    const float sc = std::min(float(W) / float(kDesignW), float(H) / float(kDesignH));
    g_f = sc < 1.0f ? 1.0f : std::min(sc, kMaxScale);

    makeFonts(g_f, w, W);
    applyFonts();
    rainReset(W, H);

    const int M = S(16);

    // Band display: 11.5 % of the height, 78 to 130 pixels.
    const int bandTop = S(64) + S(8);
    const float b = 0.115f * float(H);
    const int bandH = b < 78.0f ? 78 : int(std::lround(std::min(b, 130.0f)));
    g_band = {M + S(8), bandTop, W - M - S(8), bandTop + bandH};

    // Scope: 9.5 % of the height, 44 to 100 pixels.
    const float c = 0.095f * float(H);
    const int scopeH = int(std::lround(std::min(std::max(c, 44.0f), 100.0f)));
    const int scopeTop = g_band.bottom + S(8);
    g_scope = {M + S(8), scopeTop, W - M - S(8), scopeTop + scopeH};

    // The content column inside the control panel (the panel runs from M to W - M).
    const int x0 = 2 * M;
    const int cw = W - 4 * M;

    const int ys = g_scope.bottom + S(8) + S(12);

    const int y1 = ys + S(16) + S(10);
    const int h1 = (cw - S(12)) / 2;
    g_rcTog = {x0, y1, x0 + h1, y1 + S(46)};
    g_rcRender = {x0 + h1 + S(12), y1, x0 + 2 * h1 + S(12), y1 + S(46)};

    const int y2 = y1 + S(46) + S(14);
    const int h2 = (cw - S(10)) / 2;
    g_rcEcho = {x0, y2, x0 + h2, y2 + S(24)};
    g_rcVerb = {x0 + h2 + S(10), y2, x0 + 2 * h2 + S(10), y2 + S(24)};

    // Slider block: three rows centred in the height left above the bottom texts, each
    // row's caption and slider centred in its pitch.
    const int T = y2 + S(24) + S(14);
    const int yB = H - M - S(54);
    const int avail = yB - T - S(8);
    const int p = std::min(std::max(avail / 3, S(30)), S(84));
    const int hc = S(13);
    const int hs = S(15);
    const int wv = S(96);
    int y = std::max(T, T + (avail - 3 * p) / 2) + (p - (hc + S(2) + hs)) / 2;

    Window* const rows[3][3] = {
        {lRing, vRing, sSweepH},
        {lVol, vVol, sVolH},
        {lNoise, vNoise, sNoiseH},
    };
    for (const auto& row : rows) {
        place(row[0], x0, y, cw - wv - 8, hc);  // a fixed 8 pixels before the value
        place(row[1], x0 + cw - wv, y, wv, hc);
        // The slider's track is inset by 9 pixels, so it reaches S(4) past the column.
        place(row[2], x0 - S(4), y + hc + S(2), cw + S(8), hs);
        y += p;
    }

    place(lSect, x0 + S(4), ys, cw, S(16));
    place(hTog, g_rcTog.left, g_rcTog.top, h1, S(46));
    place(hRender, g_rcRender.left, g_rcRender.top, h1, S(46));
    place(hEcho, g_rcEcho.left, g_rcEcho.top, h2, S(24));
    place(hVerb, g_rcVerb.left, g_rcVerb.top, h2, S(24));

    place(lVoice, x0, yB - S(22), cw, S(13));
    place(lBank, x0, yB, cw, S(13));
    place(lStatus, x0, yB + S(18), cw, S(13));
}
