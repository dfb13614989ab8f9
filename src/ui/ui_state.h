// State shared by the parts of the interface: the controller's switches, the layout's scale,
// rectangles and fonts, the control handles and the slider records. Window thread only.
//
// Owners: the controller (controller.cpp) defines the switches, handles and records; the
// layout (layout.cpp) defines the scale, rectangles and fonts; painting (paint.cpp,
// buttons.cpp, slider.cpp, rain.cpp) only reads them.
#pragma once

#include <cmath>

#include "platform/canvas.h"
#include "platform/window_system.h"

// ---- Controller ----
extern bool g_live;     // scanner running (start/stop button)
extern bool g_echoOn;   // echo switch, true at start
extern bool g_verbOn;   // reverb switch, false at start
extern int g_hover;     // id of the button under the pointer (100, 101, 116, 117) or 0
extern Window* g_main;  // the main window, null before creation

// Control ids.
enum : int {
    kIdTog = 100,
    kIdRender = 101,
    kIdEcho = 116,
    kIdVerb = 117,
    kIdRing = 133,
    kIdVol = 134,
    kIdNoise = 135,
    kIdBank = 140,
    kIdStatus = 141,
    kIdVoice = 142,
};
constexpr int kMsgSliderChanged = 0x8001;  // posted by a slider to its parent

extern Window *lSect, *hTog, *hRender, *hEcho, *hVerb;
extern Window *lRing, *vRing, *sSweepH, *lVol, *vVol, *sVolH, *lNoise, *vNoise, *sNoiseH;
extern Window *lVoice, *lBank, *lStatus;

struct Slider {
    int min;    // value at the left end
    int max;    // value at the right end, > min
    int value;  // min..max
};
extern Slider sSweep;  // 60..500, 200 ms
extern Slider sVol;    // 0..100, 100 %
extern Slider sNoise;  // 0..100, 10 %

// ---- Layout and fonts ----
extern float g_f;  // scale 1.0..1.7
extern Rect g_band, g_scope;
extern Rect g_rcTog, g_rcRender, g_rcEcho, g_rcVerb;
extern FontRef g_fontTitle, g_fontUI, g_fontMono, g_fontSect, g_fontBtn, g_fontFreq, g_fontTiny,
    g_fontRain;

// n scaled by g_f in single precision, rounded half away from zero.
inline int S(float n) { return int(std::lround(n * g_f)); }

// ---- Painting (paint.cpp, buttons.cpp) ----
extern Rgb g_panelBrush;  // RGB(9,14,10): panel, labels and button backgrounds
extern Rgb g_grad[64];    // background gradient, darkest at the top
void createPanelBrushes();
// Helpers shared by the panel, the buttons and the sliders.
void roundR(Canvas& dc, const Rect& r, int corner, Rgb fill, Rgb border);  // 2-pixel border
void line(Canvas& dc, int x1, int y1, int x2, int y2, Rgb color);         // 1 pixel, end excluded
// Main window paint (Paint) into an off-screen canvas copied in one step.
void paintMain(Window* w);
// Parent-drawn buttons (DrawButton): true when the id is one of the four buttons.
bool drawButton(const ButtonPaint& item);
// Label colours (LabelColoursQuery).
void labelColours(LabelColours& info);

// ---- Slider control (slider.cpp) ----
intptr_t SliderProc(Window* w, const WinMsg& msg);
