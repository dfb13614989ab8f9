// Selecting the Win32 display backend (window_win32.cpp), the real display on Windows, as
// windowUseSdl selects SDL2's on Linux: once, before the first window. The desktop is always
// there, so a top-level window fails to open only when the system refuses it.
#pragma once

void windowUseWin32();
