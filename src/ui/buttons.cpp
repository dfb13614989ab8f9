// The four parent-drawn buttons (start/stop, render, echo, reverb) in their live, switched
// and hovered looks, and the text colours of the labels.
#include "ui/canvas_scope.h"
#include "ui/palette.h"
#include "ui/ui_state.h"

namespace {

using namespace palette;

void drawStartStop(Canvas& dc, const Rect& r, bool hovered) {
    const Rgb fill = g_live ? kStopFill : hovered ? kStartHoverFill : kStartFill;
    const Rgb border = g_live ? kStopped : kAccent;
    roundR(dc, r, S(10), fill, border);

    // Status dot, fixed 9 pixels across.
    const int cx = r.left + S(17), cy = (r.top + r.bottom) / 2;
    {
        CanvasScope scope(dc);
        scope.pen(Pen{0, 1, true});
        scope.brush(Brush{g_live ? kStopped : kStartDot});
        dc.ellipse(Rect{cx - 4, cy - 4, cx + 5, cy + 5});
    }

    dc.setFont(g_fontBtn);
    dc.setTextColor(g_live ? kStopText : kBright);
    dc.drawText(r, g_live ? L"STOP KESTRUM" : L"START KESTRUM",
                TextCenter | TextVCenter | TextSingleLine);
}

void drawRender(Canvas& dc, const Rect& r, bool hovered) {
    roundR(dc, r, S(10), hovered ? kRenderHoverFill : kRenderFill, kFrame);
    dc.setFont(g_fontBtn);
    dc.setTextColor(hovered ? kBright : kMedium);
    dc.drawText(r, L"RENDER 60 S WAV", TextCenter | TextVCenter | TextSingleLine);
}

void drawSwitch(Canvas& dc, const Rect& r, bool hovered, bool on, const wchar_t* label) {
    if (hovered) roundR(dc, r, S(6), kSwitchHoverFill, kSwitchHoverBorder);

    const int s = S(14);
    const int left = r.left + S(10);
    const int cy = (r.top + r.bottom) / 2;
    const Rect box{left, cy - s / 2, left + s, cy - s / 2 + s};
    dc.fillRect(box, kSwitchBox);
    {
        CanvasScope scope(dc);
        scope.brush(Brush{0, true});
        scope.pen(Pen{on ? kLive : kFrame, 1});
        dc.rectangle(box);
        if (on) {
            dc.setPen(Pen{kLive, 2});
            dc.moveTo(box.left + s / 5, cy);
            dc.lineTo(box.left + s / 3, box.bottom - s / 4);
            dc.lineTo(box.right - s / 5, box.top + s / 4);
        }
    }

    dc.setFont(g_fontUI);
    dc.setTextColor(on ? kBright : hovered ? kMedium : kDim);
    Rect text = r;
    text.left = box.right + S(9);
    dc.drawText(text, label, TextLeft | TextVCenter | TextSingleLine);
}

}  // namespace

bool drawButton(const ButtonPaint& item) {
    const int id = item.id;
    if (id != kIdTog && id != kIdRender && id != kIdEcho && id != kIdVerb) return false;
    if (!item.canvas) return true;
    Canvas& dc = *item.canvas;

    dc.fillRect(item.rect, g_panelBrush);
    const Rect r{item.rect.left + 1, item.rect.top + 1, item.rect.right - 1, item.rect.bottom - 1};
    CanvasScope scope(dc);
    scope.transparentText(true);
    scope.font(id == kIdTog || id == kIdRender ? g_fontBtn : g_fontUI);
    scope.textColor(0);
    const bool hovered = g_hover == id;
    switch (id) {
    case kIdTog: drawStartStop(dc, r, hovered); break;
    case kIdRender: drawRender(dc, r, hovered); break;
    case kIdEcho: drawSwitch(dc, r, hovered, g_echoOn, L"ECHO"); break;
    case kIdVerb: drawSwitch(dc, r, hovered, g_verbOn, L"REVERB"); break;
    }
    return true;
}

void labelColours(LabelColours& info) {
    const Window* c = info.control;
    Rgb color = kDim;
    if (c == nullptr)
        color = kDim;
    else if (c == lStatus)
        color = g_live ? kLive : kDim;
    else if (c == lVoice)
        color = g_live ? kBright : kDim;
    else if (c == vRing || c == vVol || c == vNoise)
        color = kBright;
    else if (c == lSect)
        color = kMedium;
    info.textColor = color;
    info.background = g_panelBrush;
    info.transparentText = true;
}
