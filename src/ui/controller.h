// The interactive program: main window, controls, timers, message loop and orderly close.
//
// Everything here runs on the window thread. The controller writes g_engine's parameters
// (atomic stores) and reads its display values without a lock; it starts the decode worker
// and the audio thread and stops both when the window closes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/canvas.h"
#include "platform/window_system.h"

// Runs the window start-up and the message loop after the station list is loaded.
// Returns the exit code: 0 when the loop ended, 1 when the main window cannot be created.
int runInteractive();

// The two halves of runInteractive, so that a test can drive the window between them.
// interactiveStart: window classes, the main window with its controls, frame, show, decode
// worker, audio thread, timers; the main window, or null when it cannot be created (then
// nothing was started). It puts the switches and sliders back to their start values first.
Window* interactiveStart();
// The message loop until the quit message, then waits for the audio thread to end; returns
// the loop's code (0).
int interactiveLoop();

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
