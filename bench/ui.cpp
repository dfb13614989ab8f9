// The cost of the picture: one paint of the main window's panel at 560 x 760 and at the
// largest scale (952 x 1292, scale 1.7), with the rain as a fresh layout leaves it and with
// the rain full (every column the longest trail, its head where it lights the most glyphs);
// the rain alone; one slider; one button; and a whole composed frame, main window and all
// children, through the headless display with the real controller.
//
// Milliseconds per frame are what matter: at 30 frames a second a 3 ms frame is 9 % of
// a core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/interactive.h"
#include "catalog/station.h"
#include "engine/engine.h"
#include "platform/canvas.h"
#include "platform/window_headless.h"
#include "platform/window_system.h"
#include "ui/controller.h"
#include "ui/layout.h"
#include "ui/paint.h"
#include "ui/rain.h"
#include "ui/ui_state.h"

namespace {

struct Size2 {
    int w, h;
};
constexpr Size2 kSizes[] = {{560, 760}, {952, 1292}};

// The layout's rectangles, fonts and rain grid for a w x h client area: relayout itself, on
// a bare window of that size on the headless display (without the controls, so only the
// layout's own state changes).
void layoutFor(int w, int h) {
    windowUseHeadless(2 * w, 2 * h);
    registerWindowClass("BenchLayoutHost", defaultHandling, CursorShape::Arrow);
    WindowCreate c;
    c.className = "BenchLayoutHost";
    c.w = w;
    c.h = h;
    Window* host = createWindow(c);
    relayout(host);
    destroyWindow(host);
    createPanelBrushes();
}

// Every column with the longest trail and its head low enough that both rain rectangles
// show as many glyphs as their intensities allow.
void fillRain() {
    for (RainCol& c : g_rain) {
        c.len = 22;
        c.y = 17.5f;
    }
}

void liveScene() {
    g_live = true;
    g_stations.clear();
    for (int i = 0; i < 30; ++i)
        g_stations.push_back(Station{L"STATION " + std::to_wstring(i), L"s.mp3", 88.0f + 0.6f * float(i), 600.0f, 0.0f});
    g_engine.dialFreq.store(97.3f);
    g_engine.uiStation.store(12);
    for (int i = 0; i < 1024; ++i) g_engine.scope[i].store(0.2f * std::sin(float(i) * 0.05f));
    g_engine.scopePos.store(4096);
}

void BM_PanelPaint(benchmark::State& state) {
    const Size2 sz = kSizes[state.range(0)];
    layoutFor(sz.w, sz.h);
    liveScene();
    if (state.range(1)) fillRain();
    auto dc = Canvas::create(sz.w, sz.h);
    std::unique_ptr<Canvas> frame;
    for (auto _ : state) {
        // As paintMain: into the kept off-screen frame, then one copy to the window's canvas.
        Canvas& off = offscreenCanvas(frame, sz.w, sz.h);
        paintPanel(off, sz.w, sz.h);
        dc->copyFrom(off, 0, 0);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(sz.w) + "x" + std::to_string(sz.h) + (state.range(1) ? " rain full" : " rain fresh"));
}
BENCHMARK(BM_PanelPaint)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_RainOnly(benchmark::State& state) {
    const Size2 sz = kSizes[state.range(0)];
    layoutFor(sz.w, sz.h);
    fillRain();
    auto dc = Canvas::create(sz.w, sz.h);
    const Rect q{g_scope.left - S(8), g_scope.bottom + S(8), sz.w - S(16), sz.h - S(16)};
    for (auto _ : state) {
        paintRain(*dc, Rect{0, 0, sz.w, g_scope.bottom + S(6)}, 0.85f);
        paintRain(*dc, Rect{q.left + 6, q.top + 2, q.right - 4, q.bottom - 2}, 0.38f);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(sz.w) + "x" + std::to_string(sz.h) + " rain full, both rectangles");
}
BENCHMARK(BM_RainOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SliderPaint(benchmark::State& state) {
    g_f = 1.0f;
    const Slider s{60, 500, 200};
    auto dc = Canvas::create(504, 15);
    std::unique_ptr<Canvas> frame;
    for (auto _ : state) {
        Canvas& off = offscreenCanvas(frame, 504, 15);
        paintSlider(off, &s, 504, 15);
        dc->copyFrom(off, 0, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SliderPaint)->Unit(benchmark::kMicrosecond);

void BM_ButtonPaint(benchmark::State& state) {
    layoutFor(560, 760);
    g_live = true;
    auto dc = Canvas::create(242, 46);
    for (auto _ : state) {
        drawButton(ButtonPaint{kIdTog, nullptr, dc.get(), Rect{0, 0, 242, 46}});
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ButtonPaint)->Unit(benchmark::kMicrosecond);

// A whole frame as the program shows it: the controller's window on the headless display,
// the main window invalidated as the animation tick does, and every child invalidated too
// (the worst case: after a resize every window repaints).
void BM_ComposedFrame(benchmark::State& state) {
    const Size2 sz = kSizes[state.range(0)];
    const bool children = state.range(1) != 0;
    windowUseHeadless(sz.w * 2, sz.h * 2);
    Window* w = interactiveStart();
    if (!w) {
        state.SkipWithError("the main window could not be created");
        return;
    }
    headlessResize(sz.w, sz.h);
    liveScene();
    fillRain();
    headlessPump();
    Window* const kids[] = {lSect, hTog,  hRender, hEcho,   hVerb,  lRing,  vRing,  sSweepH, lVol,
                            vVol,  sVolH, lNoise,  vNoise,  sNoiseH, lVoice, lBank, lStatus};
    for (auto _ : state) {
        invalidate(w, false);
        if (children)
            for (Window* k : kids) invalidate(k, false);
        headlessPump();
    }
    state.SetLabel(std::to_string(sz.w) + "x" + std::to_string(sz.h) + (children ? " main + all children" : " main window, children cached"));
    headlessClose();
    interactiveLoop();
}
BENCHMARK(BM_ComposedFrame)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
