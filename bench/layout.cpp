// The cost of a resize: one step of an interactive resize on the headless display (the
// Size message: relayout with eight new fonts, the title fit, a fresh rain and 17 moved
// controls, then the whole window and every child repainted), and its parts: makeFonts
// with the title fit, and the title fit alone.
//
// Nothing is cached between steps, so this is what every pixel of a drag costs.
#include <benchmark/benchmark.h>

#include "app/interactive.h"
#include "platform/audio_fake.h"
#include "platform/window_headless.h"
#include "ui/controller.h"
#include "ui/layout.h"
#include "ui/ui_state.h"

namespace {

struct Size2 {
    int w, h;
};
constexpr Size2 kSizes[] = {{560, 760}, {1280, 1000}};

void BM_ResizeStep(benchmark::State& state) {
    const Size2 sz = kSizes[state.range(0)];
    audioUseFake();
    fakeAudioReset();
    windowUseHeadless(2560, 1600);
    if (!interactiveStart()) {
        state.SkipWithError("the main window could not be created");
        return;
    }
    int step = 0;
    for (auto _ : state) {
        // One pixel wider and back: every step is a real change of size.
        headlessResize(sz.w + (step++ & 1), sz.h);
    }
    state.SetLabel(std::to_string(sz.w) + "x" + std::to_string(sz.h));
    headlessClose();
    interactiveLoop();
}
BENCHMARK(BM_ResizeStep)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

void BM_MakeFonts(benchmark::State& state) {
    const Size2 sz = kSizes[state.range(0)];
    const float scale = state.range(0) == 0 ? 1.0f : 1000.0f / 760.0f;
    windowUseHeadless(2560, 1600);
    registerWindowClass("BenchFontsHost", defaultHandling, CursorShape::Arrow);
    WindowCreate c;
    c.className = "BenchFontsHost";
    c.w = sz.w;
    c.h = sz.h;
    Window* host = createWindow(c);
    for (auto _ : state) {
        makeFonts(scale, host, sz.w);
        applyFonts();
    }
    state.SetLabel(std::to_string(sz.w) + " wide");
    destroyWindow(host);
}
BENCHMARK(BM_MakeFonts)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

void BM_TitleFit(benchmark::State& state) {
    const Size2 sz = kSizes[state.range(0)];
    const float scale = state.range(0) == 0 ? 1.0f : 1000.0f / 760.0f;
    int made = 0;
    for (auto _ : state) {
        const TitleFit fit = fitTitleFont(scale, sz.w);
        made = fit.fontsMade;
        benchmark::DoNotOptimize(fit.height);
    }
    state.SetLabel(std::to_string(sz.w) + " wide, " + std::to_string(made) + " new fonts");
}
BENCHMARK(BM_TitleFit)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
