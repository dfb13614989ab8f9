// The headless display backend's test-side controls: a display that exists only in memory,
// driven by the test instead of a user and a window manager.
//
// windowUseHeadless(displayW, displayH) (window_system.h) selects this backend; calling it
// again starts over: every window is destroyed (each gets Destroy), queued messages, timers,
// the pending quit, the recorded message boxes and the capture are dropped, and the fake
// clock returns to 0. Registered classes stay registered.
//
// The "main window" below is the most recently created top-level window that still exists,
// warning boxes aside. Positions given here are in its client coordinates and may lie
// outside it (negative or beyond its size), as a pointer held with the button down can.
// Input goes through the same routing as on the real display: capture first, else the
// window under the pointer, with a SetCursor before moves and presses when nothing has the
// capture.
//
// Warning boxes: messageBoxWarning returns only when its box is closed, and runs the loop
// meanwhile; a test closes it from the idle hook (headlessSetIdleHook) with headlessKey or
// headlessClickIn on headlessOpenBox(), or from a timer's handler.
//
// Time: timers run on a fake clock that only moves when the test moves it (headlessAdvanceMs)
// or when runMessageLoop has nothing else to do (it then jumps to the next timer).
//
// Threads: the window thread only, except headlessEndLoop. Nothing here allocates except
// where a message handler does, the recorded message boxes and the composed frame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/window_system.h"

// ---- Windows and the display ----
Window* headlessMainWindow();                  // null when no top-level window exists
void headlessSetDisplaySize(int w, int h);     // what primaryDisplaySize answers from now on
bool headlessShown(Window* topLevel);          // created visible or shown with showWindow
bool headlessDarkFrame(Window* topLevel);      // setDarkFrame was called for it
Point headlessWindowPos(Window* topLevel);     // position on the display
Size headlessMinClientSize(Window* topLevel);  // from MinSizeQuery at creation; {0, 0} if none
// From now on the window manager reports this frame around every top-level window
// ({left, top, right, bottom}); until then it reports none.
void headlessSetFrameExtents(const Rect& extents);
std::vector<Window*> headlessChildren(Window* w);  // its living children in creation order

// ---- Pointer and keys ----
// Each reports the pointer at (x, y) in the main window's client coordinates (pointerOver
// then answers that point), delivers the message and pumps.
void headlessPointerMove(int x, int y);
void headlessPointerDown(int x, int y);  // left button pressed
void headlessPointerUp(int x, int y);    // left button released
void headlessClick(int x, int y);        // move, press, release at one point
void headlessClickIn(Window* topLevel, int x, int y);  // the same on another top-level window
void headlessPointerLeave();  // the pointer left the main window: pointerOver answers false
CursorShape headlessCursorShape();  // the shape last set with setCursorShape (Arrow at start)
void headlessKey(Window* topLevel, int key);  // a key (KeyCode) pressed on that window, then pumps

// ---- Time and timers ----
uint64_t headlessNowMs();  // the fake clock, ms since windowUseHeadless
// Moves the fake clock forward by ms. Every timer that falls due on the way is delivered at
// its due time, in time order (timers due at the same moment in the order they were set),
// and the queue is pumped after each delivery and at the end.
void headlessAdvanceMs(uint64_t ms);
// Delivers Timer{id} to w at once, without moving the clock; false when w has no such timer.
bool headlessFireTimer(Window* w, int id);
int headlessTimerPeriodMs(Window* w, int id);  // 0 when w has no such timer

// ---- Running what is queued ----
// Delivers posted messages, repaints invalidated windows and composes the frame, over and
// over until nothing is left; never moves the clock or waits. Returns the number of
// messages delivered (posted ones and Paint). Stops after 10000 rounds if windows keep
// invalidating themselves.
int headlessPump();

// ---- The window manager's actions on the main window ----
// A resize by the user: the client size is held at the minimum client size, the window's
// canvas follows, Size{w, h} is sent and the window is repainted (headlessPump runs).
void headlessResize(int clientW, int clientH);
void headlessMinimize();  // Size{minimized}; isMinimized answers true
void headlessRestore();   // Size{w, h}; isMinimized answers false
void headlessClose();     // Close to the main window, as from its frame's close button, then pumps
void headlessCloseWindow(Window* topLevel);  // the same for any top-level window

// ---- The composed frame ----
// What the main window shows: its own picture with its visible children over it, as last
// composed (a pump or a redrawNow composes). Null when there is no main window.
const Canvas* headlessFrame();
const Canvas* headlessFrameOf(Window* topLevel);  // the same for any top-level window
Rgb headlessPixel(int x, int y);  // of headlessFrame; 0 outside or without a frame
bool headlessWritePng(const std::string& path);
int headlessPresentCount();  // frames presented since windowUseHeadless

// ---- Warning boxes: recorded as they open ----
struct HeadlessMessageBox {
    Window* owner;
    std::wstring text;
    std::wstring caption;
    Window* box;  // its window; a dead handle once it is closed
};
const std::vector<HeadlessMessageBox>& headlessMessageBoxes();
void headlessClearMessageBoxes();
Window* headlessOpenBox();  // the box open over the main window, or null

// ---- The loop ----
// runMessageLoop on this backend: delivers everything queued; when nothing is left it calls
// the idle hook (if set), and if the hook queued nothing it moves the fake clock to the next
// timer. With no timer and no hook it waits for a postMessage from another thread for up to
// 2 s of real time. It returns the code of quitLoop or headlessEndLoop, or kHeadlessLoopTimeout
// once the fake clock has moved on by the loop limit since the loop started.
constexpr int kHeadlessLoopTimeout = -1000;
void headlessSetIdleHook(std::function<void()> hook);  // empty function: no hook
void headlessSetLoopLimitMs(uint64_t ms);               // default 60000
void headlessEndLoop(int code);                          // any thread; ends the running (or next) loop
