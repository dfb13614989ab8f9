// The interactive program: main window, controls, timers, message loop and orderly close.
#pragma once

// Runs the window start-up and the message loop after the station list is loaded.
// Returns the exit code: 0 when the loop ended, 1 when the main window cannot be created.
int runInteractive();
