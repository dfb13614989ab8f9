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
// - "Label": draws its text with its font on the background its parent answers to
//   LabelColoursQuery (text colour, background colour, transparent text), left- or
//   right-aligned (StyleRightAlign), one line. The text cell is top-aligned, unless then the
//   font's ink would reach below the label: then the text is raised until the ink fits
//   (never so far that its top is cut). A label repaints, asking its colours again, on
//   every setWindowText, also with an unchanged text.
// - "Button" with StyleDrawnByParent: its parent draws it on DrawButton; a left press and
//   release inside it sends Command{id, code 0} to the parent.
//
// Input: mouse messages go to the capture window if there is one, else to the topmost
// visible window under the pointer, in that window's client coordinates (negative left of
// or above it). Without a capture, SetCursor comes first on every move and press; the
// default sets the class cursor (Arrow, or the registered class's). A top-level window
// under an open warning box takes no mouse messages. Keys go to the top-level window that
// has the keyboard (KeyDown).
//
// defaultHandling (what a procedure passes on): Attach → 1; Close → destroyWindow; Paint →
// paintBegin/paintEnd with nothing drawn; SetCursor → the class cursor, 1; SetFont → keeps
// the font for windowFont (and invalidates with redraw); everything else → 0
// (LabelColoursQuery 0: the control uses its default colours, black on white).
//
// The loop, each turn: posted messages and input in their order, then Paint to every
// invalidated visible window (EraseBackground first from paintBegin when the invalidation
// asked for an erase) and one composed frame, then Timer for every timer that is due (a
// late timer fires once, not once per missed period). quitLoop ends the loop before the
// next turn.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/canvas.h"

class Window;  // opaque handle; owned by the window system until destroyed

enum class MsgKind {
    Attach,             // first message, the creation parameter arrives in param; return 1 to go on
    Create,             // param = creation parameter; return -1 to fail creation
    Destroy,
    Close,
    Size,               // x, y = client width, height; minimized
    Paint,              // paint now: paintBegin / paintEnd
    EraseBackground,    // return non-zero when handled
    Timer,              // id = timer id
    Command,            // id = control id, code = notification code (0 = clicked)
    App,                // id = application message number (0x8001 is the sliders')
    DrawButton,         // to a Button's parent: draw it as buttonPaint says
    LabelColoursQuery,  // to a Label's parent: fill in labelColours; return 1 when set
    MinSizeQuery,       // to a new top-level window: fill in minSize
    MouseDown,          // left button; x, y in client coordinates (negative left/above)
    MouseMove,
    MouseUp,
    SetCursor,          // return 1 when the cursor was set
    SetFont,            // font, redraw
    KeyDown,            // to a top-level window: id = key (KeyCode), 0 for any other key
};

// The keys a window may hear of; every other key arrives as 0.
enum KeyCode : int {
    KeyEnter = 13,  // Return or the keypad's Enter
    KeyEscape = 27,
    KeySpace = 32,
};

// What a parent needs to draw one of its Button controls.
struct ButtonPaint {
    int id;          // the control's id
    Window* control;
    Canvas* canvas;  // the control's canvas
    Rect rect;       // the control's client rectangle
};

// How a Label control draws its text; the parent fills it in.
struct LabelColours {
    Window* control;
    Canvas* canvas;
    Rgb textColor = 0;
    Rgb background = 0;
    bool transparentText = true;
};

// The smallest client area the user may size a top-level window to.
struct MinClientSize {
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
    ButtonPaint* buttonPaint = nullptr;
    LabelColours* labelColours = nullptr;
    MinClientSize* minSize = nullptr;
    FontRef font = nullptr;
};

using WindowProc = intptr_t (*)(Window* w, const WinMsg& msg);

enum class CursorShape { Arrow, Hand };

enum WindowStyle : unsigned {
    StyleVisible = 1,
    StyleRightAlign = 2,     // Label: right-aligned text
    StyleDrawnByParent = 4,  // Button: drawn by the parent
    StyleResizable = 8,      // top-level: the user may resize it
};

struct WindowCreate {
    std::string className;  // "Label", "Button" or a registered class
    std::wstring text;
    unsigned style = StyleVisible;
    int x = 0, y = 0, w = 10, h = 10;  // top-level: position on the display and client size
    Window* parent = nullptr;          // null: top-level
    int id = 0;
    void* param = nullptr;
};

// ---- Classes and windows ----
void registerWindowClass(const std::string& name, WindowProc proc, CursorShape cursor);
// Messages during creation, in this order: MinSizeQuery (top-level only), Attach (0 ends
// the creation), Create (-1 ends it: the window is destroyed, with Destroy), then Size with
// the client size when the window is visible (a hidden top-level gets its Size from its
// first showWindow). A control's canvas is sized with it. A top-level window is opened on
// the display here: the minimum client size is what its proc answers to MinSizeQuery.
Window* createWindow(const WindowCreate& c);  // null when the class is unknown or creation fails
// Sends Destroy to the window, then to its children (which still exist while their parent
// handles it), kills their timers, drops their queued messages and releases the capture
// they hold. The handles are invalid afterwards.
void destroyWindow(Window* w);
intptr_t sendMessage(Window* w, const WinMsg& msg);
void postMessage(Window* w, const WinMsg& msg);  // any thread; delivered by the loop
intptr_t defaultHandling(Window* w, const WinMsg& msg);

// Places a control in its parent's client area (a top-level window's client area on the
// display). A new size resizes its canvas and sends Size; a new size or repaint invalidates it.
void moveWindow(Window* w, int x, int y, int width, int height, bool repaint);
// A top-level window's title; a Label or Button control repaints on every call, also when
// the text is the one it has (its colours may have changed since).
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
Canvas* paintBegin(Window* w);  // the window's canvas, sized to its client area
void paintEnd(Window* w);

// ---- Input and the pointer ----
void setCapture(Window* w);
void releaseCapture();
Window* captureWindow();
// Where the pointer is over w's top-level window, in w's client coordinates, as that
// window's own pointer events last reported it (they keep coming outside it while a window
// holds the capture). false while the pointer is not over it: before the first event, and
// after it left.
bool pointerOver(Window* w, int& x, int& y);
void setCursorShape(CursorShape shape);
bool isMinimized(Window* w);

// ---- Timers, boxes, the loop ----
void setTimer(Window* w, int id, int periodMs);
void killTimer(Window* w, int id);
// A warning box over owner's top-level window: a top-level window of its own with caption as
// its title, a warning sign, text and an OK button, centred on the owner (on the display
// without one). It returns when the box is closed: OK, Enter, Space or Escape, or the
// frame's close button. Until then it runs the loop itself, so every window keeps
// painting and every timer keeps firing, while the owner takes no mouse input and ignores
// its frame's close button. A quitLoop ends the box early and stays pending for the loop
// outside.
void messageBoxWarning(Window* owner, const std::wstring& text, const std::wstring& caption);
int runMessageLoop();          // until the quit message; returns its code
void quitLoop(int code);
Size primaryDisplaySize();
// The thickness of the frame the window manager draws around a top-level window, as
// {left, top, right, bottom}: false when it reports none (then the outer size is unknown).
bool frameExtents(Window* topLevel, Rect& extents);
void setDarkFrame(Window* topLevel);  // dark window decorations where the desktop honours it
void showWindow(Window* topLevel);    // make a top-level window created without StyleVisible visible, and paint it

// ---- Backend selection (once, before the first window) ----
// Real display: SDL2. Only chooses: the display is opened by the first primaryDisplaySize or
// createWindow of a top-level window; createWindow returns null when no display can be
// opened (primaryDisplaySize then answers {0, 0}). Only a display that shows windows to a
// person counts: SDL's drivers that draw into memory are never used. It is closed with the
// last top-level window.
void windowUseSdl();
// Real display on Windows: one native top-level window per Window, GDI canvases
// (win32/window_*.cpp).
void windowUseWin32();
// Headless: see window_headless.h for the test-side controls.
void windowUseHeadless(int displayW, int displayH);
