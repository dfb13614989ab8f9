// The slider: its value from the pointer, its knob position and its picture.
#include <gtest/gtest.h>

#include "paint_support.h"
#include "platform/window_headless.h"

namespace {

using namespace painttest;
using namespace palette;

// The sliders are 504 x 15 at 560 x 760.
constexpr int kSliderW = 504, kSliderH = 15;

struct PointerCase {
    Slider s;
    int x, width, expected;
};

TEST(SliderControl, ValueFromThePointer) {
    const PointerCase cases[] = {
        {{60, 500, 200}, 252, kSliderW, 280},   // t = 243 / 486 = 0.5
        {{60, 500, 200}, 9, kSliderW, 60},      // the track's left end
        {{60, 500, 200}, 0, kSliderW, 60},
        {{60, 500, 200}, -300, kSliderW, 60},   // left of the control, with the capture
        {{60, 500, 200}, 495, kSliderW, 500},   // w - 9
        {{60, 500, 200}, 504, kSliderW, 500},
        {{60, 500, 200}, 3000, kSliderW, 500},
        {{0, 100, 100}, 130, kSliderW, 25},     // 121 / 486 * 100 = 24.9
        {{0, 100, 10}, 10, 28, 10},             // 1 / 10 of 100
        {{0, 5, 0}, 14, 28, 3},                 // 5 * 0.5 = 2.5 rounds away from zero
        {{-50, 50, 0}, 9, 118, -50},
        {{-50, 50, 0}, 34, 118, -25},
        {{0, 100, 37}, 500, 18, 37},            // no usable track: the value stays
        {{0, 100, 37}, -5, 5, 37},
        {{0, 100, 37}, 10, 0, 37},
    };
    for (const PointerCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s.min << ".." << c.s.max << " x " << c.x << " w " << c.width);
        EXPECT_EQ(sliderValueAt(c.s, c.x, c.width), c.expected);
    }
}

TEST(SliderControl, KnobPosition) {
    EXPECT_EQ(sliderKnobX(Slider{60, 500, 200}, kSliderW), 163);  // 140 / 440 * 486 = 154.6
    EXPECT_EQ(sliderKnobX(Slider{60, 500, 60}, kSliderW), 9);
    EXPECT_EQ(sliderKnobX(Slider{60, 500, 500}, kSliderW), kSliderW - 9);
    EXPECT_EQ(sliderKnobX(Slider{0, 100, 10}, kSliderW), 9 + 48);  // 48.6 truncated
    EXPECT_EQ(sliderKnobX(Slider{0, 100, 50}, 10), 9);              // too narrow: no track
}

// The knob, its ring and the centre dot around kx on the middle row (cy = 7).
void expectKnob(const Canvas& dc, int kx, int kr) {
    const int cy = kSliderH / 2;
    EXPECT_EQ(dc.pixel(kx - kr, cy), kLive);
    EXPECT_EQ(dc.pixel(kx - kr + 1, cy), kLive);
    EXPECT_EQ(dc.pixel(kx + kr, cy), kLive);
    EXPECT_EQ(dc.pixel(kx - kr + 2, cy), kKnobFill);
    EXPECT_EQ(dc.pixel(kx, cy), kLive);           // centre of the dot
    EXPECT_EQ(dc.pixel(kx - 2, cy), rgb(0, 0, 0));  // the dot's 1-pixel black outline
    EXPECT_EQ(dc.pixel(kx + 2, cy), rgb(0, 0, 0));
}

TEST(SliderControl, PictureOfTrackFillAndKnob) {
    PanelState state;
    auto dc = Canvas::create(kSliderW, kSliderH);
    const Slider sweep{60, 500, 200};
    paintSlider(*dc, &sweep, kSliderW, kSliderH);
    const int cy = 7, kx = 163;
    EXPECT_EQ(dc->pixel(0, 0), kSliderBack);
    EXPECT_EQ(dc->pixel(8, cy), kSliderBack);
    // Track {9, 4, 495, 10} with a 2-pixel border, filled green from 10 to kx.
    EXPECT_EQ(dc->pixel(400, 4), kFrame);
    EXPECT_EQ(dc->pixel(400, 5), kFrame);
    EXPECT_EQ(dc->pixel(400, 9), kFrame);
    EXPECT_EQ(dc->pixel(400, 3), kSliderBack);
    EXPECT_EQ(dc->pixel(400, 10), kSliderBack);
    EXPECT_EQ(dc->pixel(494, cy), kFrame);
    EXPECT_EQ(dc->pixel(495, cy), kSliderBack);
    EXPECT_EQ(dc->pixel(400, 6), kTrackFill);
    EXPECT_EQ(dc->pixel(100, 6), kAccent);
    EXPECT_EQ(dc->pixel(100, 5), kAccent);
    EXPECT_EQ(dc->pixel(100, 4), kFrame);
    expectKnob(*dc, kx, 7);
    EXPECT_EQ(dc->pixel(kx + 8, cy), kTrackFill);
    EXPECT_EQ(dc->pixel(kx, 0), kLive);  // the knob fills the control's height
    EXPECT_EQ(dc->pixel(kx, 14), kLive);
}

TEST(SliderControl, ValueAtMinHasNoFill) {
    PanelState state;
    auto dc = Canvas::create(kSliderW, kSliderH);
    const Slider vol{0, 100, 0};
    paintSlider(*dc, &vol, kSliderW, kSliderH);
    EXPECT_EQ(countOf(*dc, Rect{0, 0, kSliderW, kSliderH}, kAccent), 0);
    expectKnob(*dc, 9, 7);
}

TEST(SliderControl, ValueAtMaxPutsTheKnobAtTheRightEnd) {
    PanelState state;
    auto dc = Canvas::create(kSliderW, kSliderH);
    const Slider vol{0, 100, 100};
    paintSlider(*dc, &vol, kSliderW, kSliderH);
    expectKnob(*dc, kSliderW - 9, 7);
    EXPECT_EQ(dc->pixel(kSliderW - 30, 6), kAccent);
}

TEST(SliderControl, NarrowOrRecordlessSliderShowsOnlyItsBackground) {
    PanelState state;
    const Slider s{0, 100, 50};
    for (int w : {18, 12, 1}) {
        auto dc = Canvas::create(w, kSliderH);
        paintSlider(*dc, &s, w, kSliderH);
        EXPECT_EQ(countOf(*dc, Rect{0, 0, w, kSliderH}, kSliderBack), w * kSliderH) << w;
    }
    auto dc = Canvas::create(kSliderW, kSliderH);
    paintSlider(*dc, nullptr, kSliderW, kSliderH);
    EXPECT_EQ(countOf(*dc, Rect{0, 0, kSliderW, kSliderH}, kSliderBack), kSliderW * kSliderH);
}

TEST(SliderControl, ScaleGrowsTrackAndKnob) {
    PanelState state;
    g_f = 1.7f;  // th = S(3) = 5, kr = S(7) = 12, slider height S(15) = 26
    const int w = 860, h = 26, cy = 13;
    auto dc = Canvas::create(w, h);
    const Slider s{0, 100, 50};
    paintSlider(*dc, &s, w, h);
    const int kx = sliderKnobX(s, w);
    EXPECT_EQ(kx, 9 + 421);
    EXPECT_EQ(dc->pixel(kx - 12, cy), kLive);
    EXPECT_EQ(dc->pixel(kx - 13, cy), kAccent);
    EXPECT_EQ(dc->pixel(100, cy - 5), kFrame);  // track {9, 8, w - 9, 18}
    EXPECT_EQ(dc->pixel(100, cy - 6), kSliderBack);
    EXPECT_EQ(dc->pixel(100, cy + 4), kFrame);
    EXPECT_EQ(dc->pixel(100, cy + 5), kSliderBack);
}

}  // namespace

// ---- The control in a window: capture, pointer, notification, picture ----

namespace {

int g_sliderTestNotes = 0;  // App messages from the slider that reached the parent

intptr_t sliderTestParentProc(Window* w, const WinMsg& msg) {
    if (msg.kind == MsgKind::App && msg.id == kMsgSliderChanged) {
        ++g_sliderTestNotes;
        return 0;
    }
    return defaultHandling(w, msg);
}

// A 560 x 760 parent with one slider over a local record at the layout's place of the
// sweep slider: (28, 448, 504, 15).
struct SliderWindow {
    PanelState state;
    Slider record{60, 500, 200};
    Window* parent = nullptr;
    Window* slider = nullptr;
    static constexpr int kX = 28, kY = 448;

    SliderWindow() {
        windowUseHeadless(1024, 768);
        registerWindowClass("KestrumSlider", SliderProc, CursorShape::Hand);
        registerWindowClass("SliderTestParent", sliderTestParentProc, CursorShape::Arrow);
        WindowCreate top;
        top.className = "SliderTestParent";
        top.w = kW;
        top.h = kH;
        parent = createWindow(top);
        WindowCreate c;
        c.className = "KestrumSlider";
        c.parent = parent;
        c.x = kX;
        c.y = kY;
        c.w = kSliderW;
        c.h = kSliderH;
        c.param = &record;
        slider = createWindow(c);
        headlessPump();
        g_sliderTestNotes = 0;
    }
    ~SliderWindow() { windowUseHeadless(1024, 768); }
    int cy() const { return kY + kSliderH / 2; }
};

}  // namespace

TEST(SliderControl, KeepsItsRecordAndShowsItInTheFrame) {
    SliderWindow sw;
    ASSERT_NE(sw.slider, nullptr);
    EXPECT_EQ(userData(sw.slider), &sw.record);
    EXPECT_EQ(headlessPixel(SliderWindow::kX + 163, sw.cy()), kLive);  // the dot of 200
    EXPECT_EQ(headlessPixel(SliderWindow::kX + 100, sw.cy() - 1), kAccent);
    EXPECT_EQ(headlessPixel(SliderWindow::kX + 300, sw.cy() - 1), kTrackFill);
    EXPECT_EQ(headlessPixel(SliderWindow::kX, SliderWindow::kY), kSliderBack);
}

TEST(SliderControl, PressDragAndReleaseThroughThePointer) {
    SliderWindow sw;
    // A press at x = 252 takes the capture and sets 280 at once.
    headlessPointerDown(SliderWindow::kX + 252, sw.cy());
    EXPECT_EQ(captureWindow(), sw.slider);
    EXPECT_EQ(sw.record.value, 280);
    headlessPump();
    EXPECT_EQ(g_sliderTestNotes, 1);
    EXPECT_EQ(headlessPixel(SliderWindow::kX + 252, sw.cy()), kLive);  // the knob followed

    // A move that lands on the same value posts nothing.
    headlessPointerMove(SliderWindow::kX + 252, sw.cy() + 3);
    headlessPump();
    EXPECT_EQ(g_sliderTestNotes, 1);

    // With the capture, moves far outside keep updating, clamped to the ends.
    headlessPointerMove(SliderWindow::kX - 400, sw.cy() - 300);
    headlessPump();
    EXPECT_EQ(sw.record.value, 60);
    EXPECT_EQ(g_sliderTestNotes, 2);
    headlessPointerMove(SliderWindow::kX + 2000, sw.cy());
    headlessPump();
    EXPECT_EQ(sw.record.value, 500);
    EXPECT_EQ(g_sliderTestNotes, 3);

    // Released: the capture goes, and later moves over the slider change nothing.
    headlessPointerUp(SliderWindow::kX + 2000, sw.cy());
    EXPECT_EQ(captureWindow(), nullptr);
    headlessPointerMove(SliderWindow::kX + 100, sw.cy());
    headlessPump();
    EXPECT_EQ(sw.record.value, 500);
    EXPECT_EQ(g_sliderTestNotes, 3);
}

TEST(SliderControl, ShowsTheHandCursor) {
    SliderWindow sw;
    headlessPointerMove(10, 10);
    EXPECT_EQ(headlessCursorShape(), CursorShape::Arrow);
    headlessPointerMove(SliderWindow::kX + 50, sw.cy());
    EXPECT_EQ(headlessCursorShape(), CursorShape::Hand);
}

TEST(SliderControl, NarrowSliderKeepsItsValueUnderThePointer) {
    SliderWindow sw;
    moveWindow(sw.slider, SliderWindow::kX, SliderWindow::kY, 18, kSliderH, true);
    headlessPump();
    headlessPointerDown(SliderWindow::kX + 17, sw.cy());
    headlessPointerUp(SliderWindow::kX + 17, sw.cy());
    headlessPump();
    EXPECT_EQ(sw.record.value, 200);
    EXPECT_EQ(g_sliderTestNotes, 0);
    EXPECT_EQ(headlessPixel(SliderWindow::kX + 9, sw.cy()), kSliderBack);
}
