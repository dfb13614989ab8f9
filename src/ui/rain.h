// The glyph rain: columns of glyphs falling behind the display and, dimmer, inside the
// control panel. Window thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/canvas.h"

struct RainCol {
    float y;             // head position in rows from the top; negative above the top
    float speed;         // rows per second, 4.5..12
    int len;             // trail length in glyphs, head included, 8..22
    char16_t glyph[26];  // the glyph of row r is glyph[r % 26]
};

extern std::vector<RainCol> g_rain;
extern uint64_t g_rainRng;  // 0xC0FFEE1234 at program start
extern int g_rainRowH;
extern int g_rainColW;
extern int g_rainRows;
extern uint64_t g_rainLast;
extern bool g_rainKana;

char16_t rainGlyph();
void rainSpawn(int col, bool scatter);
void rainReset(int w, int h);
void rainStep();
void paintRain(Canvas& dc, const Rect& rect, float intensity);
