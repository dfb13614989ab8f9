// Layout and fonts of the main window: one scale factor g_f from the client size, the eight
// interface fonts (the title font fitted to the window's width), the rectangles of the band
// display, the scope and the four buttons, and the places of the 17 child controls.
//
// Owns g_f, g_band, g_scope, g_rcTog/Render/Echo/Verb and the g_font* handles (declared in
// ui_state.h), and g_fontOld below. Sets g_rainKana and re-grids the rain through rainReset.
//
// Window thread only. relayout and makeFonts allocate (fonts, rain columns); nothing is
// cached between calls.
#pragma once

#include <string_view>

#include "platform/canvas.h"
#include "platform/window_system.h"

// The title line the panel draws with g_fontTitle and S(5) pixels between its letters.
constexpr std::wstring_view kTitleText = L"KESTRUM RADIO SCANNER MADE BY TALVERN";

// The smallest client area the user can size the window to.
constexpr int kMinClientW = 520;
constexpr int kMinClientH = 700;

// The client size the layout is designed for; larger windows scale up to 1.7 times.
constexpr int kDesignW = 560;
constexpr int kDesignH = 760;
constexpr float kMaxScale = 1.7f;

// Fonts replaced by the last makeFonts, released by the following applyFonts.
extern FontRef g_fontOld[8];

// Lays out the main window for its current client size: scale, fonts, rain grid, rectangles
// and control places. A client area of 15 pixels or less in either direction changes nothing.
void relayout(Window* w);

// Creates the eight fonts for scale (the value g_f gets), moving the current ones into
// g_fontOld. The title is fitted to width only when both w and width are given; the rain's
// face test (g_rainKana) runs only when w is given.
void makeFonts(float scale, Window* w, int width);

// Hands the current fonts to the child controls (SetFont, redraw), then releases g_fontOld.
void applyFonts();

// The minimum-size answer of the main window.
void layoutMinSize(MinClientSize& mm);

// The title fit on its own, with S() using `scale`. avail = width - S(27) - S(24); the drawn
// width w is the measured text plus S(5) per letter gap. No fitting when avail <= 60.
// Otherwise, from the em height h = -S(25), at most four times: stop when w <= 0 or
// 0 <= avail - w < S(6); h' = h * avail / w in single precision, rounded half away from
// zero and limited to -64..-8; stop when h' = h, else take the font of h'. If that ends
// with the title too wide: the largest height seen that fitted, else one pixel smaller at a
// time until it fits, as long as the four new fonts and the -8 limit allow.
struct TitleFit {
    FontRef font;     // the final title font
    int height = 0;   // its em height (negative)
    int fontsMade = 0;  // new fonts created after the first, 0..4
    int avail = 0;    // the space the title must fit in, pixels
    int width = 0;    // the title's drawn width with the final font, pixels (0: not measured)
};
TitleFit fitTitleFont(float scale, int width);
