// The glyph rain: its columns and generator, the start of a column, the grid reset on every
// layout, the motion step of the animation tick and the drawing into a rectangle.
#include "ui/rain.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "base/rng.h"
#include "base/static_order.h"
#include "platform/clock.h"
#include "ui/canvas_scope.h"
#include "ui/ui_state.h"

std::vector<RainCol> g_rain KESTRUM_STATIC(KESTRUM_ORDER_RAIN);
uint64_t g_rainRng = 0xC0FFEE1234;
int g_rainRowH = 0;
int g_rainColW = 0;
int g_rainRows = 0;
uint64_t g_rainLast = 0;
bool g_rainKana = false;

namespace {

constexpr int kMaxColumns = 220;
constexpr float kMaxStepS = 0.25f;      // a stalled animation catches up at most this much
constexpr float kFaintest = 0.045f;     // trail glyphs fainter than this are not drawn
constexpr char16_t kKanaFirst = 0xFF66;  // half-width katakana U+FF66..U+FF9D
constexpr std::u16string_view kSymbols = u"Z:.=*+-<>|/";

uint64_t draw() { return xorshift64(g_rainRng); }

int roundHalfAway(float v) { return int(std::lround(v)); }

}  // namespace

char16_t rainGlyph() {
    const uint64_t r = draw() % 100;
    const uint64_t x = draw();
    if (r <= 67 && g_rainKana) return char16_t(kKanaFirst + x % 56);
    if (r <= 87) return char16_t(u'0' + x % 10);
    return kSymbols[x % kSymbols.size()];
}

void rainSpawn(int col, bool scatter) {
    if (col < 0 || size_t(col) >= g_rain.size()) return;
    RainCol& c = g_rain[size_t(col)];
    c.len = int(draw() % 15) + 8;
    c.speed = uniformOf(draw()) * 7.5f + 4.5f;
    const float u3 = uniformOf(draw());
    if (scatter)
        c.y = u3 * (float(g_rainRows) + float(c.len)) - float(c.len);
    else
        c.y = -(u3 * (float(g_rainRows) * 0.4f));
    for (char16_t& g : c.glyph) g = rainGlyph();
}

void rainReset(int w, int h) {
    const int rowH = roundHalfAway(std::min(16.0f * g_f, 26.0f));
    const int colW = std::max(8, roundHalfAway(float(rowH) * 0.62f));
    g_rainRowH = rowH;
    g_rainColW = colW;
    g_rainRows = std::max(0, h) / rowH + 1;
    const int cols = std::min(std::max(0, w) / colW + 1, kMaxColumns);
    g_rain.assign(size_t(cols), RainCol{});
    for (int i = 0; i < cols; ++i) rainSpawn(i, true);
    g_rainLast = tickCountMs();
}

void rainStep() {
    if (g_rain.empty()) return;
    const uint64_t now = tickCountMs();
    float dt = float(now - g_rainLast) / 1000.0f;
    g_rainLast = now;
    if (dt <= 0.0f) return;
    dt = std::min(dt, kMaxStepS);
    for (size_t i = 0; i < g_rain.size(); ++i) {
        RainCol& c = g_rain[i];
        const float y = c.speed * dt + c.y;
        if (int(y) - c.len > g_rainRows)
            rainSpawn(int(i), false);
        else
            c.y = y;
        if (draw() % 5 == 0) {
            const char16_t g = rainGlyph();
            c.glyph[draw() % 26] = g;
        }
    }
}

void paintRain(Canvas& dc, const Rect& rect, float intensity) {
    if (g_rain.empty() || !g_fontRain || g_rainRowH < 6) return;
    const int rows = rect.height() / g_rainRowH;
    if (rows <= 1) return;

    CanvasScope scope(dc);
    scope.transparentText(true);
    scope.font(g_fontRain);
    scope.textColor(0);
    for (size_t i = 0; i < g_rain.size(); ++i) {
        const int x = rect.left + int(i) * g_rainColW;
        if (x + g_rainColW > rect.right) break;
        const RainCol& c = g_rain[i];
        const int head = int(c.y);
        if (head < 0 || c.len <= 0) continue;
        for (int j = 0; j <= head && j < c.len; ++j) {
            const int row = head - j;
            if (row >= rows) continue;
            const float t = 1.0f - float(j) / float(c.len);
            const float f = t * t * intensity;
            if (f < kFaintest) break;
            int red = int(22.0f * f), green = int(232.0f * f), blue = int(104.0f * f);
            if (j == 0) {
                red += int(120.0f * f);
                green += int(23.0f * f);
                blue += int(82.0f * f);
            }
            dc.setTextColor(rgb(std::min(red, 255), std::min(green, 255), std::min(blue, 255)));
            const wchar_t glyph = wchar_t(c.glyph[row % 26]);
            dc.textOut(x, rect.top + row * g_rainRowH, std::wstring_view(&glyph, 1));
        }
    }
}
