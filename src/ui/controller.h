// The main window and its controller: controls, commands, timers and the window procedure.
//
// Everything here runs on the window thread. The controller writes g_engine's parameters
// (atomic stores) and reads its display values without a lock. The program's start-up and
// close sequence, which starts and stops the decode worker and the audio thread around the
// window, is src/app's (interactive.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/canvas.h"
#include "platform/window_system.h"

// The main window with its controls, centred on the primary display, its frame darkened and
// shown; null when it cannot be created. It puts the switches and sliders back to their
// start values first. onClose runs when the window is asked to close and must destroy it
// (null: destroyed at once).
Window* openMainWindow(void (*onClose)(Window*));
// The animation (33 ms) and status (250 ms) timers of the main window.
void startTimers(Window* w);

// The main window's procedure (class "KestrumWnd").
intptr_t WndProc(Window* w, const WinMsg& msg);

// Copies the sliders and switches into g_engine and writes the three value texts.
void syncParams();

// Client size of the main window for the primary display: width 560 below a 1120-pixel
// display, else half of it; height 62 % of the display, at least 760.
Size mainClientSize(Size display);

// Where the main window's client area goes on the display: the outer window (the client
// size grown by the window manager's frame, {left, top, right, bottom}) centred, never
// above the display's top; the left edge is not limited.
Point mainWindowPos(Size display, Size client, const Rect& frame);

// The file name of a render started at that time: "kestrum_YYYYMMDD_hhmmss.wav".
std::wstring renderFileName(int year, int month, int day, int hour, int minute, int second);

// The folder the render button writes into, with its final "/" (empty: the current
// directory). Start-up sets it (app/folders.h) before the window opens; a test may point it
// elsewhere.
extern std::wstring g_renderDir;
