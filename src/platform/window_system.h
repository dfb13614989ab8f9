// The window system: top-level window, child controls, messages delivered to window
// procedures, timers, painting into per-window off-screen canvases, mouse capture, a
// warning box and the message loop. One implementation of the window tree and message
// routing serves two display backends: the real one on SDL2 (window_sdl.cpp) and a
// headless one for tests (window_headless.h), selected once before the first window.
//
// Threads: everything here runs on the window thread (the thread that runs the loop),
// except postMessage, which any thread may call.
//
// Painting: every window has its own canvas of its client size. A window repaints when it
// is invalidated; the top-level window composes its children over its own picture (a
// parent never paints over its children) and presents one frame per loop turn.
//
// Built-in classes:
// - "STATIC": draws its text with its font on the background its parent answers to
//   CtlColorStatic (text colour, background colour, transparent text), left- or
//   right-aligned (StyleRightAlign), top-aligned, one line.
// - "BUTTON" with StyleOwnerDraw: its parent draws it on DrawItem; a left press and release
//   inside it sends Command{id, code 0} to the parent.
//
// Input: mouse messages go to the capture window if there is one, else to the topmost
// visible window under the pointer, in that window's client coordinates (negative left of
// or above it). Without a capture, SetCursor comes first on every move and press; the
// default sets the class cursor (Arrow, or the registered class's).
//
// defaultProc: NcCreate → 1; Close → destroyWindow; Paint → beginPaint/endPaint with nothing
// drawn; SetCursor → the class cursor, 1; SetFont → keeps the font for windowFont (and
// invalidates with redraw); everything else → 0 (CtlColorStatic 0: the control uses its
// default colours, black on white).
//
// The loop, each turn: posted messages and input in their order, then Paint to every
// invalidated visible window (EraseBackground first from beginPaint when the invalidation
// asked for an erase) and one composed frame, then Timer for every timer that is due (a
// late timer fires once, not once per missed period). postQuit ends the loop before the
// next turn.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/canvas.h"

class Window;  // opaque handle; owned by the window system until destroyed

enum class MsgKind {
    NcCreate,        // first message; param = creation parameter; return 1 to go on
    Create,          // param = creation parameter; return -1 to fail creation
    Destroy,
    Close,
    Size,            // x, y = client width, height; minimized
    Paint,           // paint now: beginPaint / endPaint
    EraseBackground, // return non-zero when handled
    Timer,           // id = timer id
    Command,         // id = control id, code = notification code (0 = clicked)
    App,             // id = application message number (0x8001 is the sliders')
    DrawItem,        // drawItem
    CtlColorStatic,  // ctlColor; return 1 when the colours were set
    GetMinMaxInfo,   // minMax
    MouseDown,       // left button; x, y in client coordinates (negative left/above)
    MouseMove,
    MouseUp,
    SetCursor,       // return 1 when the cursor was set
    SetFont,         // font, redraw
};

struct DrawItemInfo {
    int ctlId;
    Window* control;
    Canvas* canvas;  // the control's canvas
    Rect rect;       // the control's client rectangle
};

struct CtlColorInfo {
    Window* control;
    Canvas* canvas;
    Rgb textColor = 0;
    Rgb background = 0;
    bool transparentText = true;
};

struct MinMaxInfo {
    int minClientW = 0;
    int minClientH = 0;
};

struct WinMsg {
    MsgKind kind;
    int id = 0;
    int code = 0;
    int x = 0, y = 0;
    bool minimized = false;
    bool redraw = false;
    void* param = nullptr;
    DrawItemInfo* drawItem = nullptr;
    CtlColorInfo* ctlColor = nullptr;
    MinMaxInfo* minMax = nullptr;
    FontRef font = nullptr;
};

using WindowProc = intptr_t (*)(Window* w, const WinMsg& msg);

enum class CursorShape { Arrow, Hand };

enum WindowStyle : unsigned {
    StyleVisible = 1,
    StyleRightAlign = 2,  // STATIC: right-aligned text
    StyleOwnerDraw = 4,   // BUTTON: drawn by the parent
    StyleResizable = 8,   // top-level: the user may resize it
};

struct WindowCreate {
    std::string className;  // "STATIC", "BUTTON" or a registered class
    std::wstring text;
    unsigned style = StyleVisible;
    int x = 0, y = 0, w = 10, h = 10;  // top-level: position on the display and client size
    Window* parent = nullptr;          // null: top-level
    int id = 0;
    void* param = nullptr;
};

// ---- Classes and windows ----
void registerWindowClass(const std::string& name, WindowProc proc, CursorShape cursor);
// Messages during creation, in this order: GetMinMaxInfo (top-level only), NcCreate (0 ends
// the creation), Create (-1 ends it: the window is destroyed, with Destroy), then Size with
// the client size when the window is visible (a hidden top-level gets its Size from its
// first showWindow). A control's canvas is sized with it. A top-level window is opened on
// the display here: the minimum client size is what its proc answers to GetMinMaxInfo.
Window* createWindow(const WindowCreate& c);  // null when the class is unknown or creation fails
// Sends Destroy to the window, then to its children (which still exist while their parent
// handles it), kills their timers, drops their queued messages and releases the capture
// they hold. The handles are invalid afterwards.
void destroyWindow(Window* w);
intptr_t sendMessage(Window* w, const WinMsg& msg);
void postMessage(Window* w, const WinMsg& msg);  // any thread; delivered by the loop
intptr_t defaultProc(Window* w, const WinMsg& msg);

// Places a control in its parent's client area (a top-level window on the display). A new
// size resizes its canvas and sends Size; a new size or repaint invalidates it.
void moveWindow(Window* w, int x, int y, int width, int height, bool repaint);
// A top-level window's title; a STATIC or BUTTON control repaints when its text changes.
void setWindowText(Window* w, const std::wstring& text);
std::wstring windowText(Window* w);
Rect clientRect(Window* w);  // {0, 0, width, height}
Rect windowRect(Window* w);  // its place: in the parent's client area; a top-level's client area on the display
Window* parentOf(Window* w);
int controlId(Window* w);
unsigned windowStyle(Window* w);
void setUserData(Window* w, void* data);
void* userData(Window* w);
FontRef windowFont(Window* w);  // the font a control was given with SetFont

// ---- Painting ----
void invalidate(Window* w, bool erase);  // the whole client area
void redrawNow(Window* w, bool erase, bool allChildren);  // repaint synchronously
Canvas* beginPaint(Window* w);  // the window's canvas, sized to its client area
void endPaint(Window* w);

// ---- Input and the pointer ----
void setCapture(Window* w);
void releaseCapture();
Window* captureWindow();
bool cursorPos(int& x, int& y);                    // display coordinates
bool screenToClient(Window* w, int& x, int& y);
void setCursorShape(CursorShape shape);
bool isMinimized(Window* w);

// ---- Timers, boxes, the loop ----
void setTimer(Window* w, int id, int periodMs);
void killTimer(Window* w, int id);
void messageBoxWarning(Window* owner, const std::wstring& text, const std::wstring& caption);
int runMessageLoop();          // until the quit message; returns its code
void postQuit(int code);
Size primaryDisplaySize();
void setDarkFrame(Window* topLevel);  // dark window decorations where the desktop honours it
void showWindow(Window* topLevel);    // make a top-level window created without StyleVisible visible, and paint it

// ---- Backend selection (once, before the first window) ----
// Real display: SDL2. Only chooses: the display is opened by the first primaryDisplaySize or
// createWindow of a top-level window; createWindow returns null when no display can be
// opened (primaryDisplaySize then answers {0, 0}). It is closed with the last top-level
// window. The warning box blocks: the windows do not repaint until it is closed.
void windowUseSdl();
// Headless: see window_headless.h for the test-side controls.
void windowUseHeadless(int displayW, int displayH);
