// The interactive program's start-up and close sequence, on the main thread after the
// station list is loaded: the main window, then the decode worker and the audio thread,
// then the timers and the message loop; on the close request, the scanner stops, the audio
// thread is asked to stop, the decode worker is stopped and joined and the window goes.
#pragma once

#include "platform/window_system.h"

// Runs the start-up and the message loop. Returns the exit code: 0 when the loop ended,
// 1 when the main window cannot be created.
int runInteractive();

// The two halves of runInteractive, so that a test can drive the window between them.
// interactiveStart: the main window shown, decode worker, audio thread, timers; the main
// window, or null when it cannot be created (then nothing was started).
Window* interactiveStart();
// The message loop until the quit message, then waits for the audio thread to end; returns
// the loop's code (0).
int interactiveLoop();
