// Canvas costs that the panel pays every frame: single glyphs as the rain draws them, a
// frame of a thousand of them, filling and copying a whole 560 x 760 picture, the shapes of
// the buttons and sliders, and making the fonts a resize rebuilds.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/canvas.h"

namespace {

constexpr int kW = 560, kH = 760;

FontRef rainFont() {
    static const FontRef f = fontCreate(FontSpec{-15, 400, "MS Gothic", true});
    return f;
}

const wchar_t kGlyphs[] = L"\uFF66\uFF67\uFF71\uFF72\uFF73\uFF74\uFF75\uFF76\uFF77\uFF78"
                          L"0123456789Z:.=*+-<>|/";
constexpr int kGlyphCount = int(sizeof kGlyphs / sizeof kGlyphs[0]) - 1;

void prepareRain(Canvas& c) {
    c.setFont(rainFont());
    c.setTransparentText(true);
    for (int i = 0; i < kGlyphCount; ++i) c.textOut(0, 0, std::wstring_view(&kGlyphs[i], 1));  // cache them
}

void BM_SingleGlyphTextOut(benchmark::State& state) {
    auto c = Canvas::create(kW, kH);
    prepareRain(*c);
    int i = 0;
    for (auto _ : state) {
        c->setTextColor(rgb(14, 150, 67));
        c->textOut((i * 10) % (kW - 20), (i * 16) % (kH - 20), std::wstring_view(&kGlyphs[i % kGlyphCount], 1));
        ++i;
    }
    benchmark::DoNotOptimize(c->pixels());
}
BENCHMARK(BM_SingleGlyphTextOut);

// The rain's share of one paint: a thousand glyphs, a colour change before each.
void BM_ThousandGlyphFrame(benchmark::State& state) {
    auto c = Canvas::create(kW, kH);
    prepareRain(*c);
    for (auto _ : state) {
        for (int g = 0; g < 1000; ++g) {
            const int col = g % 56, row = g / 56;
            c->setTextColor(rgb(g & 31, 100 + (g & 127), 60));
            c->textOut(col * 10, row * 16, std::wstring_view(&kGlyphs[g % kGlyphCount], 1));
        }
        benchmark::DoNotOptimize(c->pixels());
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ThousandGlyphFrame)->Unit(benchmark::kMicrosecond);

// A first use: the glyph laid out with Pango and rendered into its mask.
void BM_GlyphFirstUse(benchmark::State& state) {
    auto c = Canvas::create(64, 64);
    c->setTransparentText(true);
    for (auto _ : state) {
        state.PauseTiming();
        c->setFont(fontCreate(FontSpec{-15, 400, "MS Gothic", true}));
        state.ResumeTiming();
        c->textOut(0, 0, L"\uFF71");
    }
}
BENCHMARK(BM_GlyphFirstUse)->Unit(benchmark::kMicrosecond);

void BM_FillAndCopyFrame(benchmark::State& state) {
    auto frame = Canvas::create(kW, kH);
    auto window = Canvas::create(kW, kH);
    for (auto _ : state) {
        frame->fillRect(Rect{0, 0, kW, kH}, rgb(9, 14, 10));
        window->copyFrom(*frame, 0, 0);
        benchmark::DoNotOptimize(window->pixels());
    }
}
BENCHMARK(BM_FillAndCopyFrame)->Unit(benchmark::kMicrosecond);

void BM_CreateFrameCanvas(benchmark::State& state) {
    for (auto _ : state) {
        auto c = Canvas::create(kW, kH);
        benchmark::DoNotOptimize(c->pixels());
    }
}
BENCHMARK(BM_CreateFrameCanvas)->Unit(benchmark::kMicrosecond);

// The start/stop button's shape and text, as an owner-drawn button draws them.
void BM_ButtonShapeAndText(benchmark::State& state) {
    auto c = Canvas::create(242, 46);
    const FontRef btn = fontCreate(FontSpec{-17, 600, "Segoe UI", false});
    c->setFont(btn);
    c->setTransparentText(true);
    for (auto _ : state) {
        c->fillRect(Rect{0, 0, 242, 46}, rgb(9, 14, 10));
        c->setPen(Pen{rgb(43, 224, 122), 2});
        c->setBrush(Brush{rgb(11, 20, 14)});
        c->roundRect(Rect{1, 1, 241, 45}, 10, 10);
        c->drawText(Rect{1, 1, 241, 45}, L"START KESTRUM", TextCenter | TextVCenter | TextSingleLine);
        benchmark::DoNotOptimize(c->pixels());
    }
}
BENCHMARK(BM_ButtonShapeAndText)->Unit(benchmark::kMicrosecond);

// What one resize step costs in fonts: the eight of the panel.
void BM_EightFonts(benchmark::State& state) {
    for (auto _ : state) {
        FontRef f[8] = {
            fontCreate(FontSpec{-25, 600, "Segoe UI", false}), fontCreate(FontSpec{-12, 400, "Segoe UI", false}),
            fontCreate(FontSpec{-12, 400, "Consolas", true}),  fontCreate(FontSpec{-12, 600, "Segoe UI", false}),
            fontCreate(FontSpec{-17, 600, "Segoe UI", false}), fontCreate(FontSpec{-27, 700, "Consolas", true}),
            fontCreate(FontSpec{-10, 400, "Segoe UI", false}), fontCreate(FontSpec{-15, 400, "MS Gothic", true}),
        };
        benchmark::DoNotOptimize(f);
    }
}
BENCHMARK(BM_EightFonts)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
