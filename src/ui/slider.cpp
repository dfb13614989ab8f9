// The slider control (class "KestrumSlider"): one Slider record kept in the window's user
// data, set from the pointer while the left button holds the capture, the parent told of
// every change, and a double-buffered picture of track, fill and knob.
#include <algorithm>
#include <cmath>
#include <memory>

#include "ui/canvas_scope.h"
#include "ui/paint.h"
#include "ui/palette.h"
#include "ui/ui_state.h"

namespace {

// The usable track starts this many fixed pixels inside each end of the control.
constexpr int kTrackInsetPx = 9;

using namespace palette;

Slider* record(Window* w) { return static_cast<Slider*>(userData(w)); }

void trackPointer(Window* w, int x) {
    Slider* s = record(w);
    if (!s) return;
    const int v = sliderValueAt(*s, x, clientRect(w).width());
    if (v == s->value) return;
    s->value = v;
    invalidate(w, false);
    WinMsg changed;
    changed.kind = MsgKind::App;
    changed.id = kMsgSliderChanged;
    if (Window* parent = parentOf(w)) postMessage(parent, changed);
}

void paint(Window* w) {
    Canvas* target = paintBegin(w);
    if (!target) return;
    const Rect rc = clientRect(w);
    if (rc.width() > 0 && rc.height() > 0) {
        static std::unique_ptr<Canvas> frame;  // shared by the sliders, all of one size
        Canvas& dc = offscreenCanvas(frame, rc.width(), rc.height());
        paintSlider(dc, record(w), rc.width(), rc.height());
        target->copyFrom(dc, 0, 0);
    }
    paintEnd(w);
}

}  // namespace

int sliderValueAt(const Slider& s, int x, int widthPx) {
    const int usable = widthPx - 2 * kTrackInsetPx;
    if (usable <= 0) return s.value;
    float t = float(x - kTrackInsetPx) / float(usable);
    t = std::clamp(t, 0.0f, 1.0f);
    return s.min + int(std::lround(float(s.max - s.min) * t));
}

int sliderKnobX(const Slider& s, int widthPx) {
    const int usable = std::max(0, widthPx - 2 * kTrackInsetPx);
    int pos = 0;
    if (s.max > s.min)
        pos = int(float(s.value - s.min) / float(s.max - s.min) * float(usable));
    return std::clamp(pos, 0, usable) + kTrackInsetPx;
}

void paintSlider(Canvas& dc, const Slider* s, int w, int h) {
    dc.fillRect(Rect{0, 0, w, h}, kSliderBack);
    if (!s || w <= 2 * kTrackInsetPx) return;

    const int cy = h / 2;
    const int th = std::max(2, S(3));
    roundR(dc, Rect{kTrackInsetPx, cy - th, w - kTrackInsetPx, cy + th}, th, kTrackFill,
           kFrame);

    const int kx = sliderKnobX(*s, w);
    if (kx > 13) roundR(dc, Rect{10, cy - th + 1, kx, cy + th - 1}, th - 1, kAccent, kAccent);

    const int kr = std::max(5, S(7));
    CanvasScope scope(dc);
    scope.brush(Brush{kKnobFill});
    scope.pen(Pen{kLive, 2});
    dc.ellipse(Rect{kx - kr, cy - kr, kx + kr + 1, cy + kr + 1});
    // The centre dot keeps a fresh context's pen: solid black, 1 pixel.
    dc.setBrush(Brush{kLive});
    dc.setPen(Pen{rgb(0, 0, 0), 1});
    dc.ellipse(Rect{kx - 2, cy - 2, kx + 3, cy + 3});
}

intptr_t SliderProc(Window* w, const WinMsg& msg) {
    switch (msg.kind) {
    case MsgKind::Attach:
        setUserData(w, msg.param);
        return 1;
    case MsgKind::EraseBackground:
        return 1;
    case MsgKind::SetCursor:
        setCursorShape(CursorShape::Hand);
        return 1;
    case MsgKind::Paint:
        paint(w);
        return 0;
    case MsgKind::MouseDown:
        setCapture(w);
        trackPointer(w, msg.x);
        return 0;
    case MsgKind::MouseMove:
        if (captureWindow() != w) return defaultHandling(w, msg);
        trackPointer(w, msg.x);
        return 0;
    case MsgKind::MouseUp:
        if (captureWindow() == w) releaseCapture();
        return 0;
    default:
        return defaultHandling(w, msg);
    }
}
