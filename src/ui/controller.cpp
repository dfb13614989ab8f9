// The main window and its controller: start-up, the 17 controls, the commands of the four
// buttons, the slider notification, the animation and status timers, resizing and the
// orderly close.
//
// Sections: state; start-up; controls; commands; timers; window procedure.
#include "ui/controller.h"

#include <algorithm>
#include <cwchar>

#include "audio/device_output.h"
#include "audio/render_wav.h"
#include "catalog/station.h"
#include "engine/engine.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "ui/layout.h"
#include "ui/rain.h"
#include "ui/ui_state.h"

// ---- State ----

bool g_live = false;
bool g_echoOn = true;
bool g_verbOn = false;
int g_hover = 0;
Window* g_main = nullptr;

Window *lSect, *hTog, *hRender, *hEcho, *hVerb;
Window *lRing, *vRing, *sSweepH, *lVol, *vVol, *sVolH, *lNoise, *vNoise, *sNoiseH;
Window *lVoice, *lBank, *lStatus;

Slider sSweep{60, 500, 200};
Slider sVol{0, 100, 100};
Slider sNoise{0, 100, 10};

std::wstring g_renderDir;

namespace {

constexpr const char* kMainClass = "KestrumWnd";
constexpr const char* kSliderClass = "KestrumSlider";
constexpr const wchar_t* kMainTitle = L"Kestrum - Radio Band Scanner";

constexpr int kTimerAnim = 1;
constexpr int kTimerStatus = 2;
constexpr int kAnimPeriodMs = 33;
constexpr int kStatusPeriodMs = 250;
constexpr int kRenderSeconds = 60;

constexpr const wchar_t* kStatusStopped = L"STATUS: STOPPED";
constexpr const wchar_t* kStatusLive = L"STATUS: LIVE - SCANNING THE DIAL";
constexpr const wchar_t* kStatusRendering = L"STATUS: RENDERING 60 S...";
constexpr const wchar_t* kStatusRenderFailed = L"RENDER FAILED";

// -1 until the audio thread has reported its open result, then 1 (open) or 0 (failed).
int audioOk = -1;

std::wstring format(const wchar_t* fmt, auto... args) {
    wchar_t buf[192];
    const int n = std::swprintf(buf, sizeof buf / sizeof buf[0], fmt, args...);
    return n < 0 ? std::wstring() : std::wstring(buf, size_t(n));
}

void resetControllerState() {
    g_live = false;
    g_echoOn = true;
    g_verbOn = false;
    g_hover = 0;
    sSweep = {60, 500, 200};
    sVol = {0, 100, 100};
    sNoise = {0, 100, 10};
    audioOk = -1;
}

}  // namespace

Size mainClientSize(Size display) {
    const int w = display.cx < 2 * kDesignW ? kDesignW : display.cx / 2;
    const int h62 = display.cy * 62 / 100;
    return {w, h62 >= kDesignH ? h62 : kDesignH};
}

Point mainWindowPos(Size display, Size client, const Rect& frame) {
    const int outerW = frame.left + client.cx + frame.right;
    const int outerH = frame.top + client.cy + frame.bottom;
    const int x = (display.cx - outerW) / 2;
    const int y = std::max(0, (display.cy - outerH) / 2);
    return Point{x + frame.left, y + frame.top};
}

std::wstring renderFileName(int year, int month, int day, int hour, int minute, int second) {
    return format(L"kestrum_%04d%02d%02d_%02d%02d%02d.wav", year, month, day, hour, minute, second);
}

// ---- Start-up ----

namespace {

void (*closeHandler)(Window*) = nullptr;

}  // namespace

Window* openMainWindow(void (*onClose)(Window*)) {
    resetControllerState();
    closeHandler = onClose;

    registerWindowClass(kSliderClass, SliderProc, CursorShape::Hand);
    registerWindowClass(kMainClass, WndProc, CursorShape::Arrow);

    // The window's size is its client size; its place is settled once the frame is known.
    const Size display = primaryDisplaySize();
    const Size client = mainClientSize(display);
    const Point at = mainWindowPos(display, client, Rect{0, 0, 0, 0});

    WindowCreate c;
    c.className = kMainClass;
    c.text = kMainTitle;
    c.style = StyleResizable;  // shown below, once the frame is dark
    c.x = at.x;
    c.y = at.y;
    c.w = client.cx;
    c.h = client.cy;
    Window* w = createWindow(c);
    if (!w) return nullptr;
    g_main = w;

    // The window manager adds its frame outside the client area: centre the whole frame
    // when the manager tells its size.
    Rect frame;
    if (frameExtents(w, frame)) {
        const Point p = mainWindowPos(display, client, frame);
        moveWindow(w, p.x, p.y, client.cx, client.cy, false);
    }

    setDarkFrame(w);
    showWindow(w);
    return w;
}

void startTimers(Window* w) {
    setTimer(w, kTimerAnim, kAnimPeriodMs);
    setTimer(w, kTimerStatus, kStatusPeriodMs);
}

// ---- Controls ----

namespace {

Window* makeControl(Window* parent, const char* cls, const wchar_t* text, unsigned style, int id,
                    void* param = nullptr) {
    WindowCreate c;
    c.className = cls;
    c.text = text;
    c.style = style;
    c.x = 0;
    c.y = 0;
    c.w = 10;
    c.h = 10;
    c.parent = parent;
    c.id = id;
    c.param = param;
    return createWindow(c);
}

void createControls(Window* w) {
    const unsigned label = StyleVisible;
    const unsigned value = StyleVisible | StyleRightAlign;
    const unsigned button = StyleVisible | StyleDrawnByParent;

    lSect = makeControl(w, "Label", L"SCANNER CONTROLS", label, 0);
    hTog = makeControl(w, "Button", L"START KESTRUM", button, kIdTog);
    hRender = makeControl(w, "Button", L"RENDER", button, kIdRender);
    hEcho = makeControl(w, "Button", L"ECHO", button, kIdEcho);
    hVerb = makeControl(w, "Button", L"REVERB", button, kIdVerb);

    struct Row {
        const wchar_t* caption;
        int captionId;
        Slider* record;
        Window** captionH;
        Window** valueH;
        Window** sliderH;
    };
    const Row rows[3] = {
        {L"SWEEP SPEED", kIdRing, &sSweep, &lRing, &vRing, &sSweepH},
        {L"VOLUME", kIdVol, &sVol, &lVol, &vVol, &sVolH},
        {L"STATIC NOISE", kIdNoise, &sNoise, &lNoise, &vNoise, &sNoiseH},
    };
    for (const Row& r : rows) {
        *r.captionH = makeControl(w, "Label", r.caption, label, r.captionId);
        *r.valueH = makeControl(w, "Label", L"", value, 0);
        *r.sliderH = makeControl(w, kSliderClass, L"", StyleVisible, 0, r.record);
    }

    lVoice = makeControl(w, "Label", L"STATION  --/--", label, kIdVoice);
    lBank = makeControl(w, "Label", L"DIAL  87.50 MHZ", label, kIdBank);
    lStatus = makeControl(w, "Label", kStatusStopped, label, kIdStatus);
}

void forgetControls() {
    for (Window** c : {&lSect, &hTog, &hRender, &hEcho, &hVerb, &lRing, &vRing, &sSweepH, &lVol, &vVol,
                       &sVolH, &lNoise, &vNoise, &sNoiseH, &lVoice, &lBank, &lStatus})
        *c = nullptr;
}

}  // namespace

void syncParams() {
    g_engine.sweepMs.store(float(sSweep.value));
    g_engine.volume.store(float(sVol.value) * 0.01f);
    g_engine.noise.store(float(sNoise.value) * 0.01f);
    g_engine.echoOn.store(g_echoOn ? 1 : 0);
    g_engine.verbOn.store(g_verbOn ? 1 : 0);
    setWindowText(vRing, format(L"%d MS", sSweep.value));
    setWindowText(vVol, format(L"%d%%", sVol.value));
    setWindowText(vNoise, format(L"%d%%", sNoise.value));
}

// ---- Commands ----

namespace {

void toggleScanner() {
    g_live = !g_live;
    g_engine.running.store(g_live ? 1 : 0);
    invalidate(hTog, true);
    setWindowText(lStatus, g_live ? kStatusLive : kStatusStopped);
}

// 60 seconds into a WAV file beside the program, on this thread.
// FIXME(ui): the render blocks the window thread; the window does not respond (no repaint,
// no close) until the file is written.
void renderButton() {
    const LocalTime t = localTimeNow();
    const std::wstring name = renderFileName(t.year, t.month, t.day, t.hour, t.minute, t.second);
    setWindowText(lStatus, kStatusRendering);
    redrawNow(lStatus, false, false);
    const bool ok = renderWav(g_renderDir + name, kRenderSeconds, g_engine);
    setWindowText(lStatus, ok ? L"SAVED " + name : std::wstring(kStatusRenderFailed));
}

void toggleEffect(bool& on, Window* button) {
    on = !on;
    invalidate(button, true);
    syncParams();
}

// ---- Timers ----

Window* buttonFor(int id) {
    switch (id) {
        case kIdTog: return hTog;
        case kIdRender: return hRender;
        case kIdEcho: return hEcho;
        case kIdVerb: return hVerb;
        default: return nullptr;
    }
}

// From where the window's own pointer events put the pointer: a pointer outside the window
// hovers nothing.
void updateHover(Window* w) {
    int x = 0, y = 0;
    int id = 0;
    if (!pointerOver(w, x, y)) id = 0;
    else if (g_rcTog.contains(x, y)) id = kIdTog;
    else if (g_rcRender.contains(x, y)) id = kIdRender;
    else if (g_rcEcho.contains(x, y)) id = kIdEcho;
    else if (g_rcVerb.contains(x, y)) id = kIdVerb;
    if (id == g_hover) return;
    // The buttons are child windows, so the main window's repaint does not reach them:
    // redraw the one the pointer left and the one it entered.
    Window* left = buttonFor(g_hover);
    Window* entered = buttonFor(id);
    g_hover = id;
    if (left) invalidate(left, false);
    if (entered) invalidate(entered, false);
}

void animationTick(Window* w) {
    updateHover(w);
    if (isMinimized(w)) return;
    rainStep();
    invalidate(w, false);
}

void statusTick(Window* w) {
    if (audioOk < 0 && audioReported(g_ac)) {
        const int32_t hr = audioResult(g_ac);
        audioOk = hr >= 0 ? 1 : 0;
        // audioOk is settled before the box opens, so it opens once.
        if (!audioOk)
            messageBoxWarning(w, format(L"Audio device init failed (0x%08X).", unsigned(uint32_t(hr))),
                              L"Kestrum");
    }

    setWindowText(lBank, format(L"DIAL  %5.2f MHZ", double(g_engine.dialFreq.load(std::memory_order_relaxed))));

    const int count = int(g_stations.size());
    const int st = g_engine.uiStation.load(std::memory_order_relaxed);
    if (g_live && st >= 0 && st < count)
        setWindowText(lVoice, format(L"STATION %02d/%02d  ", st + 1, count) + g_stations[size_t(st)].name);
    else
        setWindowText(lVoice, format(L"STATION  --/%02d", count));

    if (g_live) setWindowText(lStatus, kStatusLive);
}

void closeMain(Window* w) {
    if (closeHandler) closeHandler(w);
    else destroyWindow(w);
}

}  // namespace

// ---- Window procedure ----

intptr_t WndProc(Window* w, const WinMsg& msg) {
    switch (msg.kind) {
        case MsgKind::Create:
            g_main = w;
            createPanelBrushes();
            makeFonts(1.0f, w, 0);
            createControls(w);
            applyFonts();
            syncParams();
            relayout(w);
            return 0;

        case MsgKind::Destroy:
            forgetControls();
            g_main = nullptr;
            quitLoop(0);
            return 0;

        case MsgKind::Size:
            if (msg.minimized) return 0;
            relayout(w);
            redrawNow(w, true, true);
            return 0;

        case MsgKind::Close:
            closeMain(w);
            return 0;

        case MsgKind::Command:
            if (msg.code != 0) return defaultHandling(w, msg);
            switch (msg.id) {
                case kIdTog: toggleScanner(); return 0;
                case kIdRender: renderButton(); return 0;
                case kIdEcho: toggleEffect(g_echoOn, hEcho); return 0;
                case kIdVerb: toggleEffect(g_verbOn, hVerb); return 0;
                default: return defaultHandling(w, msg);
            }

        case MsgKind::Timer:
            if (msg.id == kTimerAnim) animationTick(w);
            else if (msg.id == kTimerStatus) statusTick(w);
            return 0;

        case MsgKind::App:
            if (msg.id != kMsgSliderChanged) return defaultHandling(w, msg);
            syncParams();
            return 0;

        case MsgKind::Paint:
            paintMain(w);
            return 0;

        case MsgKind::EraseBackground:
            return 1;  // the paint covers every pixel

        case MsgKind::DrawButton:
            if (msg.buttonPaint && drawButton(*msg.buttonPaint)) return 1;
            return defaultHandling(w, msg);

        case MsgKind::LabelColoursQuery:
            if (!msg.labelColours) return defaultHandling(w, msg);
            labelColours(*msg.labelColours);
            return 1;

        case MsgKind::MinSizeQuery:
            if (msg.minSize) layoutMinSize(*msg.minSize);
            return 0;

        default:
            return defaultHandling(w, msg);
    }
}
