// Between the window core (window_core.cpp: the window tree, message routing, built-in
// classes, invalidation and composition) and a display backend (window_sdl.cpp,
// window_headless.cpp). Included only by src/platform/window_*.cpp.
//
// The backend owns what is on the display: top-level windows and their frames, the cursor,
// the clock the timers run on, and waiting for input. Warning boxes are top-level windows
// of the core's own, which the backend only keeps above their owners, unless the backend
// shows the platform's own box instead (platformBox). It reports input and
// window-manager actions to the core through the windowCore* functions, on the window
// thread, from inside wait() (or, headless, from the test's calls).
//
// Threads: everything on the window thread, except DisplayBackend::wake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window_system.h"

class DisplayBackend {
public:
    virtual ~DisplayBackend() = default;

    // A top-level window on the display, client area at (x, y) of size w x h; false when it
    // cannot be opened (for the real display: no display at all).
    virtual bool openTopLevel(Window* w, const std::wstring& title, int x, int y, int cw, int ch, bool visible,
                              bool resizable, Size minClient) = 0;
    virtual void closeTopLevel(Window* w) = 0;
    virtual void setTitle(Window* w, const std::wstring& title) = 0;
    virtual void show(Window* w) = 0;
    virtual void place(Window* w, int x, int y, int cw, int ch) = 0;
    virtual void present(Window* w, const Canvas& frame) = 0;
    virtual bool windowPos(Window* w, int& x, int& y) = 0;  // client area's top-left on the display
    virtual bool isMinimized(Window* w) = 0;
    virtual void setDarkFrame(Window* w) = 0;
    // The window manager's frame around w as {left, top, right, bottom}; false when it
    // reports none.
    virtual bool frameExtents(Window* w, Rect& extents) = 0;
    // w, not yet shown, is a warning box with that text and caption over owner (null: none):
    // keep it above its owner, as a dialog.
    virtual void boxOpened(Window* w, Window* owner, const std::wstring& text, const std::wstring& caption) = 0;
    // The platform's own warning box over owner (null: none), where the platform has one that
    // keeps the owner's loop turning (its timers and painting) while it is open: shows it and
    // returns true once it is closed. false (the default): the core shows its own box.
    virtual bool platformBox(Window* owner, const std::wstring& text, const std::wstring& caption) {
        (void)owner;
        (void)text;
        (void)caption;
        return false;
    }

    virtual void setCursor(CursorShape shape) = 0;
    virtual void captureMouse(bool on) = 0;  // keep reporting the pointer outside the window
    virtual Size displaySize() = 0;

    virtual uint64_t nowMs() = 0;  // the clock timers run on
    virtual void loopBegin() {}    // runMessageLoop starts
    // Waits for input for up to timeoutMs (-1: no limit) and reports what arrived through the
    // windowCore* functions. Returns early when wake() is called.
    virtual void wait(int timeoutMs) = 0;
    virtual void wake() = 0;  // any thread
};

// Selects the backend (null: none). The previous backend's windows must be gone.
void windowCoreSetBackend(DisplayBackend* backend);
DisplayBackend* windowCoreBackend();

// ---- Reports from the backend ----
// Left button and pointer, at a position in top's client coordinates (may lie outside).
void windowCoreMouse(Window* top, MsgKind kind, int x, int y);
void windowCorePointerLeft(Window* top);  // the pointer left top's client area
void windowCoreKey(Window* top, int key);  // a key pressed while top has the keyboard (KeyCode or 0)
void windowCoreResized(Window* top, int cw, int ch);   // the user resized the client area
void windowCoreMinimized(Window* top, bool minimized);  // minimised or restored
void windowCoreCloseRequest(Window* top);               // the frame's close button: Close
void windowCoreExposed(Window* top);                    // the display lost the picture: present again

// ---- Driving the loop (headless pump) ----
// One turn of the loop (posted messages, paints and frames, due timers); the number of
// messages delivered. stopAtQuit: a pending quit ends the turn after the posted messages.
int windowCoreTurn(bool stopAtQuit);
bool windowCorePending();             // posted messages, invalidated windows or due timers
int windowCoreNextTimerMs();          // ms until the next timer is due (0: due), -1 without timers
bool windowCoreQuitPending(int& code);
void windowCoreQuit(int code);        // any thread: ends the running (or next) loop with code
// Destroys every window and forgets the queue, the timers, the quit and the capture.
void windowCoreReset();

// ---- Questions from the backend ----
Window* windowCoreLastTopLevel();        // most recently created top-level still alive, not a box
Window* windowCoreBoxOf(Window* owner);  // the warning box open over owner, or null
const Canvas* windowCoreFrame(Window* top);  // the composed frame, composed now if out of date
bool windowCoreFireTimer(Window* w, int id); // Timer{id} now, if that timer exists
int windowCoreTimerPeriod(Window* w, int id);
std::vector<Window*> windowCoreChildren(Window* w);  // in creation order; empty when w is gone
