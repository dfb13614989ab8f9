// The four parent-drawn buttons (start/stop, render, echo, reverb) in their live, switched
// and hovered looks, and the text colours of the labels.
#include "ui/ui_state.h"

namespace {

constexpr Rgb kBright = rgb(185, 255, 214);
constexpr Rgb kMedium = rgb(140, 190, 160);
constexpr Rgb kDim = rgb(98, 140, 116);
constexpr Rgb kOn = rgb(57, 255, 136);
constexpr Rgb kFrame = rgb(20, 48, 31);
constexpr Rgb kRed = rgb(255, 92, 77);

void drawStartStop(Canvas& dc, const Rect& r, bool hovered) {
    const Rgb fill = g_live ? rgb(26, 10, 9) : hovered ? rgb(15, 30, 20) : rgb(11, 20, 14);
    const Rgb border = g_live ? kRed : rgb(43, 224, 122);
    roundR(dc, r, S(10), fill, border);

    // Status dot, fixed 9 pixels across.
    const int cx = r.left + S(17), cy = (r.top + r.bottom) / 2;
    const Pen oldPen = dc.setPen(Pen{0, 1, true});
    const Brush oldBrush = dc.setBrush(Brush{g_live ? kRed : rgb(52, 86, 66)});
    dc.ellipse(Rect{cx - 4, cy - 4, cx + 5, cy + 5});
    dc.setBrush(oldBrush);
    dc.setPen(oldPen);

    dc.setFont(g_fontBtn);
    dc.setTextColor(g_live ? rgb(255, 201, 194) : kBright);
    dc.drawText(r, g_live ? L"STOP KESTRUM" : L"START KESTRUM",
                TextCenter | TextVCenter | TextSingleLine);
}

void drawRender(Canvas& dc, const Rect& r, bool hovered) {
    roundR(dc, r, S(10), hovered ? rgb(14, 24, 17) : rgb(10, 16, 12), kFrame);
    dc.setFont(g_fontBtn);
    dc.setTextColor(hovered ? kBright : kMedium);
    dc.drawText(r, L"RENDER 60 S WAV", TextCenter | TextVCenter | TextSingleLine);
}

void drawSwitch(Canvas& dc, const Rect& r, bool hovered, bool on, const wchar_t* label) {
    if (hovered) roundR(dc, r, S(6), rgb(12, 20, 15), rgb(24, 58, 38));

    const int s = S(14);
    const int left = r.left + S(10);
    const int cy = (r.top + r.bottom) / 2;
    const Rect box{left, cy - s / 2, left + s, cy - s / 2 + s};
    dc.fillRect(box, rgb(8, 12, 9));
    const Brush oldBrush = dc.setBrush(Brush{0, true});
    Pen oldPen = dc.setPen(Pen{on ? kOn : kFrame, 1});
    dc.rectangle(box);
    if (on) {
        dc.setPen(Pen{kOn, 2});
        dc.moveTo(box.left + s / 5, cy);
        dc.lineTo(box.left + s / 3, box.bottom - s / 4);
        dc.lineTo(box.right - s / 5, box.top + s / 4);
    }
    dc.setPen(oldPen);
    dc.setBrush(oldBrush);

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
    const bool oldTransparent = dc.setTransparentText(true);
    FontRef oldFont = dc.setFont(id == kIdTog || id == kIdRender ? g_fontBtn : g_fontUI);
    const Rgb oldColor = dc.setTextColor(0);
    const bool hovered = g_hover == id;
    switch (id) {
    case kIdTog: drawStartStop(dc, r, hovered); break;
    case kIdRender: drawRender(dc, r, hovered); break;
    case kIdEcho: drawSwitch(dc, r, hovered, g_echoOn, L"ECHO"); break;
    case kIdVerb: drawSwitch(dc, r, hovered, g_verbOn, L"REVERB"); break;
    }
    dc.setTextColor(oldColor);
    dc.setFont(std::move(oldFont));
    dc.setTransparentText(oldTransparent);
    return true;
}

void labelColours(LabelColours& info) {
    const Window* c = info.control;
    Rgb color = kDim;
    if (c == nullptr)
        color = kDim;
    else if (c == lStatus)
        color = g_live ? kOn : kDim;
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
