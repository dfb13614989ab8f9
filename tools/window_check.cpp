// A manual check of the real display backend: a window with a painted background, a label,
// an owner-drawn button that counts its clicks in the title, and a hand-cursor area.
// Not part of the build; compile it against a build directory:
//   B=build; g++ -std=c++20 -Isrc tools/window_check.cpp -o /tmp/window_check
//     $B/libkestrum_platform_sdl.a $B/libkestrum_platform_window.a
//     $B/libkestrum_platform_canvas.a $B/libkestrum_platform_base.a
//     $(pkg-config --libs sdl2 x11 pangocairo pangoft2 fontconfig cairo)
// (one line).
// Run: /tmp/window_check [seconds]   (closes itself after that many seconds, default 0: never)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/window_system.h"

namespace {

Window* g_label = nullptr;
int g_clicks = 0;

intptr_t areaProc(Window* w, const WinMsg& msg) {
    if (msg.kind == MsgKind::Paint) {
        Canvas* dc = paintBegin(w);
        if (dc) dc->fillRect(clientRect(w), rgb(20, 48, 31));
        paintEnd(w);
        return 0;
    }
    return defaultHandling(w, msg);
}

intptr_t mainProc(Window* w, const WinMsg& msg) {
    switch (msg.kind) {
        case MsgKind::Create: {
            WindowCreate c;
            c.parent = w;
            c.className = "Label";
            c.text = L"STATUS: STOPPED";
            c.x = 20, c.y = 20, c.w = 300, c.h = 16;
            g_label = createWindow(c);
            c.className = "Button";
            c.text = L"CLICK";
            c.style = StyleVisible | StyleDrawnByParent;
            c.id = 100;
            c.x = 20, c.y = 60, c.w = 160, c.h = 40;
            createWindow(c);
            c.className = "CheckArea";
            c.style = StyleVisible;
            c.id = 0;
            c.x = 200, c.y = 60, c.w = 100, c.h = 40;
            createWindow(c);
            return 0;
        }
        case MsgKind::MinSizeQuery:
            msg.minSize->minClientW = 320;
            msg.minSize->minClientH = 200;
            return 0;
        case MsgKind::Paint: {
            Canvas* dc = paintBegin(w);
            const Rect r = clientRect(w);
            for (int y = 0; y < r.bottom; ++y) dc->fillRect(Rect{0, y, r.right, y + 1}, rgb(5, 8 + y / 16, 6));
            paintEnd(w);
            return 0;
        }
        case MsgKind::LabelColoursQuery:
            msg.labelColours->textColor = rgb(57, 255, 136);
            msg.labelColours->background = rgb(9, 14, 10);
            return 1;
        case MsgKind::DrawButton: {
            Canvas& dc = *msg.buttonPaint->canvas;
            dc.fillRect(msg.buttonPaint->rect, rgb(9, 14, 10));
            dc.setPen(Pen{rgb(43, 224, 122), 2});
            dc.setBrush(Brush{rgb(11, 20, 14)});
            dc.roundRect(msg.buttonPaint->rect, 10, 10);
            dc.setTransparentText(true);
            dc.setTextColor(rgb(185, 255, 214));
            dc.drawText(msg.buttonPaint->rect, L"CLICK ME", TextCenter | TextVCenter | TextSingleLine);
            return 1;
        }
        case MsgKind::Command:
            if (msg.id == 100) {
                ++g_clicks;
                setWindowText(g_label, L"CLICKS: " + std::to_wstring(g_clicks));
                std::printf("click %d\n", g_clicks);
                std::fflush(stdout);
            }
            return 0;
        case MsgKind::Timer:
            if (msg.id == 9) sendMessage(w, WinMsg{MsgKind::Close});
            return 0;
        case MsgKind::Destroy:
            quitLoop(0);
            return 0;
        default:
            return defaultHandling(w, msg);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    windowUseSdl();
    registerWindowClass("CheckMain", mainProc, CursorShape::Arrow);
    registerWindowClass("CheckArea", areaProc, CursorShape::Hand);
    const Size display = primaryDisplaySize();
    std::printf("display %d x %d\n", display.cx, display.cy);
    WindowCreate c;
    c.className = "CheckMain";
    c.text = L"Kestrum window check";
    c.style = StyleResizable;
    c.w = 360, c.h = 240;
    c.x = (display.cx - c.w) / 2, c.y = (display.cy - c.h) / 2;
    Window* w = createWindow(c);
    if (!w) {
        std::printf("no window\n");
        return 1;
    }
    setDarkFrame(w);
    showWindow(w);
    if (seconds > 0) setTimer(w, 9, seconds * 1000);
    const int code = runMessageLoop();
    std::printf("loop ended %d\n", code);
    return code;
}
